// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The privileged helper's session on a model of the kernel, as an ordinary user: what it does
// for a front end, what it refuses, and that what it takes off comes back exactly, whichever
// way the conversation ends.
#include "helper/session.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "helper/journal.h"
#include "netcfg/netcfg.h"
#include "platform/helper_client.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_kernel.h"
#include "tests/support/recording_wizard.h"

namespace kestrel {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using testing::FakeKernel;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

MIB_IPFORWARDROW Row(const std::string& dest, int prefix, const std::string& hop, DWORD ifIndex,
                     DWORD proto, DWORD metric) {
    MIB_IPFORWARDROW row{};
    row.dwForwardDest = inet_addr(dest.c_str());
    row.dwForwardMask = prefix ? htonl(~0u << (32 - prefix)) : 0;
    row.dwForwardNextHop = inet_addr(hop.c_str());
    row.dwForwardIfIndex = ifIndex;
    row.dwForwardType = row.dwForwardNextHop ? MIB_IPROUTE_TYPE_INDIRECT : MIB_IPROUTE_TYPE_DIRECT;
    row.dwForwardProto = proto;
    row.dwForwardNextHopAS = 254;
    row.dwForwardMetric1 = metric;
    row.dwForwardMetric2 = row.dwForwardMetric3 = row.dwForwardMetric4 = row.dwForwardMetric5 =
        0xFFFFFFFF;
    return row;
}

// A channel that hands each line to a session in this process, as the helper's main loop does.
class InProcessChannel final : public HelperChannel {
public:
    explicit InProcessChannel(HelperSession& session) : session_(session) {}
    bool Exchange(const std::string& request, std::string& reply) override {
        HelperRequest decoded;
        std::string why;
        if (!DecodeRequest(request, decoded, why)) return false;
        reply = EncodeReply(decoded.op, session_.Handle(decoded));
        return true;
    }

private:
    HelperSession& session_;
};

// A PC as NetworkManager leaves it: eth0 (2) holds 192.168.0.5/16 and 10.20.0.5/16 and a
// clashing route; eth1 (3) a DHCP lease with noprefixroute, its own subnet route and routes via
// the router's address; wlan0 (4) is wireless.
class HelperSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/kestrel-journal-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        folder_ = name;
        kernel.AddLink(2, "eth0");
        kernel.AddLink(3, "eth1");
        KernelLink wireless;
        wireless.index = 4;
        wireless.name = "wlan0";
        wireless.type = IF_TYPE_IEEE80211;
        wireless.up = wireless.carrier = true;
        kernel.AddLink(wireless);
        kernel.PutAddress("192.168.0.5/16 dev 2 brd 192.168.255.255");
        kernel.PutAddress("10.20.0.5/16 dev 2 brd 10.20.255.255");
        kernel.PutRoute("192.168.1.0/24 via 192.168.0.254 dev 2 proto static metric 50");
        kernel.PutAddress(
            "192.168.1.100/24 dev 3 brd 192.168.1.255 noprefixroute valid 3600 preferred 3600");
        kernel.PutRoute(
            "192.168.1.0/24 dev 3 proto kernel scope link src 192.168.1.100 metric 100");
        kernel.PutRoute("default via 192.168.1.1 dev 3 proto dhcp metric 100");
        kernel.PutRoute("10.9.0.0/16 via 192.168.1.1 dev 3 proto static");
        Open();
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    void Open() {
        std::string why;
        journal = Journal::Open(folder_, why);
        ASSERT_TRUE(journal) << why;
        session = std::make_unique<HelperSession>(
            kernel, *journal, [this](const std::string& line) { log.push_back(line); });
        channel = std::make_unique<InProcessChannel>(*session);
        client = std::make_unique<HelperIpHelper>(*channel);
    }
    // The helper dies with its journal on disk; a new one starts.
    void Crash() {
        client.reset();
        channel.reset();
        session.reset();
        journal.reset();
        Open();
    }
    std::vector<std::string> World() const {
        std::vector<std::string> world = kernel.AddressTexts();
        for (const std::string& route : kernel.RouteTexts()) world.push_back(route);
        // Lifetimes run on while a test runs; exactness of what comes back is what counts.
        for (std::string& line : world) line = line.substr(0, line.find(" valid"));
        std::sort(world.begin(), world.end());
        return world;
    }
    HelperReply Do(HelperRequest request) { return session->Handle(request); }
    HelperReply AddTemporary(DWORD ifIndex) {
        HelperRequest request;
        request.op = HelperOp::AddAddress;
        request.address = inet_addr("192.168.1.141");
        request.mask = inet_addr("255.255.255.0");
        request.ifIndex = ifIndex;
        return Do(request);
    }

