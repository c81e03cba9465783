// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The launcher with a stand-in child: lines in turn, the time limit, a helper that is gone, and
// no handle inherited but the two pipe ends. Then the helper itself over the launcher, as far as
// it goes without touching a network: greeted, ended, and gone with the front end's end of its
// input.
#include "platform/windows/helper_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "platform/windows/network.h"

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

// Lines, however long, are answered in turn. A helper that ends, or does not answer within the
// limit, counts as gone; the front end does not wait for a silent one at the end either.
TEST(HelperLauncher, ExchangesLinesInTurnAndKnowsAnEndedSilentOrMissingHelper) {
    for (const std::string mode : {"echo", "exit", "silent"}) {
        SCOPED_TRACE(mode);
        const auto started = Clock::now();
        {
            auto child = StandIn(mode);
            ASSERT_TRUE(child);
            child->SetTimeLimit(std::chrono::milliseconds(mode == "echo" ? 20000 : 300));
            for (const std::string& line :
                 {std::string("{\"op\":\"hello\"}"), std::string(70000, 'x'), std::string("end")}) {
                std::string reply;
                EXPECT_EQ(child->Exchange(line, reply), mode == "echo");
                EXPECT_EQ(reply, mode == "echo" ? line : "");
            }
        }
        EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(mode == "silent" ? 300 : 0));
        EXPECT_LT(Clock::now() - started, std::chrono::seconds(10));
    }
    std::string why;
    EXPECT_FALSE(HelperProcess::Start(Beside(L"no-such-helper.exe"), L"", why));
    EXPECT_NE(why.find("cannot be started"), std::string::npos) << why;
}

TEST(HelperLauncher, TheChildInheritsOnlyItsTwoPipeEnds) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    ASSERT_TRUE(::CreatePipe(&read, &write, &inheritable, 0));
    {
        auto leak = StandIn("leak " + std::to_string(reinterpret_cast<std::uintptr_t>(write)));
        ASSERT_TRUE(leak);
        std::string reply;
        // The stand-in answers only after its write through the handle value.
        EXPECT_TRUE(leak->Exchange("hello", reply));
    }
    DWORD leaked = 1;
    EXPECT_TRUE(::PeekNamedPipe(read, nullptr, 0, nullptr, &leaked, nullptr));
    EXPECT_EQ(leaked, 0u);
    ::CloseHandle(read);
    ::CloseHandle(write);
}

// A front end that ends without a word closes the helper's input: it restores, ends, and lets
// go of the journal, so that the next helper serves at once; one told to end ends cleanly.
TEST(HelperOverTheLauncher, EndsWithItsFrontEndsInputOrWhenToldTo) {
    for (const bool told : {false, true}) {
        std::string why;
        auto process = HelperProcess::Start(HelperPath(), L"", why);
        ASSERT_TRUE(process) << why;
        process->SetTimeLimit(std::chrono::seconds(30));
        HelperIpHelper client(*process, WindowsGetNetworkParams);
        std::vector<std::string> left = {"stale"};
        ASSERT_TRUE(client.Hello(why, left)) << told << ": " << why;
        EXPECT_TRUE(left.empty()) << told;
        if (!told) continue;
        left = {"stale"};
        EXPECT_TRUE(client.End(left));
        EXPECT_TRUE(left.empty());
        EXPECT_EQ(::WaitForSingleObject(process->Process(), 10000), WAIT_OBJECT_0);
        DWORD status = 1;
        EXPECT_TRUE(::GetExitCodeProcess(process->Process(), &status));
        EXPECT_EQ(status, 0u);
    }
}

}  // namespace
}  // namespace kestrel::testing
