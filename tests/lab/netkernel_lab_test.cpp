// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// LinuxNetKernel against the real kernel, and the DNS client's choice of link. Run only through
// ctest, inside the lab's "pc" namespace (tests/support/lab/lab.sh, which removes the lab
// afterwards with whatever still runs in it); every case that makes links, addresses or routes
// first moves this thread into a network namespace of its own.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <regex>
#include <thread>
#include <tuple>

#include "helper/linux/linux_netkernel.h"
#include "platform/windns.h"
#include "platform/wizard.h"
#include "tests/support/fake_kernel.h"

namespace kestrel {
namespace {

using namespace testing;  // the texts of kernel objects

std::string Shell(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    for (int c; pipe && (c = fgetc(pipe)) != EOF;) out += static_cast<char>(c);
    if (pipe) pclose(pipe);
    return out;
}

// A fresh network namespace for this thread (and the `ip` commands it starts), left at the end,
// with v0 (2) cabled to p0 (3) and v1 (4) to p1 (5), all up: the peer is made first.
class OwnNetwork : public ::testing::Test {
protected:
    void SetUp() override {
        home_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        ASSERT_TRUE(home_ >= 0 && unshare(CLONE_NEWNET) == 0) << std::strerror(errno);
        Shell(
            "ip link add p0 type veth peer name v0 && ip link add p1 type veth peer name v1 && "
            "for l in lo v0 p0 v1 p1; do ip link set $l up; done");
    }
    void TearDown() override {
        EXPECT_TRUE(home_ < 0 || setns(home_, CLONE_NEWNET) == 0);
        close(home_);
    }
    int home_ = -1;
    LinuxNetKernel real_;
};

// What `ip` shows of the addresses and routes, sorted, without the lifetimes, which count down.
std::string Shown() {
    return Shell(
        "{ ip -4 -o addr show; ip -4 route show table all; } | "
        "sed -E 's/ *(valid|preferred)_lft [^ ]+//g' | sort");
}

// Each address taken off comes back as read, with the lifetimes and metric asked for; a
// secondary goes before its primary, which would take it along. What is there already, or no
// longer, is refused with the code the helper reports.
TEST_F(OwnNetwork, AddressesComeBackAsReadWithTheLifetimesAndMetricAskedFor) {
    Shell(R"(set -e; a="ip addr add"
        $a 10.5.0.5/16 dev v0; $a 192.168.1.50/24 dev v1 scope link metric 1024
        $a 192.168.1.100/24 dev v0 brd 192.168.1.255 noprefixroute valid_lft 3600 preferred_lft 1800
        $a 192.168.1.101/24 dev v0 brd 192.168.1.255 label v0:sec)");
    const std::string before = Shown();
    std::vector<KernelAddress> read, back;
    ASSERT_TRUE(real_.Addresses(read));
    std::erase_if(read, [](const KernelAddress& a) { return a.ifIndex == 1; });
    ASSERT_EQ(read.size(), 4u);
    for (auto a = read.rbegin(); a != read.rend(); ++a) EXPECT_EQ(real_.DeleteAddress(*a), 0);
    EXPECT_EQ(real_.DeleteAddress(read[0]), -EADDRNOTAVAIL);
    for (KernelAddress& a : read) {
        if (a.local == inet_addr("192.168.1.100")) a.validLifetime = 600, a.preferredLifetime = 300;
        if (a.local == inet_addr("192.168.1.50")) a.metric = 100;
        EXPECT_EQ(real_.AddAddress(a), 0) << AddressText(a);
    }
    EXPECT_EQ(real_.AddAddress(read[0]), -EEXIST);
    EXPECT_EQ(Shown(), std::regex_replace(before, std::regex("metric 1024"), "metric 100"));
    ASSERT_TRUE(real_.Addresses(back));
    for (const KernelAddress& a : back)
        EXPECT_TRUE(a.local != inet_addr("192.168.1.100") ||
                    (a.validLifetime > 590 && a.validLifetime <= 600 && a.preferredLifetime > 290 &&
                     a.preferredLifetime <= 300));
}

// Routes come back as read too, with metrics, several next hops, a twin through another link, and a
// link without carrier, whose routes the kernel shows "linkdown" and refuses so on a new one; and a
// type, a tos and a gateway on the link.
TEST_F(OwnNetwork, RoutesComeBackExactlyAsRead) {
    Shell(R"(set -e
        ip link set p1 down; ip addr add 10.0.0.5/16 dev v0; ip addr add 10.1.0.5/16 dev v1
        r="ip route add"
        $r 10.9.0.0/16 via 10.0.0.1 dev v0 mtu 1400 advmss 1360; $r blackhole 172.19.0.0/16
        $r 172.20.0.0/16 tos 0x10 via 10.0.0.1 dev v0; $r 172.17.0.0/16 via 10.9.9.1 dev v0 onlink
        $r 172.21.0.0/16 nexthop via 10.0.0.1 dev v0 weight 2 nexthop via 10.1.0.1 dev v1
        $r 172.30.0.0/16 via 10.0.0.1 dev v0 metric 50; $r 172.22.0.0/16 via 10.1.0.1 dev v1
        ip route append 172.30.0.0/16 via 10.1.0.1 dev v1 metric 50)");
    const std::string before = Shell("ip -4 route show table all");
    std::vector<KernelRoute> routes, left;
    ASSERT_TRUE(real_.Routes(routes));
    // Each deletion takes exactly its own route: a sloppy match would leave a later one nothing.
    for (const KernelRoute& route : routes)
        EXPECT_EQ(real_.DeleteRoute(route), 0) << RouteText(route);
    ASSERT_TRUE(real_.Routes(left));
    EXPECT_TRUE(left.empty()) << RouteText(left.front());
    for (const KernelRoute& route : routes) EXPECT_EQ(real_.AddRoute(route), 0) << RouteText(route);
    EXPECT_EQ(Shell("ip -4 route show table all"), before);
}

// A read that a concurrent deletion interrupted is read again, never returned torn. Addresses
// of scope host stand at the front of the link's list, so deleting them shifts every address
// after them under a read in progress. (The kernel flags deletions only: an address added under
// a read can come twice, and nothing tells.)
TEST_F(OwnNetwork, ReadsDuringDeletionsAreWholeOrRefused) {
    Shell(
        "for j in $(seq 250); do for i in 1 2 3 4 5 6 7 8; do echo a a 10.1.$i.$j/32 dev v0; "
        "done; for i in 1 2 3 4; do echo a a 10.2.$i.$j/32 dev v0 scope host; done; done | "
        "ip -batch -");
    std::vector<KernelAddress> doomed;
    ASSERT_TRUE(real_.Addresses(doomed));
    std::erase_if(
        doomed, [](const KernelAddress& a) { return a.scope != RT_SCOPE_HOST || a.ifIndex == 1; });
    std::atomic<bool> done{false};
    std::thread deletions([&] {
        for (const KernelAddress& address : doomed) EXPECT_EQ(real_.DeleteAddress(address), 0);
        done = true;
    });
    for (std::vector<KernelAddress> read; !done;) {
        if (!real_.Addresses(read)) continue;  // refused, as it may be
        EXPECT_EQ(std::count_if(read.begin(), read.end(),
                                [](const KernelAddress& a) { return a.scope != RT_SCOPE_HOST; }),
                  2000);
    }
    deletions.join();
}

TEST_F(OwnNetwork, LinksTellTheirKindStateAndCable) {
    Shell("ip link add br0 type bridge && ip link set v0 master br0 && ip link set p1 down");
    const int v1 = static_cast<int>(if_nametoindex("v1"));
    // A command run first, then SetLinkUp(v1, set) unless set is -1; what the link with that
    // description is then: its type, whether it is up and whether it has carrier.
    const std::tuple<const char*, int, const char*, UINT, bool, bool> cases[] = {
        {"", -1, "lo", MIB_IF_TYPE_LOOPBACK, true, true},
        {"", -1, "br0 (bridge)", MIB_IF_TYPE_ETHERNET, false, false},
        {"", -1, "v0 (veth)", MIB_IF_TYPE_OTHER, true, true},      // a bridge port
        {"", -1, "v1 (veth)", MIB_IF_TYPE_ETHERNET, true, false},  // its far end is down
        {"ip link set p1 up", -1, "v1 (veth)", MIB_IF_TYPE_ETHERNET, true, true},
        {"", 0, "v1 (veth)", MIB_IF_TYPE_ETHERNET, false, false},
        {"", 1, "v1 (veth)", MIB_IF_TYPE_ETHERNET, true, true},
    };
    KernelLink alone;  // a link read by its index, as the helper's journal names it
    for (const auto& [command, set, description, type, up, carrier] : cases) {
        SCOPED_TRACE(std::string(command) + " " + std::to_string(set) + " " + description);
        Shell(command);
        ASSERT_TRUE(set < 0 || real_.SetLinkUp(v1, set) == 0);
        std::vector<KernelLink> links;
        ASSERT_TRUE(real_.Links(links));
        auto link = std::find_if(links.begin(), links.end(),
                                 [&](const KernelLink& l) { return l.description == description; });
        ASSERT_NE(link, links.end());
        EXPECT_EQ(std::tuple(link->type, link->up, link->carrier, link->mac.size()),
                  std::tuple(type, up, carrier, 6u));
        ASSERT_EQ(real_.Link(link->index, alone), 0);
        EXPECT_EQ(std::tie(alone.name, alone.mac, alone.type, alone.up, alone.carrier),
                  std::tie(link->name, link->mac, link->type, link->up, link->carrier));
    }
    const int bridge = static_cast<int>(if_nametoindex("br0"));
    Shell("ip link del br0");
    EXPECT_EQ(real_.Link(bridge, alone), -ENODEV);
}

// In the lab's "pc" namespace: eth1 is cabled to the router (192.168.1.1). The front end's end
// of the abort pipe hangs up when it goes away.
TEST(LinuxArp, AnsweredTimedOutOrCancelled) {
    LinuxNetKernel kernel;
    int abort[2];
    ASSERT_EQ(pipe2(abort, O_CLOEXEC), 0);
    std::uint8_t mac[6] = {};
    auto arp = [&](const char* target, long atLeastMs) {
        const auto start = std::chrono::steady_clock::now();
        const int result = kernel.Arp(static_cast<int>(if_nametoindex("eth1")), inet_addr(target),
                                      inet_addr("192.168.1.100"), mac, 1500, abort[0]);
        const long took = (std::chrono::steady_clock::now() - start) / std::chrono::milliseconds(1);
        EXPECT_TRUE(took >= atLeastMs && took < atLeastMs + 500) << target << " took " << took;
        return ResultText(result);
    };
    EXPECT_EQ(arp("192.168.1.1", 0), "0");
    EXPECT_EQ(arp("192.168.1.77", 1500), "-ETIMEDOUT");  // nobody holds the address
    std::thread goesAway([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        close(abort[1]);
    });
    EXPECT_EQ(arp("192.168.1.77", 300), "-ECANCELED");
    goesAway.join();
    close(abort[0]);
}

// A query goes out of the link it names, whatever the routes say: here a host route and a
// better default route lead to the router's address through eth0, a dead end. (They stay: the
// cases after this one run in namespaces of their own.)
TEST(LinuxDns, AsksThroughTheLinkItIsGiven) {
    // dnsmasq forks once it listens.
    Shell(
        "ip netns exec \"$LAB_ROUTER\" dnsmasq --no-resolv --no-hosts --conf-file=/dev/null "
        "--pid-file= --listen-address=192.168.1.1 --bind-interfaces "
        "--host-record=router.kestrel.home,192.168.1.1 && "
        "ip route add 192.168.1.1/32 via 192.168.0.254 dev eth0 && "
        "ip route add default via 192.168.1.1 dev eth0 onlink metric 50");
    IP4_ARRAY servers{1, {inet_addr("192.168.1.1")}};
    DNS_RECORDA* records = nullptr;
    auto ask = [&](const char* link) {
        return DnsQuery_A(kSetupHostName, DNS_TYPE_A, DNS_QUERY_BYPASS_CACHE, &servers, &records,
                          nullptr, if_nametoindex(link));
    };
    EXPECT_EQ(ask("eth0"), ERROR_TIMEOUT);
    ASSERT_EQ(ask("eth1"), 0);
    ASSERT_NE(records, nullptr);
    DnsFree(records, DnsFreeRecordList);
}

}  // namespace
}  // namespace kestrel
