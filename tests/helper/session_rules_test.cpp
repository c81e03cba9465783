// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The rules that keep the helper's promise whatever its caller asks, on the model of the
// kernel: one temporary address at a time, deletes that take exactly the route named, requests
// in any order that the journal can still undo, and a restore that forgets nothing and keeps
// the PC's addresses in their order.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "helper/session.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_kernel.h"
#include "tests/support/helper_pc.h"

namespace kestrel {
namespace {

using namespace ::testing;
using Lines = std::vector<std::string>;

// eth0 (2) holds 192.168.0.5/16 and a clashing route through it; eth1 (3) the PC's lease, its
// default route and a route through the router; eth2 (5) is spare.
class SessionRules : public Test {
protected:
    void SetUp() override {
        before = World();
        rows = session->Handle(Ask(HelperOp::Routes)).routes;
    }

    Lines World() const {
        Lines world = kernel.AddressTexts();
        for (const std::string& route : kernel.RouteTexts()) world.push_back(route);
        std::sort(world.begin(), world.end());
        return world;
    }
    static HelperRequest Ask(HelperOp op) {
        HelperRequest request;
        request.op = op;
        return request;
    }
    DWORD Add(const char* address, const char* mask, DWORD link) {
        HelperRequest request = Ask(HelperOp::AddAddress);
        request.address = inet_addr(address);
        request.mask = inet_addr(mask);
        request.ifIndex = link;
        return session->Handle(request).error;
    }
    DWORD Delete(const char* address) {
        HelperRequest request = Ask(HelperOp::DeleteAddress);
        for (const AdapterRecord& adapter : session->Handle(Ask(HelperOp::Adapters)).adapters)
            for (const auto& entry : adapter.addresses)
                if (entry.address == address) request.context = entry.context;
        return session->Handle(request).error;
    }
    // The route as first read, by its destination, gateway and metric.
    DWORD Route(HelperOp op, const char* dest, const char* gateway, DWORD metric) {
        HelperRequest request = Ask(op);
        for (const MIB_IPFORWARDROW& row : rows)
            if (row.dwForwardDest == inet_addr(dest) &&
                row.dwForwardNextHop == inet_addr(gateway) && row.dwForwardMetric1 == metric)
                request.row = row;
        return session->Handle(request).error;
    }

