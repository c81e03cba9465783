// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Taking the clashing settings off and putting them back, the adapter snapshot and the resolver
// check, on a PC whose helper runs in this process over a model of the kernel.
#include "netcfg/netcfg.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "ipc/adapter_layout.h"
#include "platform/heap.h"
#include "platform/windns.h"
#include "tests/support/fake_dns_client.h"
#include "tests/support/helper_pc.h"
#include "tests/support/recording_wizard.h"

namespace kestrel {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::HelperPc;
using ::testing::IsEmpty;
using testing::KernelCall;
using testing::RecordingWizard;
using Lines = std::vector<std::string>;

Lines SavedAddresses(const WizardContext& dlg) {
    Lines out;
    for (const SavedAddress* a = dlg.m_pSavedAddresses; a; a = a->Next)
        out.push_back(std::string(a->IpAddress) + "/" + a->IpMask + " on " +
                      std::to_string(a->IfIndex));
    return out;
}

Lines SavedRoutes(const WizardContext& dlg) {
    Lines out;
    for (const SavedRoute* r = dlg.m_pSavedRoutes; r; r = r->Next)
        out.push_back(Dotted(r->Row.dwForwardDest) + "/" + Dotted(r->Row.dwForwardMask) + " via " +
                      Dotted(r->Row.dwForwardNextHop));
    return out;
}

// While it lives, fails every allocation of one size, and the next one once armed.
class HeapFailure {
public:
    explicit HeapFailure(std::size_t bytes = ~std::size_t{0}) {
        size_ = bytes;
        armed_ = false;
        SetHeapFailureHook([](std::size_t requested) {
            return requested == size_ || std::exchange(armed_, false);
        });
    }
    ~HeapFailure() { SetHeapFailureHook(nullptr); }
    static void ArmNext() { armed_ = true; }

private:
    static inline std::size_t size_ = 0;
    static inline bool armed_ = false;
};

// Adapters that can be sized but not read, as when the list grew in between: the system's own
// IP Helper can answer so, the helper's client cannot, as it fills the block from the reply that
// sized it.
struct UnreadableAdapters final : RefusingIpHelper {
    DWORD GetAdaptersInfo(IP_ADAPTER_INFO* info, ULONG* size) override {
        *size = sizeof(IP_ADAPTER_INFO);
        return info ? ERROR_GEN_FAILURE : ERROR_BUFFER_OVERFLOW;
    }
};

// eth0 (2) holds clashing and other addresses; eth1 (3) keeps 10.0.0.5/8 and carries the routes.
class Settings : public ::testing::Test {
protected:
    void SetUp() override { dlg.m_bDebug = TRUE; }
    void TearDown() override { DiscardSavedSettings(dlg); }

    HelperPc pc{R"(
        link 2 eth0
        link 3 eth1
        address 192.168.1.100/24 dev 2
        address 192.168.0.5/16 dev 2
        address 192.168.2.5/22 dev 2
        address 192.168.6.5/23 dev 2
        address 172.16.0.5/12 dev 2
        address 192.168.1.141/23 dev 2
        address 10.0.0.5/8 dev 3
        route default via 10.0.0.1 dev 3 metric 5
        route 192.168.1.0/24 via 10.0.0.1 dev 3 metric 5
        route 192.168.1.1/32 via 10.0.0.1 dev 3 metric 5
        route 192.168.1.255/32 via 10.0.0.1 dev 3 metric 5
        route 0.0.0.0/1 via 10.0.0.1 dev 3 metric 5
        route 128.0.0.0/1 via 10.0.0.1 dev 3 metric 5
        route 10.1.0.0/16 via 10.0.0.1 dev 3 metric 5
        route 192.168.1.0/24 table 7 via 10.0.0.1 dev 3 metric 5
        route unreachable 192.168.0.0/16
        route blackhole 192.168.1.0/24 metric 9)"};
    RecordingWizard dlg;
    const Lines before = pc.World();
};

// Only what can steer the router's packets away goes: a network of prefix 24 or longer that
// holds 192.168.1.1, or the router's or the temporary address itself.
TEST_F(Settings, WhatClashesGoesRecordedNewestFirstAndComesBackExactly) {
    RemoveConflictingSettings(dlg);
    EXPECT_THAT(SavedAddresses(dlg), ElementsAre("192.168.1.141/255.255.254.0 on 2",
                                                 "192.168.1.100/255.255.255.0 on 2"));
    EXPECT_THAT(SavedRoutes(dlg), ElementsAre("192.168.1.1/255.255.255.255 via 10.0.0.1",
                                              "192.168.1.0/255.255.255.0 via 10.0.0.1"));
    // Each deletion is announced in diagnostic mode, with what the user can recognise.
    EXPECT_THAT(dlg.Boxes(),
                ElementsAre("Information: Delete IP: 192.168.1.100 Mask: 255.255.255.0 from "
                            "Adapter: eth0",
                            "Information: Delete IP: 192.168.1.141 Mask: 255.255.254.0 from "
                            "Adapter: eth0",
                            "Information: Delete Route: 192.168.1.0/255.255.255.0-> 10.0.0.1",
                            "Information: Delete Route: 192.168.1.1/255.255.255.255-> 10.0.0.1"));
    const Lines after = pc.World();
    Lines gone;
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(),
                        std::back_inserter(gone));
    EXPECT_THAT(gone, ::testing::Each(::testing::AnyOf(
                          HasSubstr("192.168.1.100"), HasSubstr("192.168.1.141"),
                          HasSubstr("192.168.0.0/23"), ::testing::StartsWith("192.168.1.0/24 via"),
                          ::testing::StartsWith("192.168.1.1/32"))));
    EXPECT_EQ(gone.size(), 6u);

