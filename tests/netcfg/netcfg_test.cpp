// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Taking the clashing settings off and putting them back, the adapter snapshot and the resolver
// check, on a PC whose helper runs in this process over a model of the kernel.
#include "netcfg/netcfg.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

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
using testing::RecordingWizard;
using Lines = std::vector<std::string>;

// Only what can steer the router's packets away goes: a network of prefix 24 or longer that
// holds 192.168.1.1, or the router's or the temporary address itself. eth0 (2) holds clashing
// and other addresses; eth1 (3) keeps 10.0.0.5/8 and carries the routes.
TEST(Settings, WhatClashesGoesAndComesBackExactly) {
    HelperPc pc(
        "link 2 eth0\nlink 3 eth1\naddress 192.168.1.100/24 dev 2\naddress 192.168.0.5/16 dev 2\n"
        "address 192.168.2.5/22 dev 2\naddress 192.168.1.141/23 dev 2\naddress 10.0.0.5/8 dev 3\n"
        "route default via 10.0.0.1 dev 3 metric 5\nroute 0.0.0.0/1 via 10.0.0.1 dev 3 metric 5\n"
        "route 192.168.1.0/24 via 10.0.0.1 dev 3 metric 5\n"
        "route 192.168.1.1/32 via 10.0.0.1 dev 3 metric 5\n"
        "route 192.168.1.255/32 via 10.0.0.1 dev 3 metric 5\n"
        "route 128.0.0.0/1 via 10.0.0.1 dev 3 metric 5\nroute unreachable 192.168.0.0/16\n"
        "route 192.168.1.0/24 table 7 via 10.0.0.1 dev 3 metric 5\n"
        "route blackhole 192.168.1.0/24 metric 9");
    const Lines before = pc.World();
    RecordingWizard dlg;
    dlg.m_bDebug = TRUE;
    // A second removal (Retry) finds nothing more.
    RemoveConflictingSettings(dlg);
    RemoveConflictingSettings(dlg);
    EXPECT_EQ(pc.kernel.Log(),
              (Lines{"delete address 192.168.1.100/24 dev 2 = 0",
                     "delete address 192.168.1.141/23 dev 2 = 0",
                     "delete route 192.168.1.0/24 via 10.0.0.1 dev 3 metric 5 = 0",
                     "delete route 192.168.1.1/32 via 10.0.0.1 dev 3 metric 5 = 0"}));
    // Each deletion is announced in diagnostic mode, with what the user can recognise.
    const std::string del = "Information: Delete ";
    EXPECT_EQ(dlg.Boxes(), (Lines{del + "IP: 192.168.1.100 Mask: 255.255.255.0 from Adapter: eth0",
                                  del + "IP: 192.168.1.141 Mask: 255.255.254.0 from Adapter: eth0",
                                  del + "Route: 192.168.1.0/255.255.255.0-> 10.0.0.1",
                                  del + "Route: 192.168.1.1/255.255.255.255-> 10.0.0.1"}));
    // One restore puts everything back.
    EXPECT_EQ(RestoreNetworkSettings(dlg), 0);
    EXPECT_TRUE(!dlg.m_pSavedAddresses && !dlg.m_pSavedRoutes);
    EXPECT_EQ(pc.World(), before);
}

TEST(Settings, FailuresStopTheRemovalWithTheirBoxAndKeepWhatWasRecorded) {
    enum Failing { kAdapters, kRoutes, kRecord };
    // What fails, its box (besides the deletions'), and how many addresses and routes go.
    const std::tuple<Failing, const char*, std::size_t, std::size_t> cases[] = {
        {kAdapters, "FAIL: GetAdaptersInfo sizing failed with error 31", 0, 0},
        {kRoutes, "FAIL: GetIpForwardTable sizing failed with error 31", 1, 0},
        // A record that cannot be made stops nothing: the address goes all the same.
        {kRecord, "Warning: InsetIPEntry failed, may be not enough memory", 1, 2},
    };
    for (const auto& [failing, box, addressesOff, routesOff] : cases) {
        SCOPED_TRACE(failing);
        HelperPc pc(
            "link 2 eth0\naddress 192.168.1.100/24 dev 2\naddress 10.0.0.5/8 dev 2\n"
            "route 192.168.1.1/32 via 10.0.0.1 dev 2\nroute 192.168.1.0/25 via 10.0.0.1 dev 2\n"
            "route 10.1.0.0/16 via 10.0.0.1 dev 2");
        SetHeapFailureHook(failing == kRecord
                               ? +[](std::size_t bytes) { return bytes == sizeof(SavedAddress); }
                               : nullptr);
        if (failing == kAdapters) pc.kernel.Fail(testing::KernelCall::kLinks, -ENOBUFS);
        pc.SetRequestHook([&](const HelperRequest& request) {
            return DWORD(request.op == HelperOp::Routes && failing == kRoutes ? ERROR_GEN_FAILURE
                                                                              : NO_ERROR);
        });
        RecordingWizard w;
        w.m_bDebug = TRUE;
        RemoveConflictingSettings(w);
        Lines failures;
        for (const std::string& shown : w.Boxes())
            if (!shown.starts_with("Information: Delete")) failures.push_back(shown);
        EXPECT_EQ(failures, Lines{box});
        // What went off is recorded, and comes back, unless its record could not be made.
        RestoreNetworkSettings(w);
        const std::size_t recorded = addressesOff && failing != kRecord;
        auto count = [&](const char* change) { return pc.LogWith(change).size(); };
        EXPECT_EQ(std::vector({count("delete address"), count("delete route"), count("add address"),
                               count("add route")}),
                  std::vector({addressesOff, routesOff, recorded, routesOff + recorded}));
    }
    SetHeapFailureHook(nullptr);
}

TEST(CheckResolver, AsksTheAdaptersFirstGatewayThroughThatAdapter) {
    HelperPc pc(
        "link 2 eth2\nlink 3 eth3\nlink 4 eth4\naddress 100.100.100.5/24 dev 2\n"
        "address 192.168.1.100/24 dev 3\nroute default via 100.100.100.100 dev 2 metric 1\n"
        "route default via 192.168.1.1 dev 3 metric 5\n"
        "route default via 192.168.1.2 dev 3 metric 7");
    const std::string query = "DnsQuery_A(router.kestrel.home, type 1, options 8, servers ";
    // The adapter asked through, the server's answer, the result and the DNS client's calls.
    const std::tuple<ULONG, DNS_STATUS, int, ::testing::Matcher<const Lines&>> cases[] = {
        {3, 0, 1, ElementsAre(query + "[192.168.1.1] via 3) = 0", "DnsFree(records, 1)")},
        {3, DNS_ERROR_RCODE_NAME_ERROR, 0, ElementsAre(HasSubstr("via 3) = 9003"))},
        {4, 0, 1, ElementsAre(query + "[0.0.0.0] via 4) = 0", HasSubstr("DnsFree"))},  // no gateway
        {2, 0, 1, ElementsAre(query + "[100.100.100.100] via 2) = 0", HasSubstr("DnsFree"))},
        {9, 0, -1, IsEmpty()},  // no such adapter
    };
    for (const auto& [ifIndex, status, result, calls] : cases) {
        SCOPED_TRACE(ifIndex);
        testing::FakeDnsClient dns(status);
        RecordingWizard dlg;
        EXPECT_EQ(CheckResolver(dlg, ifIndex), result);
        EXPECT_THAT(dns.Calls(), calls);
        EXPECT_EQ(dns.OutstandingResults(), 0);
    }
}

}  // namespace
}  // namespace kestrel
