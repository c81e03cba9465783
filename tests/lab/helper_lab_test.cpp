// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The real helper in the lab's pc namespace (tests/support/lab/lab.sh builds it around this
// binary), with this process as its front end: how the conversation ends when it does not end
// well, and what the kernel's reuse of a namespace's number could do to it. A killed front end
// is a row of the end-to-end table (tests/e2e/scenarios.table).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
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

// Sorted: an address put back comes last in the kernel's list, which is no change.
std::string Settings() {
    std::string out;
    FILE* pipe = popen("{ ip -4 -o addr; ip -4 route show table all; } | sort", "r");
    for (int c; pipe && (c = fgetc(pipe)) != EOF;) out += static_cast<char>(c);
    if (pipe) pclose(pipe);
    return out;
}

// The helper, started as a front end starts it, once it has taken the clashing settings off;
// it is left running, with what it took off in its journal.
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

// A helper that ends itself on a malformed request puts everything back within a second; one
// that is killed puts back nothing, and the next one, run to restore, does.
TEST(HelperLab, WhatAnAbruptEndTookOffComesBack) {
    const std::string before = Settings();
    auto helper = HelperThatTookOff();
    ASSERT_TRUE(helper);
    ASSERT_NE(Settings(), before);
    const auto start = std::chrono::steady_clock::now();
    std::string reply;
    helper->Exchange(R"({"v":1,"id":9,"op":"reboot"})", reply);
    ASSERT_EQ(waitpid(helper->Pid(), nullptr, 0), helper->Pid());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(Settings(), before);

    helper = HelperThatTookOff();
    ASSERT_TRUE(helper);
    kill(helper->Pid(), SIGKILL);
    ASSERT_EQ(waitpid(helper->Pid(), nullptr, 0), helper->Pid());
    ASSERT_NE(Settings(), before) << "a killed helper cannot have put anything back";
    EXPECT_EQ(system(KESTREL_HELPER_PATH " --restore"), 0);
    EXPECT_EQ(Settings(), before);
}