    // A second removal (Retry) finds nothing more; one restore puts everything back.
    RemoveConflictingSettings(dlg);
    EXPECT_EQ(SavedAddresses(dlg).size(), 2u);
    RestoreNetworkSettings(dlg);
    EXPECT_EQ(dlg.m_pSavedAddresses, nullptr);
    EXPECT_EQ(dlg.m_pSavedRoutes, nullptr);
    EXPECT_EQ(pc.World(), before);
}

TEST_F(Settings, FailuresStopTheRemovalWithTheirBoxAndKeepWhatWasRecorded) {
    enum Failing { kAdapters, kAdapterBlock, kAdapterRead, kRoutes, kRouteTable, kRecord };
    struct Case {
        Failing failing;
        Lines boxesAfterDeletes;
        std::size_t addressesOff;
        std::size_t routesOff;
    };
    const Case cases[] = {
        {kAdapters, {"FAIL: GetAdaptersInfo sizing failed with error 31"}, 0, 0},
        {kAdapterBlock, {"Failed: Memory allocation failed"}, 0, 0},
        {kAdapterRead, {"FAIL: GetAdaptersInfo failed with error 31"}, 0, 0},
        {kRoutes, {"FAIL: GetIpForwardTable sizing failed with error 31"}, 1, 0},
        {kRouteTable, {"FAIL: Memory allocation failed"}, 1, 0},
        // A record that cannot be made stops nothing: the address goes all the same.
        {kRecord, {"Warning: InsetIPEntry failed, may be not enough memory"}, 1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failing);
        UnreadableAdapters unreadable;
        HelperPc own(R"(
            link 2 eth0
            address 192.168.1.100/24 dev 2
            address 10.0.0.5/8 dev 2
            route 192.168.1.1/32 via 10.0.0.1 dev 2
            route 192.168.1.0/25 via 10.0.0.1 dev 2
            route 10.1.0.0/16 via 10.0.0.1 dev 2)");
        if (c.failing == kAdapterRead) SetIpHelper(&unreadable);
        HeapFailure heap(c.failing == kRecord ? sizeof(SavedAddress) : ~std::size_t{0});
        if (c.failing == kAdapters) own.kernel.Fail(KernelCall::kLinks, -ENOBUFS);
        // The front end's reads, not the helper's own: the sizing one or the block after it.
        own.SetRequestHook([&](const HelperRequest& request) {
            if (request.op == HelperOp::Adapters) {
                if (c.failing == kAdapterBlock) HeapFailure::ArmNext();
                return DWORD{NO_ERROR};
            }
            if (request.op != HelperOp::Routes) return DWORD{NO_ERROR};
            if (c.failing == kRouteTable) HeapFailure::ArmNext();
            return DWORD(c.failing == kRoutes ? ERROR_GEN_FAILURE : NO_ERROR);
        });
        RecordingWizard w;
        w.m_bDebug = TRUE;
        RemoveConflictingSettings(w);
        Lines failures;
        for (const std::string& box : w.Boxes())
            if (box.rfind("Information: Delete", 0) != 0) failures.push_back(box);
        EXPECT_EQ(failures, c.boxesAfterDeletes);
        EXPECT_EQ(own.LogWith("delete address 192.168.1.100").size(), c.addressesOff);
        EXPECT_EQ(own.LogWith("delete route").size(), c.routesOff);
        EXPECT_EQ(SavedRoutes(w).size(), c.routesOff);
        // What went off is recorded, and comes back, unless its record could not be made.
        const bool recorded = c.addressesOff && c.failing != kRecord;
        EXPECT_EQ(SavedAddresses(w).size(), recorded ? 1u : 0u);
        RestoreNetworkSettings(w);
        EXPECT_EQ(own.LogWith("add address 192.168.1.100").size(), recorded ? 1u : 0u);
        EXPECT_EQ(own.LogWith("add route").size(), c.routesOff + (recorded ? 1 : 0));
    }
}

TEST(CheckResolver, AsksTheAdaptersFirstGatewayThroughThatAdapter) {
    struct Case {
        ULONG ifIndex;
        DNS_STATUS status;
        int result;
        const char* query;  // nullptr: none is made
    };
    const Case cases[] = {
        {3, 0, 1,
         "DnsQuery_A(router.kestrel.home, type 1, options 8, servers [192.168.1.1] via 3)"},
        {3, DNS_ERROR_RCODE_NAME_ERROR, 0, "servers [192.168.1.1] via 3"},
        {4, 0, 1, "servers [0.0.0.0] via 4"},  // no gateway: asked at 0.0.0.0
        {9, 0, -1, nullptr},                   // no such adapter
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ifIndex);
        HelperPc pc(R"(
            link 2 eth2
            link 3 eth3
            link 4 eth4
            address 10.0.0.5/8 dev 2
            address 192.168.1.100/24 dev 3
            route default via 10.0.0.1 dev 2 metric 1
            route default via 192.168.1.1 dev 3 metric 5
            route default via 192.168.1.2 dev 3 metric 7)");
        testing::FakeDnsClient dns(c.status);
        RecordingWizard dlg;
        EXPECT_EQ(CheckResolver(dlg, c.ifIndex), c.result);
        const Lines calls = dns.Calls();
        if (!c.query) {
            EXPECT_THAT(calls, IsEmpty());
            continue;
        }
        ASSERT_FALSE(calls.empty());
        EXPECT_THAT(calls[0], HasSubstr(c.query));
        EXPECT_EQ(dns.OutstandingResults(), 0);
    }
}

}  // namespace
}  // namespace kestrel
