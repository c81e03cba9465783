// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows services that need no network: image paths with drive letters and backslashes,
// the system folder, the image file, the ANSI conversion and the pipes the loops wait on.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>

#include "engine/command_line.h"
#include "helper/host.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/quit_signals.h"

namespace kestrel {
namespace {

// Every path opens, as descriptor 7; the last one asked for is kept.
CommandLineEnvironment Recording(std::string& opened) {
    return {[] { return 94; }, "C:\\windows\\system32",
            [&opened](const std::string& path) {
                opened = path;
                return 7;
            },
            [](int) {},
            [](const std::string& text, std::string& ansi) {
                ansi = text;
                return true;
            }};
}

TEST(WindowsCommandLine, DriveLettersAndBackslashesNamePaths) {
    const struct {
        const char* title;
        std::string arguments, path, name;
    } cases[] = {
        {"a bare name is in the image folder", "FW=fw.bin",
         "C:\\windows\\system32\\KESTREL\\fw.bin", "fw.bin"},
        {"a drive and backslashes", "FW=C:\\Images\\fw.bin", "C:\\Images\\fw.bin", "fw.bin"},
        {"a drive without a folder", "FW=C:fw.bin", "C:fw.bin", "fw.bin"},
        {"slashes as well", "FW=C:/Images/fw.bin", "C:/Images/fw.bin", "fw.bin"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        std::string opened;
        const CommandLineSettings settings =
            ReadCommandLine("kestrel-recovery.exe " + c.arguments, Recording(opened));
        EXPECT_EQ(std::tuple(settings.ok, settings.failure, opened, settings.szFirmwareName),
                  std::tuple(true, std::string(), c.path, c.name));
    }
}

TEST(WindowsFiles, OnlyARegularFileOpensAsTheImage) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("kestrel-windows-" + std::to_string(::GetCurrentProcessId()));
    std::filesystem::create_directories(folder / "folder");
    std::ofstream(folder / "fw.bin", std::ios::binary) << "image";
    const std::pair<const char*, bool> cases[] = {
        {"fw.bin", true}, {"folder", false}, {"none", false}};
    for (const auto& [name, opens] : cases) {
        SCOPED_TRACE(name);
        const int file = OpenFirmwareImage((folder / name).string());
        char text[8] = {};
        EXPECT_EQ(file >= 0 ? ::_read(file, text, sizeof text) : -1, opens ? 5 : -1);
        EXPECT_STREQ(text, opens ? "image" : "");
        CloseFirmwareImage(file);
    }
    std::filesystem::remove_all(folder);
}

TEST(WindowsFiles, TheSystemFolderIsSystem32UnlessATestNamesOne) {
    ASSERT_EQ(::_putenv("KESTREL_SYSTEM_DIR="), 0);
    std::string folder = GetSystemDirectoryW();
    for (char& c : folder) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(folder.ends_with("\\system32")) << folder;
    ASSERT_EQ(::_putenv("KESTREL_SYSTEM_DIR=D:\\Bilder"), 0);
    EXPECT_EQ(GetSystemDirectoryW(), "D:\\Bilder");
    ASSERT_EQ(::_putenv("KESTREL_SYSTEM_DIR="), 0);
}

TEST(WindowsText, ANameWithoutAnAnsiCounterpartFailsAsAWhole) {
    std::string ansi = "untouched";
    // A snowman is in no ANSI code page, and no best-fit look-alike may stand in for it.
    EXPECT_FALSE(WideCharToMultiByte("fw-\xe2\x98\x83.bin", ansi));
    EXPECT_EQ(ansi, "untouched");
    EXPECT_TRUE(WideCharToMultiByte("fw-1.2.bin", ansi));
    EXPECT_EQ(ansi, "fw-1.2.bin");
}

// The loops poll these pipes: a look must never wait.
TEST(WindowsPipes, APipeHasInputOnceWrittenOrWhenItsWriterIsGone) {
    int ends[2];
    ASSERT_EQ(::_pipe(ends, 256, _O_BINARY), 0);
    EXPECT_FALSE(HasInput(ends[0]));
    ASSERT_EQ(::_write(ends[1], "x", 1), 1);
    EXPECT_TRUE(HasInput(ends[0]));
    char byte;
    ASSERT_EQ(::_read(ends[0], &byte, 1), 1);
    EXPECT_FALSE(HasInput(ends[0]));
    ::_close(ends[1]);
    EXPECT_TRUE(HasInput(ends[0]));
    ::_close(ends[0]);

    const int quit = InstallQuitSignalPipe();
    ASSERT_GE(quit, 0);
    int first = -1;
    EXPECT_EQ(DrainQuitSignalPipe(quit, first), 0);
    EXPECT_EQ(first, -1);
}

}  // namespace
}  // namespace kestrel
