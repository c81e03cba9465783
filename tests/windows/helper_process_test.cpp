// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The launcher with a stand-in child: lines in turn, the time limit, a helper that is gone, the
// closed input at the end, and no handle inherited but the two pipe ends.
#include "platform/windows/helper_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>

namespace kestrel::testing {
namespace {

using Clock = std::chrono::steady_clock;

std::wstring Beside(const wchar_t* name) {
    const std::wstring helper = HelperPath();
    return helper.substr(0, helper.find_last_of(L"\\") + 1) + name;
}

std::unique_ptr<HelperProcess> StandIn(const std::string& arguments) {
    std::string why;
    auto process = HelperProcess::Start(Beside(L"windows_stand_in_helper.exe"),
                                        std::wstring(arguments.begin(), arguments.end()), why);
    EXPECT_TRUE(process) << why;
    return process;
}

std::string TemporaryFile(const char* name) {
    char base[MAX_PATH];
    ::GetTempPathA(MAX_PATH, base);
    const std::string path = std::string(base) + name + std::to_string(::GetCurrentProcessId());
    ::DeleteFileA(path.c_str());
    return path;
}

std::string Contents(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(HelperLauncher, FindsTheHelperBesideTheProgram) {
    const std::wstring path = HelperPath();
    const std::wstring name = L"\\kestrel-recovery-helper.exe";
    ASSERT_GT(path.size(), name.size());
    EXPECT_EQ(path.substr(path.size() - name.size()), name);
    EXPECT_NE(::GetFileAttributesW(Beside(L"windows_helper_tests.exe").c_str()),
              INVALID_FILE_ATTRIBUTES);
}

TEST(HelperLauncher, ExchangesLinesInTurnAndKnowsAGoneHelper) {
    auto echo = StandIn("echo");
    ASSERT_TRUE(echo);
    echo->SetTimeLimit(std::chrono::seconds(20));
    for (const std::string& line :
         {std::string("{\"op\":\"hello\"}"), std::string(70000, 'x'), std::string("end")}) {
        std::string reply;
        EXPECT_TRUE(echo->Exchange(line, reply));
        EXPECT_EQ(reply, line);
    }
    auto gone = StandIn("exit");
    ASSERT_TRUE(gone);
    std::string reply;
    EXPECT_FALSE(gone->Exchange("hello", reply));
    std::string why;
    EXPECT_FALSE(HelperProcess::Start(Beside(L"no-such-helper.exe"), L"", why));
    EXPECT_NE(why.find("cannot be started"), std::string::npos) << why;
}

// A helper that does not answer within the limit counts as gone, and the front end does not
// wait for it at the end either.
TEST(HelperLauncher, ASilentHelperCountsAsGoneAfterTheLimit) {
    const auto started = Clock::now();
    {
        auto silent = StandIn("silent");
        ASSERT_TRUE(silent);
        silent->SetTimeLimit(std::chrono::milliseconds(300));
        std::string reply;
        EXPECT_FALSE(silent->Exchange("hello", reply));
        EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(300));
    }
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(10));
}

// The end of the front end is the end of the helper's input: that is when it restores.
TEST(HelperLauncher, EndingClosesTheHelpersInputAndWaitsForIt) {
    const std::string note = TemporaryFile("kestrel-stand-in-");
    {
        auto echo = StandIn("echo " + note);
        ASSERT_TRUE(echo);
        std::string reply;
        ASSERT_TRUE(echo->Exchange("hello", reply));
        EXPECT_EQ(Contents(note), "");
    }
    EXPECT_EQ(Contents(note), "input closed");
    ::DeleteFileA(note.c_str());
}

TEST(HelperLauncher, TheChildInheritsOnlyItsTwoPipeEnds) {
    const std::string target = TemporaryFile("kestrel-inherit-");
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    const HANDLE open = ::CreateFileA(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    {
        auto leak = StandIn("leak " + std::to_string(reinterpret_cast<std::uintptr_t>(open)));
        ASSERT_TRUE(leak);
        std::string reply;
        ASSERT_TRUE(leak->Exchange("hello", reply));
    }
    ::CloseHandle(open);
    EXPECT_EQ(Contents(target), "");
    ::DeleteFileA(target.c_str());
}

}  // namespace
}  // namespace kestrel::testing
