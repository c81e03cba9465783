// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The helper's session on the Windows kernel layer over a scripted IP Helper: what a recovery
// takes off comes back, in an order the IP Helper accepts, and Wine's refusal of the temporary
// address reaches the front end as it was given.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <tuple>

#include "helper/session.h"
#include "helper/windows/windows_netkernel.h"
#include "tests/support/fake_clock.h"
#include "tests/windows/scripted_ip_helper.h"

namespace kestrel::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A PC whose wired adapter (7) holds 192.168.1.100/24 with a default route through 192.168.1.1,
// and whose second adapter (9) holds 10.0.0.5/8 and a static route to 192.168.1.0/24.
struct Pc {
    FakeClock clock;
    ScriptedIpHelper api;
    WindowsNetKernel kernel{api};
    std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                   ("kestrel-session-" + std::to_string(::GetCurrentProcessId()));
    std::unique_ptr<Journal> journal;
    std::unique_ptr<HelperSession> session;

    Pc() {
        ScriptedAdapter wired{7,
                              "{A1B2}",
                              "Wired",
                              {0, 0x1b, 0x21, 1, 2, 3},
                              MIB_IF_TYPE_ETHERNET,
                              kAdminStatusUp,
                              kOperStatusOperational,
                              {{Ip("192.168.1.100"), Ip("255.255.255.0"), 11}}};
        ScriptedAdapter second{9,
                               "{C3D4}",
                               "Second",
                               {0, 0x1b, 0x21, 4, 5, 6},
                               MIB_IF_TYPE_ETHERNET,
                               kAdminStatusUp,
                               kOperStatusOperational,
                               {{Ip("10.0.0.5"), Ip("255.0.0.0"), 12}}};
        api.adapters = {wired, second};
        api.routes = {
            Row("192.168.1.0", "255.255.255.0", "192.168.1.100", 7, 281, MIB_IPROUTE_TYPE_DIRECT,
                MIB_IPPROTO_NETMGMT),
            Row("0.0.0.0", "0.0.0.0", "192.168.1.1", 7, 25),
            Row("10.0.0.0", "255.0.0.0", "10.0.0.5", 9, 281, MIB_IPROUTE_TYPE_DIRECT,
                MIB_IPPROTO_NETMGMT),
            Row("192.168.1.0", "255.255.255.0", "10.0.0.1", 9, 10),
        };
        std::filesystem::remove_all(folder);
        std::string why;
        journal = Journal::Open(folder.string(), why);
        EXPECT_TRUE(journal) << why;
        if (journal) session = std::make_unique<HelperSession>(kernel, *journal, [](auto&) {});
    }
    ~Pc() {
        session.reset();
        journal.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    HelperReply Do(HelperOp op, DWORD n = 0, const char* a = "0.0.0.0", const char* b = "0.0.0.0") {
        HelperRequest request;
        request.op = op;
        request.address = Ip(a);
        request.mask = Ip(b);
        request.ifIndex = request.context = n;
        return session->Handle(request);
    }
    // The PC's routes as the IP Helper keys them, in no particular order.
    std::vector<std::tuple<IPAddr, IPMask, IPAddr, DWORD, DWORD>> Routes() const {
        std::vector<std::tuple<IPAddr, IPMask, IPAddr, DWORD, DWORD>> keys;
        for (const MIB_IPFORWARDROW& row : api.routes)
            keys.emplace_back(row.dwForwardDest, row.dwForwardMask, row.dwForwardNextHop,
                              row.dwForwardIfIndex, row.dwForwardMetric1);
        std::sort(keys.begin(), keys.end());
        return keys;
    }
};

TEST(WindowsSession, PutsBackWhatARecoveryTookOffInAnOrderTheIpHelperTakes) {
    Pc pc;
    ASSERT_TRUE(pc.session);
    const auto routesBefore = pc.Routes();
    const HelperReply adapters = pc.Do(HelperOp::Adapters);
    ASSERT_EQ(adapters.error, NO_ERROR);
    const HelperReply routes = pc.Do(HelperOp::Routes);
    ASSERT_EQ(routes.error, NO_ERROR);
    const auto clashing = std::find_if(routes.routes.begin(), routes.routes.end(), [](auto& row) {
        return row.dwForwardDest == Ip("192.168.1.0") && row.dwForwardIfIndex == 9;
    });
    ASSERT_NE(clashing, routes.routes.end());

    // As a recovery goes: the clashing address and route off, the temporary address on.
    DWORD context = 0;
    for (const AdapterRecord& adapter : adapters.adapters)
        for (const auto& address : adapter.addresses)
            if (address.address == "192.168.1.100") context = address.context;
    ASSERT_NE(context, 0u);
    ASSERT_EQ(pc.Do(HelperOp::DeleteAddress, context).error, NO_ERROR);
    HelperRequest deleteRoute;
    deleteRoute.op = HelperOp::DeleteRoute;
    deleteRoute.row = *clashing;
    ASSERT_EQ(pc.session->Handle(deleteRoute).error, NO_ERROR);
    ASSERT_EQ(pc.Do(HelperOp::AddAddress, 7, "192.168.1.141", "255.255.255.0").error, NO_ERROR);
    // The address took the default route and its subnet's route with it.
    EXPECT_EQ(pc.api.routes.size(), 2u);

    pc.api.calls.clear();
    EXPECT_THAT(pc.session->RestoreAll(), IsEmpty());
    // The temporary address goes, the PC's address comes back before the routes through it,
    // and a route without a gateway before one with.
    EXPECT_THAT(pc.api.calls,
                ElementsAre("DeleteIPAddress 100", "AddIPAddress 192.168.1.100/255.255.255.0 on 7",
                            "CreateIpForwardEntry 192.168.1.0/255.255.255.0 via 192.168.1.100",
                            "CreateIpForwardEntry 0.0.0.0/0.0.0.0 via 192.168.1.1",
                            "CreateIpForwardEntry 192.168.1.0/255.255.255.0 via 10.0.0.1"));
    EXPECT_EQ(pc.Routes(), routesBefore);
    ASSERT_EQ(pc.api.Adapter(7)->addresses.size(), 1u);
    EXPECT_EQ(pc.api.Adapter(7)->addresses[0].local, Ip("192.168.1.100"));
    EXPECT_THAT(pc.journal->Entries(), IsEmpty());
}

TEST(WindowsSession, WinesRefusalOfTheTemporaryAddressReachesTheFrontEnd) {
    Pc pc;
    ASSERT_TRUE(pc.session);
    const auto routesBefore = pc.Routes();
    pc.api.results["AddIPAddress"] = {ERROR_NOT_SUPPORTED};
    EXPECT_EQ(pc.Do(HelperOp::AddAddress, 7, "192.168.1.141", "255.255.255.0").error,
              ERROR_NOT_SUPPORTED);
    EXPECT_THAT(pc.journal->Entries(), IsEmpty());
    EXPECT_EQ(pc.Routes(), routesBefore);
}

}  // namespace
}  // namespace kestrel::testing
