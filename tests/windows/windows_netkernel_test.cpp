// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The helper's Windows kernel layer against a scripted IP Helper: what Wine cannot show (the
// changes, ARP, the error codes, tables that change between the two sizing calls).
#include "helper/windows/windows_netkernel.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <ranges>
#include <tuple>
#include <utility>

#include "platform/posix.h"
#include "platform/two_call.h"
#include "tests/support/fake_clock.h"

namespace kestrel::testing {
namespace {

IPAddr Ip(const char* dotted) {
    return inet_addr(dotted);
}

std::string Dotted(IPAddr address) {
    in_addr in{};
    in.s_addr = address;
    return inet_ntoa(in);
}

template <typename T>
KernelBlob Bytes(const T& object) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&object);
    return KernelBlob(bytes, bytes + sizeof object);
}

// With an age (42): the system's to count, a row put back must not carry it.
MIB_IPFORWARDROW Row(const char* dest, const char* mask, const char* nextHop, DWORD ifIndex,
                     DWORD metric, DWORD type = MIB_IPROUTE_TYPE_INDIRECT,
                     DWORD proto = MIB_IPPROTO_NETMGMT) {
    return {Ip(dest), Ip(mask), 0, Ip(nextHop), ifIndex, type, proto, 42, 0, metric, 0, 0, 0, 0};
}

// The address, its mask and its NTE context.
using ScriptedAddress = std::tuple<IPAddr, IPMask, ULONG>;

struct ScriptedAdapter {
    DWORD index = 0;
    std::string name, description;
    std::vector<BYTE> mac;
    std::vector<ScriptedAddress> addresses = {};
    UINT type = MIB_IF_TYPE_ETHERNET;
    DWORD adminStatus = kAdminStatusUp;
    DWORD operStatus = kOperStatusOperational;
};

const std::vector<std::uint8_t> kArpMac = {0x02, 0x00, 0x5e, 0x00, 0x01, 0x01};

// An IP Helper with a model of its own adapters, addresses and routes, behaving as the
// documentation describes (two-call sizing, a new context for every address added), with scripted
// results, a hook between a sizing call and the next, and a log of SendARP.
class ScriptedIpHelper final : public IpHelperApi {
public:
    std::vector<ScriptedAdapter> adapters;
    std::vector<MIB_IPFORWARDROW> routes;
    // Results to give instead of doing the call, by function name.
    std::map<std::string, DWORD> results;
    // Runs after every "too small" answer, before the caller comes back.
    std::function<void()> afterSizing;
    // SendARP: the answers in turn (NO_ERROR answers with kArpMac), then ERROR_BAD_NET_NAME;
    // every call first lets `onArp` run (a real one blocks a while).
    std::vector<DWORD> arpResults;
    std::function<void()> onArp;
    std::vector<std::string> calls;  // SendARP's

    ScriptedAdapter* Adapter(DWORD index) {
        auto found = std::ranges::find(adapters, index, &ScriptedAdapter::index);
        return found == adapters.end() ? nullptr : &*found;
    }

