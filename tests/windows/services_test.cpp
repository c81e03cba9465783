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
        std::string arguments;
        std::string path;
        std::string name;
    } cases[] = {
        {"a bare name is in the image folder", "FW=fw.bin",
         "C:\\windows\\system32\\KESTREL\\fw.bin", "fw.bin"},
        {"a drive and backslashes", "FW=C:\\Images\\fw.bin", "C:\\Images\\fw.bin", "fw.bin"},
        {"a blank ends the value, also in a path", "FW=D:\\x y\\fw.bin", "D:\\x", "x"},
        {"a drive without a folder", "FW=C:fw.bin", "C:fw.bin", "fw.bin"},
        {"a relative folder", "FW=..\\fw.bin", "..\\fw.bin", "fw.bin"},
        {"slashes as well", "FW=C:/Images/fw.bin", "C:/Images/fw.bin", "fw.bin"},
        {"a share", "FW=\\\\server\\images\\fw.bin", "\\\\server\\images\\fw.bin", "fw.bin"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        std::string opened;
        const CommandLineSettings settings =
            ReadCommandLine("kestrel-recovery.exe " + c.arguments, Recording(opened));
        EXPECT_TRUE(settings.ok) << settings.failure;
        EXPECT_EQ(opened, c.path);
        EXPECT_EQ(settings.szFirmwareName, c.name);
    }
}

class TemporaryFolder {
public:
    TemporaryFolder()
        : path_(std::filesystem::temp_directory_path() /
                ("kestrel-windows-" + std::to_string(::GetCurrentProcessId()))) {
        std::filesystem::create_directories(path_);
    }
    ~TemporaryFolder() { std::filesystem::remove_all(path_); }
    std::string operator/(const char* name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

TEST(WindowsFiles, OnlyARegularFileOpensAsTheImage) {
    const TemporaryFolder folder;
    std::ofstream(folder / "fw.bin", std::ios::binary) << "image";
    std::filesystem::create_directory(folder / "folder");
    const struct {
        std::string path;
        bool opens;
    } cases[] = {{folder / "fw.bin", true}, {folder / "folder", false}, {folder / "none", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const int file = OpenFirmwareImage(c.path);
        EXPECT_EQ(file >= 0, c.opens);
        if (file >= 0) {
            char text[8] = {};
            EXPECT_EQ(::_read(file, text, sizeof text), 5);
            EXPECT_STREQ(text, "image");
        }
        CloseFirmwareImage(file);
    }
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
    EXPECT_TRUE(WideCharToMultiByte("fw-1.2.bin", ansi));
    EXPECT_EQ(ansi, "fw-1.2.bin");
    ansi = "untouched";
    // A snowman is in no ANSI code page, and no best-fit look-alike may stand in for it.
    EXPECT_FALSE(WideCharToMultiByte("fw-\xe2\x98\x83.bin", ansi));
    EXPECT_EQ(ansi, "untouched");
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
