// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The real helper in the lab's pc namespace against what its caller, or the kernel's reuse of a
// namespace's number, could do to it.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "netcfg/netcfg.h"
#include "platform/linux/helper_client.h"
#include "tests/support/recording_wizard.h"

namespace kestrel {
namespace {

std::string Output(const char* command) {
    std::string out;
    FILE* pipe = popen(command, "r");
    for (int c; pipe && (c = fgetc(pipe)) != EOF;) out += static_cast<char>(c);
    if (pipe) pclose(pipe);
    return out;
}

// What a recovery takes off, taken off by a helper started here, which is left running.
std::unique_ptr<HelperProcess> HelperThatTookOff() {
    std::string why;
    auto helper = HelperProcess::Start({KESTREL_HELPER_PATH}, why);
    if (!helper) return nullptr;
    HelperIpHelper client(*helper);
    if (!client.Hello(why)) return nullptr;
    SetIpHelper(&client);
    testing::RecordingWizard dlg;
    RemoveConflictingSettings(dlg);
    DiscardSavedSettings(dlg);
    SetIpHelper(nullptr);
    return helper;
}

// Runs `body` in a child process in a new network namespace with a link like a container's
// (same name, index and hardware address each time); `inode` gets the namespace's number.
int InNewNamespace(ino_t& inode, const std::function<int(ino_t)>& body) {
    int report[2];
    if (pipe(report) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        struct stat ns {};
        if (unshare(CLONE_NEWNET) != 0 || stat("/proc/self/ns/net", &ns) != 0) _exit(100);
        (void)!write(report[1], &ns.st_ino, sizeof ns.st_ino);
        _exit(body(ns.st_ino));
    }
    close(report[1]);
    inode = 0;
    (void)!read(report[0], &inode, sizeof inode);
    close(report[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

int ContainerLink() {
    return system(
        "ip link add eth1 address 02:00:00:00:17:01 type veth peer name peer1 && "
        "ip link set eth1 up && ip link set peer1 up");
}

TEST(HostileLab, AJournalOfADeadNamespaceIsNeverReplayedInANewOne) {
    ino_t deadInode = 0;
    ASSERT_EQ(InNewNamespace(deadInode,
                             [](ino_t) {
                                 if (ContainerLink() != 0 ||
                                     system("ip addr add 192.168.1.100/24 dev eth1") != 0)
                                     return 1;
                                 auto helper = HelperThatTookOff();
                                 if (!helper || Output("ip -4 -o addr show dev eth1") != "")
                                     return 2;
                                 kill(helper->Pid(), SIGKILL);  // its journal stays
                                 waitpid(helper->Pid(), nullptr, 0);
                                 return 0;
                             }),
              0);
    // The kernel hands the number of a namespace that is gone to a later one.
    for (int attempt = 0; attempt < 100; ++attempt) {
        ino_t inode = 0;
        const int result = InNewNamespace(inode, [deadInode](ino_t mine) {
            if (mine != deadInode) return 3;
            if (ContainerLink() != 0) return 1;
            const int restore = system(KESTREL_HELPER_PATH " --restore");
            return restore == 0 && Output("ip -4 -o addr show dev eth1") == "" ? 0 : 4;
        });
        if (result == 3) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        EXPECT_EQ(result, 0) << "4: the dead namespace's address was put back here";
        return;
    }
    GTEST_SKIP() << "no new namespace got the dead one's number " << deadInode;
}

// Sorted: an address put back comes last in the kernel's list, which is no change.
std::string Settings() {
    return Output("{ ip -4 -o addr; ip -4 route show table all; } | sort");
}

double CpuSeconds(pid_t pid) {
    clockid_t clock{};
    timespec used{};
    if (clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &used) != 0) return -1;
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

// The caller's terminal would send SIGQUIT for Ctrl+\ and SIGTSTP for Ctrl+Z; pkexec passes
// the caller's limits on, as prlimit does here. A journal record is longer than a byte, and the
// flood below takes more than a second of the helper's processor time.
TEST(HostileLab, ACallersSignalsAndLimitsNeitherStopNorKillTheHelper) {
    const struct {
        const char* limits;
        const char* fsize;
        const char* cpu;
        bool serves;
    } cases[] = {
        {"soft", "--fsize=1:unlimited", "--cpu=1:unlimited", true},
        // Raising a hard limit takes CAP_SYS_RESOURCE, which a container's root may lack; at
        // the hard limit the kernel kills, so a helper that cannot raise it must not start.
        {"soft and hard", "--fsize=1", "--cpu=1", prctl(PR_CAPBSET_READ, CAP_SYS_RESOURCE) == 1},
    };
    for (const auto& limited : cases) {
        SCOPED_TRACE(std::string(limited.limits) + " limits");
        const std::string before = Settings();
        std::string why;
        auto helper = HelperProcess::Start(
            {"/usr/bin/prlimit", limited.fsize, limited.cpu, KESTREL_HELPER_PATH}, why);
        ASSERT_TRUE(helper) << why;
        helper->SetTimeLimit(std::chrono::seconds(10));
        HelperIpHelper client(*helper);
        int status = -1;
        if (!limited.serves) {
            EXPECT_FALSE(client.Hello(why));
            EXPECT_EQ(waitpid(helper->Pid(), &status, 0), helper->Pid());
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
            EXPECT_EQ(Settings(), before);
            continue;
        }
        ASSERT_TRUE(client.Hello(why)) << why;
        SetIpHelper(&client);
        testing::RecordingWizard dlg;
        RemoveConflictingSettings(dlg);
        DiscardSavedSettings(dlg);
        SetIpHelper(nullptr);
        const std::string changed = Settings();
        EXPECT_NE(changed, before) << "nothing was taken off";

        for (int signal : {SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU}) kill(helper->Pid(), signal);
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        ULONG size = 0;
        while (CpuSeconds(helper->Pid()) < 1.5 && std::chrono::steady_clock::now() < giveUp)
            ASSERT_EQ(client.GetIpForwardTable(nullptr, &size, FALSE), ERROR_INSUFFICIENT_BUFFER)
                << "the helper went away after " << CpuSeconds(helper->Pid()) << " s of CPU";
        EXPECT_GE(CpuSeconds(helper->Pid()), 1.5) << "the flood never took a second of CPU";
        EXPECT_EQ(Settings(), changed);

        std::vector<std::string> left;
        EXPECT_TRUE(client.End(left));
        EXPECT_TRUE(left.empty()) << left.front();
        EXPECT_EQ(waitpid(helper->Pid(), &status, 0), helper->Pid());
        EXPECT_EQ(status, 0);
        EXPECT_EQ(Settings(), before);
    }
}

}  // namespace
}  // namespace kestrel
