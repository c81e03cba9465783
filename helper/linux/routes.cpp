// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// IPv4 routes of every table but the local one. The table is read with a plain dump, since
// libnl's route cache merges routes that differ only by link, and a route taken off comes back
// from the kernel's own message. New routes are appended, not exclusive: routes that differ only
// by their next hop share the kernel's key (table, destination, tos, metric), and each of them
// must be able to come back; the kernel still refuses an identical one with -EEXIST.
#include <linux/rtnetlink.h>
#include <netlink/addr.h>
#include <netlink/attr.h>
#include <netlink/msg.h>
#include <netlink/route/route.h>

#include <cerrno>

#include "helper/linux/linux_netkernel.h"
#include "helper/linux/rtnl.h"

namespace kestrel {
namespace {

// The kernel reports a dead or link-down next hop and its RTM_F_* reply flags, but refuses
// them on a new route.
constexpr unsigned kKeptFlags = RTNH_F_ONLINK | RTNH_F_PERVASIVE;

void KeepOnlyAcceptedFlags(nlattr* multipath) {
    auto* hop = static_cast<rtnexthop*>(nla_data(multipath));
    int remaining = nla_len(multipath);
    // RTNH_OK reads the hop's length before it looks at what is left.
    while (remaining >= static_cast<int>(sizeof(rtnexthop)) && RTNH_OK(hop, remaining)) {
        hop->rtnh_flags &= kKeptFlags;
        remaining -= static_cast<int>(RTNH_ALIGN(hop->rtnh_len));
        hop = RTNH_NEXT(hop);
    }
}

rtnl::Message Resent(const KernelRoute& route) {
    KernelBlob copy = route.raw;
    nlmsghdr* kernel = rtnl::MessageOf(copy, RTM_NEWROUTE, sizeof(rtmsg));
    if (!kernel) return nullptr;
    rtmsg header = *static_cast<const rtmsg*>(nlmsg_data(kernel));
    header.rtm_flags &= kKeptFlags;
    rtnl::Message request =
        rtnl::NewRequest(RTM_NEWROUTE, NLM_F_CREATE | NLM_F_APPEND, &header, sizeof header);
    if (!request) return nullptr;
    nlattr* attribute = nullptr;
    int remaining = 0;
    nlmsg_for_each_attr(attribute, kernel, sizeof(rtmsg), remaining) {
        const int type = nla_type(attribute);
        if (type == RTA_CACHEINFO) continue;
        if (type == RTA_MULTIPATH) KeepOnlyAcceptedFlags(attribute);
        if (nla_put(request.get(), attribute->nla_type, nla_len(attribute), nla_data(attribute)) <
            0)
            return nullptr;
    }
    return request;
}

// A request naming the route by its fields, its scope included: RT_SCOPE_NOWHERE would match any.
rtnl::Message Made(const KernelRoute& route, int type, int flags, std::uint8_t scope) {
    rtmsg header{};
    header.rtm_family = AF_INET;
    header.rtm_dst_len = static_cast<std::uint8_t>(route.prefix);
    header.rtm_tos = route.tos;
    // A table beyond the header's byte is named by RTA_TABLE alone.
    header.rtm_table = static_cast<std::uint8_t>(route.table < 256 ? route.table : RT_TABLE_UNSPEC);
    header.rtm_protocol = route.protocol;
    header.rtm_scope = scope;
    header.rtm_type = route.type;
    header.rtm_flags = route.onlink ? RTNH_F_ONLINK : 0;
    rtnl::Message request = rtnl::NewRequest(type, flags, &header, sizeof header);
    if (!request) return nullptr;
    nl_msg* message = request.get();
    if (nla_put_u32(message, RTA_TABLE, route.table) < 0 ||
        (route.prefix > 0 && nla_put_u32(message, RTA_DST, route.dst) < 0) ||
        (route.priority && nla_put_u32(message, RTA_PRIORITY, route.priority) < 0) ||
        (route.prefsrc && nla_put_u32(message, RTA_PREFSRC, route.prefsrc) < 0) ||
        (route.gateway && nla_put_u32(message, RTA_GATEWAY, route.gateway) < 0) ||
        (route.oif && nla_put_u32(message, RTA_OIF, static_cast<std::uint32_t>(route.oif)) < 0))
        return nullptr;
    return request;
}

}  // namespace

bool LinuxNetKernel::Routes(std::vector<KernelRoute>& routes) {
    rtmsg request{};
    request.rtm_family = AF_INET;
    std::vector<KernelBlob> messages;
    if (!rtnl::Dump(RTM_GETROUTE, &request, sizeof request, messages)) return false;
    routes.clear();
    for (KernelBlob& message : messages) {
        rtnl::Object object = rtnl::Parse(message);
        auto* route = reinterpret_cast<rtnl_route*>(object.get());
        // The local table is the kernel's own record of the addresses; cloned entries are caches.
        if (!route || rtnl_route_get_family(route) != AF_INET ||
            rtnl_route_get_table(route) == RT_TABLE_LOCAL ||
            (rtnl_route_get_flags(route) & RTM_F_CLONED))
            continue;
        KernelRoute entry;
        entry.table = rtnl_route_get_table(route);
        nl_addr* dst = rtnl_route_get_dst(route);
        entry.dst = rtnl::AddressOf(dst);
        entry.prefix = dst ? static_cast<int>(nl_addr_get_prefixlen(dst)) : 0;
        entry.tos = rtnl_route_get_tos(route);
        entry.protocol = rtnl_route_get_protocol(route);
        entry.scope = rtnl_route_get_scope(route);
        entry.type = rtnl_route_get_type(route);
        entry.priority = rtnl_route_get_priority(route);
        entry.prefsrc = rtnl::AddressOf(rtnl_route_get_pref_src(route));
        entry.nexthops = rtnl_route_get_nnexthops(route);
        unsigned flags = rtnl_route_get_flags(route);
        if (entry.nexthops > 0) {
            rtnl_nexthop* hop = rtnl_route_nexthop_n(route, 0);
            entry.gateway = rtnl::AddressOf(rtnl_route_nh_get_gateway(hop));
            entry.oif = rtnl_route_nh_get_ifindex(hop);
            flags |= rtnl_route_nh_get_flags(hop);
        }
        entry.onlink = (flags & RTNH_F_ONLINK) != 0;
        entry.raw = std::move(message);
        routes.push_back(std::move(entry));
    }
    return true;
}

int LinuxNetKernel::AddRoute(const KernelRoute& route) {
    if (route.raw.empty()) {
        rtnl::Message request = Made(route, RTM_NEWROUTE, NLM_F_CREATE | NLM_F_APPEND, route.scope);
        return request ? rtnl::Send(request.get()) : -ENOMEM;
    }
    if (!rtnl::MessageOf(route.raw, RTM_NEWROUTE, sizeof(rtmsg))) return -EINVAL;
    rtnl::Message request = Resent(route);
    return request ? rtnl::Send(request.get()) : -ENOMEM;
}

int LinuxNetKernel::DeleteRoute(const KernelRoute& route) {
    rtnl::Message request = Made(route, RTM_DELROUTE, 0, route.scope);
    return request ? rtnl::Send(request.get()) : -ENOMEM;
}

}  // namespace kestrel
