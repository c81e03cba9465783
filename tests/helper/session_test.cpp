// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The privileged helper's session on a model of the kernel, as an ordinary user: what it does
// for a front end, what it refuses, and that what it takes off comes back exactly, whichever
// way the conversation ends; and the rules that keep that promise whatever its caller asks: one
// temporary address at a time, deletes that take exactly the route named, requests in any order
// that the journal can still undo, and a restore that forgets nothing and keeps the PC's
// addresses in their order.
#include "helper/session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "netcfg/netcfg.h"
#include "platform/posix.h"
#include "tests/support/fake_clock.h"
#include "tests/support/helper_pc.h"
#include "tests/support/recording_wizard.h"

namespace kestrel {
namespace {

using namespace ::testing;
using Op = HelperOp;

// Each op reads its own fields: AddAddress the link n, address a and mask b; Arp the target a
// and source b; DeleteAddress the context n.
HelperRequest Ask(Op op, DWORD n = 0, const char* a = "0.0.0.0", const char* b = "0.0.0.0") {
    HelperRequest request;
    request.op = op;
    request.address = request.target = inet_addr(a);
    request.mask = request.source = inet_addr(b);
    request.ifIndex = request.context = n;
    return request;
}

// A PC as NetworkManager leaves it: eth0 (2) holds 192.168.0.5/16 and 10.20.0.5/16 and two
// clashing routes, one through 192.168.0.254 and one with the same key but no gateway, which
// the kernel lists second; eth1 (3) a DHCP lease with noprefixroute, its own subnet route and
// routes via the router's address; wlan0 (4) is wireless and eth3 (5) spare.
class HelperSessionTest : public Test {
protected:
    HelperReply Do(const HelperRequest& request) { return pc.Session().Handle(request); }
    DWORD Add(const char* address, DWORD link) {
        return Do(Ask(Op::AddAddress, link, address, "255.255.255.0")).error;
    }
    DWORD Delete(const char* address) {
        HelperRequest request = Ask(Op::DeleteAddress);
        for (const AdapterRecord& adapter : Do(Ask(Op::Adapters)).adapters)
            for (const auto& entry : adapter.addresses)
                if (entry.address == address) request.context = entry.context;
        return Do(request).error;
    }
    // The route as first read, by its destination, gateway and metric.
    HelperRequest AskRoute(Op op, const char* dest, const char* gateway, DWORD metric) {
        HelperRequest request = Ask(op);
        for (const MIB_IPFORWARDROW& row : rows)
            if (row.dwForwardDest == inet_addr(dest) &&
                row.dwForwardNextHop == inet_addr(gateway) && row.dwForwardMetric1 == metric)
                request.row = row;
        EXPECT_NE(request.row.dwForwardIfIndex, 0u) << dest << " via " << gateway;
        return request;
    }
    DWORD Route(Op op, const char* dest, const char* gateway, DWORD metric) {
        return Do(AskRoute(op, dest, gateway, metric)).error;
    }

