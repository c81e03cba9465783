// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The switches and the choice of image, against a scripted location and a real folder and file
// system.
#include "engine/command_line.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/locale.h"

namespace kestrel {
namespace {

constexpr int kDE = 94;  // Germany
const std::string kPrefix = "/usr/bin/kestrel-recovery ";

// A command line after the program's path (unless it starts with one), split at blanks into
// arguments; what is taken from it (Text); the location; and when --choose asks, the user's pick
// (none: not asked).
struct Case {
    std::string arguments, taken;
    int geoId = kDE;
    std::optional<std::string> answer = {};
};

// A system folder whose KESTREL/ holds real images and things that are no image.
struct SystemFolder {
    SystemFolder() {
        std::filesystem::create_directory(Images());
        for (const char* name :
             {"fw.bin", "ww.bin", "na.bin", "DEBUG.bin", "a.bin\tTIME=5", "a.bin", "\xff.bin"})
            std::ofstream(Images() + name) << name;
        std::ofstream(Images() + std::string(255, 'n')) << std::string(255, 'n');
        std::filesystem::create_directory(Images() + "directory");
        mkfifo((Images() + "fifo").c_str(), 0600);
    }
    ~SystemFolder() { std::filesystem::remove_all(path); }
    std::string Images() const { return path + "/KESTREL/"; }

