// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the switches of the command line and choosing the firmware image.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/wintypes.h"

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

CommandLineSettings ReadCommandLine(const std::string& commandLine,
                                    const CommandLineEnvironment& environment);

}  // namespace kestrel