    DWORD GetAdaptersInfo(IP_ADAPTER_INFO* info, ULONG* size) override {
        if (results.contains("GetAdaptersInfo")) return results["GetAdaptersInfo"];
        if (adapters.empty()) return ERROR_NO_DATA;
        std::size_t extra = 0;
        for (const ScriptedAdapter& adapter : adapters)
            extra += BeyondFirst(adapter.addresses.size());
        auto* more = TwoCallBlock<IP_ADDR_STRING>(info, size, adapters.size(), extra);
        if (!more) return TooSmall(ERROR_BUFFER_OVERFLOW);
        for (std::size_t i = 0; i < adapters.size(); ++i) {
            const ScriptedAdapter& adapter = adapters[i];
            info[i].Next = i + 1 < adapters.size() ? &info[i + 1] : nullptr;
            info[i].Index = adapter.index;
            std::strcpy(info[i].AdapterName, adapter.name.c_str());
            std::strcpy(info[i].Description, adapter.description.c_str());
            info[i].AddressLength = static_cast<UINT>(adapter.mac.size());
            std::ranges::copy(adapter.mac, info[i].Address);
            info[i].Type = adapter.type;
            // An adapter without an address lists 0.0.0.0.
            Fill(info[i].IpAddressList,
                 adapter.addresses.empty() ? ScriptedAddress{} : adapter.addresses.front());
            for (IP_ADDR_STRING* last = &info[i].IpAddressList;
                 const ScriptedAddress& address : adapter.addresses | std::views::drop(1)) {
                Fill(*more, address);
                last = last->Next = more++;
            }
        }
        return NO_ERROR;
    }
    DWORD GetIfEntry(MIB_IFROW* row) override {
        const ScriptedAdapter* adapter = Adapter(row->dwIndex);
        if (!adapter) return ERROR_NOT_FOUND;
        row->dwAdminStatus = adapter->adminStatus;
        row->dwOperStatus = adapter->operStatus;
        return NO_ERROR;
    }
    DWORD SetIfEntry(MIB_IFROW* row) override {
        if (results.contains("SetIfEntry")) return results["SetIfEntry"];
        ScriptedAdapter* adapter = Adapter(row->dwIndex);
        if (!adapter) return ERROR_NOT_FOUND;
        adapter->adminStatus = row->dwAdminStatus;
        return NO_ERROR;
    }
    DWORD AddIPAddress(IPAddr address, IPMask mask, DWORD ifIndex, ULONG* nteContext,
                       ULONG* nteInstance) override {
        if (results.contains("AddIPAddress")) return results["AddIPAddress"];
        ScriptedAdapter* adapter = Adapter(ifIndex);
        if (!adapter) return ERROR_INVALID_PARAMETER;
        adapter->addresses.emplace_back(address, mask, nextContext_);
        *nteContext = *nteInstance = nextContext_++;
        return NO_ERROR;
    }
    DWORD DeleteIPAddress(ULONG nteContext) override {
        if (results.contains("DeleteIPAddress")) return results["DeleteIPAddress"];
        for (ScriptedAdapter& adapter : adapters)
            if (std::erase_if(adapter.addresses, [&](auto& a) { return get<2>(a) == nteContext; }))
                return NO_ERROR;
        return ERROR_NOT_FOUND;
    }
    DWORD GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL) override {
        if (results.contains("GetIpForwardTable")) return results["GetIpForwardTable"];
        if (routes.empty()) return ERROR_NO_DATA;
        if (!TwoCallBlock<MIB_IPFORWARDROW>(table, size, 1, BeyondFirst(routes.size())))
            return TooSmall(ERROR_INSUFFICIENT_BUFFER);
        table->dwNumEntries = static_cast<DWORD>(routes.size());
        std::ranges::copy(routes, table->table);
        return NO_ERROR;
    }
    DWORD CreateIpForwardEntry(MIB_IPFORWARDROW* route) override {
        if (results.contains("CreateIpForwardEntry")) return results["CreateIpForwardEntry"];
        routes.push_back(*route);
        return NO_ERROR;
    }
    DWORD DeleteIpForwardEntry(MIB_IPFORWARDROW* route) override {
        if (results.contains("DeleteIpForwardEntry")) return results["DeleteIpForwardEntry"];
        // The system keys a route by its first fields: destination, mask, policy, next hop and
        // adapter.
        const auto found = std::ranges::find_if(routes, [&](const MIB_IPFORWARDROW& row) {
            return std::memcmp(&row, route, offsetof(MIB_IPFORWARDROW, dwForwardType)) == 0;
        });
        if (found == routes.end()) return ERROR_NOT_FOUND;
        routes.erase(found);
        return NO_ERROR;
    }
    DWORD SendARP(IPAddr destIP, IPAddr srcIP, void* macAddr, ULONG* physAddrLen) override {
        calls.push_back("SendARP " + Dotted(destIP) + " from " + Dotted(srcIP));
        if (onArp) onArp();
        const std::size_t turn = calls.size() - 1;
        const DWORD result = turn < arpResults.size() ? arpResults[turn] : ERROR_BAD_NET_NAME;
        if (result == NO_ERROR) {
            std::ranges::copy(kArpMac, static_cast<BYTE*>(macAddr));
            *physAddrLen = static_cast<ULONG>(kArpMac.size());
        }
        return result;
    }

