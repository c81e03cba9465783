// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The IPv4 route table as rows. Every route read is kept whole beside its row, so that deleting
// and re-creating it by that row brings back protocol, scope, type, preferred source, table and
// metrics exactly.
#include <arpa/inet.h>
#include <linux/rtnetlink.h>
#include <netlink/addr.h>
#include <netlink/route/route.h>

#include <cstring>

#include "platform/netlink.h"

namespace kestrel {
namespace {

constexpr DWORD kUnusedMetric = 0xFFFFFFFF;
// Flags the kernel reports but refuses on a new route.
constexpr unsigned kKeptFlags = RTNH_F_ONLINK | RTNH_F_PERVASIVE;

struct AddrRelease {
    void operator()(nl_addr* address) const { nl_addr_put(address); }
};
using NlAddr = std::unique_ptr<nl_addr, AddrRelease>;

IPAddr AddressOf(nl_addr* address) {
    IPAddr value = 0;
    if (address && nl_addr_get_len(address) == sizeof value)
        std::memcpy(&value, nl_addr_get_binary_addr(address), sizeof value);
    return value;
}

DWORD ProtoOf(unsigned protocol) {
    switch (protocol) {
        case RTPROT_KERNEL:
            return MIB_IPPROTO_LOCAL;
        case RTPROT_BOOT:
        case RTPROT_STATIC:
            return MIB_IPPROTO_NETMGMT;
        default:
            return MIB_IPPROTO_OTHER;
    }
}

MIB_IPFORWARDROW RowOf(rtnl_route* route) {
    MIB_IPFORWARDROW row{};
    nl_addr* dst = rtnl_route_get_dst(route);
    const int prefix = dst ? static_cast<int>(nl_addr_get_prefixlen(dst)) : 0;
    row.dwForwardDest = AddressOf(dst);
    row.dwForwardMask = prefix <= 0 ? 0 : htonl(~std::uint32_t{0} << (32 - prefix));
    row.dwForwardPolicy = rtnl_route_get_tos(route);
    if (rtnl_route_get_nnexthops(route) > 0) {
        rtnl_nexthop* hop = rtnl_route_nexthop_n(route, 0);
        row.dwForwardNextHop = AddressOf(rtnl_route_nh_get_gateway(hop));
        row.dwForwardIfIndex = static_cast<DWORD>(rtnl_route_nh_get_ifindex(hop));
    }
    switch (rtnl_route_get_type(route)) {
        case RTN_UNICAST:
        case RTN_LOCAL:
        case RTN_BROADCAST:
        case RTN_MULTICAST:
            row.dwForwardType =
                row.dwForwardNextHop ? MIB_IPROUTE_TYPE_INDIRECT : MIB_IPROUTE_TYPE_DIRECT;
            break;
        case RTN_BLACKHOLE:
        case RTN_UNREACHABLE:
        case RTN_PROHIBIT:
            row.dwForwardType = MIB_IPROUTE_TYPE_INVALID;
            break;
        default:
            row.dwForwardType = MIB_IPROUTE_TYPE_OTHER;
    }
    row.dwForwardProto = ProtoOf(rtnl_route_get_protocol(route));
    row.dwForwardNextHopAS = rtnl_route_get_table(route);
    row.dwForwardMetric1 = rtnl_route_get_priority(route);
    row.dwForwardMetric2 = row.dwForwardMetric3 = row.dwForwardMetric4 = row.dwForwardMetric5 =
        kUnusedMetric;
    return row;
}

// A route made from a row alone, for rows this process never read.
NlObject RouteFromRow(const MIB_IPFORWARDROW& row) {
    rtnl_route* route = rtnl_route_alloc();
    if (!route) return nullptr;
    NlObject holder(reinterpret_cast<nl_object*>(route));
    const std::uint32_t mask = ntohl(row.dwForwardMask);
    const int prefix = __builtin_popcount(mask);
    NlAddr dst(nl_addr_build(AF_INET, &row.dwForwardDest, sizeof row.dwForwardDest));
    nl_addr_set_prefixlen(dst.get(), prefix);
    rtnl_route_set_family(route, AF_INET);
    rtnl_route_set_dst(route, dst.get());
    rtnl_route_set_tos(route, static_cast<std::uint8_t>(row.dwForwardPolicy));
    rtnl_route_set_table(route, row.dwForwardNextHopAS ? row.dwForwardNextHopAS : RT_TABLE_MAIN);
    rtnl_route_set_protocol(route,
                            row.dwForwardProto == MIB_IPPROTO_LOCAL ? RTPROT_KERNEL : RTPROT_BOOT);
    rtnl_route_set_priority(route, row.dwForwardMetric1);
    rtnl_route_set_type(
        route, row.dwForwardType == MIB_IPROUTE_TYPE_INVALID ? RTN_UNREACHABLE : RTN_UNICAST);
    rtnl_route_set_scope(route, row.dwForwardNextHop ? RT_SCOPE_UNIVERSE : RT_SCOPE_LINK);
    if (row.dwForwardType != MIB_IPROUTE_TYPE_INVALID) {
        rtnl_nexthop* hop = rtnl_route_nh_alloc();
        if (!hop) return nullptr;
        rtnl_route_nh_set_ifindex(hop, static_cast<int>(row.dwForwardIfIndex));
        if (row.dwForwardNextHop) {
            NlAddr gateway(
                nl_addr_build(AF_INET, &row.dwForwardNextHop, sizeof row.dwForwardNextHop));
            rtnl_route_nh_set_gateway(hop, gateway.get());
        }
        rtnl_route_add_nexthop(route, hop);
    }
    return holder;
}

}  // namespace

LinuxIpHelper::RowKey LinuxIpHelper::KeyOf(const MIB_IPFORWARDROW& row) {
    RowKey key{};
    std::memcpy(key.data(), &row, sizeof row);
    return key;
}

DWORD LinuxIpHelper::GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL) {
    if (!size) return ERROR_INVALID_PARAMETER;
    NlSocket socket = ConnectRoute();
    if (!socket) return ERROR_GEN_FAILURE;
    std::vector<NlObject> routes;
    if (!DumpIPv4Routes(socket.get(), routes)) return ERROR_GEN_FAILURE;

    std::vector<MIB_IPFORWARDROW> rows;
    std::lock_guard<std::mutex> guard(lock_);
    for (NlObject& object : routes) {
        rtnl_route* route = AsRoute(object);
        // The local table is the kernel's own record of the PC's addresses.
        if (rtnl_route_get_table(route) == RT_TABLE_LOCAL) continue;
        const MIB_IPFORWARDROW row = RowOf(route);
        rows.push_back(row);
        rtnl_route_unset_flags(route, ~kKeptFlags);
        for (int n = 0; n < rtnl_route_get_nnexthops(route); ++n)
            rtnl_route_nh_unset_flags(rtnl_route_nexthop_n(route, n), ~kKeptFlags);
        routes_[KeyOf(row)] = std::move(object);
    }
    const std::size_t count = std::max<std::size_t>(rows.size(), 1);
    const auto needed =
        static_cast<ULONG>(sizeof(MIB_IPFORWARDTABLE) + (count - 1) * sizeof(MIB_IPFORWARDROW));
    if (!table || *size < needed) {
        *size = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    table->dwNumEntries = static_cast<DWORD>(rows.size());
    std::memcpy(table->table, rows.data(), rows.size() * sizeof(MIB_IPFORWARDROW));
    return NO_ERROR;
}

DWORD LinuxIpHelper::CreateIpForwardEntry(const MIB_IPFORWARDROW* row) {
    if (!row) return ERROR_INVALID_PARAMETER;
    NlSocket socket = ConnectRoute();
    if (!socket) return ERROR_GEN_FAILURE;
    std::lock_guard<std::mutex> guard(lock_);
    auto known = routes_.find(KeyOf(*row));
    NlObject route = known != routes_.end() ? NlObject(nl_object_clone(known->second.get()))
                                            : RouteFromRow(*row);
    if (!route) return ERROR_NOT_ENOUGH_MEMORY;
    return ErrorFromNl(rtnl_route_add(socket.get(), AsRoute(route), NLM_F_EXCL));
}

DWORD LinuxIpHelper::DeleteIpForwardEntry(const MIB_IPFORWARDROW* row) {
    if (!row) return ERROR_INVALID_PARAMETER;
    NlSocket socket = ConnectRoute();
    if (!socket) return ERROR_GEN_FAILURE;
    std::lock_guard<std::mutex> guard(lock_);
    auto known = routes_.find(KeyOf(*row));
    NlObject fromRow;
    rtnl_route* route = nullptr;
    if (known != routes_.end()) {
        route = AsRoute(known->second);
    } else {
        fromRow = RouteFromRow(*row);
        route = AsRoute(fromRow);
    }
    if (!route) return ERROR_NOT_ENOUGH_MEMORY;
    return ErrorFromNl(rtnl_route_delete(socket.get(), route, 0));
}

}  // namespace kestrel
