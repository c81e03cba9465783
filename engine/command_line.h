// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the switches of the command line and choosing the firmware image.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/wintypes.h"
#include "platform/wizard.h"

namespace kestrel {

// What the choice depends on besides the command line itself.
struct CommandLineEnvironment {
    std::function<int()> userGeoId;  // asked only when "WWFW=" is present
    std::string systemDirectory;
    // Opens the image once, for good: a descriptor, or -1 when there is no usable image there.
    std::function<int(const std::string& path)> open;
    std::function<void(int file)> close;
    std::function<bool(const std::string& text, std::string& ansi)> toAnsi;
};

// The wizard's --choose: an image named by its path apart from the switches, and a way to ask
// the user for one when nothing names an image.
struct ImageChoice {
    std::string fileArgument;              // "" when none was given
    std::function<std::string()> askUser;  // the path chosen, "" when cancelled
};

// The platform's location, system folder, image files and locale.
CommandLineEnvironment PlatformCommandLineEnvironment();

struct DiagnosticBox {
    std::string text;
    std::string caption;
    bool operator==(const DiagnosticBox&) const = default;
};

struct CommandLineSettings {
    bool ok = false;  // false: the process ends with exit status 1
    BOOL bDebug = FALSE;
    int nRebootTimeout = 120000;
    std::string strFirmwarePath;
    std::string szFirmwareName;        // the name in the locale's character set, at most 255 bytes
    int hFirmwareFile = -1;            // the open image when ok (the caller owns it), else -1
    std::vector<DiagnosticBox> boxes;  // to show in this order (only with "DEBUG")
    std::string failure;               // one line for standard error when !ok
};

inline constexpr int kDefaultRebootTimeoutMs = 120000;
inline constexpr std::size_t kMaxValueChars = 511;
inline constexpr std::size_t kMaxFirmwareNameBytes = 255;

// An "FW=" value (and the others) with a folder separator (kPathSeparators) is the path of an image
// the user may read; a bare name is a file in the image folder. With a choice, its file argument
// names the image, and the user is asked when nothing does.
CommandLineSettings ReadCommandLine(const std::string& commandLine,
                                    const CommandLineEnvironment& environment,
                                    const ImageChoice* choice = nullptr);

// Gives the jobs' members what the command line set (the image, when ok).
void ApplyCommandLine(const CommandLineSettings& settings, WizardContext& dlg);

// Takes --choose out of `argv` (the program first) and, when it was there, the first argument
// after the program that is neither an option nor a switch ("DEBUG", or one starting with a
// switch's name and "="): returned in `fileArgument`, and left out of the command line the
// switches are looked for in. False, and `argv` unchanged, without --choose.
bool TakeChooseOption(std::vector<std::string>& argv, std::string& fileArgument);

// The switches' lines of both front ends' usage texts.
std::string SwitchesUsage();

}  // namespace kestrel
