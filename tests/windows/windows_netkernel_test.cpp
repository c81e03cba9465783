// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The helper's Windows kernel layer against a scripted IP Helper: what Wine cannot show (the
// changes, ARP, the error codes, tables that change between the two sizing calls).
#include "helper/windows/windows_netkernel.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <io.h>

#include <cstring>

#include "tests/support/fake_clock.h"
#include "tests/windows/scripted_ip_helper.h"

namespace kestrel::testing {
namespace {

using ::testing::ElementsAre;

ScriptedAdapter Wired() {
    return {
        7,
        "{A1B2}",
        "Intel(R) Ethernet Connection",
        {0x00, 0x1b, 0x21, 0x0a, 0x0b, 0x0c},
        MIB_IF_TYPE_ETHERNET,
        kAdminStatusUp,
        kOperStatusOperational,
        {{Ip("192.168.1.100"), Ip("255.255.255.0"), 11}, {Ip("10.0.0.5"), Ip("255.0.0.0"), 12}}};
}

ScriptedAdapter Wireless() {
    return {9,
            "{C3D4}",
            "Wireless-AC 9560",
            {0x00, 0x21, 0x6a, 0x01, 0x02, 0x03},
            IF_TYPE_IEEE80211,
            kAdminStatusUp,
            2,
            {}};
}

struct World {
    FakeClock clock;
    ScriptedIpHelper api;
    WindowsNetKernel kernel{api};
    World() {
        api.adapters = {Wired(), Wireless()};
        api.routes = {
            Row("0.0.0.0", "0.0.0.0", "192.168.1.1", 7, 25),
            Row("192.168.1.0", "255.255.255.0", "192.168.1.100", 7, 281, MIB_IPROUTE_TYPE_DIRECT,
                MIB_IPPROTO_LOCAL),
            Row("10.0.0.0", "255.0.0.0", "10.0.0.5", 7, 281, MIB_IPROUTE_TYPE_DIRECT,
                MIB_IPPROTO_LOCAL),
        };
    }
};

TEST(WindowsKernelReads, AdaptersBecomeLinksWithTheirStates) {
    struct Case {
        DWORD admin, oper;
        bool up, carrier;
    };
    for (const Case& c : {Case{kAdminStatusUp, kOperStatusOperational, true, true},
                          Case{kAdminStatusUp, kOperStatusConnected, true, true},
                          Case{kAdminStatusUp, 2 /* disconnected */, true, false},
                          Case{kAdminStatusDown, 0 /* non-operational */, false, false}}) {
        World world;
        world.api.adapters[0].adminStatus = c.admin;
        world.api.adapters[0].operStatus = c.oper;
        std::vector<KernelLink> links;
        ASSERT_TRUE(world.kernel.Links(links));
        ASSERT_EQ(links.size(), 2u);
        EXPECT_EQ(links[0].index, 7);
        EXPECT_EQ(links[0].name, "{A1B2}");
        EXPECT_EQ(links[0].description, "Intel(R) Ethernet Connection");
        EXPECT_THAT(links[0].mac, ElementsAre(0x00, 0x1b, 0x21, 0x0a, 0x0b, 0x0c));
        EXPECT_EQ(links[0].type, MIB_IF_TYPE_ETHERNET);
        EXPECT_EQ(links[0].up, c.up) << c.admin << "/" << c.oper;
        EXPECT_EQ(links[0].carrier, c.carrier) << c.admin << "/" << c.oper;
        EXPECT_EQ(links[1].type, IF_TYPE_IEEE80211);
    }
}

TEST(WindowsKernelReads, AddressesCarryTheirContextsAndSkipTheEmptyEntry) {
    World world;
    std::vector<KernelAddress> addresses;
    ASSERT_TRUE(world.kernel.Addresses(addresses));
    // The wireless adapter lists 0.0.0.0: it holds no address.
    ASSERT_EQ(addresses.size(), 2u);
    EXPECT_EQ(addresses[0].ifIndex, 7);
    EXPECT_EQ(addresses[0].local, Ip("192.168.1.100"));
    EXPECT_EQ(addresses[0].prefix, 24);
    EXPECT_EQ(addresses[0].broadcast, Ip("192.168.1.255"));
    EXPECT_EQ(addresses[1].prefix, 8);
    ULONG context = 0;
    ASSERT_EQ(addresses[1].raw.size(), sizeof context);
    std::memcpy(&context, addresses[1].raw.data(), sizeof context);
    EXPECT_EQ(context, 12u);
}

TEST(WindowsKernelReads, RoutesKeepTheirRowsAndSayWhatTheyAre) {
    World world;
    world.api.routes.push_back(Row("192.168.1.0", "255.255.255.0", "0.0.0.0", 7, 5,
                                   MIB_IPROUTE_TYPE_INVALID, MIB_IPPROTO_NETMGMT));
    std::vector<KernelRoute> routes;
    ASSERT_TRUE(world.kernel.Routes(routes));
    ASSERT_EQ(routes.size(), 4u);
    struct Expected {
        IPAddr gateway;
        int prefix;
        std::uint8_t type, scope, protocol;
        std::uint32_t metric;
    };
    const Expected expected[] = {{Ip("192.168.1.1"), 0, 1, 0, 4, 25},
                                 {0, 24, 1, 253, 2, 281},
                                 {0, 8, 1, 253, 2, 281},
                                 {0, 24, 6, 0, 4, 5}};
    for (std::size_t i = 0; i < routes.size(); ++i) {
        EXPECT_EQ(routes[i].gateway, expected[i].gateway) << i;
        EXPECT_EQ(routes[i].prefix, expected[i].prefix) << i;
        EXPECT_EQ(routes[i].type, expected[i].type) << i;
        EXPECT_EQ(routes[i].scope, expected[i].scope) << i;
        EXPECT_EQ(routes[i].protocol, expected[i].protocol) << i;
        EXPECT_EQ(routes[i].priority, expected[i].metric) << i;
        EXPECT_EQ(routes[i].oif, 7) << i;
        ASSERT_EQ(routes[i].raw.size(), sizeof(MIB_IPFORWARDROW)) << i;
    }
    EXPECT_EQ(std::memcmp(routes[1].raw.data(), &world.api.routes[1], sizeof(MIB_IPFORWARDROW)), 0);
}

// The sizing protocol: a table that grows between the calls is asked for again, a bounded
// number of times; an empty one is no failure.
TEST(WindowsKernelReads, TwoCallSizingFollowsATableThatGrows) {
    struct Case {
        const char* name;
        bool routes;
        int growths;  // how many "too small" answers add a row before the next call
        bool read;
        std::size_t rows;
    };
    for (const Case& c :
         {Case{"adapters, steady", false, 0, true, 2},
          Case{"adapters, grew twice", false, 2, true, 4},
          Case{"adapters, always growing", false, 100, false, 0},
          Case{"routes, steady", true, 0, true, 3}, Case{"routes, grew twice", true, 2, true, 5},
          Case{"routes, always growing", true, 100, false, 0}}) {
        World world;
        int grown = 0;
        world.api.afterSizing = [&] {
            if (grown >= c.growths) return;
            ++grown;
            ScriptedAdapter extra = Wireless();
            extra.index = static_cast<DWORD>(20 + grown);
            if (c.routes)
                world.api.routes.push_back(
                    Row("172.16.0.0", "255.255.0.0", "10.0.0.1", 7, static_cast<DWORD>(grown)));
            else
                world.api.adapters.push_back(extra);
        };
        std::size_t rows = 0;
        bool read = false;
        if (c.routes) {
            std::vector<KernelRoute> routes;
            read = world.kernel.Routes(routes);
            rows = routes.size();
        } else {
            std::vector<KernelLink> links;
            read = world.kernel.Links(links);
            rows = links.size();
        }
        EXPECT_EQ(read, c.read) << c.name;
        if (c.read) {
            EXPECT_EQ(rows, c.rows) << c.name;
        }
    }
}

TEST(WindowsKernelReads, NoDataIsAnEmptyTableAndOtherFailuresAreNot) {
    World world;
    world.api.adapters.clear();
    world.api.routes.clear();
    std::vector<KernelLink> links{KernelLink{}};
    std::vector<KernelRoute> routes{KernelRoute{}};
    EXPECT_TRUE(world.kernel.Links(links));
    EXPECT_TRUE(links.empty());
    EXPECT_TRUE(world.kernel.Routes(routes));
    EXPECT_TRUE(routes.empty());
    world.api.results["GetAdaptersInfo"] = {ERROR_ACCESS_DENIED};
    world.api.results["GetIpForwardTable"] = {ERROR_GEN_FAILURE};
    EXPECT_FALSE(world.kernel.Links(links));
    EXPECT_FALSE(world.kernel.Routes(routes));
}

// The session understands negative errnos; the IP Helper speaks Windows results.
TEST(WindowsKernelChanges, ResultsBecomeTheErrnosTheSessionKnows) {
    struct Case {
        const char* call;
        DWORD result;
        int expected;
    };
    for (const Case& c : {
             Case{"AddIPAddress", ERROR_NOT_SUPPORTED, -EOPNOTSUPP},  // Wine
             Case{"AddIPAddress", ERROR_OBJECT_ALREADY_EXISTS, -EEXIST},
             Case{"AddIPAddress", ERROR_ACCESS_DENIED, -EPERM},
             Case{"AddIPAddress", ERROR_INVALID_PARAMETER, -EINVAL},
             Case{"AddIPAddress", ERROR_NOT_ENOUGH_MEMORY, -ENOMEM},
             Case{"AddIPAddress", 1234, -EIO},
             Case{"DeleteIPAddress", ERROR_NOT_FOUND, -EADDRNOTAVAIL},
             Case{"CreateIpForwardEntry", ERROR_OBJECT_ALREADY_EXISTS, -EEXIST},
             Case{"CreateIpForwardEntry", 1231, -ENETUNREACH},
             Case{"DeleteIpForwardEntry", ERROR_NOT_FOUND, -ESRCH},
             Case{"SetIfEntry", ERROR_NOT_SUPPORTED, -EOPNOTSUPP},  // Wine
         }) {
        World world;
        world.api.results[c.call] = {c.result};
        std::vector<KernelAddress> addresses;
        std::vector<KernelRoute> routes;
        ASSERT_TRUE(world.kernel.Addresses(addresses));
        ASSERT_TRUE(world.kernel.Routes(routes));
        const std::string call = c.call;
        int result = 0;
        KernelAddress temporary;
        temporary.ifIndex = 7;
        temporary.local = Ip("192.168.1.141");
        temporary.prefix = 24;
        if (call == "AddIPAddress")
            result = world.kernel.AddAddress(temporary);
        else if (call == "DeleteIPAddress")
            result = world.kernel.DeleteAddress(addresses[0]);
        else if (call == "CreateIpForwardEntry")
            result = world.kernel.AddRoute(routes[0]);
        else if (call == "DeleteIpForwardEntry")
            result = world.kernel.DeleteRoute(routes[0]);
        else
            result = world.kernel.SetLinkUp(7, true);
        EXPECT_EQ(result, c.expected) << c.call << " " << c.result;
    }
}

TEST(WindowsKernelChanges, AnAddressIsDeletedByTheContextItHasNow) {
    World world;
    std::vector<KernelAddress> before;
    ASSERT_TRUE(world.kernel.Addresses(before));
    // Taken off and put back, by someone else: the address has a new context.
    ASSERT_EQ(world.kernel.DeleteAddress(before[0]), 0);
    ASSERT_EQ(world.kernel.AddAddress(before[0]), 0);
    ASSERT_EQ(world.kernel.DeleteAddress(before[0]), 0);
    EXPECT_THAT(world.api.calls,
                ElementsAre("DeleteIPAddress 11", "AddIPAddress 192.168.1.100/255.255.255.0 on 7",
                            "DeleteIPAddress 100"));
    // Gone now: nothing to ask the IP Helper.
    EXPECT_EQ(world.kernel.DeleteAddress(before[0]), -EADDRNOTAVAIL);
    KernelAddress otherPrefix = before[1];
    otherPrefix.prefix = 16;
    EXPECT_EQ(world.kernel.DeleteAddress(otherPrefix), -EADDRNOTAVAIL);
    EXPECT_EQ(world.api.calls.size(), 3u);
}

TEST(WindowsKernelChanges, ARouteComesBackAsItsRowWasRead) {
    World world;
    std::vector<KernelRoute> routes;
    ASSERT_TRUE(world.kernel.Routes(routes));
    const MIB_IPFORWARDROW original = world.api.routes[0];
    ASSERT_EQ(world.kernel.DeleteRoute(routes[0]), 0);
    ASSERT_EQ(world.kernel.AddRoute(routes[0]), 0);
    ASSERT_EQ(world.api.created.size(), 1u);
    MIB_IPFORWARDROW expected = original;
    // The age is the system's; CreateIpForwardEntry takes no protocol but this one.
    expected.dwForwardAge = 0;
    expected.dwForwardProto = MIB_IPPROTO_NETMGMT;
    EXPECT_EQ(std::memcmp(&world.api.created[0], &expected, sizeof expected), 0);
    // A route the helper makes itself is made from its fields.
    KernelRoute made;
    made.dst = Ip("192.168.1.0");
    made.prefix = 24;
    made.oif = 9;
    made.priority = 10;
    ASSERT_EQ(world.kernel.AddRoute(made), 0);
    const MIB_IPFORWARDROW& row = world.api.created[1];
    EXPECT_EQ(row.dwForwardMask, Ip("255.255.255.0"));
    EXPECT_EQ(row.dwForwardIfIndex, 9u);
    EXPECT_EQ(row.dwForwardType, MIB_IPROUTE_TYPE_DIRECT);
    EXPECT_EQ(row.dwForwardMetric1, 10u);
}

TEST(WindowsKernelChanges, ADeleteTakesTheLowestMetricOfTheRoutesItNames) {
    World world;
    world.api.routes.push_back(Row("0.0.0.0", "0.0.0.0", "10.0.0.1", 7, 5));
    KernelRoute named;  // the default route, any gateway, any metric
    named.type = 1;
    ASSERT_EQ(world.kernel.DeleteRoute(named), 0);
    named.gateway = Ip("10.0.0.1");
    EXPECT_EQ(world.kernel.DeleteRoute(named), -ESRCH);
    named.gateway = 0;
    ASSERT_EQ(world.kernel.DeleteRoute(named), 0);
    EXPECT_EQ(world.kernel.DeleteRoute(named), -ESRCH);
    EXPECT_THAT(world.api.calls,
                ElementsAre("DeleteIpForwardEntry 0.0.0.0/0.0.0.0 via 10.0.0.1",
                            "DeleteIpForwardEntry 0.0.0.0/0.0.0.0 via 192.168.1.1"));
}

TEST(WindowsKernelChanges, ALinkIsSetUpAndDownThroughItsAdminStatus) {
    World world;
    EXPECT_EQ(world.kernel.SetLinkUp(9, false), 0);
    EXPECT_EQ(world.api.Adapter(9)->adminStatus, kAdminStatusDown);
    EXPECT_EQ(world.kernel.SetLinkUp(9, true), 0);
    EXPECT_EQ(world.kernel.SetLinkUp(4, true), -ENODEV);
    EXPECT_THAT(world.api.calls, ElementsAre("SetIfEntry 9 admin 2", "SetIfEntry 9 admin 1"));
}

// A pipe as the front end's requests: empty and open, with a request waiting, or closed.
struct RequestPipe {
    int ends[2] = {-1, -1};
    RequestPipe() { EXPECT_EQ(::_pipe(ends, 256, _O_BINARY), 0); }
    ~RequestPipe() {
        for (int end : ends)
            if (end >= 0) ::_close(end);
    }
};

TEST(WindowsKernelArp, AsksAgainUntilTheRouterAnswersOrTimeRunsOut) {
    struct Case {
        const char* name;
        std::deque<DWORD> answers;
        int expected;
        std::size_t calls;
    };
    // Each SendARP waits a second; the wait is three.
    for (const Case& c :
         {Case{"answers at once", {NO_ERROR}, 0, 1},
          Case{"answers the third time", {ERROR_BAD_NET_NAME, ERROR_GEN_FAILURE, NO_ERROR}, 0, 3},
          Case{"never answers", {}, -ETIMEDOUT, 3},
          Case{"not supported (Wine)", {ERROR_NOT_SUPPORTED}, -EOPNOTSUPP, 1},
          Case{"refused", {ERROR_ACCESS_DENIED}, -EPERM, 1}}) {
        World world;
        world.api.arpResults = c.answers;
        world.api.onArp = [&] { world.clock.Advance(1000); };
        RequestPipe requests;
        std::uint8_t mac[6] = {};
        EXPECT_EQ(world.kernel.Arp(7, Ip("192.168.1.1"), Ip("192.168.1.141"), mac, 3000,
                                   requests.ends[0]),
                  c.expected)
            << c.name;
        EXPECT_EQ(world.api.calls.size(), c.calls) << c.name;
        EXPECT_EQ(world.api.calls[0], "SendARP 192.168.1.1 from 192.168.1.141") << c.name;
        if (c.expected == 0) {
            EXPECT_THAT(mac, ElementsAre(0x02, 0x00, 0x5e, 0x00, 0x01, 0x01));
        }
    }
}

TEST(WindowsKernelArp, StopsWhenTheFrontEndSpeaksOrGoes) {
    for (const bool hangUp : {false, true}) {
        World world;
        RequestPipe requests;
        std::uint8_t mac[6] = {};
        // The first question goes unanswered; then the front end acts.
        world.api.onArp = [&] {
            world.clock.Advance(1000);
            if (hangUp) {
                ::_close(requests.ends[1]);
                requests.ends[1] = -1;
            } else {
                ASSERT_EQ(::_write(requests.ends[1], "{}\n", 3), 3);
            }
        };
        EXPECT_EQ(world.kernel.Arp(7, Ip("192.168.1.1"), Ip("192.168.1.141"), mac, 3000,
                                   requests.ends[0]),
                  -ECANCELED)
            << hangUp;
        EXPECT_EQ(world.api.calls.size(), 1u) << hangUp;
    }
}

}  // namespace
}  // namespace kestrel::testing
