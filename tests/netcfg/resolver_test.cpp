// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "netcfg/netcfg.h"
#include "tests/support/fake_dns_client.h"
#include "tests/support/fake_ip_helper.h"
#include "tests/support/network_isolation.h"
#include "tests/support/recording_wizard.h"

namespace kestrel {
namespace {

using testing::FakeDnsClient;
using testing::FakeIpHelper;
using testing::RecordingWizard;
using Lines = std::vector<std::string>;

std::string Query(const std::string& server, ULONG ifIndex, DNS_STATUS status) {
    return "DnsQuery_A(router.kestrel.home, type 1, options 8, servers [" + server + "] via " +
           std::to_string(ifIndex) + ") = " + std::to_string(status);
}

TEST(CheckResolver, AsksOnlyTheFirstGatewayOfTheAdapterThroughThatAdapter) {
    FakeIpHelper ip;
    ip.AddAdapter(2, "eth0");
    ip.AddAdapter(3, "eth1");
    ip.AddGateway(2, "10.0.0.1");
    ip.AddGateway(3, "192.168.1.1");
    ip.AddGateway(3, "192.168.1.2");
    FakeDnsClient dns;
    dns.SetAnswer("10.9.9.9");  // any address counts
    dns.ScriptStatus(0);
    RecordingWizard dlg;

    EXPECT_EQ(CheckResolver(dlg, 3), 1);
    EXPECT_EQ(dns.Calls(), (Lines{Query("192.168.1.1", 3, 0), "DnsFree(records, 1)"}));
    EXPECT_EQ(dns.OutstandingResults(), 0);

    for (DNS_STATUS failure : {DNS_ERROR_RCODE_NAME_ERROR, DNS_INFO_NO_RECORDS,
                               DNS_STATUS{ERROR_TIMEOUT}, DNS_ERROR_RCODE_REFUSED}) {
        dns.ClearCalls();
        dns.ScriptStatus(failure);
        EXPECT_EQ(CheckResolver(dlg, 3), 0);
        EXPECT_EQ(dns.Calls(), Lines{Query("192.168.1.1", 3, failure)});
    }
    EXPECT_TRUE(dlg.Boxes().empty());
}

TEST(CheckResolver, NoQueryCases) {
    struct Case {
        const char* name;
        const char* gateway;  // of adapter 2; nullptr: no adapters at all
        ULONG ifIndex;
        bool failServerList;
        Lines boxes;
    };
    const std::string kInvalid = "Information: Invalid DNS server IP address";
    // clang-format off
    const std::vector<Case> cases = {
        {"no adapter list", nullptr, 2, false,
         {"FAIL: GetAdaptersInfo sizing failed with error 232"}},
        {"no adapter with the index", "192.168.1.1", 7, false, {}},
        {"rejected gateway text", "router", 2, false, {kInvalid}},
        {"broadcast gateway reads as rejected", "255.255.255.255", 2, false, {kInvalid}},
        {"no memory for the server list", "192.168.1.1", 2, true,
         {"Failed: Memory allocation failed"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        for (BOOL debug : {TRUE, FALSE}) {
            SCOPED_TRACE(std::string(c.name) + (debug ? " with DEBUG" : ""));
            FakeIpHelper ip;
            if (c.gateway) {
                ip.AddAdapter(2, "eth0");
                ip.AddGateway(2, c.gateway);
            }
            FakeDnsClient dns(0);
            RecordingWizard dlg;
            dlg.m_bDebug = debug;
            static bool (*failServerList)(std::size_t) = [](std::size_t bytes) {
                return bytes == sizeof(IP4_ARRAY);
            };
            if (c.failServerList) SetHeapFailureHook(failServerList);
            const int result = CheckResolver(dlg, c.ifIndex);
            SetHeapFailureHook(nullptr);
            EXPECT_EQ(result, -1);
            EXPECT_TRUE(dns.Calls().empty());
            EXPECT_EQ(dlg.Boxes(), debug ? c.boxes : Lines{});
        }
    }
}

TEST(CheckResolver, ZeroGatewayIsAskedAndItsFailureCounts) {
    FakeIpHelper ip;
    ip.AddAdapter(2, "eth0");  // no default route: the gateway reads 0.0.0.0
    FakeDnsClient dns(DNS_STATUS{ERROR_TIMEOUT});
    RecordingWizard dlg;
    EXPECT_EQ(CheckResolver(dlg, 2), 0);
    EXPECT_EQ(dns.Calls(), Lines{Query("0.0.0.0", 2, DNS_STATUS{ERROR_TIMEOUT})});
}

}  // namespace
}  // namespace kestrel