    testing::FakeClock clock;
    testing::HelperPc pc{R"(
        link 2 eth0
        link 3 eth1
        link 5 eth3
        address 192.168.0.5/16 dev 2 brd 192.168.255.255
        address 192.168.1.100/24 dev 3 brd 192.168.1.255
        route 192.168.1.0/24 via 192.168.0.254 dev 2 proto static metric 50
        route 192.168.1.0/24 dev 2 scope link metric 50
        route default via 192.168.1.1 dev 3 proto dhcp metric 100
        route 10.9.0.0/16 via 192.168.1.254 dev 3 proto static)"};
    testing::FakeKernel& kernel = pc.kernel;
    HelperSession* session = &pc.Session();
    const Journal* journal = &pc.CurrentJournal();
    Lines before;
    std::vector<MIB_IPFORWARDROW> rows;
};

TEST_F(SessionRules, OneTemporaryAddressAtATime) {
    ASSERT_EQ(Add("192.168.1.141", "255.255.255.0", 5), NO_ERROR);
    const auto changes = kernel.Log().size();
    EXPECT_EQ(Add("192.168.1.141", "255.255.255.0", 2), ERROR_ACCESS_DENIED);
    EXPECT_EQ(kernel.Log().size(), changes);
    EXPECT_THAT(session->RestoreAll(), IsEmpty());
    EXPECT_EQ(World(), before);
}

// A link that is down would lose its IPv6 addresses when set down again after its attempt: it
// is not brought up.
TEST_F(SessionRules, ADownLinkWithIPv6AddressesIsNotCycled) {
    kernel.AddLink({6, "eth4", "eth4", {}, MIB_IF_TYPE_ETHERNET});
    kernel.PutIPv6Address(6);
    EXPECT_EQ(Add("192.168.1.141", "255.255.255.0", 6), ERROR_ACCESS_DENIED);
    EXPECT_THAT(kernel.Log(), IsEmpty());
    EXPECT_EQ(kernel.IPv6Addresses(6), 1);
}

// The route without a gateway shares its key with one through 192.168.0.254, which the kernel
// lists first: a delete that leaves the gateway open takes that one.
TEST_F(SessionRules, ADeleteTakesExactlyTheRouteNamed) {
    ASSERT_EQ(Route(HelperOp::DeleteRoute, "192.168.1.0", "0.0.0.0", 50), NO_ERROR);
    EXPECT_THAT(kernel.RouteTexts(), Contains("192.168.1.0/24 via 192.168.0.254 dev 2 proto static "
                                              "metric 50"));
    EXPECT_THAT(kernel.RouteTexts(), Not(Contains("192.168.1.0/24 dev 2 scope link metric 50")));
    EXPECT_THAT(session->RestoreAll(), IsEmpty());
    EXPECT_EQ(World(), before);
}

// Orders a hostile or confused caller may give; after each, the restore puts back exactly
// what the PC had, and the temporary address is gone for good.
TEST_F(SessionRules, AnyOrderOfRequestsCanBeUndone) {
    const char* const mask = "255.255.255.0";
    const std::vector<std::pair<const char*, std::function<void()>>> orders = {
        {"routes re-created before their address",
         [&] {
             ASSERT_EQ(Delete("192.168.1.100"), NO_ERROR);
             EXPECT_NE(Route(HelperOp::CreateRoute, "0.0.0.0", "192.168.1.1", 100), NO_ERROR);
             EXPECT_NE(Route(HelperOp::CreateRoute, "10.9.0.0", "192.168.1.254", 0), NO_ERROR);
         }},
        {"a PC route re-created through the temporary address",
         [&] {
             ASSERT_EQ(Delete("192.168.1.100"), NO_ERROR);
             ASSERT_EQ(Add("192.168.1.141", mask, 3), NO_ERROR);
             ASSERT_EQ(Route(HelperOp::CreateRoute, "0.0.0.0", "192.168.1.1", 100), NO_ERROR);
             ASSERT_EQ(Delete("192.168.1.141"), NO_ERROR);
         }},
        {"the temporary address taken along with the PC's primary",
         [&] {
             ASSERT_EQ(Add("192.168.1.141", mask, 3), NO_ERROR);
             ASSERT_EQ(Delete("192.168.1.100"), NO_ERROR);
         }},
    };
    for (const auto& [name, order] : orders) {
        SCOPED_TRACE(name);
        order();
        EXPECT_THAT(session->RestoreAll(), IsEmpty());
        EXPECT_EQ(World(), before);
        EXPECT_THAT(journal->Entries(), IsEmpty());
    }
}

// A put-back that fails stays journaled and is tried again once the rest is back; one that
// keeps failing is still there at the end, the restore ends and names what is left.
TEST_F(SessionRules, ARestoreForgetsNothingAndEnds) {
    ASSERT_EQ(Delete("192.168.1.100"), NO_ERROR);
    kernel.Fail(testing::KernelCall::kAddAddress, -ENOMEM);
    EXPECT_THAT(session->RestoreAll(), IsEmpty());
    EXPECT_EQ(World(), before);

    ASSERT_EQ(Delete("192.168.1.100"), NO_ERROR);
    for (int i = 0; i < 10; ++i) kernel.Fail(testing::KernelCall::kAddAddress, -ENOMEM);
    EXPECT_THAT(session->RestoreAll(),
                UnorderedElementsAre(HasSubstr("address add 192.168.1.100/24"),
                                     HasSubstr("route add 192.168.1.0/24 dev eth1"),
                                     HasSubstr("route add default via 192.168.1.1"),
                                     HasSubstr("route add 10.9.0.0/16 via 192.168.1.254")));
    EXPECT_THAT(journal->Entries(),
                Contains(Field(&JournalEntry::kind, JournalEntry::Kind::RemovedAddress)));
}

// The kernel's refusal of the temporary address reaches the front end as its own result: an IP
// Helper that does not do the change (Wine's) says so with 50, and nothing stays journaled.
TEST_F(SessionRules, ARefusedTemporaryAddressKeepsItsReason) {
    for (const auto& [error, expected] :
         {std::pair{-EOPNOTSUPP, ERROR_NOT_SUPPORTED}, std::pair{-EPERM, ERROR_ACCESS_DENIED},
          std::pair{-ENOMEM, ERROR_NOT_ENOUGH_MEMORY}}) {
        kernel.Fail(testing::KernelCall::kAddAddress, error);
        EXPECT_EQ(Add("192.168.1.141", "255.255.255.0", 3), expected) << error;
        EXPECT_THAT(journal->Entries(), IsEmpty()) << error;
    }
    EXPECT_EQ(World(), before);
}

// The PC's addresses come back in their order, and one that someone else added beside the
// temporary address comes back after them: the PC's own stays primary.
TEST_F(SessionRules, ThePCsAddressesComeBackFirstAndInOrder) {
    kernel.PutAddress("192.168.1.1/28 dev 3");
    const Lines ordered = kernel.AddressTexts();
    ASSERT_EQ(Delete("192.168.1.100"), NO_ERROR);
    ASSERT_EQ(Delete("192.168.1.1"), NO_ERROR);
    ASSERT_EQ(Add("192.168.1.141", "255.255.255.0", 3), NO_ERROR);
    kernel.PutAddress("192.168.1.50/24 dev 3");
    ASSERT_EQ(Delete("192.168.1.141"), NO_ERROR);
    EXPECT_THAT(session->RestoreAll(), IsEmpty());
    Lines expected = ordered;
    expected.push_back("192.168.1.50/24 dev 3 secondary label eth1");
    EXPECT_EQ(kernel.AddressTexts(), expected);
}

}  // namespace
}  // namespace kestrel