    testing::FakeClock clock;
    testing::HelperPc pc{R"(
        link 2 eth0
        link 3 eth1
        link 4 wlan0 wireless
        link 5 eth3
        address 192.168.0.5/16 dev 2 brd 192.168.255.255
        address 10.20.0.5/16 dev 2 brd 10.20.255.255
        address 192.168.1.100/24 dev 3 brd 192.168.1.255 noprefixroute valid 3600 preferred 3600
        route 192.168.1.0/24 via 192.168.0.254 dev 2 proto static metric 50
        route 192.168.1.0/24 dev 2 scope link metric 50
        route 192.168.1.0/24 dev 3 proto kernel scope link src 192.168.1.100 metric 100
        route default via 192.168.1.1 dev 3 proto dhcp metric 100
        route 10.9.0.0/16 via 192.168.1.254 dev 3 proto static)"};
    const std::vector<std::string> before = pc.World();
    const std::vector<MIB_IPFORWARDROW> rows = Do(Ask(Op::Routes)).routes;
};

// Each request a recovery makes is allowed; each one a little beside it is refused, and a
// refused request changes nothing. The temporary address goes on eth6, where the PC has a route
// but no address: deleting the link's last address must not take the PC's route with it. A link
// that is down is not brought up when it holds IPv6 addresses, which setting it down again
// would flush for good.
TEST_F(HelperSessionTest, AllowsWhatARecoveryDoesAndRefusesTheRest) {
    ASSERT_EQ(Do(Ask(Op::Adapters)).error, NO_ERROR);  // contexts: 192.168.0.5 1, 10.20.0.5 2
    pc.Add("link 6 eth6\nroute 172.16.0.0/12 dev 6 scope link\nlink 7 eth4 down");
    pc.kernel.PutIPv6Address(7);
    const std::vector<std::string> world = pc.World();
    pc.RouterAnswersArpOn({6});
    const char *temporary = "192.168.1.141", *mask = "255.255.255.0";
    const DWORD denied = ERROR_ACCESS_DENIED;
    HelperRequest unknown = AskRoute(Op::CreateRoute, "192.168.1.0", "0.0.0.0", 50);
    unknown.row.dwForwardMetric1 = 51;
    const std::tuple<const char*, HelperRequest, DWORD> cases[] = {
        {"another address", Ask(Op::AddAddress, 6, "192.168.1.142", mask), denied},
        {"other mask", Ask(Op::AddAddress, 6, temporary, "255.255.255.128"), denied},
        {"on wireless", Ask(Op::AddAddress, 4, temporary, mask), denied},
        {"on a down link with IPv6", Ask(Op::AddAddress, 7, temporary, mask), denied},
        {"temporary address", Ask(Op::AddAddress, 6, temporary, mask), NO_ERROR},
        {"on a second link", Ask(Op::AddAddress, 5, temporary, mask), denied},
        {"ARP for the router", Ask(Op::Arp, 0, "192.168.1.1", temporary), NO_ERROR},
        {"ARP for another", Ask(Op::Arp, 0, "192.168.1.2", temporary), denied},
        {"ARP from another", Ask(Op::Arp, 0, "192.168.1.1", "192.168.1.100"), denied},
        {"a clashing address", Ask(Op::DeleteAddress, 3), NO_ERROR},
        {"a /16 that holds the router", Ask(Op::DeleteAddress, 1), denied},
        {"an address beside", Ask(Op::DeleteAddress, 2), denied},
        {"a clashing route", AskRoute(Op::DeleteRoute, "192.168.1.0", "0.0.0.0", 50), NO_ERROR},
        {"a route beside", AskRoute(Op::DeleteRoute, "10.9.0.0", "192.168.1.254", 0), denied},
        {"the default route", AskRoute(Op::DeleteRoute, "0.0.0.0", "192.168.1.1", 100), denied},
        {"an address taken off", Ask(Op::AddAddress, 3, "192.168.1.100", mask), NO_ERROR},
        {"a route taken off", AskRoute(Op::CreateRoute, "192.168.1.0", "0.0.0.0", 50), NO_ERROR},
        {"a route never taken off", unknown, denied},
    };
    for (const auto& [name, request, error] : cases) {
        const auto logged = pc.kernel.Log().size();
        const HelperReply reply = Do(request);
        EXPECT_EQ(reply.error, error) << name << ": " << reply.message;
        EXPECT_TRUE(error != denied || pc.kernel.Log().size() == logged) << name;
    }
    EXPECT_THAT(pc.Session().RestoreAll(), IsEmpty());
    EXPECT_EQ(pc.World(), world);
}

// Whatever a recovery took off comes back exactly: through the helper's own restore when its
// front end goes away, and through the next helper's replay of the journal when the helper
// itself died (the front end's restore is netcfg's test). The model refuses a route whose gateway
// is out of reach: routes without a gateway must come back first. The system log holds each change
// as a command `ip` accepts. A replay puts back only what a recovery changes: entries from
// elsewhere, written here into the journal, stay as they are (another program's address, a PC
// address journaled as the temporary one, a route that cannot steer the router's packets away).
TEST_F(HelperSessionTest, PutsBackExactlyWhateverWayTheRecoveryEnds) {
    using Kind = JournalEntry::Kind;
    const auto foreign = [](Kind kind, const char* text) {
        JournalEntry entry;
        entry.kind = kind;
        EXPECT_TRUE(kind == Kind::RemovedRoute ? testing::ParseRoute(text, entry.route)
                                               : testing::ParseAddress(text, entry.address));
        return entry;
    };
    // On eth3, a route whose gateway only a route taken off with it reaches.
    pc.Add("route 192.168.1.0/25 dev 5 scope link\nroute 192.168.1.1/32 via 192.168.1.3 dev 5");
    const std::vector<std::string> world = pc.World();
    testing::RecordingWizard dlg;
    for (const bool replay : {false, true}) {
        RemoveConflictingSettings(dlg);
        EXPECT_THAT(pc.kernel.RouteTexts(), Not(Contains(HasSubstr("192.168.1."))));
        DiscardSavedSettings(dlg);
        if (replay) {
            ASSERT_TRUE(pc.CurrentJournal().Append(
                {foreign(Kind::RemovedAddress, "172.16.0.9/16 dev 2"),
                 foreign(Kind::AddedAddress, "192.168.0.5/16 dev 2"),
                 foreign(Kind::RemovedRoute, "10.0.0.0/8 via 192.168.0.254 dev 2")}));
        }
        EXPECT_TRUE(replay ? pc.Restart() : pc.Session().RestoreAll().empty());
        EXPECT_EQ(pc.World(), world) << replay;
        EXPECT_THAT(pc.CurrentJournal().Entries(), IsEmpty());
    }
    EXPECT_THAT(pc.SystemLog(),
                AllOf(IsSupersetOf({"took off, to put back: ip -4 address add 192.168.1.100/24 brd "
                                    "192.168.1.255 dev eth1 noprefixroute valid_lft 3600 "
                                    "preferred_lft 3600",
                                    "put back: ip -4 route add default via 192.168.1.1 dev eth1 "
                                    "proto dhcp scope global metric 100"}),
                      Contains(HasSubstr("not put back, no recovery changes it")).Times(3),
                      Not(Contains(HasSubstr("could not put back")))));
}

// A link that is down is brought up for its attempt and set down after it; without carrier
// the ARP step fails once the link has been up 3 s, without asking.
TEST_F(HelperSessionTest, BringsADownLinkUpForItsAttemptOnly) {
    pc.Add("link 7 eth2 down");
    pc.kernel.ClearLog();
    ASSERT_EQ(Do(Ask(Op::AddAddress, 7, "192.168.1.141", "255.255.255.0")).error, NO_ERROR);
    const std::uint64_t start = clock.GetTickCount64();
    EXPECT_EQ(Do(Ask(Op::Arp, 0, "192.168.1.1", "192.168.1.141")).error, ERROR_BAD_NET_NAME);
    EXPECT_GE(clock.GetTickCount64() - start, 2900u);
    EXPECT_THAT(pc.Session().RestoreAll(), IsEmpty());
    EXPECT_THAT(
        pc.kernel.Log(),
        ElementsAre("link 7 up = 0", "add address 192.168.1.141/24 dev 7 brd 192.168.1.255 = 0",
                    "delete address 192.168.1.141/24 dev 7 = 0", "link 7 down = 0"));
}

// Orders a hostile or confused caller may give, and kernels that refuse; after each, the
// restore puts back exactly what the PC had, and the temporary address is gone for good.
TEST_F(HelperSessionTest, AnyOrderOfRequestsCanBeUndone) {
    const std::vector<std::pair<const char*, std::function<void()>>> orders = {
        {"routes re-created before their address",
         [&] {
             ASSERT_EQ(Delete("192.168.1.100"), NO_ERROR);
             EXPECT_NE(Route(Op::CreateRoute, "0.0.0.0", "192.168.1.1", 100), NO_ERROR);
             EXPECT_NE(Route(Op::CreateRoute, "10.9.0.0", "192.168.1.254", 0), NO_ERROR);
         }},
        {"a PC route re-created through the temporary address",
         [&] {
             ASSERT_EQ(Delete("192.168.1.100"), NO_ERROR);
             ASSERT_EQ(Add("192.168.1.141", 3), NO_ERROR);
             ASSERT_EQ(Route(Op::CreateRoute, "0.0.0.0", "192.168.1.1", 100), NO_ERROR);
             ASSERT_EQ(Delete("192.168.1.141"), NO_ERROR);
         }},
        {"the temporary address taken along with the PC's primary",
         [&] {
             ASSERT_EQ(Add("192.168.1.141", 3), NO_ERROR);
             ASSERT_EQ(Delete("192.168.1.100"), NO_ERROR);
         }},
        // The kernel lists the twin through 192.168.0.254 first: a delete that leaves the
        // gateway open would take that one.
        {"one of two routes with the same key",
         [&] {
             ASSERT_EQ(Route(Op::DeleteRoute, "192.168.1.0", "0.0.0.0", 50), NO_ERROR);
             EXPECT_THAT(pc.kernel.RouteTexts(),
                         AllOf(Contains("192.168.1.0/24 via 192.168.0.254 dev 2 proto static "
                                        "metric 50"),
                               Not(Contains("192.168.1.0/24 dev 2 scope link metric 50"))));
         }},
        // A put-back that fails stays journaled and is tried again once the rest is back.
        {"a put-back that fails once",
         [&] {
             ASSERT_EQ(Delete("192.168.1.100"), NO_ERROR);
             pc.kernel.Fail(testing::KernelCall::kAddAddress, -ENOMEM);
         }},
        // The kernel's refusal reaches the front end as its own result: an IP Helper that does
        // not do the change (Wine's) says so with 50, and nothing stays journaled.
        {"the temporary address refused",
         [&] {
             for (const auto& [error, expected] : {std::pair{-EOPNOTSUPP, ERROR_NOT_SUPPORTED},
                                                   std::pair{-EPERM, ERROR_ACCESS_DENIED},
                                                   std::pair{-ENOMEM, ERROR_NOT_ENOUGH_MEMORY}}) {
                 pc.kernel.Fail(testing::KernelCall::kAddAddress, error);
                 EXPECT_EQ(Add("192.168.1.141", 3), expected) << error;
                 EXPECT_THAT(pc.CurrentJournal().Entries(), IsEmpty()) << error;
             }
         }},
    };
    for (const auto& [name, order] : orders) {
        SCOPED_TRACE(name);
        order();
        EXPECT_THAT(pc.Session().RestoreAll(), IsEmpty());
        EXPECT_EQ(pc.World(), before);
        EXPECT_THAT(pc.CurrentJournal().Entries(), IsEmpty());
    }
}

// A put-back that keeps failing is still journaled at the end; the restore ends all the same and
// names what is left.
TEST_F(HelperSessionTest, ARestoreThatCannotFinishEndsAndNamesWhatIsLeft) {
    ASSERT_EQ(Delete("192.168.1.100"), NO_ERROR);
    for (int i = 0; i < 10; ++i) pc.kernel.Fail(testing::KernelCall::kAddAddress, -ENOMEM);
    EXPECT_THAT(pc.Session().RestoreAll(),
                UnorderedElementsAre(HasSubstr("address add 192.168.1.100/24"),
                                     HasSubstr("route add 192.168.1.0/24 dev eth1"),
                                     HasSubstr("route add default via 192.168.1.1"),
                                     HasSubstr("route add 10.9.0.0/16 via 192.168.1.254")));
    EXPECT_THAT(pc.CurrentJournal().Entries(),
                Contains(Field(&JournalEntry::kind, JournalEntry::Kind::RemovedAddress)));
}

// The PC's addresses come back in their order, and one that someone else added beside the
// temporary address comes back after them: the PC's own stays primary.
TEST_F(HelperSessionTest, ThePCsAddressesComeBackFirstAndInOrder) {
    pc.kernel.PutAddress("192.168.1.1/28 dev 3");
    std::vector<std::string> ordered = pc.kernel.AddressTexts();
    ASSERT_EQ(Delete("192.168.1.100"), NO_ERROR);
    ASSERT_EQ(Delete("192.168.1.1"), NO_ERROR);
    ASSERT_EQ(Add("192.168.1.141", 3), NO_ERROR);
    pc.kernel.PutAddress("192.168.1.50/24 dev 3");
    ASSERT_EQ(Delete("192.168.1.141"), NO_ERROR);
    EXPECT_THAT(pc.Session().RestoreAll(), IsEmpty());
    ordered.push_back("192.168.1.50/24 dev 3 secondary label eth1");
    EXPECT_EQ(pc.kernel.AddressTexts(), ordered);
}

}  // namespace
}  // namespace kestrel