    char pattern[27] = "/tmp/kestrel-images-XXXXXX";
    const std::string path = mkdtemp(pattern);
};

// What the wizard takes, in one line: the image's name and path, or the failure; a TIME other
// than the default; DEBUG's boxes. SYS stands for the system folder.
std::string Text(const CommandLineSettings& got, const std::string& system) {
    std::string text = got.ok ? got.szFirmwareName + " " + got.strFirmwarePath : got.failure;
    if (got.nRebootTimeout != 120000) text += " TIME " + std::to_string(got.nRebootTimeout);
    for (const DiagnosticBox& box : got.boxes) text += " [" + box.caption + ": " + box.text + "]";
    for (std::size_t at; (at = text.find(system)) != std::string::npos;)
        text.replace(at, system.size(), "SYS");
    return text;
}

TEST(CommandLineMatrix, SwitchesAndImageChoice) {
    const SystemFolder folder;
    const std::string here = folder.path + "/here/";
    std::filesystem::create_directories(here + "DEBUG");
    for (const char* own : {"own.bin", "DEBUG/own.bin"}) std::ofstream(here + own) << "own.bin";
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(here);
    const std::string n255(255, 'n'), n256(256, 'n'), x512(512, 'x'), ones(511, '1');
    const std::string noName = "You must specify the FW name.";
    // clang-format off
    const Case cases[] = {
        {"WWFW=ww.bin NAFW=na.bin", "ww.bin SYS/KESTREL/ww.bin"},  // abroad
        {"WWFW=ww.bin NAFW=na.bin", "na.bin SYS/KESTREL/na.bin", GEOID_UNITED_STATES},
        {"NAFW=na.bin WWFW=ww.bin", "na.bin SYS/KESTREL/na.bin", GEOID_CANADA},
        {"WWFW=ww.bin NAFW=na.bin", "na.bin SYS/KESTREL/na.bin", GEOID_MEXICO},
        {"NAFW=na.bin", "na.bin SYS/KESTREL/na.bin"},  // a lone NAFW is found as FW abroad
        {"FW=a.bin FW=fw.bin", "a.bin SYS/KESTREL/a.bin"},  // the first FW wins
        {"DEBUG WWFW=ww.bin", noName + " [Error: " + noName + "]", GEOID_MEXICO},
        {"TIME=abc FW=fw.bin", "fw.bin SYS/KESTREL/fw.bin"},  // no digits: the default
        {"TIME=45s FW=fw.bin", "fw.bin SYS/KESTREL/fw.bin TIME 45000"},  // seconds, to a letter
        {"TIME=\t+7 FW=fw.bin", "fw.bin SYS/KESTREL/fw.bin TIME 7000"},
        {"TIME=-30 FW=fw.bin", "fw.bin SYS/KESTREL/fw.bin"},  // negative: the default
        {"TIME=99999999999999999999 FW=fw.bin", "fw.bin SYS/KESTREL/fw.bin TIME 2147483000"},
        {"TIME=" + ones + " FW=a.bin", "a.bin SYS/KESTREL/a.bin TIME 2147483000"},
        {"TIME=" + ones + "1 FW=a.bin", "The value of TIME= is longer than 511 characters."},
        {"FW=a.bin\tTIME=5 x", "a.bin\tTIME=5 SYS/KESTREL/a.bin\tTIME=5 TIME 5000"},  // a tab not
        {"FW=a.bin " + x512, "a.bin SYS/KESTREL/a.bin"},  // a blank ends the value
        {"FW=" + x512, "The value of FW= is longer than 511 characters."},
        {"FW=" + n255, n255 + " SYS/KESTREL/" + n255},
        // Longer than any file name here, as a multibyte code page makes one on Windows.
        {"FW=" + n256, "The firmware name is longer than 255 bytes: " + n256},
        {"FW=\xff.bin", "The firmware name can not be written in the character set of the "
         "locale: \xff.bin"},
        {"FW=\"fw.bin\"", "Can not find Firmware SYS/KESTREL/\"fw.bin\""},  // quotes stay
        {"FW=directory", "Can not find Firmware SYS/KESTREL/directory"},
        {"FW=fifo", "Can not find Firmware SYS/KESTREL/fifo"},  // without waiting for a writer
        {"FW=", "Can not find Firmware SYS/KESTREL/"},
        {"FW=sub/", "Can not find Firmware sub/"},
        {"debug FW=fw.bin", "fw.bin SYS/KESTREL/fw.bin"},
        {"FW=DEBUG.bin", "DEBUG.bin SYS/KESTREL/DEBUG.bin [Firmware: DEBUG.bin]"},
        {"FW=./own.bin", "own.bin ./own.bin"},  // a path is opened as it is
        {"FW=../KESTREL/fw.bin", "fw.bin ../KESTREL/fw.bin"},
        {"FW=own.bin", "Can not find Firmware SYS/KESTREL/own.bin"},  // a bare name: the folder's
        {"--choose DEBUG/own.bin", "own.bin DEBUG/own.bin"},  // a path is no switch
        {"DEBUG --choose own.bin", "own.bin own.bin [Firmware: own.bin]"},
        {"--choose FW=fw.bin", "fw.bin SYS/KESTREL/fw.bin"},
        {"--choose", "own.bin SYS/here/own.bin", kDE, here + "own.bin"},
        {"--choose", noName, kDE, ""},  // the question cancelled
        {"own.bin", noName},  // without --choose a file argument names nothing
        {"/opt/DEBUG/kestrel-recovery FW=gone.bin", "Can not find Firmware SYS/KESTREL/gone.bin "
         "[Firmware: gone.bin] [Error: Can not find Firmware SYS/KESTREL/gone.bin]"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.substr(0, 40));
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
        // The platform's own opening of the images, in the folder; the name no file here can
        // have opens as descriptor 99.
        CommandLineEnvironment environment = PlatformCommandLineEnvironment();
        environment.userGeoId = [&c] { return c.geoId; };
        environment.systemDirectory = folder.path;
        environment.open = [&n256](const std::string& path) {
            return path.ends_with(n256) ? 99 : OpenFirmwareImage(path);
        };
        const CommandLineSettings got =
            ReadCommandLine(commandLine, environment, choose ? &choice : nullptr);
        EXPECT_EQ(Text(got, folder.path), c.taken);
        EXPECT_EQ(asked, c.answer ? 1 : 0);
        // The image stays open, and it is the named one (what the TFTP request carries).
        char content[300] = {};
        EXPECT_EQ(pread(got.hFirmwareFile, content, sizeof content - 1, 0),
                  got.ok ? ssize_t(got.szFirmwareName.size()) : -1);
        EXPECT_EQ(content, got.szFirmwareName);
        CloseFirmwareImage(got.hFirmwareFile);
    }
    std::filesystem::current_path(before);
}

}  // namespace
}  // namespace kestrel
