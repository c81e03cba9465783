// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The real helper in the lab's pc namespace (tests/support/lab/lab.sh builds it around this
// binary), with this process as its front end: how the conversation ends when it does not end
// well. A killed front end is a row of the end-to-end table (tests/e2e/scenarios.table).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>

#include "netcfg/netcfg.h"
#include "platform/linux/helper_client.h"
#include "platform/linux/netparams.h"
#include "tests/support/recording_wizard.h"

namespace kestrel {
namespace {

// Sorted: an address put back comes last in the kernel's list, which is no change.
std::string Settings() {
    std::string out;
    FILE* pipe = popen("{ ip -4 -o addr; ip -4 route show table all; } | sort", "r");
    for (int c; pipe && (c = fgetc(pipe)) != EOF;) out += static_cast<char>(c);
    if (pipe) pclose(pipe);
    return out;
}

// The helper, started as a front end starts it, once it has taken the clashing settings off.
std::unique_ptr<HelperProcess> HelperThatTookOff() {
    std::string why;
    auto helper = HelperProcess::Start({KESTREL_HELPER_PATH}, why);
    if (!helper) throw std::runtime_error(why);
    HelperIpHelper client(*helper, LinuxGetNetworkParams);
    EXPECT_TRUE(client.Hello(why)) << why;
    SetIpHelper(&client);
    testing::RecordingWizard dlg;
    RemoveConflictingSettings(dlg);
    DiscardSavedSettings(dlg);  // the helper keeps what it took off in its journal
    SetIpHelper(nullptr);
    return helper;
}

TEST(HelperLab, AMalformedRequestPutsEverythingBackWithinASecond) {
    const std::string before = Settings();
    auto helper = HelperThatTookOff();
    ASSERT_NE(Settings(), before);
    const auto start = std::chrono::steady_clock::now();
    std::string reply;
    helper->Exchange(R"({"v":1,"id":9,"op":"reboot"})", reply);
    ASSERT_EQ(waitpid(helper->Pid(), nullptr, 0), helper->Pid());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(Settings(), before);
}

TEST(HelperLab, TheNextHelperPutsBackWhatAKilledHelperLeft) {
    const std::string before = Settings();
    auto helper = HelperThatTookOff();
    kill(helper->Pid(), SIGKILL);
    ASSERT_EQ(waitpid(helper->Pid(), nullptr, 0), helper->Pid());
    ASSERT_NE(Settings(), before) << "a killed helper cannot have put anything back";
    EXPECT_EQ(system(KESTREL_HELPER_PATH " --restore"), 0);
    EXPECT_EQ(Settings(), before);
}

}  // namespace
}  // namespace kestrel
