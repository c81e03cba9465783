// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "netcfg/netcfg.h"
#include "tests/support/fake_ip_helper.h"
#include "tests/support/network_isolation.h"
#include "tests/support/recording_wizard.h"

namespace kestrel {
namespace {

using testing::FakeIpHelper;
using testing::MakeRoute;
using testing::RecordingWizard;
using testing::RouteText;
using Lines = std::vector<std::string>;

// Interleaves the wizard's boxes with the platform calls, so that tests see the whole order.
class LoggingWizard : public RecordingWizard {
public:
    explicit LoggingWizard(FakeIpHelper& ip) : ip_(ip) { m_bDebug = TRUE; }
    void MessageBox(const std::string& text, const std::string& caption) override {
        RecordingWizard::MessageBox(text, caption);
        boxesAt_.push_back({ip_.Calls().size(), caption + ": " + text});
    }
    Lines Log() const {
        Lines log;
        const Lines calls = ip_.Calls();
        std::size_t next = 0;
        for (std::size_t i = 0; i <= calls.size(); ++i) {
            while (next < boxesAt_.size() && boxesAt_[next].first == i)
                log.push_back("box " + boxesAt_[next++].second);
            if (i < calls.size()) log.push_back(calls[i]);
        }
        return log;
    }
    ~LoggingWizard() override { DiscardSavedSettings(*this); }

private:
    FakeIpHelper& ip_;
    std::vector<std::pair<std::size_t, std::string>> boxesAt_;
};

Lines SavedAddresses(const WizardContext& dlg) {
    Lines out;
    for (const SavedAddress* a = dlg.m_pSavedAddresses; a; a = a->Next)
        out.push_back(std::string(a->IpAddress) + "/" + a->IpMask + " on " +
                      std::to_string(a->IfIndex));
    return out;
}

Lines SavedRoutes(const WizardContext& dlg) {
    Lines out;
    for (const SavedRoute* r = dlg.m_pSavedRoutes; r; r = r->Next) out.push_back(RouteText(r->Row));
    return out;
}

struct HeapFailure {
    static inline std::size_t size = 0;
    static bool Hook(std::size_t bytes) { return bytes == size; }
};

Lines Sorted(Lines lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST(RemoveConflictingSettings, AddressConflictRule) {
    struct Case {
        const char* address;
        const char* mask;
        bool removed;
    };
    const Case cases[] = {
        {"192.168.1.100", "255.255.255.0", true}, {"192.168.0.5", "255.255.0.0", true},
        {"192.168.2.5", "255.255.252.0", true},   {"192.168.2.5", "255.255.254.0", false},
        {"10.0.0.5", "255.0.0.0", false},         {"0.0.0.0", "0.0.0.0", false},
        {"172.16.4.4", "0.0.0.0", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.address) + "/" + c.mask);
        FakeIpHelper ip;
        ip.AddAdapter(2, "eth0");
        ip.AddAddress(2, c.address, c.mask);
        RecordingWizard dlg;
        RemoveConflictingSettings(dlg);
        const std::string text = std::string(c.address) + "/" + c.mask + " on 2";
        EXPECT_EQ(ip.AddressTexts(), c.removed ? Lines{} : Lines{text});
        EXPECT_EQ(SavedAddresses(dlg), c.removed ? Lines{text} : Lines{});
        DiscardSavedSettings(dlg);
    }
}

TEST(RemoveConflictingSettings, RouteConflictRule) {
    struct Case {
        const char* dest;
        const char* mask;
        bool removed;
    };
    const Case cases[] = {
        {"0.0.0.0", "0.0.0.0", false},
        {"0.0.0.0", "255.255.255.255", false},
        {"192.168.1.0", "255.255.255.0", true},
        {"192.168.1.1", "255.255.255.255", true},
        {"192.168.1.255", "255.255.255.255", false},
        {"128.0.0.0", "128.0.0.0", true},
        {"224.0.0.0", "240.0.0.0", false},
        {"127.0.0.0", "255.0.0.0", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.dest) + "/" + c.mask);
        FakeIpHelper ip;
        ip.AddAdapter(2, "eth0");
        const MIB_IPFORWARDROW row = MakeRoute(c.dest, c.mask, "0.0.0.0", 2, 10);
        ip.AddRoute(row);
        RecordingWizard dlg;
        RemoveConflictingSettings(dlg);
        EXPECT_EQ(ip.RouteTexts(), c.removed ? Lines{} : Lines{RouteText(row)});
        EXPECT_EQ(SavedRoutes(dlg), c.removed ? Lines{RouteText(row)} : Lines{});
        DiscardSavedSettings(dlg);
    }
}

TEST(RemoveConflictingSettings, OrderOfRecordsDeletionsAndBoxes) {
    FakeIpHelper ip;
    ip.AddAdapter(2, "eth0 (veth)");
    ip.AddAdapter(3, "eth1 (e1000e)");
    ip.AddAddress(2, "192.168.1.100", "255.255.255.0");
    ip.AddAddress(2, "192.168.0.5", "255.255.0.0");
    ip.AddAddress(3, "10.0.0.5", "255.0.0.0");  // an adapter without a clash is left alone
    ip.AddAddress(3, "192.168.2.5", "255.255.252.0");
    ip.AddRoute(MakeRoute("0.0.0.0", "0.0.0.0", "10.0.0.1", 3, 5));
    ip.AddRoute(MakeRoute("192.168.1.0", "255.255.255.0", "10.0.0.254", 3, 50));
    ip.AddRoute(MakeRoute("192.168.1.1", "255.255.255.255", "10.0.0.253", 3, 60));
    LoggingWizard dlg(ip);

    RemoveConflictingSettings(dlg);

    EXPECT_EQ(dlg.Log(),
              (Lines{
                  "GetAdaptersInfo(null) = 111",
                  "GetAdaptersInfo(buffer) = 0",
                  "DeleteIPAddress(192.168.1.100/255.255.255.0 on 2) = 0",
                  "box Information: Delete IP: 192.168.1.100 Mask: 255.255.255.0 from Adapter: "
                  "eth0 (veth)",
                  "DeleteIPAddress(192.168.0.5/255.255.0.0 on 2) = 0",
                  "box Information: Delete IP: 192.168.0.5 Mask: 255.255.0.0 from Adapter: "
                  "eth0 (veth)",
                  "DeleteIPAddress(192.168.2.5/255.255.252.0 on 3) = 0",
                  "box Information: Delete IP: 192.168.2.5 Mask: 255.255.252.0 from Adapter: "
                  "eth1 (e1000e)",
                  "GetIpForwardTable(null) = 122",
                  "GetIpForwardTable(table) = 0",
                  "box Information: Delete Route: 192.168.1.0/255.255.255.0-> 10.0.0.254",
                  "DeleteIpForwardEntry(192.168.1.0/255.255.255.0 via 10.0.0.254 on 3 metric 50) "
                  "= 0",
                  "box Information: Delete Route: 192.168.1.1/255.255.255.255-> 10.0.0.253",
                  "DeleteIpForwardEntry(192.168.1.1/255.255.255.255 via 10.0.0.253 on 3 metric "
                  "60) = 0",
              }));
    EXPECT_EQ(SavedAddresses(dlg),
              (Lines{"192.168.2.5/255.255.252.0 on 3", "192.168.0.5/255.255.0.0 on 2",
                     "192.168.1.100/255.255.255.0 on 2"}));
    EXPECT_EQ(SavedRoutes(dlg), (Lines{"192.168.1.1/255.255.255.255 via 10.0.0.253 on 3 metric 60",
                                       "192.168.1.0/255.255.255.0 via 10.0.0.254 on 3 metric 50"}));
    EXPECT_EQ(ip.AddressTexts(), Lines{"10.0.0.5/255.0.0.0 on 3"});
    EXPECT_EQ(ip.RouteTexts(), Lines{"0.0.0.0/0.0.0.0 via 10.0.0.1 on 3 metric 5"});
}

TEST(RestoreNetworkSettings, PutsBackNewestFirstAddressesBeforeRoutes) {
    FakeIpHelper ip;
    ip.AddAdapter(2, "eth0");
    ip.AddAddress(2, "192.168.1.100", "255.255.255.0");                              // A
    ip.AddAddress(2, "192.168.0.5", "255.255.0.0");                             // B
    ip.AddAddress(2, "10.0.0.5", "255.0.0.0");
    ip.AddRoute(MakeRoute("192.168.1.0", "255.255.255.0", "10.0.0.254", 2, 50));  // X
    ip.AddRoute(MakeRoute("128.0.0.0", "128.0.0.0", "10.0.0.253", 2, 70));        // Y
    RecordingWizard dlg;
    RemoveConflictingSettings(dlg);
    ip.ClearCalls();

    RestoreNetworkSettings(dlg);

    EXPECT_EQ(
        ip.Calls(),
        (Lines{"AddIPAddress(192.168.0.5/255.255.0.0 on 2) = 0",
               "AddIPAddress(192.168.1.100/255.255.255.0 on 2) = 0",
               "CreateIpForwardEntry(128.0.0.0/128.0.0.0 via 10.0.0.253 on 2 metric 70) = 0",
               "CreateIpForwardEntry(192.168.1.0/255.255.255.0 via 10.0.0.254 on 2 metric 50) = "
               "0"}));
    EXPECT_EQ(dlg.m_pSavedAddresses, nullptr);
    EXPECT_EQ(dlg.m_pSavedRoutes, nullptr);

    ip.ClearCalls();
    RestoreNetworkSettings(dlg);  // both lists empty: nothing is called
    EXPECT_TRUE(ip.Calls().empty());
}

TEST(RestoreNetworkSettings, TwoRemovalsAreUndoneByOneRestore) {
    FakeIpHelper ip;
    ip.AddAdapter(2, "eth0");
    ip.AddAddress(2, "192.168.1.100", "255.255.255.0");
    RecordingWizard dlg;
    RemoveConflictingSettings(dlg);
    ip.AddAddress(2, "192.168.1.141", "255.255.255.0");
    ip.AddRoute(MakeRoute("192.168.1.0", "255.255.255.0", "0.0.0.0", 2, 9));
    RemoveConflictingSettings(dlg);
    EXPECT_EQ(SavedAddresses(dlg),
              (Lines{"192.168.1.141/255.255.255.0 on 2", "192.168.1.100/255.255.255.0 on 2"}));

    RestoreNetworkSettings(dlg);
    EXPECT_EQ(Sorted(ip.AddressTexts()),
              (Lines{"192.168.1.100/255.255.255.0 on 2", "192.168.1.141/255.255.255.0 on 2"}));
    EXPECT_EQ(ip.RouteTexts(), Lines{"192.168.1.0/255.255.255.0 via 0.0.0.0 on 2 metric 9"});
}

TEST(RemoveConflictingSettings, FailureBoxesAndTheirCaptions) {
    struct Case {
        const char* name;
        const char* script;  // function whose next result is scripted
        DWORD result;
        std::size_t failAllocation;
        Lines boxes;
        bool routeRemoved;
    };
    const std::size_t tableSize = sizeof(MIB_IPFORWARDTABLE);
    // clang-format off
    const std::vector<Case> cases = {
        {"sizing", "GetIpForwardTable", 0, 0,
         {"FAIL: GetIpForwardTable sizing failed with error 0"}, false},
        {"table allocation", "", 0, tableSize, {"FAIL: Memory allocation failed"}, false},
        {"route record", "", 0, sizeof(SavedRoute),
         {"Information: Delete Route: 192.168.1.0/255.255.255.0-> 0.0.0.0",
          "Warning: InsetRouteEntry failed, may be not enough memory"}, true},
    };
    // clang-format on
    for (const Case& c : cases) {
        for (BOOL debug : {TRUE, FALSE}) {
            SCOPED_TRACE(std::string(c.name) + (debug ? " with DEBUG" : ""));
            FakeIpHelper ip;
            ip.AddAdapter(2, "eth0");
            ip.AddAddress(2, "10.0.0.5", "255.0.0.0");
            ip.AddRoute(MakeRoute("192.168.1.0", "255.255.255.0", "0.0.0.0", 2, 0));
            if (*c.script) ip.ScriptResult(c.script, c.result);
            RecordingWizard dlg;
            dlg.m_bDebug = debug;
            HeapFailure::size = c.failAllocation;
            if (c.failAllocation) SetHeapFailureHook(&HeapFailure::Hook);
            RemoveConflictingSettings(dlg);
            SetHeapFailureHook(nullptr);
            EXPECT_EQ(dlg.Boxes(), debug ? c.boxes : Lines{});
            EXPECT_EQ(ip.RouteTexts().empty(), c.routeRemoved);
            EXPECT_EQ(dlg.m_pSavedRoutes, nullptr);  // nothing recorded on any of these paths
        }
    }
}

TEST(RemoveConflictingSettings, FailedSecondReadKeepsRemovedAddressesRecorded) {
    FakeIpHelper ip;
    ip.AddAdapter(2, "eth0");
    ip.AddAddress(2, "192.168.1.100", "255.255.255.0");
    ip.AddRoute(MakeRoute("192.168.1.0", "255.255.255.0", "0.0.0.0", 2, 0));
    // The sizing call answers; the read after the deletions fails.
    ip.ScriptResult("GetIpForwardTable", FakeIpHelper::kRealResult);
    ip.ScriptResult("GetIpForwardTable", ERROR_GEN_FAILURE);
    RecordingWizard dlg;
    dlg.m_bDebug = TRUE;
    RemoveConflictingSettings(dlg);
    EXPECT_EQ(dlg.Boxes(), (Lines{"Information: Delete IP: 192.168.1.100 Mask: 255.255.255.0 "
                                  "from Adapter: eth0",
                                  "FAIL: GetIpForwardTable failed with error 31"}));
    EXPECT_EQ(SavedAddresses(dlg), Lines{"192.168.1.100/255.255.255.0 on 2"});
    EXPECT_EQ(ip.RouteTexts().size(), 1u);  // no route touched
    DiscardSavedSettings(dlg);
}

TEST(RemoveConflictingSettings, UnrecordedAddressIsDeletedAllTheSame) {
    FakeIpHelper ip;
    ip.AddAdapter(2, "eth0");
    ip.AddAddress(2, "192.168.1.100", "255.255.255.0");
    RecordingWizard dlg;
    dlg.m_bDebug = TRUE;
    HeapFailure::size = sizeof(SavedAddress);
    SetHeapFailureHook(&HeapFailure::Hook);
    RemoveConflictingSettings(dlg);
    SetHeapFailureHook(nullptr);
    EXPECT_EQ(dlg.Boxes(), (Lines{"Warning: InsetIPEntry failed, may be not enough memory",
                                  "Information: Delete IP: 192.168.1.100 Mask: 255.255.255.0 "
                                  "from Adapter: eth0"}));
    EXPECT_TRUE(ip.AddressTexts().empty());
    EXPECT_EQ(dlg.m_pSavedAddresses, nullptr);
}

TEST(RemoveConflictingSettings, NoAdapterListTouchesNothing) {
    FakeIpHelper ip;
    ip.AddRoute(MakeRoute("192.168.1.0", "255.255.255.0", "0.0.0.0", 2, 0));
    RecordingWizard dlg;
    RemoveConflictingSettings(dlg);
    EXPECT_EQ(ip.Calls(), Lines{"GetAdaptersInfo(null) = 232"});
    EXPECT_EQ(ip.RouteTexts().size(), 1u);
}

}  // namespace
}  // namespace kestrel
