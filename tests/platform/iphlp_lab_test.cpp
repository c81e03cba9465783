// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The Linux IP Helper and DNS client in the lab's "pc" namespace (tests/lab/lab.sh). Run only
// through ctest, which builds the lab around this binary and removes it afterwards.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "netcfg/netcfg.h"
#include "platform/windns.h"
#include "tests/support/recording_wizard.h"

namespace kestrel {
namespace {

using testing::RecordingWizard;
using Lines = std::vector<std::string>;

std::string Shell(const std::string& command) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    char buffer[512];
    while (pipe && fgets(buffer, sizeof buffer, pipe.get())) out += buffer;
    return out;
}

std::string InRouter(const std::string& command) {
    return "ip netns exec \"$LAB_ROUTER\" " + command;
}

// Lines in sorted order; an address's lifetime line stays with its address.
Lines Normalised(const std::string& text) {
    Lines lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (line.find("valid_lft") != std::string::npos && !lines.empty())
            lines.back() += " |" + line;
        else
            lines.push_back(line);
        start = end + 1;
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

const IP_ADAPTER_INFO* Find(const IP_ADAPTER_INFO* list, const char* name) {
    for (; list; list = list->Next)
        if (std::string(list->AdapterName) == name) return list;
    return nullptr;
}

Lines AddressList(const IP_ADAPTER_INFO* adapter) {
    Lines out;
    for (const IP_ADDR_STRING* e = &adapter->IpAddressList; e; e = e->Next)
        out.push_back(std::string(e->IpAddress.String) + "/" + e->IpMask.String);
    return out;
}

TEST(LinuxAdapters, VethAndLoopbackLinksAsAnAdapterChain) {
    ULONG size = 0;
    ASSERT_EQ(GetAdaptersInfo(nullptr, &size), ERROR_BUFFER_OVERFLOW);
    ULONG small = size - 1;
    std::vector<char> block(size);
    auto* list = reinterpret_cast<IP_ADAPTER_INFO*>(block.data());
    EXPECT_EQ(GetAdaptersInfo(list, &small), ERROR_BUFFER_OVERFLOW);
    ASSERT_EQ(GetAdaptersInfo(list, &size), NO_ERROR);

    const IP_ADAPTER_INFO* lo = Find(list, "lo");
    const IP_ADAPTER_INFO* eth0 = Find(list, "eth0");
    const IP_ADAPTER_INFO* eth1 = Find(list, "eth1");
    ASSERT_TRUE(lo && eth0 && eth1);
    EXPECT_EQ(lo->Type, MIB_IF_TYPE_LOOPBACK);
    EXPECT_EQ(eth0->Type, MIB_IF_TYPE_ETHERNET);
    EXPECT_EQ(eth1->Index, if_nametoindex("eth1"));
    EXPECT_STREQ(eth1->Description, "eth1 (veth)");
    EXPECT_EQ(eth1->AddressLength, 6u);
    EXPECT_EQ(AddressList(lo), Lines{"127.0.0.1/255.0.0.0"});
    EXPECT_EQ(AddressList(eth0), (Lines{"192.168.0.5/255.255.0.0", "10.20.0.5/255.255.0.0"}));
    EXPECT_EQ(AddressList(eth1), Lines{"192.168.1.100/255.255.255.0"});
    EXPECT_STREQ(eth1->GatewayList.IpAddress.String, "192.168.1.1");
    EXPECT_STREQ(eth0->GatewayList.IpAddress.String, "0.0.0.0");
    EXPECT_NE(eth0->IpAddressList.Context, eth0->IpAddressList.Next->Context);
    EXPECT_LT(eth0->Index, eth1->Index);  // in ifindex order
}

TEST(LinuxAdapters, AddAndDeleteAnAddressByItsContext) {
    const DWORD eth0 = if_nametoindex("eth0");
    ULONG context = 0, instance = 0;
    ASSERT_EQ(
        AddIPAddress(inet_addr("10.99.0.7"), inet_addr("255.255.255.0"), eth0, &context, &instance),
        NO_ERROR);
    EXPECT_NE(Shell("ip -4 addr show dev eth0").find("inet 10.99.0.7/24 brd 10.99.0.255"),
              std::string::npos);
    EXPECT_EQ(
        AddIPAddress(inet_addr("10.99.0.7"), inet_addr("255.255.255.0"), eth0, &context, &instance),
        ERROR_OBJECT_ALREADY_EXISTS);

    // The snapshot's context names the same address.
    RecordingWizard dlg;
    std::unique_ptr<IP_ADAPTER_INFO, void (*)(void*)> snapshot(GetAdapterList(dlg), HeapFree);
    const IP_ADAPTER_INFO* adapter = Find(snapshot.get(), "eth0");
    ASSERT_NE(adapter, nullptr);
    DWORD seen = 0;
    for (const IP_ADDR_STRING* e = &adapter->IpAddressList; e; e = e->Next)
        if (std::string(e->IpAddress.String) == "10.99.0.7") seen = e->Context;
    EXPECT_EQ(seen, context);

    EXPECT_EQ(DeleteIPAddress(context), NO_ERROR);
    EXPECT_EQ(Shell("ip -4 addr show dev eth0").find("10.99.0.7"), std::string::npos);
    EXPECT_NE(DeleteIPAddress(context), NO_ERROR);  // already gone
    EXPECT_EQ(DeleteIPAddress(0), ERROR_INVALID_PARAMETER);
}

TEST(LinuxArp, AnsweredOnlyByTheAskedAddressWithinItsBound) {
    BYTE mac[8];
    ULONG length = 6;
    std::string routerMac = Shell(InRouter("cat /sys/class/net/eth0/address"));
    routerMac.erase(routerMac.find_last_not_of('\n') + 1);
    ASSERT_EQ(SendARP(inet_addr("192.168.1.1"), inet_addr("192.168.1.100"), mac, &length),
              NO_ERROR);
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    EXPECT_EQ(text, routerMac);
    EXPECT_EQ(length, 6u);

    struct Case {
        const char* dest;
        const char* source;  // 192.168.0.5 sits on eth0, whose far end holds nothing
    };
    for (const Case& c :
         {Case{"192.168.1.77", "192.168.1.100"}, Case{"192.168.1.1", "192.168.0.5"}}) {
        SCOPED_TRACE(std::string(c.dest) + " from " + c.source);
        const auto start = std::chrono::steady_clock::now();
        length = 6;
        EXPECT_EQ(SendARP(inet_addr(c.dest), inet_addr(c.source), mac, &length),
                  ERROR_BAD_NET_NAME);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - start)
                              .count();
        std::printf("SendARP %s from %s unanswered after %lld ms\n", c.dest, c.source,
                    static_cast<long long>(took));
        EXPECT_GE(took, 2900);
        EXPECT_LE(took, 4000);
    }
    EXPECT_EQ(SendARP(inet_addr("192.168.1.1"), inet_addr("10.1.2.3"), mac, &length),
              ERROR_NOT_FOUND);
}

// dnsmasq at the router's address, for as long as the object lives.
class RouterDns {
public:
    RouterDns() {
        pid_ = fork();
        if (pid_ == 0) {
            const char* router = std::getenv("LAB_ROUTER");
            execlp("ip", "ip", "netns", "exec", router, "dnsmasq", "--no-daemon", "--no-resolv",
                   "--no-hosts", "--conf-file=/dev/null",
                   "--pid-file=", "--host-record=router.kestrel.home,192.168.1.1",
                   "--listen-address=192.168.1.1", "--bind-interfaces", nullptr);
            _exit(127);
        }
        for (int i = 0; i < 50; ++i) {  // up to 5 s for it to listen
            if (Shell(InRouter("ss -lun")).find("192.168.1.1:53") != std::string::npos) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    ~RouterDns() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }

private:
    pid_t pid_ = -1;
};

TEST(LinuxResolver, AsksTheGatewayThroughItsOwnLink) {
    RecordingWizard dlg;
    const ULONG eth1 = if_nametoindex("eth1");
    EXPECT_EQ(CheckResolver(dlg, eth1), 0);  // nobody answers yet
    {
        RouterDns dns;
        // A host route and a better default route via the same gateway address on the other
        // link: neither the routes nor the gateway's address may pick the link for the query.
        Shell("ip route add 192.168.1.1/32 via 192.168.0.254 dev eth0");
        Shell("ip route add default via 192.168.1.1 dev eth0 onlink metric 50");
        EXPECT_EQ(CheckResolver(dlg, eth1), 1);
        Shell("ip route del default via 192.168.1.1 dev eth0 onlink metric 50");
        Shell("ip route del 192.168.1.1/32 via 192.168.0.254 dev eth0");
        EXPECT_EQ(CheckResolver(dlg, if_nametoindex("eth0")), 0);  // gateway 0.0.0.0

        IP4_ARRAY servers{1, {inet_addr("192.168.1.1")}};
        DNS_RECORDA* records = nullptr;
        EXPECT_EQ(DnsQuery_A(kSetupHostName, DNS_TYPE_A, DNS_QUERY_BYPASS_CACHE, &servers, &records,
                             nullptr, if_nametoindex("eth0")),
                  ERROR_TIMEOUT);  // bound to the dead end
        ASSERT_EQ(DnsQuery_A(kSetupHostName, DNS_TYPE_A, DNS_QUERY_BYPASS_CACHE, &servers, &records,
                             nullptr, eth1),
                  0);
        ASSERT_NE(records, nullptr);
        EXPECT_EQ(records->Data.A.IpAddress, inet_addr("192.168.1.1"));
        DnsFree(records, DnsFreeRecordList);
    }
    EXPECT_TRUE(dlg.Boxes().empty());
}

TEST(LinuxRemoveAndRestore, ThePcComesBackAsItWas) {
    const std::string addressesBefore = Shell("ip -4 addr");
    const std::string routesBefore = Shell("ip -4 route show table all");
    RecordingWizard dlg;

    RemoveConflictingSettings(dlg);
    const std::string addressesOff = Shell("ip -4 addr");
    const std::string routesOff = Shell("ip -4 route show table all");
    EXPECT_EQ(addressesOff.find("192.168.1.100"), std::string::npos);
    EXPECT_EQ(addressesOff.find("192.168.0.5"), std::string::npos);
    EXPECT_NE(addressesOff.find("10.20.0.5/16"), std::string::npos);  // no clash: untouched
    EXPECT_EQ(routesOff.find("default"), std::string::npos);
    EXPECT_EQ(routesOff.find("192.168.1.0/24"), std::string::npos);
    EXPECT_NE(routesOff.find("172.16.0.0/12 via 10.20.0.1 dev eth0 proto static"),
              std::string::npos);

    RestoreNetworkSettings(dlg);
    EXPECT_EQ(dlg.m_pSavedAddresses, nullptr);
    EXPECT_EQ(dlg.m_pSavedRoutes, nullptr);
    // The kernel keeps addresses and equal-prefix routes in the order they were made: compare
    // the settings, not that order.
    EXPECT_EQ(Normalised(Shell("ip -4 addr")), Normalised(addressesBefore));
    EXPECT_EQ(Normalised(Shell("ip -4 route show table all")), Normalised(routesBefore));
    std::printf("before:\n%s%safter:\n%s%s", addressesBefore.c_str(), routesBefore.c_str(),
                Shell("ip -4 addr").c_str(), Shell("ip -4 route show table all").c_str());
}

}  // namespace
}  // namespace kestrel
