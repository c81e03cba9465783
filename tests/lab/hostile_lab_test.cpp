// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The real helper in the lab's pc namespace against what its caller, or the kernel's reuse of a
// namespace's number, could do to it.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <thread>

#include "netcfg/netcfg.h"
#include "platform/linux/helper_client.h"
#include "platform/linux/netparams.h"
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
std::unique_ptr<HelperProcess> HelperThatTookOff(const std::function<void()>& started = [] {}) {
    std::string why;
    auto helper = HelperProcess::Start({KESTREL_HELPER_PATH}, why);
    started();
    if (!helper) return nullptr;
    HelperIpHelper client(*helper, LinuxGetNetworkParams);
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

}  // namespace
}  // namespace kestrel