private:
    DWORD TooSmall(DWORD result) {
        if (afterSizing) afterSizing();
        return result;
    }
    static void Fill(IP_ADDR_STRING& entry, const ScriptedAddress& address) {
        std::strcpy(entry.IpAddress.String, Dotted(get<0>(address)).c_str());
        std::strcpy(entry.IpMask.String, Dotted(get<1>(address)).c_str());
        entry.Context = get<2>(address);
    }
    ULONG nextContext_ = 100;
};

// A PC whose wired adapter (7) holds 192.168.1.100/24 and 10.0.0.5/8, with a default route
// through 192.168.1.1, beside a wireless adapter (9) without an address.
struct World {
    FakeClock clock;
    ScriptedIpHelper api;
    WindowsNetKernel kernel{api};
    World() {
        api.adapters = {{7, "{A1B2}", "Intel(R) Ethernet Connection", {0, 0x1b, 0x21, 10, 11, 12}},
                        {9, "{C3D4}", "Wireless-AC 9560", {0, 0x21, 0x6a, 1, 2, 3}}};
        api.adapters[0].addresses = {{Ip("192.168.1.100"), Ip("255.255.255.0"), 11},
                                     {Ip("10.0.0.5"), Ip("255.0.0.0"), 12}};
        api.adapters[1].type = IF_TYPE_IEEE80211;
        api.adapters[1].operStatus = 2;  // disconnected
        api.routes = {Row("0.0.0.0", "0.0.0.0", "192.168.1.1", 7, 25),
                      Row("192.168.1.0", "255.255.255.0", "192.168.1.100", 7, 281,
                          MIB_IPROUTE_TYPE_DIRECT, MIB_IPPROTO_LOCAL),
                      Row("10.0.0.0", "255.0.0.0", "10.0.0.5", 7, 281, MIB_IPROUTE_TYPE_DIRECT,
                          MIB_IPPROTO_LOCAL)};
    }
};

TEST(WindowsKernelReads, AdaptersBecomeLinksWithTheirStates) {
    World world;  // 7 up and operational, 9 up and disconnected
    world.api.adapters.push_back({11, "{E5F6}", "USB", {2, 0, 0, 0, 0, 1}});
    world.api.adapters[2].operStatus = kOperStatusConnected;
    world.api.adapters.push_back({12, "{A7B8}", "Off", {2, 0, 0, 0, 0, 2}});
    world.api.adapters[3].adminStatus = kAdminStatusDown;
    world.api.adapters[3].operStatus = 0;  // non-operational
    std::vector<KernelLink> links;
    ASSERT_TRUE(world.kernel.Links(links));
    using Fields = std::tuple<int, std::string, std::string, std::vector<BYTE>, UINT, bool, bool>;
    std::vector<Fields> expected, got;
    const bool up[] = {true, true, true, false}, carrier[] = {true, false, true, false};
    for (std::size_t i = 0; i < world.api.adapters.size(); ++i) {
        const ScriptedAdapter& a = world.api.adapters[i];
        expected.emplace_back(a.index, a.name, a.description, a.mac, a.type, up[i], carrier[i]);
    }
    for (const KernelLink& l : links)
        got.emplace_back(l.index, l.name, l.description, l.mac, l.type, l.up, l.carrier);
    EXPECT_EQ(got, expected);
}