    testing::FakeClock clock;
    FakeKernel kernel;
    std::string folder_;
    std::unique_ptr<Journal> journal;
    std::unique_ptr<HelperSession> session;
    std::unique_ptr<InProcessChannel> channel;
    std::unique_ptr<HelperIpHelper> client;
    std::vector<std::string> log;
};

// Each request a recovery makes is allowed; each one a little beside it is refused, and a
// refused request changes nothing.
TEST_F(HelperSessionTest, AllowsWhatARecoveryDoesAndRefusesTheRest) {
    HelperRequest adapters;
    adapters.op = HelperOp::Adapters;
    ASSERT_EQ(Do(adapters).error, NO_ERROR);  // contexts: 192.168.0.5 1, 10.20.0.5 2, .1.100 3

    auto add = [](const char* address, const char* mask, DWORD ifIndex) {
        HelperRequest r;
        r.op = HelperOp::AddAddress;
        r.address = inet_addr(address);
        r.mask = inet_addr(mask);
        r.ifIndex = ifIndex;
        return r;
    };
    auto erase = [](DWORD context) {
        HelperRequest r;
        r.op = HelperOp::DeleteAddress;
        r.context = context;
        return r;
    };
    auto route = [](HelperOp op, MIB_IPFORWARDROW row) {
        HelperRequest r;
        r.op = op;
        r.row = row;
        return r;
    };
    auto arp = [](const char* target, const char* source) {
        HelperRequest r;
        r.op = HelperOp::Arp;
        r.target = inet_addr(target);
        r.source = inet_addr(source);
        return r;
    };
    kernel.SetArpResponder([](int, IPAddr, IPAddr, std::uint8_t(&)[6]) { return 0; });
    const MIB_IPFORWARDROW clashing =
        Row("192.168.1.0", 24, "192.168.0.254", 2, MIB_IPPROTO_NETMGMT, 50);
    const MIB_IPFORWARDROW beside = Row("10.9.0.0", 16, "192.168.1.1", 3, MIB_IPPROTO_NETMGMT, 0);
    const MIB_IPFORWARDROW fallback = Row("0.0.0.0", 0, "192.168.1.1", 3, MIB_IPPROTO_OTHER, 100);
    const MIB_IPFORWARDROW unknown = Row("172.16.0.0", 12, "10.20.0.1", 2, MIB_IPPROTO_NETMGMT, 0);

    struct Case {
        const char* name;
        HelperRequest request;
        DWORD error;
    } cases[] = {
        {"temporary address on Ethernet", add("192.168.1.141", "255.255.255.0", 2), NO_ERROR},
        {"another address", add("192.168.1.142", "255.255.255.0", 2), ERROR_ACCESS_DENIED},
        {"temporary address, other mask", add("192.168.1.141", "255.255.255.128", 2),
         ERROR_ACCESS_DENIED},
        {"temporary address on wireless", add("192.168.1.141", "255.255.255.0", 4),
         ERROR_ACCESS_DENIED},
        {"ARP for the router from the temporary address", arp("192.168.1.1", "192.168.1.141"),
         NO_ERROR},
        {"ARP for another address", arp("192.168.1.2", "192.168.1.141"), ERROR_ACCESS_DENIED},
        {"ARP from another source", arp("192.168.1.1", "192.168.1.100"), ERROR_ACCESS_DENIED},
        {"a clashing address", erase(1), NO_ERROR},
        {"an address beside the subnet", erase(2), ERROR_ACCESS_DENIED},
        {"a clashing route", route(HelperOp::DeleteRoute, clashing), NO_ERROR},
        {"a route beside the subnet", route(HelperOp::DeleteRoute, beside), ERROR_ACCESS_DENIED},
        {"the default route", route(HelperOp::DeleteRoute, fallback), ERROR_ACCESS_DENIED},
        {"an address it took off", add("192.168.0.5", "255.255.0.0", 2), NO_ERROR},
        {"a route it took off", route(HelperOp::CreateRoute, clashing), NO_ERROR},
        {"a route it never took off", route(HelperOp::CreateRoute, unknown), ERROR_ACCESS_DENIED},
        {"another address, once more", add("10.1.1.1", "255.0.0.0", 2), ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        const auto before = kernel.Log().size();
        const HelperReply reply = Do(c.request);
        EXPECT_EQ(reply.error, c.error) << c.name << ": " << reply.message;
        if (c.error == ERROR_ACCESS_DENIED) {
            EXPECT_EQ(kernel.Log().size(), before) << c.name << " changed the kernel";
        }
    }
}

// Whatever a recovery took off comes back exactly: through the front end's restore, through
// the helper's own when its front end goes away, and through the next helper's replay when the
// helper itself died.
TEST_F(HelperSessionTest, PutsBackExactlyWhateverWayTheRecoveryEnds) {
    const std::vector<std::string> before = World();
    SetIpHelper(client.get());
    testing::RecordingWizard dlg;
    enum End { Restore, EndOfConversation, NextHelper };
    for (End end : {Restore, EndOfConversation, NextHelper}) {
        RemoveConflictingSettings(dlg);
        EXPECT_THAT(kernel.RouteTexts(), Not(Contains(HasSubstr("192.168.1."))))
            << "the PC still reaches into the router's subnet";
        if (end == Restore) RestoreNetworkSettings(dlg);
        if (end == EndOfConversation) {
            EXPECT_TRUE(session->RestoreAll());
        }
        if (end == NextHelper) {
            DiscardSavedSettings(dlg);
            Crash();
            SetIpHelper(client.get());
            EXPECT_TRUE(session->RestoreAll());
        }
        DiscardSavedSettings(dlg);
        EXPECT_EQ(World(), before) << "end " << end;
        EXPECT_THAT(journal->Entries(), IsEmpty());
    }
    SetIpHelper(nullptr);
}

// The restore puts the subnet route back before the routes via the gateway it reaches, and the
// system log holds each change as a command `ip` accepts.
TEST_F(HelperSessionTest, RestoresRoutesWithoutGatewayFirstAndLogsIpCommands) {
    SetIpHelper(client.get());
    testing::RecordingWizard dlg;
    RemoveConflictingSettings(dlg);
    kernel.ClearLog();
    RestoreNetworkSettings(dlg);
    SetIpHelper(nullptr);
    std::vector<std::string> eth1Routes;
    for (const std::string& line : kernel.Log())
        if (line.rfind("add route", 0) == 0 && line.find("dev 3") != std::string::npos)
            eth1Routes.push_back(line.substr(0, line.find(" via")));
    ASSERT_EQ(eth1Routes.size(), 3u);
    EXPECT_EQ(eth1Routes[0].find("via"), std::string::npos);
    EXPECT_THAT(log, ::testing::Contains(
                         "took off, to put back: ip -4 address add 192.168.1.100/24 brd "
                         "192.168.1.255 dev eth1 noprefixroute valid_lft 3600 preferred_lft 3600"));
    EXPECT_THAT(log, ::testing::Contains("put back: ip -4 route add default via 192.168.1.1 dev "
                                         "eth1 proto dhcp scope global metric 100"));
}

// A link that is down is brought up for its attempt and set down after it; without carrier
// the ARP step fails once the link has been up 3 s, without asking.
TEST_F(HelperSessionTest, BringsADownLinkUpForItsAttemptOnly) {
    KernelLink down;
    down.index = 5;
    down.name = "eth2";
    down.type = MIB_IF_TYPE_ETHERNET;
    kernel.AddLink(down);
    kernel.ClearLog();
    ASSERT_EQ(AddTemporary(5).error, NO_ERROR);
    HelperRequest arp;
    arp.op = HelperOp::Arp;
    arp.target = inet_addr("192.168.1.1");
    arp.source = inet_addr("192.168.1.141");
    const std::uint64_t start = clock.GetTickCount64();
    EXPECT_EQ(Do(arp).error, ERROR_BAD_NET_NAME);
    EXPECT_GE(clock.GetTickCount64() - start, 2900u);
    EXPECT_TRUE(session->RestoreAll());
    EXPECT_THAT(
        kernel.Log(),
        ElementsAre("link 5 up = 0", "add address 192.168.1.141/24 dev 5 brd 192.168.1.255 = 0",
                    "delete address 192.168.1.141/24 dev 5 = 0", "link 5 down = 0"));
}

// Deleting the temporary address when it is the link's last one must not take the PC's own
// routes on that link with it.
TEST_F(HelperSessionTest, TheTemporaryAddressTakesNoRouteOfThePc) {
    kernel.AddLink(6, "eth3");
    kernel.PutRoute("172.16.0.0/12 dev 6 scope link");
    ASSERT_EQ(AddTemporary(6).error, NO_ERROR);
    EXPECT_TRUE(session->RestoreAll());
    EXPECT_THAT(kernel.RouteTexts(), ::testing::Contains("172.16.0.0/12 dev 6 scope link"));
}

}  // namespace
}  // namespace kestrel
