// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "helper/ip_text.h"

#include "helper/kernel_values.h"
#include "ipc/adapter_layout.h"

namespace kestrel {
namespace {

std::string Named(unsigned value, std::initializer_list<std::pair<unsigned, const char*>> names) {
    for (const auto& [number, name] : names)
        if (number == value) return name;
    return std::to_string(value);
}

std::string Scope(unsigned scope) {
    return Named(scope, {{RT_SCOPE_UNIVERSE, "global"},
                         {RT_SCOPE_SITE, "site"},
                         {RT_SCOPE_LINK, "link"},
                         {RT_SCOPE_HOST, "host"}});
}

}  // namespace

std::string AddressCommand(const std::string& verb, const KernelAddress& address,
                           const std::string& link) {
    std::string text = "ip -4 address " + verb + " " + Dotted(address.local) + "/" +
                       std::to_string(address.prefix);
    if (verb == "add") {
        if (address.broadcast) text += " brd " + Dotted(address.broadcast);
        if (address.scope != RT_SCOPE_UNIVERSE) text += " scope " + Scope(address.scope);
    }
    text += " dev " + link;
    if (verb != "add") return text;
    if (!address.label.empty() && address.label != link) text += " label " + address.label;
    if (address.metric) text += " metric " + std::to_string(address.metric);
    if (address.flags & IFA_F_NOPREFIXROUTE) text += " noprefixroute";
    if (address.flags & IFA_F_NODAD) text += " nodad";
    if (address.validLifetime != kForeverLifetime)
        text += " valid_lft " + std::to_string(address.validLifetime) + " preferred_lft " +
                std::to_string(address.preferredLifetime);
    return text;
}

std::string RouteCommand(const std::string& verb, const KernelRoute& route,
                         const std::string& link) {
    std::string text = "ip -4 route " + verb + " ";
    if (route.type != RTN_UNICAST)
        text += Named(route.type, {{RTN_LOCAL, "local"},
                                   {RTN_BROADCAST, "broadcast"},
                                   {RTN_ANYCAST, "anycast"},
                                   {RTN_MULTICAST, "multicast"},
                                   {RTN_BLACKHOLE, "blackhole"},
                                   {RTN_UNREACHABLE, "unreachable"},
                                   {RTN_PROHIBIT, "prohibit"},
                                   {RTN_THROW, "throw"}}) +
                " ";
    text += route.prefix == 0 && route.dst == 0
                ? std::string("default")
                : Dotted(route.dst) + "/" + std::to_string(route.prefix);
    if (route.tos) text += " tos " + std::to_string(route.tos);
    if (route.gateway) text += " via " + Dotted(route.gateway);
    if (route.oif && !link.empty()) text += " dev " + link;
    if (route.onlink) text += " onlink";
    text += " proto " + Named(route.protocol, {{RTPROT_KERNEL, "kernel"},
                                               {RTPROT_BOOT, "boot"},
                                               {RTPROT_STATIC, "static"},
                                               {RTPROT_RA, "ra"},
                                               {RTPROT_DHCP, "dhcp"}});
    text += " scope " + Scope(route.scope);
    if (route.prefsrc) text += " src " + Dotted(route.prefsrc);
    if (route.priority) text += " metric " + std::to_string(route.priority);
    if (route.table != RT_TABLE_MAIN) text += " table " + std::to_string(route.table);
    return text;
}

}  // namespace kestrel