TEST(WindowsKernelReads, RoutesKeepTheirRowsAndSayWhatTheyAre) {
    World world;
    world.api.routes.push_back(
        Row("192.168.1.0", "255.255.255.0", "0.0.0.0", 7, 5, MIB_IPROUTE_TYPE_INVALID));
    std::vector<KernelRoute> routes;
    ASSERT_TRUE(world.kernel.Routes(routes));
    // destination, prefix, gateway, source, type, scope, protocol, metric, link, row
    using Fields =
        std::tuple<IPAddr, int, IPAddr, IPAddr, int, int, int, std::uint32_t, int, KernelBlob>;
    std::vector<Fields> got,
        expected = {{0, 0, Ip("192.168.1.1"), 0, 1, 0, 4, 25, 7, {}},
                    {Ip("192.168.1.0"), 24, 0, Ip("192.168.1.100"), 1, 253, 2, 281, 7, {}},
                    {Ip("10.0.0.0"), 8, 0, Ip("10.0.0.5"), 1, 253, 2, 281, 7, {}},
                    {Ip("192.168.1.0"), 24, 0, 0, 6, 0, 4, 5, 7, {}}};
    for (std::size_t i = 0; i < expected.size(); ++i)
        std::get<KernelBlob>(expected[i]) = Bytes(world.api.routes[i]);
    for (const KernelRoute& r : routes)
        got.emplace_back(r.dst, r.prefix, r.gateway, r.prefsrc, r.type, r.scope, r.protocol,
                         r.priority, r.oif, r.raw);
    EXPECT_EQ(got, expected);
}

// The sizing protocol: a table that grows between the calls is asked for again, a bounded
// number of times; an empty one is no failure, a refusal is.
TEST(WindowsKernelReads, TwoCallSizingFollowsATableThatGrows) {
    // `growths`: how many "too small" answers add a row before the next call; `refusal`: the
    // answer instead of the table, if any; `rows`: what is read, -1 when the read fails.
    for (const auto& [name, ofRoutes, growths, refusal, rows] :
         std::vector<std::tuple<const char*, bool, int, DWORD, int>>{
             {"adapters, steady", false, 0, 0, 2},
             {"adapters, grew twice", false, 2, 0, 4},
             {"adapters, always growing", false, 100, 0, -1},
             {"adapters, none", false, 0, ERROR_NO_DATA, 0},
             {"adapters, refused", false, 0, ERROR_ACCESS_DENIED, -1},
             {"routes, steady", true, 0, 0, 3},
             {"routes, grew twice", true, 2, 0, 5},
             {"routes, always growing", true, 100, 0, -1},
             {"routes, none", true, 0, ERROR_NO_DATA, 0},
             {"routes, failed", true, 0, ERROR_GEN_FAILURE, -1}}) {
        World world;
        if (refusal)
            world.api.results[ofRoutes ? "GetIpForwardTable" : "GetAdaptersInfo"] = refusal;
        int grown = 0;
        world.api.afterSizing = [&, ofRoutes = ofRoutes, growths = growths] {
            if (grown++ >= growths) return;
            if (ofRoutes)
                world.api.routes.push_back(Row("172.16.0.0", "255.255.0.0", "10.0.0.1", 7, grown));
            else
                world.api.adapters.push_back({static_cast<DWORD>(20 + grown), "{E5F6}", "", {}});
        };
        // Each starts with a stale entry, which a read must not leave behind.
        std::vector<KernelRoute> routes{KernelRoute{}};
        std::vector<KernelLink> links{KernelLink{}};
        const bool read = ofRoutes ? world.kernel.Routes(routes) : world.kernel.Links(links);
        EXPECT_EQ(read ? static_cast<int>(ofRoutes ? routes.size() : links.size()) : -1, rows)
            << name;
    }
}

