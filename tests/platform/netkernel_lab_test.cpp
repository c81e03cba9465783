// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// LinuxNetKernel against the real kernel, and the unit tests' FakeKernel against both. Run only
// through ctest, inside the lab's "pc" namespace (tests/support/lab/lab.sh); every case that makes links,
// addresses or routes first moves this thread into a network namespace of its own.
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
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/linux/linux_netkernel.h"
#include "tests/support/fake_kernel.h"

namespace kestrel {
namespace {

using testing::AddressText;
using testing::FakeKernel;
using testing::ParseAddress;
using testing::ParseRoute;
using testing::ResultText;
using testing::RouteText;
using Lines = std::vector<std::string>;

std::string Shell(const std::string& command) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    char buffer[512];
    while (pipe && fgets(buffer, sizeof buffer, pipe.get())) out += buffer;
    return out;
}

Lines Split(const std::string& text) {
    Lines lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A fresh network namespace for this thread (and the `ip` commands it starts), left at the end.
class OwnNetwork : public ::testing::Test {
protected:
    void SetUp() override {
        home_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        ASSERT_GE(home_, 0) << std::strerror(errno);
        ASSERT_EQ(unshare(CLONE_NEWNET), 0) << std::strerror(errno);
        Shell("ip link set lo up");
    }
    void TearDown() override {
        if (home_ < 0) return;
        EXPECT_EQ(setns(home_, CLONE_NEWNET), 0) << std::strerror(errno);
        close(home_);
    }

    // v0 (2) cabled to p0 (3), v1 (4) cabled to p1 (5), all up; the fake gets v0 and v1.
    void TwoCables(FakeKernel& fake) {
        // The peer is made first.
        Shell(
            "ip link add p0 type veth peer name v0 && ip link add p1 type veth peer name v1 && "
            "for l in v0 p0 v1 p1; do ip link set $l up; done");
        std::vector<KernelLink> links;
        ASSERT_TRUE(real_.Links(links));
        for (const KernelLink& link : links)
            if (link.name == "v0" || link.name == "v1") fake.AddLink(link);
        ASSERT_EQ(if_nametoindex("v0"), 2u);
        ASSERT_EQ(if_nametoindex("v1"), 4u);
    }

    int home_ = -1;
    LinuxNetKernel real_;
};

// The address as the kernel reports it, taken off and put back from that report with the
// lifetimes and metric of `wanted`.
int PutBack(NetKernel& kernel, const KernelAddress& wanted) {
    std::vector<KernelAddress> addresses;
    EXPECT_TRUE(kernel.Addresses(addresses));
    for (KernelAddress& address : addresses) {
        if (address.ifIndex != wanted.ifIndex || address.local != wanted.local ||
            address.prefix != wanted.prefix)
            continue;
        if (const int result = kernel.DeleteAddress(address)) return result;
        address.validLifetime = wanted.validLifetime;
        address.preferredLifetime = wanted.preferredLifetime;
        address.metric = wanted.metric;
        return kernel.AddAddress(address);
    }
    return -EADDRNOTAVAIL;
}

// "add address TEXT", "delete route TEXT", "put back address TEXT", "down 2", "up 2".
int Apply(NetKernel& kernel, const std::string& line) {
    std::istringstream in(line);
    std::string verb, object, text;
    in >> verb >> object;
    if (verb == "put") in >> object;
    std::getline(in, text);
    if (verb == "down" || verb == "up") return kernel.SetLinkUp(std::stoi(object), verb == "up");
    const bool add = verb == "add";
    if (object == "address") {
        KernelAddress address;
        EXPECT_TRUE(ParseAddress(text, address)) << line;
        if (verb == "put") return PutBack(kernel, address);
        return add ? kernel.AddAddress(address) : kernel.DeleteAddress(address);
    }
    KernelRoute route;
    EXPECT_TRUE(ParseRoute(text, route)) << line;
    return add ? kernel.AddRoute(route) : kernel.DeleteRoute(route);
}

// The addresses (loopback's aside) and routes, sorted; lifetimes to the minute, since the
// kernel's count down while the fake's stand still.
Lines State(NetKernel& kernel) {
    std::vector<KernelAddress> addresses;
    std::vector<KernelRoute> routes;
    EXPECT_TRUE(kernel.Addresses(addresses));
    EXPECT_TRUE(kernel.Routes(routes));
    Lines lines;
    for (KernelAddress& a : addresses) {
        if (a.ifIndex == 1) continue;
        for (std::uint32_t* lifetime : {&a.validLifetime, &a.preferredLifetime})
            if (*lifetime != kForeverLifetime) *lifetime = (*lifetime + 59) / 60 * 60;
        lines.push_back("address " + AddressText(a));
    }
    for (const KernelRoute& r : routes) lines.push_back("route " + RouteText(r));
    std::sort(lines.begin(), lines.end());
    return lines;
}

// Links: v0 is 2, v1 is 4.
struct Scenario {
    const char* name;
    Lines world;    // must succeed on both
    Lines changes;  // each answered alike, leaving the same state
};

const Scenario kScenarios[] = {
    {"NetworkManagerLeaseLosesEverythingWithItsOnlyAddress",
     {"add address 192.168.1.100/24 dev 2 brd 192.168.1.255 noprefixroute valid 3600 "
      "preferred 3600",
      "add route 192.168.1.0/24 dev 2 proto kernel scope link src 192.168.1.100 metric 100",
      "add route default via 192.168.1.1 dev 2 proto dhcp metric 100",
      "add route 10.9.0.0/16 via 192.168.1.1 dev 2 proto boot"},
     {"delete address 192.168.1.100/24 dev 2"}},
    {"NetworkManagerLeaseBesideAnotherAddressKeepsItsGatewayRoutes",
     {"add address 10.5.0.5/16 dev 2",
      "add address 192.168.1.100/24 dev 2 brd 192.168.1.255 noprefixroute valid 3600 "
      "preferred 3600",
      "add route 192.168.1.0/24 dev 2 proto kernel scope link src 192.168.1.100 metric 100",
      "add route default via 192.168.1.1 dev 2 proto dhcp metric 100",
      "add route 10.9.0.0/16 via 192.168.1.1 dev 2 proto boot"},
     {"delete address 192.168.1.100/24 dev 2"}},
    {"NetworkdAddressTakesItsMetricPrefixRouteAndTheRoutesFromIt",
     {"add address 192.168.1.100/24 dev 2 brd 192.168.1.255 metric 1024",
      "add address 10.5.0.5/16 dev 2",
      "add route default via 192.168.1.1 dev 2 proto dhcp src 192.168.1.100 metric 1024",
      "add route 10.9.0.0/16 via 192.168.1.1 dev 2"},
     {"delete address 192.168.1.100/24 dev 2"}},
    {"SecondaryAddressTakesOnlyTheRoutesFromIt",
     {"add address 192.168.1.100/24 dev 2", "add address 192.168.1.101/24 dev 2",
      "add route 10.9.0.0/16 via 192.168.1.1 dev 2 src 192.168.1.101",
      "add route 10.8.0.0/16 via 192.168.1.1 dev 2 src 192.168.1.100"},
     {"delete address 192.168.1.101/24 dev 2", "add address 192.168.1.101/24 dev 2 metric 7"}},
    {"PrimaryAddressTakesItsSecondariesWithIt",
     {"add address 192.168.1.100/24 dev 2", "add address 192.168.1.101/24 dev 2 label v0:1",
      "add address 192.168.1.102/25 dev 2", "add address 10.5.0.5/16 dev 2",
      "add route 10.9.0.0/16 via 192.168.1.1 dev 2 src 192.168.1.101",
      "add route default via 192.168.1.1 dev 2"},
     {"delete address 192.168.1.100/24 dev 2"}},
    {"LastAddressOfALinkTakesEveryRouteThroughIt",
     {"add address 10.5.0.5/16 dev 2", "add address 10.6.0.6/16 dev 4",
      "add route 172.16.0.0/12 via 10.5.0.1 dev 2",
      "add route 172.18.0.0/16 dev 2 table 100 scope link",
      "add route 172.21.0.0/16 via 10.6.0.1 dev 4 src 10.5.0.5",
      "add route 172.22.0.0/16 via 10.6.0.1 dev 4"},
     {"delete address 10.5.0.5/16 dev 2"}},
    {"OnlinkRouteOutlivesASiblingAddressButNotTheLast",
     {"add address 10.5.0.5/16 dev 2", "add address 192.168.1.100/24 dev 2",
      "add route 172.17.0.0/16 via 10.99.0.1 dev 2 onlink"},
     {"delete address 192.168.1.100/24 dev 2", "delete address 10.5.0.5/16 dev 2"}},
    {"OtherTablesKeepTheirRoutesFromADeletedAddress",
     {"add address 192.168.1.100/24 dev 2", "add address 10.5.0.5/16 dev 2",
      "add route 10.7.0.0/16 dev 2 table 100 scope link src 192.168.1.100",
      "add route 10.6.0.0/16 via 192.168.1.1 dev 2 table 100"},
     {"delete address 192.168.1.100/24 dev 2"}},
    {"AddressComesBackAsReadWithTheLifetimesAndMetricAskedFor",
     {"add address 10.5.0.5/16 dev 2",
      "add address 192.168.1.100/24 dev 2 brd 192.168.1.255 noprefixroute label v0:nm valid 3600 "
      "preferred 3600",
      "add address 192.168.1.50/24 dev 4 scope link metric 1024"},
     {"put back address 192.168.1.100/24 dev 2 valid 600 preferred 300",
      "put back address 192.168.1.50/24 dev 4 metric 100",
      "put back address 10.5.0.5/16 dev 2 valid 900"}},
    {"GatewayIsLookedUpInTheRoutesOwnTableThenTheMainOne",
     {"add address 10.5.0.5/16 dev 2 noprefixroute", "add address 10.6.0.6/32 dev 2",
      "add route 10.5.0.0/16 dev 2 table 100 scope link"},
     {"add route 10.7.0.0/16 via 10.5.0.1 dev 2 table 100",
      "add route 10.8.0.0/16 via 10.5.0.1 dev 2", "add route 10.8.0.0/16 via 10.6.0.1 dev 2"}},
    {"LinkDownTakesItsRoutesAndUpBringsBackOnlyPrefixRoutes",
     {"add address 192.168.1.100/24 dev 2 metric 5", "add address 192.168.1.101/24 dev 2",
      "add address 10.5.0.5/16 dev 2 noprefixroute",
      "add route 10.9.0.0/16 via 192.168.1.1 dev 2 table 100",
      "add route default via 192.168.1.1 dev 2"},
     {"down 2", "add route 10.8.0.0/16 via 192.168.1.1 dev 2 onlink",
      "add route 10.8.0.0/16 dev 2 scope link", "add address 172.16.0.1/16 dev 2", "up 2"}},
    {"RefusedAndWildcardChanges",
     {"add address 192.168.1.100/24 dev 2", "add address 10.1.0.1/16 dev 4",
      "add route 10.9.0.0/16 via 192.168.1.1 dev 2"},
     {"add route 10.7.0.0/16 via 192.168.3.1 dev 2",  // gateway out of reach
      "add route 10.7.0.0/16 via 192.168.1.1 dev 4",  // reached through another link only
      "add route 10.7.0.0/16 via 10.9.0.1 dev 2",     // reached through a gateway route only
      "add route 10.7.0.0/16 via 192.168.1.1 dev 2 src 1.2.3.4",
      "add route 10.8.0.1/16 dev 2 scope link",       // host bits
      "add route 10.9.0.0/16 via 192.168.1.1 dev 2",  // identical
      "add route 10.9.0.0/16 dev 2 scope link",       // same key, other next hop
      "add route 10.7.0.0/16 via 10.1.0.7 dev 2 onlink",
      "add route 10.4.0.0/16 via 192.168.3.1",  // the kernel finds the link, or not
      "add route 10.5.0.0/16 via 192.168.1.1",
      "add address 192.168.1.100/24 dev 2",
      "add address 192.168.1.100/25 dev 2",
      "add address 10.2.0.1/16 dev 9",
      "delete address 192.168.1.77/24 dev 2",
      "delete address 192.168.1.100/16 dev 2",
      "delete route 10.6.0.0/16 dev 2",
      "delete route 10.9.0.0/16 via 192.168.1.1 dev 2 metric 7",
      "delete route 10.9.0.0/16 dev 2",  // any next hop: the first one goes
      "down 4",
      "add route 10.7.0.0/16 dev 4 scope link",
      "add route 10.6.0.0/16 via 1.1.1.1 dev 4 onlink",
      "up 9"}},
};

void PrintTo(const Scenario& scenario, std::ostream* out) {
    *out << scenario.name;
}

class KernelModel : public OwnNetwork, public ::testing::WithParamInterface<Scenario> {};

TEST_P(KernelModel, FakeAnswersAndEndsLikeTheKernel) {
    const Scenario& scenario = GetParam();
    FakeKernel fake;
    ASSERT_NO_FATAL_FAILURE(TwoCables(fake));
    for (const std::string& line : scenario.world) {
        ASSERT_EQ(ResultText(Apply(real_, line)), "0") << line;
        ASSERT_EQ(ResultText(Apply(fake, line)), "0") << line;
    }
    ASSERT_EQ(State(fake), State(real_)) << "after building the world";
    for (const std::string& line : scenario.changes) {
        SCOPED_TRACE(line);
        EXPECT_EQ(ResultText(Apply(fake, line)), ResultText(Apply(real_, line)));
        EXPECT_EQ(State(fake), State(real_));
    }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, KernelModel, ::testing::ValuesIn(kScenarios),
                         [](const auto& scenario) { return std::string(scenario.param.name); });

// `ip` output in sorted lines, an address's lifetime line kept with its address.
Lines Joined(const std::string& text) {
    Lines lines;
    for (const std::string& line : Split(text)) {
        if (line.find("valid_lft") != std::string::npos && !lines.empty())
            lines.back() += " |" + line;
        else
            lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

// The same words, but for lifetimes, which count down: those within two seconds.
bool SameOutput(const Lines& a, const Lines& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        std::istringstream left(a[i]), right(b[i]);
        std::string x, y;
        while (left >> x) {
            if (!(right >> y)) return false;
            if (x == y) continue;
            if (!x.ends_with("sec") || !y.ends_with("sec")) return false;
            const long difference = std::stol(x) - std::stol(y);
            if (difference < -2 || difference > 2) return false;
        }
        if (right >> y) return false;
    }
    return true;
}

TEST_F(OwnNetwork, WhatWasReadComesBackExactlyAfterBeingTakenOff) {
    Shell(R"(set -e
        ip link add v0 type veth peer name p0; ip link add v1 type veth peer name p1
        ip link add v2 type veth peer name p2
        for l in v0 p0 v1 p1 v2; do ip link set $l up; done
        ip addr add 192.168.1.100/24 brd + dev v0 noprefixroute valid_lft 3600 preferred_lft 1800
        ip addr add 192.168.1.101/24 brd + dev v0 label v0:sec
        ip addr add 10.5.0.5/16 brd + dev v0 metric 1024
        ip addr add 10.6.0.6/16 dev v1
        ip addr add 10.7.0.7/16 dev v2
        ip route add 192.168.1.0/24 dev v0 proto kernel scope link src 192.168.1.100 metric 100
        ip route add default via 192.168.1.1 dev v0 proto dhcp src 192.168.1.100 metric 100
        ip route add 10.9.0.0/16 via 192.168.1.1 dev v0 mtu 1400 advmss 1360
        ip route add 172.17.0.0/16 via 10.99.0.1 dev v0 onlink
        ip route add 172.18.0.0/16 dev v1 table 100 src 10.6.0.6
        ip route add blackhole 172.19.0.0/16 proto static
        ip route add 172.20.0.0/16 tos 0x10 via 10.5.0.1 dev v0
        ip route add 172.21.0.0/16 nexthop via 10.5.0.1 dev v0 weight 2 nexthop via 10.7.0.1 dev v2
        ip route add 172.22.0.0/16 via 10.7.0.1 dev v2 proto static
        ip route add 172.30.0.0/16 via 10.5.0.1 dev v0 metric 50
        ip route append 172.30.0.0/16 via 10.6.0.1 dev v1 metric 50)");
    const std::string addressesBefore = Shell("ip -4 -d addr");
    const std::string routesBefore = Shell("ip -4 route show table all");
    std::vector<KernelAddress> addresses;
    std::vector<KernelRoute> routes;
    ASSERT_TRUE(real_.Addresses(addresses));
    ASSERT_TRUE(real_.Routes(routes));
    std::erase_if(addresses, [](const KernelAddress& a) { return a.ifIndex == 1; });
    // v2 has no carrier: the kernel reports its routes and next hops "linkdown", which it
    // refuses on a new route. Routes that differ only by link are two routes.
    ASSERT_NE(routesBefore.find("linkdown"), std::string::npos);
    EXPECT_EQ(std::count_if(routes.begin(), routes.end(),
                            [](const KernelRoute& r) { return r.dst == inet_addr("172.30.0.0"); }),
              2);

    // Each deletion takes exactly its own route: a sloppy match would leave a later one nothing.
    for (const KernelRoute& route : routes)
        EXPECT_EQ(real_.DeleteRoute(route), 0) << RouteText(route);
    for (auto a = addresses.rbegin(); a != addresses.rend(); ++a)
        EXPECT_EQ(real_.DeleteAddress(*a), 0) << AddressText(*a);
    std::vector<KernelRoute> left;
    ASSERT_TRUE(real_.Routes(left));
    EXPECT_TRUE(left.empty()) << RouteText(left.front());

    for (const KernelAddress& address : addresses)
        EXPECT_EQ(real_.AddAddress(address), 0) << AddressText(address);
    // A route's gateway needs its link's routes back first; the kernel brings some back itself.
    std::stable_sort(routes.begin(), routes.end(),
                     [](const KernelRoute& a, const KernelRoute& b) { return a.scope > b.scope; });
    ASSERT_TRUE(real_.Routes(left));
    for (const KernelRoute& route : routes) {
        const bool back = std::any_of(left.begin(), left.end(), [&](const KernelRoute& r) {
            return RouteText(r) == RouteText(route);
        });
        if (!back) {
            EXPECT_EQ(ResultText(real_.AddRoute(route)), "0") << RouteText(route);
        }
    }

    for (const auto& [before, now] : {std::pair(addressesBefore, Shell("ip -4 -d addr")),
                                      std::pair(routesBefore, Shell("ip -4 route show table all"))})
        EXPECT_TRUE(SameOutput(Joined(before), Joined(now))) << "before:\n"
                                                             << before << "after:\n"
                                                             << now;
}

// A read that a concurrent deletion interrupted is read again, never returned torn. Addresses
// of scope host stand at the front of the link's list, so deleting them shifts every address
// after them under a read in progress. (The kernel flags deletions only: an address added under
// a read can come twice, and nothing tells.)
TEST_F(OwnNetwork, ReadsDuringDeletionsAreWholeOrRefused) {
    Shell(
        "ip link add p0 type veth peer name v0 && ip link set v0 up && ("
        "for j in $(seq 1 250); do for i in $(seq 1 8); do "
        "echo addr add 10.1.$i.$j/32 dev v0; done; done; "
        "for j in $(seq 1 250); do for i in $(seq 1 4); do "
        "echo addr add 10.2.$i.$j/32 dev v0 scope host; done; done) | ip -batch -");
    std::vector<KernelAddress> doomed;
    ASSERT_TRUE(real_.Addresses(doomed));
    std::erase_if(
        doomed, [](const KernelAddress& a) { return a.scope != RT_SCOPE_HOST || a.ifIndex == 1; });
    ASSERT_EQ(doomed.size(), 1000u);
    std::atomic<bool> done{false};
    std::thread deletions([&] {
        for (const KernelAddress& address : doomed) EXPECT_EQ(real_.DeleteAddress(address), 0);
        done = true;
    });
    while (!done) {
        std::vector<KernelAddress> addresses;
        if (!real_.Addresses(addresses)) continue;
        EXPECT_EQ(std::count_if(addresses.begin(), addresses.end(),
                                [](const KernelAddress& a) {
                                    return (a.local & inet_addr("255.255.0.0")) ==
                                           inet_addr("10.1.0.0");
                                }),
                  2000);
    }
    deletions.join();
}

TEST_F(OwnNetwork, LinksTellTheirKindStateAndCable) {
    Shell(
        "ip link add br0 type bridge && ip link add v0 type veth peer name p0 && "
        "ip link add v1 type veth peer name p1 && ip link set v0 master br0 && "
        "ip link set v1 up");
    struct Case {
        const char* step;  // run before the links are read
        const char* name;
        UINT type;
        bool up;
        bool carrier;
    };
    const Case cases[] = {
        {"", "lo", MIB_IF_TYPE_LOOPBACK, true, true},
        {"", "br0", MIB_IF_TYPE_ETHERNET, false, false},
        {"", "v0", MIB_IF_TYPE_OTHER, false, false},  // a bridge port
        {"", "p0", MIB_IF_TYPE_ETHERNET, false, false},
        {"", "v1", MIB_IF_TYPE_ETHERNET, true, false},  // its far end is down
        {"ip link set p1 up", "v1", MIB_IF_TYPE_ETHERNET, true, true},
        {"ip link set v0 nomaster", "v0", MIB_IF_TYPE_ETHERNET, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.step) + " " + c.name);
        Shell(c.step);
        std::vector<KernelLink> links;
        ASSERT_TRUE(real_.Links(links));
        auto link = std::find_if(links.begin(), links.end(),
                                 [&](const KernelLink& l) { return l.name == c.name; });
        ASSERT_NE(link, links.end());
        EXPECT_EQ(link->index, static_cast<int>(if_nametoindex(c.name)));
        EXPECT_EQ(link->type, c.type);
        EXPECT_EQ(link->up, c.up);
        EXPECT_EQ(link->carrier, c.carrier);
    }
    const int v1 = static_cast<int>(if_nametoindex("v1"));
    std::vector<KernelLink> links;
    for (const bool up : {false, true}) {
        ASSERT_EQ(real_.SetLinkUp(v1, up), 0);
        ASSERT_TRUE(real_.Links(links));
        auto link = std::find_if(links.begin(), links.end(),
                                 [&](const KernelLink& l) { return l.index == v1; });
        ASSERT_NE(link, links.end());
        EXPECT_EQ(link->up, up);
        EXPECT_EQ(link->carrier, up);
        EXPECT_EQ(link->description, "v1 (veth)");
        EXPECT_EQ(link->mac.size(), 6u);
    }
    EXPECT_EQ(ResultText(real_.SetLinkUp(99, true)), "-ENODEV");
}

// In the lab's "pc" namespace: eth1 is cabled to the router (192.168.1.1), eth0 to nothing.
TEST(LinuxArp, AnsweredTimedOutOrCancelled) {
    struct Case {
        const char* name;
        const char* link;
        const char* target;
        int waitMs;
        // What happens to the abort pipe's write end, and after how long; without it, no abort
        // descriptor is given at all.
        enum { kNothing, kWrite, kClose } abort;
        int abortAfterMs;
        const char* result;
        int atLeastMs, atMostMs;
    };
    const Case cases[] = {
        {"the router answers", "eth1", "192.168.1.1", 3000, Case::kNothing, -1, "0", 0, 2000},
        {"nobody holds the address", "eth1", "192.168.1.77", 1500, Case::kNothing, -1, "-ETIMEDOUT",
         1500, 2500},
        {"the router is on another cable", "eth0", "192.168.1.1", 2500, Case::kNothing, -1,
         "-ETIMEDOUT", 2500, 3500},
        {"the front end asks to stop", "eth1", "192.168.1.77", 10000, Case::kWrite, 300,
         "-ECANCELED", 300, 1500},
        {"the front end goes away", "eth1", "192.168.1.77", 10000, Case::kClose, 300, "-ECANCELED",
         300, 1500},
        {"stopped before it began", "eth1", "192.168.1.1", 10000, Case::kWrite, 0, "-ECANCELED", 0,
         500},
    };
    const std::string routerMac =
        Shell("ip netns exec \"$LAB_ROUTER\" cat /sys/class/net/eth0/address");
    LinuxNetKernel kernel;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int abort[2];
        ASSERT_EQ(pipe2(abort, O_CLOEXEC), 0);
        if (c.abortAfterMs == 0) {
            ASSERT_EQ(write(abort[1], "x", 1), 1);
        }
        std::thread stopper([&] {
            if (c.abort == Case::kNothing || c.abortAfterMs == 0) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(c.abortAfterMs));
            if (c.abort == Case::kWrite) {
                EXPECT_EQ(write(abort[1], "x", 1), 1);
            }
            if (c.abort == Case::kClose) close(std::exchange(abort[1], -1));
        });
        std::uint8_t mac[6] = {};
        const auto start = std::chrono::steady_clock::now();
        const int result = kernel.Arp(static_cast<int>(if_nametoindex(c.link)), inet_addr(c.target),
                                      inet_addr("192.168.1.100"), mac, c.waitMs,
                                      c.abort == Case::kNothing ? -1 : abort[0]);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - start)
                              .count();
        stopper.join();
        close(abort[0]);
        if (abort[1] >= 0) close(abort[1]);
        EXPECT_EQ(ResultText(result), c.result);
        EXPECT_GE(took, c.atLeastMs);
        EXPECT_LE(took, c.atMostMs);
        if (result == 0) {
            char text[19];
            std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x\n", mac[0], mac[1],
                          mac[2], mac[3], mac[4], mac[5]);
            EXPECT_EQ(text, routerMac);
        }
    }
}

}  // namespace
}  // namespace kestrel