// Runs `body` in a child process in a new network namespace with a link like a container's
// (same name, index and hardware address each time): its exit status, or 128 when it died.
// `inode` gets the namespace's number.
int InNewNamespace(ino_t& inode, const std::function<int(ino_t)>& body) {
    int report[2];
    if (pipe(report) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        struct stat ns {};
        if (unshare(CLONE_NEWNET) != 0 || stat("/proc/self/ns/net", &ns) != 0) _exit(100);
        (void)!write(report[1], &ns.st_ino, sizeof ns.st_ino);
        _exit(system("ip link add eth1 address 02:00:00:00:17:01 type veth peer name peer1 && "
                     "ip link set eth1 up && ip link set peer1 up") == 0
                  ? body(ns.st_ino)
                  : 1);
    }
    close(report[1]);
    inode = 0;
    (void)!read(report[0], &inode, sizeof inode);
    close(report[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

// A helper killed in a namespace that is gone leaves its journal; the kernel hands the dead
// namespace's number to a later one, where that journal must not put the address back.
TEST(HostileLab, AJournalOfADeadNamespaceIsNeverReplayedInANewOne) {
    const auto killedOnceItTookOff = [](ino_t) {
        if (system("ip addr add 192.168.1.100/24 dev eth1") != 0) return 1;
        auto helper = HelperThatTookOff();
        if (!helper || Settings().find("192.168.1.") != std::string::npos) return 2;
        kill(helper->Pid(), SIGKILL);  // its journal stays
        waitpid(helper->Pid(), nullptr, 0);
        return 0;
    };
    ino_t dead = 0;
    ASSERT_EQ(InNewNamespace(dead, killedOnceItTookOff), 0);
    for (int attempt = 0; attempt < 100; ++attempt) {
        ino_t inode = 0;
        const int result = InNewNamespace(inode, [dead](ino_t mine) {
            if (mine != dead) return 3;
            const int restore = system(KESTREL_HELPER_PATH " --restore");
            return restore == 0 && Settings().find("192.168.1.") == std::string::npos ? 0 : 4;
        });
        if (result != 3) {
            EXPECT_EQ(result, 0) << "4: the dead namespace's address was put back here";
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    GTEST_SKIP() << "no new namespace got the dead one's number " << dead;
}

// The caller's terminal sends SIGQUIT for Ctrl+\ and SIGTSTP for Ctrl+Z; pkexec passes the
// caller's limits on, here soft ones as `ulimit -S` leaves them (raising a hard one takes
// CAP_SYS_RESOURCE, which a container's root may lack: there the helper refuses to start). A
// journal record is longer than a byte, and the flood takes more than a second of processor.
TEST(HostileLab, ACallersSignalsAndLimitsNeitherStopNorKillTheHelper) {
    const std::string before = Settings();
    auto helper = HelperThatTookOff(
        {"/usr/bin/prlimit", "--fsize=1:unlimited", "--cpu=1:unlimited", KESTREL_HELPER_PATH});
    ASSERT_TRUE(helper);
    const std::string changed = Settings();
    ASSERT_NE(changed, before) << "nothing was taken off";
    for (int signal : {SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU}) kill(helper->Pid(), signal);
    helper->SetTimeLimit(std::chrono::seconds(10));
    clockid_t cpu{};
    timespec used{};
    ASSERT_EQ(clock_getcpuclockid(helper->Pid(), &cpu), 0);
    for (std::string reply; clock_gettime(cpu, &used) == 0 && used.tv_sec < 2;)
        ASSERT_TRUE(helper->Exchange(R"({"v":1,"id":1,"op":"routes"})", reply))
            << "gone after " << used.tv_sec << " s of processor time";
    EXPECT_EQ(Settings(), changed);
    helper.reset();  // its input closes: it puts everything back and ends
    EXPECT_EQ(Settings(), before);
}

// A caller may put 192.168.1.141 beside the PC's primary address and then take the primary off.
// The kernel drops the secondary with it, or promotes it (promote_secondaries, systemd's
// default), and either way the routes through the link go: all of them come back, and
// 192.168.1.141 goes.
TEST(HostileLab, APrimaryTakenOffBesideTheTemporaryAddressComesBackWithItsRoutes) {
    const DWORD eth1 = if_nametoindex("eth1");
    for (const std::string promote : {"0", "1"}) {
        SCOPED_TRACE("promote_secondaries=" + promote);
        ASSERT_EQ(system(("echo " + promote +
                          " > /proc/sys/net/ipv4/conf/eth1/promote_secondaries && "
                          "ip route replace 10.0.0.0/8 via 192.168.1.254 dev eth1")
                             .c_str()),
                  0);
        const std::string before = Settings();
        std::string why;
        auto helper = HelperProcess::Start({KESTREL_HELPER_PATH}, why);
        ASSERT_TRUE(helper) << why;
        HelperIpHelper client(*helper, LinuxGetNetworkParams);
        ASSERT_TRUE(client.Hello(why)) << why;
        ULONG context = 0, instance = 0;
        ASSERT_EQ(client.AddIPAddress(inet_addr("192.168.1.141"), inet_addr("255.255.255.0"), eth1,
                                      &context, &instance),
                  NO_ERROR);
        ULONG size = 0;
        client.GetAdaptersInfo(nullptr, &size);
        std::vector<unsigned char> buffer(size);
        auto* adapters = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
        ASSERT_EQ(client.GetAdaptersInfo(adapters, &size), NO_ERROR);
        for (const IP_ADAPTER_INFO* adapter = adapters; adapter; adapter = adapter->Next)
            for (const IP_ADDR_STRING* entry = &adapter->IpAddressList; entry; entry = entry->Next)
                if (std::string(entry->IpAddress.String) == "192.168.1.100")
                    context = entry->Context;
        EXPECT_EQ(client.DeleteIPAddress(context), NO_ERROR);
        std::vector<std::string> left;
        EXPECT_TRUE(client.End(left));
        EXPECT_TRUE(left.empty()) << left.front();
        EXPECT_EQ(Settings(), before);
    }
    EXPECT_EQ(system("ip route del 10.0.0.0/8"), 0);
}

}  // namespace
}  // namespace kestrel