// The session understands negative errnos; the IP Helper speaks Windows results. What a missing
// object comes to depends on the change.
TEST(WindowsKernelChanges, ResultsBecomeTheErrnosTheSessionKnows) {
    // AddIPAddress, DeleteIPAddress, CreateIpForwardEntry, DeleteIpForwardEntry, SetIfEntry
    const auto same = [](int e) { return std::vector<int>(5, e); };
    for (const auto& [result, expected] : std::vector<std::pair<DWORD, std::vector<int>>>{
             {ERROR_NOT_SUPPORTED, same(-EOPNOTSUPP)},  // Wine
             {ERROR_OBJECT_ALREADY_EXISTS, same(-EEXIST)},
             {ERROR_ACCESS_DENIED, same(-EPERM)},
             {ERROR_INVALID_PARAMETER, same(-EINVAL)},
             {ERROR_NOT_ENOUGH_MEMORY, same(-ENOMEM)},
             {1231, same(-ENETUNREACH)},
             {1234, same(-EIO)},
             {ERROR_NOT_FOUND, {-ENODEV, -EADDRNOTAVAIL, -ENODEV, -ESRCH, -ENODEV}}}) {
        World world;
        for (const char* call : {"AddIPAddress", "DeleteIPAddress", "CreateIpForwardEntry",
                                 "DeleteIpForwardEntry", "SetIfEntry"})
            world.api.results[call] = result;
        std::vector<KernelAddress> addresses;
        std::vector<KernelRoute> routes;
        ASSERT_TRUE(world.kernel.Addresses(addresses));
        ASSERT_TRUE(world.kernel.Routes(routes));
        WindowsNetKernel& kernel = world.kernel;
        EXPECT_EQ((std::vector{kernel.AddAddress(addresses[0]), kernel.DeleteAddress(addresses[0]),
                               kernel.AddRoute(routes[0]), kernel.DeleteRoute(routes[0]),
                               kernel.SetLinkUp(7, true)}),
                  expected)
            << result;
    }
}

TEST(WindowsKernelAddresses, AreReadWithTheirContextsAndDeletedByTheOneTheyHaveNow) {
    World world;
    std::vector<KernelAddress> before;
    ASSERT_TRUE(world.kernel.Addresses(before));
    using Fields = std::tuple<int, IPAddr, int, IPAddr, KernelBlob>;
    std::vector<Fields> got;
    for (const KernelAddress& a : before)
        got.emplace_back(a.ifIndex, a.local, a.prefix, a.broadcast, a.raw);
    // The wireless adapter lists 0.0.0.0: it holds no address.
    ASSERT_EQ(got, (std::vector<Fields>{
                       {7, Ip("192.168.1.100"), 24, Ip("192.168.1.255"), Bytes(ULONG{11})},
                       {7, Ip("10.0.0.5"), 8, Ip("10.255.255.255"), Bytes(ULONG{12})}}));
    // Taken off and put back, by someone else: the address has a new context.
    ASSERT_EQ(world.kernel.DeleteAddress(before[0]), 0);
    ASSERT_EQ(world.kernel.AddAddress(before[0]), 0);
    ASSERT_EQ(world.kernel.DeleteAddress(before[0]), 0);
    // Gone now: nothing to ask the IP Helper.
    EXPECT_EQ(world.kernel.DeleteAddress(before[0]), -EADDRNOTAVAIL);
    KernelAddress otherPrefix = before[1];
    otherPrefix.prefix = 16;
    EXPECT_EQ(world.kernel.DeleteAddress(otherPrefix), -EADDRNOTAVAIL);
    EXPECT_EQ(world.api.adapters[0].addresses,
              (std::vector<ScriptedAddress>{{Ip("10.0.0.5"), Ip("255.0.0.0"), 12}}));
}

TEST(WindowsKernelChanges, ARouteComesBackAsItsRowWasRead) {
    World world;
    std::vector<KernelRoute> routes;
    ASSERT_TRUE(world.kernel.Routes(routes));
    // The subnet's route, as the system made it with the address.
    MIB_IPFORWARDROW expected = world.api.routes[1];
    ASSERT_EQ(world.kernel.DeleteRoute(routes[1]), 0);
    ASSERT_EQ(world.kernel.AddRoute(routes[1]), 0);
    // The age is the system's; CreateIpForwardEntry takes no protocol but this one.
    expected.dwForwardAge = 0;
    expected.dwForwardProto = MIB_IPPROTO_NETMGMT;
    EXPECT_EQ(Bytes(world.api.routes.back()), Bytes(expected));
    // A route the helper makes itself is made from its fields.
    KernelRoute made;
    std::tie(made.dst, made.prefix, made.oif, made.priority) =
        std::tuple(Ip("192.168.1.0"), 24, 9, 10);
    ASSERT_EQ(world.kernel.AddRoute(made), 0);
    const MIB_IPFORWARDROW& row = world.api.routes.back();
    EXPECT_EQ(std::tuple(row.dwForwardDest, row.dwForwardMask, row.dwForwardIfIndex,
                         row.dwForwardType, row.dwForwardMetric1),
              std::tuple(made.dst, Ip("255.255.255.0"), DWORD{9}, DWORD{MIB_IPROUTE_TYPE_DIRECT},
                         DWORD{10}));
}

