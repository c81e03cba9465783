// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The switches and the choice of image, against a scripted location, folder and file system.
#include "engine/command_line.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/files.h"
#include "platform/locale.h"

namespace kestrel {
namespace {

constexpr int kDE = 94;  // Germany
constexpr int kUS = GEOID_UNITED_STATES, kCA = GEOID_CANADA, kMX = GEOID_MEXICO;
const std::string kPrefix = "/usr/bin/kestrel-recovery ";

// A command line after the program's path (unless it starts with one), split at blanks into
// arguments; the location; whether an image is named and opened: its name for the request, and its
// path, or the failure's path ("": none named); the switches' values; and when --choose asks, the
// user's pick.
struct Case {
    const char* title;
    std::string arguments;
    int geoId;
    bool ok;
    std::string name;
    std::string path;
    int timeoutMs = 120000;
    BOOL debug = FALSE;
    std::vector<DiagnosticBox> boxes = {};
    std::optional<std::string> answer = {};  // none: not asked
};

// A system folder whose KESTREL/ holds real images and things that are no image.
struct SystemFolder {
    SystemFolder() {
        std::filesystem::create_directory(Images());
        for (const char* name :
             {"fw.bin", "ww.bin", "na.bin", "my", "DEBUG.bin", "a.bin\tTIME=5", "a.bin"})
            std::ofstream(Images() + name) << name;
        std::filesystem::create_directory(Images() + "directory");
        mkfifo((Images() + "fifo").c_str(), 0600);
        std::filesystem::create_symlink("/dev/null", Images() + "device");
    }
    ~SystemFolder() { std::filesystem::remove_all(path); }
    std::string Images() const { return path + "/KESTREL/"; }

