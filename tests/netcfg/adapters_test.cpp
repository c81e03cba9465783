// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "netcfg/netcfg.h"
#include "tests/support/fake_ip_helper.h"
#include "tests/support/network_isolation.h"
#include "tests/support/recording_wizard.h"

namespace kestrel {
namespace {

using testing::FakeIpHelper;
using testing::RecordingWizard;
using Lines = std::vector<std::string>;

struct HeapFailure {
    static inline std::size_t size = 0;
    static bool Hook(std::size_t bytes) { return bytes == size; }
    explicit HeapFailure(std::size_t bytes) {
        size = bytes;
        SetHeapFailureHook(&Hook);
    }
    ~HeapFailure() { SetHeapFailureHook(nullptr); }
};

TEST(GetAdapterList, SnapshotHoldsTheWholeChainInOneBlock) {
    FakeIpHelper ip;
    ip.AddAdapter(2, "eth0 (e1000e)");
    ip.AddAdapter(3, "wlan0 (iwlwifi)", IF_TYPE_IEEE80211);
    const DWORD first = ip.AddAddress(2, "192.168.1.100", "255.255.255.0");
    const DWORD second = ip.AddAddress(2, "10.0.0.5", "255.0.0.0");
    ip.AddGateway(2, "192.168.1.1");
    ip.AddGateway(2, "192.168.1.2");
    RecordingWizard dlg;

    IP_ADAPTER_INFO* list = GetAdapterList(dlg);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(ip.Calls(), (Lines{"GetAdaptersInfo(null) = 111", "GetAdaptersInfo(buffer) = 0"}));
    EXPECT_EQ(list->Index, 2u);
    EXPECT_EQ(list->Type, MIB_IF_TYPE_ETHERNET);
    EXPECT_STREQ(list->Description, "eth0 (e1000e)");
    EXPECT_STREQ(list->IpAddressList.IpAddress.String, "192.168.1.100");
    EXPECT_EQ(list->IpAddressList.Context, first);
    ASSERT_NE(list->IpAddressList.Next, nullptr);
    EXPECT_STREQ(list->IpAddressList.Next->IpMask.String, "255.0.0.0");
    EXPECT_EQ(list->IpAddressList.Next->Context, second);
    EXPECT_STREQ(list->GatewayList.IpAddress.String, "192.168.1.1");
    ASSERT_NE(list->GatewayList.Next, nullptr);
    EXPECT_STREQ(list->GatewayList.Next->IpAddress.String, "192.168.1.2");

    // The adapter without settings carries the 0.0.0.0 entries, and ends the chain.
    IP_ADAPTER_INFO* wireless = list->Next;
    ASSERT_NE(wireless, nullptr);
    EXPECT_EQ(wireless->Type, IF_TYPE_IEEE80211);
    EXPECT_STREQ(wireless->IpAddressList.IpAddress.String, "0.0.0.0");
    EXPECT_EQ(wireless->IpAddressList.Next, nullptr);
    EXPECT_STREQ(wireless->GatewayList.IpAddress.String, "0.0.0.0");
    EXPECT_EQ(wireless->Next, nullptr);

    // A second snapshot is independent of the first.
    IP_ADAPTER_INFO* again = GetAdapterList(dlg);
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, list);
    HeapFree(list);
    EXPECT_STREQ(again->Next->Description, "wlan0 (iwlwifi)");
    HeapFree(again);
    EXPECT_TRUE(dlg.Boxes().empty());
}

TEST(GetAdapterList, EveryFailureGivesNullAndItsOwnBox) {
    struct Case {
        const char* name;
        void (*script)(FakeIpHelper&);
        std::size_t failAllocation;
        Lines calls;
        std::string box;
    };
    const std::vector<Case> cases = {
        {"no adapters",
         [](FakeIpHelper&) {},
         0,
         {"GetAdaptersInfo(null) = 232"},
         "FAIL: GetAdaptersInfo sizing failed with error 232"},
        {"sizing gives 0",
         [](FakeIpHelper& ip) {
             ip.AddAdapter(2, "eth0");
             ip.ScriptResult("GetAdaptersInfo", 0);
         },
         0,
         {"GetAdaptersInfo(null) = 0"},
         "FAIL: GetAdaptersInfo sizing failed with error 0"},
        {"no memory",
         [](FakeIpHelper& ip) { ip.AddAdapter(2, "eth0"); },
         sizeof(IP_ADAPTER_INFO),
         {"GetAdaptersInfo(null) = 111"},
         "Failed: Memory allocation failed"},
        {"adapter added between the calls",
         [](FakeIpHelper& ip) {
             ip.AddAdapter(2, "eth0");
             ip.AddAdapterAfterSizing(3, "eth1");
         },
         0,
         {"GetAdaptersInfo(null) = 111", "GetAdaptersInfo(buffer) = 111"},
         "FAIL: GetAdaptersInfo failed with error 111"},
    };
    for (const Case& c : cases) {
        for (BOOL debug : {TRUE, FALSE}) {
            SCOPED_TRACE(std::string(c.name) + (debug ? " with DEBUG" : ""));
            FakeIpHelper ip;
            c.script(ip);
            RecordingWizard dlg;
            dlg.m_bDebug = debug;
            IP_ADAPTER_INFO* list = nullptr;
            {
                HeapFailure failure(c.failAllocation ? c.failAllocation : ~std::size_t{0});
                list = GetAdapterList(dlg);
            }
            EXPECT_EQ(list, nullptr);
            EXPECT_EQ(ip.Calls(), c.calls);
            EXPECT_EQ(dlg.Boxes(), debug ? Lines{c.box} : Lines{});
        }
    }
}

}  // namespace
}  // namespace kestrel
