// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows services that need no network: the image as the command line names it (paths with
// the system's separators, the image folder, the image file, the ANSI conversion), and the pipes
// the loops wait on.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "engine/command_line.h"
#include "helper/host.h"
#include "platform/files.h"

namespace kestrel {
namespace {

// The image as a Windows program finds it through the platform's own services: a path with any
// of the system's separators, a bare name in the image folder (under a system folder of the
// test's own), only a regular file, and only a name that the locale's ANSI code page can write.
TEST(WindowsCommandLine, FindsTheImageByItsPathOrInTheImageFolder) {
    const auto temporary = std::filesystem::temp_directory_path();
    const auto folder = temporary / ("kestrel-windows-" + std::to_string(::GetCurrentProcessId()));
    std::filesystem::create_directories(folder / "KESTREL" / "folder");
    for (const wchar_t* name : {L"fw.bin", L"KESTREL\\fw.bin", L"KESTREL\\fw-\u2603.bin"})
        std::ofstream(folder / name, std::ios::binary) << "image";
    ASSERT_EQ(::_putenv(("KESTREL_SYSTEM_DIR=" + folder.string()).c_str()), 0);
    std::filesystem::current_path(folder);  // on C:, as the temporary folder is: "C:" names it
    const std::string images = folder.string() + "\\KESTREL\\";
    // A snowman is in no ANSI code page, and no best-fit look-alike may stand in for it.
    const std::string snowman = "fw-\xe2\x98\x83.bin";
    for (const auto& [arguments, path, name, failure] : std::vector<std::array<std::string, 4>>{
             {"FW=fw.bin", images + "fw.bin", "fw.bin", ""},
             {"FW=KESTREL\\fw.bin", "KESTREL\\fw.bin", "fw.bin", ""},
             {"FW=KESTREL/fw.bin", "KESTREL/fw.bin", "fw.bin", ""},
             {"FW=C:fw.bin", "C:fw.bin", "fw.bin", ""},
             {"FW=folder", images + "folder", "", "Can not find Firmware " + images + "folder"},
             {"FW=none", images + "none", "", "Can not find Firmware " + images + "none"},
             {"FW=" + snowman, images + snowman, "",
              "The firmware name can not be written in the character set of the locale: " +
                  snowman}}) {
        SCOPED_TRACE(arguments);
        const CommandLineSettings got =
            ReadCommandLine("kestrel-recovery.exe " + arguments, PlatformCommandLineEnvironment());
        char content[8] = {};
        if (got.hFirmwareFile >= 0) ::_read(got.hFirmwareFile, content, sizeof content);
        CloseFirmwareImage(got.hFirmwareFile);
        EXPECT_EQ(std::tuple(got.ok, got.failure, got.strFirmwarePath, got.szFirmwareName,
                             std::string(content)),
                  std::tuple(failure.empty(), failure, path, name,
                             std::string(failure.empty() ? "image" : "")));
    }
    ASSERT_EQ(::_putenv("KESTREL_SYSTEM_DIR="), 0);
    std::filesystem::current_path(temporary);
    std::filesystem::remove_all(folder);
}

// The helper's loops poll these pipes: a look must never wait, nor see a byte that is not there.
// (Its quit pipe's drain runs in every turn of the helper the launcher tests start.)
TEST(WindowsPipes, APipeHasInputOnceWrittenOrWhenItsWriterIsGone) {
    int ends[2];
    ASSERT_EQ(::_pipe(ends, 256, _O_BINARY), 0);
    EXPECT_FALSE(HasInput(ends[0]));
    ASSERT_EQ(::_write(ends[1], "x", 1), 1);
    EXPECT_TRUE(HasInput(ends[0]));
    char byte;
    ASSERT_EQ(::_read(ends[0], &byte, 1), 1);
    ::_close(ends[1]);
    EXPECT_TRUE(HasInput(ends[0]));
    ::_close(ends[0]);
}

}  // namespace
}  // namespace kestrel