// The route through 10.0.0.1 has the lower metric: the first delete takes it.
TEST(WindowsKernelChanges, ADeleteTakesTheLowestMetricOfTheRoutesItNames) {
    World world;
    world.api.routes.push_back(Row("0.0.0.0", "0.0.0.0", "10.0.0.1", 7, 5));
    KernelRoute named;  // the default route, any gateway, any metric
    ASSERT_EQ(world.kernel.DeleteRoute(named), 0);
    named.gateway = Ip("10.0.0.1");
    EXPECT_EQ(world.kernel.DeleteRoute(named), -ESRCH);
    named.gateway = 0;
    ASSERT_EQ(world.kernel.DeleteRoute(named), 0);
    EXPECT_EQ(world.kernel.DeleteRoute(named), -ESRCH);
}

TEST(WindowsKernelChanges, ALinkIsSetUpAndDownThroughItsAdminStatus) {
    World world;
    EXPECT_EQ(world.kernel.SetLinkUp(9, false), 0);
    EXPECT_EQ(world.api.adapters[1].adminStatus, kAdminStatusDown);
    EXPECT_EQ(world.kernel.SetLinkUp(9, true), 0);
    EXPECT_EQ(world.api.adapters[1].adminStatus, kAdminStatusUp);
    EXPECT_EQ(world.kernel.SetLinkUp(4, true), -ENODEV);
}

// Each SendARP waits a second; the wait is three. The front end's requests come on a pipe: a
// request, or the pipe closing, ends the wait.
TEST(WindowsKernelArp, AsksAgainUntilTheRouterAnswersTimeRunsOutOrTheFrontEndActs) {
    enum FrontEnd { kWaits, kSpeaks, kGoes };
    // `calls`: how many SendARP; `answers`: theirs in turn.
    for (const auto& [name, frontEnd, expected, calls, answers] :
         std::vector<std::tuple<const char*, FrontEnd, int, std::size_t, std::vector<DWORD>>>{
             {"answers at once", kWaits, 0, 1, {NO_ERROR}},
             {"answers the third time", kWaits, 0, 3, {ERROR_BAD_NET_NAME, ERROR_GEN_FAILURE, 0}},
             {"never answers", kWaits, -ETIMEDOUT, 3, {}},
             {"not supported (Wine)", kWaits, -EOPNOTSUPP, 1, {ERROR_NOT_SUPPORTED}},
             {"refused", kWaits, -EPERM, 1, {ERROR_ACCESS_DENIED}},
             {"the front end speaks", kSpeaks, -ECANCELED, 1, {}},
             {"the front end goes", kGoes, -ECANCELED, 1, {}}}) {
        World world;
        int ends[2] = {-1, -1};
        ASSERT_EQ(::_pipe(ends, 256, _O_BINARY), 0);
        world.api.arpResults = answers;
        world.api.onArp = [&, frontEnd = frontEnd] {
            world.clock.Advance(1000);
            if (frontEnd == kSpeaks) {
                ASSERT_EQ(::_write(ends[1], "{}\n", 3), 3);
            }
            if (frontEnd == kGoes) ::_close(std::exchange(ends[1], -1));
        };
        std::uint8_t mac[6] = {};
        const int result =
            world.kernel.Arp(7, Ip("192.168.1.1"), Ip("192.168.1.141"), mac, 3000, ends[0]);
        EXPECT_EQ(
            std::tuple(result, world.api.calls, std::vector<std::uint8_t>(mac, mac + 6)),
            std::tuple(expected,
                       std::vector<std::string>(calls, "SendARP 192.168.1.1 from 192.168.1.141"),
                       expected ? std::vector<std::uint8_t>(6) : kArpMac))
            << name;
        for (int end : ends)
            if (end >= 0) ::_close(end);
    }
}

}  // namespace
}  // namespace kestrel::testing