    char pattern[27] = "/tmp/kestrel-images-XXXXXX";
    const std::string path = mkdtemp(pattern);
};

TEST(CommandLineMatrix, SwitchesAndImageChoice) {
    const SystemFolder folder;
    const std::string k = folder.Images();
    const std::string here = folder.path + "/here/";
    std::filesystem::create_directories(here + "DEBUG");
    for (const char* own : {"own.bin", "DEBUG/own.bin"}) std::ofstream(here + own) << "own.bin";
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(here);
    // clang-format off
    const Case cases[] = {
        {"WWFW abroad", "WWFW=ww.bin NAFW=na.bin", kDE, true, "ww.bin", k + "ww.bin"},
        {"NAFW in the United States", "WWFW=ww.bin NAFW=na.bin", kUS, true, "na.bin", k + "na.bin"},
        {"NAFW in Canada", "NAFW=na.bin WWFW=ww.bin", kCA, true, "na.bin", k + "na.bin"},
        {"NAFW in Mexico", "WWFW=ww.bin NAFW=na.bin", kMX, true, "na.bin", k + "na.bin"},
        {"a lone NAFW is found as FW abroad", "NAFW=na.bin", kDE, true, "na.bin", k + "na.bin"},
        {"the first FW wins", "FW=a.bin FW=fw.bin", kDE, true, "a.bin", k + "a.bin"},
        {"WWFW alone in Mexico, shown", "DEBUG WWFW=ww.bin", kMX, false, "", "", 120000, TRUE,
         {{"You must specify the FW name.", "Error"}}},
        {"TIME in seconds", "TIME=300 FW=fw.bin", kDE, true, "fw.bin", k + "fw.bin", 300000},
        {"TIME without digits", "TIME=abc FW=fw.bin", kDE, true, "fw.bin", k + "fw.bin"},
        {"TIME stops at a letter", "TIME=45s FW=fw.bin", kDE, true, "fw.bin", k + "fw.bin", 45000},
        {"TIME skips white space", "TIME=\t+7 FW=fw.bin", kDE, true, "fw.bin", k + "fw.bin", 7000},
        {"negative TIME: the default", "TIME=-30 FW=fw.bin", kDE, true, "fw.bin", k + "fw.bin"},
        {"huge TIME saturates", "TIME=99999999999999999999 FW=fw.bin",
         kDE, true, "fw.bin", k + "fw.bin", 2147483000},
        {"a blank ends the value", "FW=my fw.bin", kDE, true, "my", k + "my"},
        {"a tab does not", "FW=a.bin\tTIME=5 x", kDE, true, "a.bin\tTIME=5", k + "a.bin\tTIME=5",
         5000},
        {"quotes stay in the name", "FW=\"fw.bin\"", kDE, false, "", k + "\"fw.bin\""},
        {"a directory is no image", "FW=directory", kDE, false, "", k + "directory"},
        {"a FIFO is refused without waiting for a writer", "FW=fifo", kDE, false, "", k + "fifo"},
        {"a device is refused", "FW=device", kDE, false, "", k + "device"},
        {"lower-case debug does not count", "debug FW=fw.bin", kDE, true, "fw.bin", k + "fw.bin"},
        {"DEBUG inside the image name", "FW=DEBUG.bin", kDE, true, "DEBUG.bin", k + "DEBUG.bin",
         120000, TRUE, {{"DEBUG.bin", "Firmware"}}},
        {"FW with a relative path", "FW=./own.bin", kDE, true, "own.bin", "./own.bin"},
        {"FW with a path into the image folder", "FW=../KESTREL/fw.bin",
         kDE, true, "fw.bin", "../KESTREL/fw.bin"},
        {"a bare FW name is in the image folder", "FW=own.bin", kDE, false, "", k + "own.bin"},
        {"--choose with a file argument", "--choose own.bin", kDE, true, "own.bin", "own.bin"},
        {"--choose: a path is no switch", "--choose DEBUG/own.bin", kDE, true, "own.bin",
         "DEBUG/own.bin"},
        {"--choose keeps the switches", "DEBUG --choose own.bin", kDE, true, "own.bin", "own.bin",
         120000, TRUE, {{"own.bin", "Firmware"}}},
        {"--choose, a switch names the image", "--choose FW=fw.bin", kDE, true, "fw.bin",
         k + "fw.bin"},
        {"--choose asks when nothing names one", "--choose", kDE, true, "own.bin", here + "own.bin",
         120000, FALSE, {}, here + "own.bin"},
        {"cancelling the question", "--choose", kDE, false, "", "", 120000, FALSE, {}, ""},
        {"without --choose a file argument names nothing", "own.bin", kDE, false, "", ""},
        {"DEBUG in the program's path shows every box", "/opt/DEBUG/kestrel-recovery FW=gone.bin",
         kDE, false, "", k + "gone.bin", 120000, TRUE,
         {{"gone.bin", "Firmware"}, {"Can not find Firmware " + k + "gone.bin", "Error"}}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        std::vector<std::string> argv;
        std::istringstream words((c.arguments.starts_with("/") ? "" : kPrefix) + c.arguments);
        for (std::string word; std::getline(words, word, ' ');) argv.push_back(word);
        ImageChoice choice;
        int asked = 0;
        choice.askUser = [&] {
            ++asked;
            return c.answer.value_or("");
        };
        const bool choose = TakeChooseOption(argv, choice.fileArgument);
        std::string commandLine;
        for (const std::string& argument : argv) commandLine += argument + " ";
        // The platform's own opening of the images, in the folder.
        CommandLineEnvironment environment = PlatformCommandLineEnvironment();
        environment.userGeoId = [&c] { return c.geoId; };
        environment.systemDirectory = folder.path;
        const CommandLineSettings got =
            ReadCommandLine(commandLine, environment, choose ? &choice : nullptr);
        const std::string failure = c.ok             ? ""
                                    : c.path.empty() ? "You must specify the FW name."
                                                     : "Can not find Firmware " + c.path;
        EXPECT_EQ(std::tie(got.ok, got.bDebug, got.szFirmwareName, got.strFirmwarePath,
                           got.nRebootTimeout, got.failure),
                  std::tie(c.ok, c.debug, c.name, c.path, c.timeoutMs, failure));
        EXPECT_EQ(got.boxes, c.boxes);
        EXPECT_EQ(asked, c.answer ? 1 : 0);
        // The image stays open, and it is the named one (what the TFTP request carries).
        char content[64] = {};
        EXPECT_EQ(pread(got.hFirmwareFile, content, sizeof content - 1, 0),
                  c.ok ? ssize_t(c.name.size()) : -1);
        EXPECT_EQ(content, c.name);
        CloseFirmwareImage(got.hFirmwareFile);
    }
    std::filesystem::current_path(before);
}

// Even a file system that opens everything (as descriptor 99) lets through no name that is no
// file, no value or name too long to take whole, and no name the locale cannot write; what it
// opened for a name refused is closed again. The arguments after DEBUG, the name taken, or else
// the failure.
TEST(CommandLineMatrix, WhatCannotBeTakenWholeFailsWhateverOpens) {
    const std::string n255(255, 'n'), x512(512, 'x'), ones(511, '1');
    const std::string longer = "The value of TIME= is longer than 511 characters.";
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"FW=.", "", "Can not find Firmware /sys/KESTREL/."},
        {"FW=..", "", "Can not find Firmware /sys/KESTREL/.."},
        {"FW=", "", "Can not find Firmware /sys/KESTREL/"},
        {"FW=sub/", "", "Can not find Firmware sub/"},
        {"TIME=" + ones + " FW=a.bin", "a.bin", ""},
        {"TIME=" + ones + "1 FW=a.bin", "", longer},
        {"FW=a.bin " + x512, "a.bin", ""},  // only the value up to the blank counts
        {"FW=" + x512, "", "The value of FW= is longer than 511 characters."},
        {"FW=" + n255, n255, ""},  // fits the name buffer with its terminator
        {"FW=" + n255 + "n", "", "The firmware name is longer than 255 bytes: " + n255 + "n"},
        {"FW=\xff.bin", "",
         "The firmware name can not be written in the character set of the locale: \xff.bin"},
    };
    for (const auto& [arguments, name, failure] : cases) {
        SCOPED_TRACE(arguments.substr(0, 24));
        std::vector<int> closed;
        const CommandLineEnvironment everything{[] { return kDE; }, "/sys",
                                                [](const std::string&) { return 99; },
                                                [&closed](int file) { closed.push_back(file); },
                                                [](const std::string& text, std::string& ansi) {
                                                    ansi = text;
                                                    return text.find('\xff') == std::string::npos;
                                                }};
        const CommandLineSettings got = ReadCommandLine(kPrefix + "DEBUG " + arguments, everything);
        EXPECT_EQ(std::tuple(got.failure, got.ok, got.szFirmwareName, got.hFirmwareFile, closed,
                             got.boxes.back()),
                  std::tuple(failure, failure.empty(), name, failure.empty() ? 99 : -1,
                             failure.starts_with("The firmware name") ? std::vector{99}
                                                                      : std::vector<int>{},
                             failure.empty() ? DiagnosticBox{name, "Firmware"}
                                             : DiagnosticBox{failure, "Error"}));
    }
}

}  // namespace
}  // namespace kestrel
