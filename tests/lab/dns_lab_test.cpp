// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The DNS probe and the resolver configuration it reads, in the lab.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/iphlpapi.h"
#include "platform/windns.h"
#include "proto/proto.h"
#include "tests/support/lab/lab_process.h"
#include "tests/support/fake_network_params.h"
#include "tests/support/recording_wizard.h"

namespace kestrel::lab {
namespace {

using testing::FakeNetworkParams;
using testing::RecordingWizard;

struct Probe {
    int result = -1;
    double seconds = 0;
    std::vector<std::string> boxes;
};

Probe RunProbe(bool debug) {
    RecordingWizard wizard;
    wizard.m_bDebug = debug ? TRUE : FALSE;
    const std::uint64_t start = GetTickCount64();
    Probe probe;
    probe.result = ProbeRouterDns(wizard);
    probe.seconds = static_cast<double>(GetTickCount64() - start) / 1000.0;
    probe.boxes = wizard.Boxes();
    return probe;
}

// Inside "ip netns exec" /etc/resolv.conf is the PC namespace's own file; put it back after.
class ResolvConf {
public:
    explicit ResolvConf(const std::string& text) {
        std::ifstream in("/etc/resolv.conf");
        std::ostringstream old;
        old << in.rdbuf();
        saved_ = old.str();
        Write(text);
    }
    ~ResolvConf() { Write(saved_); }

private:
    static void Write(const std::string& text) { std::ofstream("/etc/resolv.conf") << text; }
    std::string saved_;
};

TEST(DnsProbeLab, RouterAnsweringFromTheResolverConfigurationIsFound) {
    TempDir dir;
    RouterSim sim(dir, {"--mode", "normal", "--dns-answer", "192.168.1.77"});
    const Probe quiet = RunProbe(false);
    EXPECT_EQ(quiet.result, 1);
    EXPECT_TRUE(quiet.boxes.empty());
    EXPECT_LT(quiet.seconds, 1.0);

    const Probe debug = RunProbe(true);
    EXPECT_EQ(debug.result, 1);
    EXPECT_EQ(debug.boxes, std::vector<std::string>{"Information: 192.168.1.77"});
}

TEST(DnsProbeLab, MalformedAnswersAreRejectedAndTheWaitGoesOn) {
    TempDir dir;
    RouterSim sim(dir, {"--mode", "normal", "--dns", "full-name,nxdomain,rcode3,type5,good"});
    const Probe probe = RunProbe(true);
    EXPECT_EQ(probe.result, 1);
    EXPECT_EQ(probe.boxes, (std::vector<std::string>{
                               "Information: Packet length not is not correct",
                               "Information: Packet length not is not correct",
                               "Information: Reply code is not correct",
                               "Information: Answer type is not correct",
                               "Information: 192.168.1.1",
                           }));
}

TEST(DnsProbeLab, SilentServersEachGetFiveQueriesAndTheWindowEndsInTime) {
    ASSERT_EQ(RunInRouter({"ip", "addr", "add", "192.168.1.2/24", "dev", "eth0"}), 0);
    {
        TempDir dir;
        RouterSim first(dir, {"--mode", "normal", "--dns", "silent"}, "first");
        RouterSim second(dir, {"--mode", "normal", "--dns", "silent", "--address", "192.168.1.2"},
                         "second");
        FakeNetworkParams params({"192.168.1.1", "192.168.1.2"});
        const Probe probe = RunProbe(true);
        EXPECT_EQ(probe.result, 0);
        EXPECT_TRUE(probe.boxes.empty());
        EXPECT_GE(probe.seconds, 5.0);
        EXPECT_LE(probe.seconds, 6.1);
        EXPECT_EQ(params.askedSizes, (std::vector<ULONG>{584, params.Needed()}));

        for (const RouterSim* sim : {&first, &second}) {
            std::vector<SimEvent> queries;
            for (const auto& e : sim->Events()) {
                if (e.kind == "dns") queries.push_back(e);
            }
            ASSERT_EQ(queries.size(), 5u);
            for (const auto& q : queries) {
                EXPECT_EQ(q.len, 64);
                EXPECT_EQ(q.port, queries[0].port);
            }
        }
    }
    RunInRouter({"ip", "addr", "del", "192.168.1.2/24", "dev", "eth0"});
}

// systemd-resolved's list of upstream servers, on a tmpfs over /run/systemd that only this
// process sees.
class ResolvedUpstream {
public:
    explicit ResolvedUpstream(const std::string& text) {
        static const bool isolated =
            unshare(CLONE_NEWNS) == 0 &&
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        mounted_ = isolated && mount("tmpfs", "/run/systemd", "tmpfs", 0, "size=64k") == 0;
        EXPECT_TRUE(mounted_) << "a private /run/systemd: " << std::strerror(errno);
        mkdir("/run/systemd/resolve", 0755);
        std::ofstream("/run/systemd/resolve/resolv.conf") << text;
    }
    ~ResolvedUpstream() {
        if (mounted_) umount("/run/systemd");
    }

private:
    bool mounted_ = false;
};

TEST(NetworkParamsLab, ALocalStubIsPassedByForTheServersItForwardsTo) {
    ResolvConf conf("nameserver 127.0.0.53\n");
    ResolvedUpstream upstream("nameserver 192.168.1.1\n");
    // The stub holds an answer for the login name, as a cache would after the router was seen.
    RouterProcess stub(
        {"dnsmasq", "--keep-in-foreground", "--conf-file=/dev/null", "--no-resolv", "--no-hosts",
         "--bind-interfaces", "--listen-address=127.0.0.53", "--pid-file=", "--user=root",
         std::string("--host-record=") + kSetupHostName + ",192.168.1.1"},
        "LAB_PC");
    ASSERT_TRUE(WaitFor(
        [] {
            IP4_ARRAY servers{1, {inet_addr("127.0.0.53")}};
            DNS_RECORDA* records = nullptr;
            if (DnsQuery_A(kSetupHostName, DNS_TYPE_A, 0, &servers, &records, nullptr,
                           if_nametoindex("lo")) != 0)
                return false;
            DnsFree(records, DnsFreeRecordList);
            return true;
        },
        std::chrono::seconds(10)));

    struct Case {
        const char* router;
        int result;
    };
    for (const Case& c : {Case{"bootloader", 0}, Case{"normal", 1}}) {
        SCOPED_TRACE(c.router);
        TempDir dir;
        RouterSim sim(dir, {"--mode", c.router});
        EXPECT_EQ(RunProbe(false).result, c.result);
    }
}

TEST(NetworkParamsLab, DnsServersComeFromTheResolverConfigurationInOrder) {
    ResolvConf conf(
        "search lab.example\nnameserver 192.168.1.1\nnameserver 10.9.8.7\n"
        "nameserver 192.168.1.2\n");
    ULONG size = 584;
    std::vector<unsigned char> block(size);
    ASSERT_EQ(GetNetworkParams(reinterpret_cast<FIXED_INFO*>(block.data()), &size),
              ERROR_BUFFER_OVERFLOW);
    ASSERT_EQ(size, sizeof(FIXED_INFO) + 2 * sizeof(IP_ADDR_STRING));

    std::vector<unsigned char> fitted(size + 64, 0xee);
    auto* info = reinterpret_cast<FIXED_INFO*>(fitted.data());
    ASSERT_EQ(GetNetworkParams(info, &size), NO_ERROR);
    std::vector<std::string> servers;
    for (const IP_ADDR_STRING* s = &info->DnsServerList; s; s = s->Next) {
        const auto* at = reinterpret_cast<const unsigned char*>(s);
        ASSERT_GE(at, fitted.data());
        ASSERT_LE(at + sizeof *s, fitted.data() + size);
        servers.push_back(s->IpAddress.String);
    }
    EXPECT_EQ(servers, (std::vector<std::string>{"192.168.1.1", "10.9.8.7", "192.168.1.2"}));
    // Nothing written past the size the call asked for.
    EXPECT_EQ(fitted[size], 0xee);
    EXPECT_EQ(fitted.back(), 0xee);
}

}  // namespace
}  // namespace kestrel::lab
