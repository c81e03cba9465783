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
std::unique_ptr<HelperProcess> HelperThatTookOff(const std::vector<std::string>& argv = {
                                                     KESTREL_HELPER_PATH}) {
    std::string why;
    auto helper = HelperProcess::Start(argv, why);
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

// The caller's terminal sends SIGQUIT for Ctrl+\ and SIGTSTP for Ctrl+Z; pkexec passes the
// caller's limits on, here soft ones as `ulimit -S` leaves them (raising a hard one takes
// CAP_SYS_RESOURCE, which a container's root may lack: there the helper refuses to start). A
// journal record is longer than a byte, and the flood takes more than a second of processor.
TEST(HostileLab, ACallersSignalsAndLimitsNeitherStopNorKillTheHelper) {
    const char* settings = "{ ip -4 -o addr; ip -4 route show table all; } | sort";
    const std::string before = Output(settings);
    auto helper = HelperThatTookOff(
        {"/usr/bin/prlimit", "--fsize=1:unlimited", "--cpu=1:unlimited", KESTREL_HELPER_PATH});
    ASSERT_TRUE(helper);
    const std::string changed = Output(settings);
    ASSERT_NE(changed, before) << "nothing was taken off";
    for (int signal : {SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU}) kill(helper->Pid(), signal);
    helper->SetTimeLimit(std::chrono::seconds(10));
    clockid_t cpu{};
    timespec used{};
    ASSERT_EQ(clock_getcpuclockid(helper->Pid(), &cpu), 0);
    for (std::string reply; clock_gettime(cpu, &used) == 0 && used.tv_sec < 2;)
        ASSERT_TRUE(helper->Exchange(R"({"v":1,"id":1,"op":"routes"})", reply))
            << "gone after " << used.tv_sec << " s of processor time";
    EXPECT_EQ(Output(settings), changed);
    helper.reset();  // its input closes: it puts everything back and ends
    EXPECT_EQ(Output(settings), before);
}

}  // namespace
}  // namespace kestrel
