// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The kernel's IPv4 network objects as the privileged helper sees them: links, addresses and
// routes, each with the fields the helper decides on and the message the kernel reported, so
// that an object taken off comes back exactly as it was. Linux provides it over netlink
// (helper/linux/); unit tests use a model of the kernel (tests/support/).
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/iphlpapi.h"

namespace kestrel {

// An object as the kernel reported it (the netlink message of the dump). Opaque outside the
// kernel layer; the journal keeps it so that the object can be re-created byte for byte.
using KernelBlob = std::vector<std::uint8_t>;

inline constexpr std::uint32_t kForeverLifetime = 0xFFFFFFFF;
inline constexpr std::uint32_t kMainTable = 254;  // RT_TABLE_MAIN

struct KernelLink {
    int index = 0;
    std::string name;
    std::string description;  // "Intel ... (eth0, e1000e)", "eth1 (veth)", "lo"
    std::vector<std::uint8_t> mac;
    // As GetAdaptersInfo reports it: MIB_IF_TYPE_ETHERNET for wired Ethernet-like links
    // (bridges included); a link enslaved to a bridge, bond, team or VRF is MIB_IF_TYPE_OTHER,
    // since its address lives on the master.
    UINT type = MIB_IF_TYPE_OTHER;
    bool up = false;       // IFF_UP
    bool carrier = false;  // IFF_LOWER_UP
};

struct KernelAddress {
    int ifIndex = 0;
    IPAddr local = 0;  // network byte order
    int prefix = 0;
    IPAddr broadcast = 0;      // 0: none
    std::uint32_t flags = 0;   // IFA_F_* (secondary, noprefixroute, permanent, ...)
    std::uint8_t scope = 0;    // RT_SCOPE_*
    std::uint32_t metric = 0;  // IFA_RT_PRIORITY: the metric of its prefix route
    std::string label;
    // Seconds left when read, or when handed to AddAddress: what the new address gets.
    std::uint32_t validLifetime = kForeverLifetime;
    std::uint32_t preferredLifetime = kForeverLifetime;
    KernelBlob raw;  // empty for an address the helper makes itself
};

struct KernelRoute {
    std::uint32_t table = kMainTable;
    IPAddr dst = 0;  // network byte order
    int prefix = 0;
    std::uint8_t tos = 0;
    std::uint8_t protocol = 0;   // RTPROT_*
    std::uint8_t scope = 0;      // RT_SCOPE_*
    std::uint8_t type = 1;       // RTN_*; 1 is unicast
    std::uint32_t priority = 0;  // the metric
    IPAddr prefsrc = 0;
    // The first (usually only) next hop.
    IPAddr gateway = 0;
    int oif = 0;
    bool onlink = false;
    int nexthops = 1;
    KernelBlob raw;  // empty for a route the helper makes itself
};

// Results of the changes: 0, or a negative errno as netlink reports it (-EEXIST when the
// object is already there, -ESRCH or -EADDRNOTAVAIL when it is not, -ENETUNREACH when a route's
// gateway is out of reach, -EPERM without the rights).
class NetKernel {
public:
    virtual ~NetKernel() = default;

    // Whole dumps; false when the kernel could not be read. A dump that a concurrent change
    // interrupted (NLM_F_DUMP_INTR) is read again.
    virtual bool Links(std::vector<KernelLink>& links) = 0;
    virtual bool Addresses(std::vector<KernelAddress>& addresses) = 0;  // IPv4 only
    // IPv4 routes of every table but the local one, one entry per kernel route (never merged).
    virtual bool Routes(std::vector<KernelRoute>& routes) = 0;
    // One link, read alone: the description may stay empty, as it costs a question to every
    // link's driver. 0; -ENODEV when there is no such link; another negative errno when the
    // kernel could not be read.
    virtual int Link(int ifIndex, KernelLink& link) {
        std::vector<KernelLink> links;
        if (!Links(links)) return -EIO;
        for (KernelLink& each : links)
            if (each.index == ifIndex) {
                link = std::move(each);
                return 0;
            }
        return -ENODEV;
    }

    // An address with `raw` comes back as that message says, with the lifetimes, and the
    // metric, given here; one without is made from the fields.
    virtual int AddAddress(const KernelAddress& address) = 0;
    // By link, local address and prefix. With default sysctls the kernel takes along a primary
    // address's secondaries; with each address its prefix route and, once no link holds that
    // address, the main table's routes with it as preferred source; and from a link left
    // without any address, every route through it, in every table. Routes whose gateway is now
    // out of reach stay while the link keeps another address.
    virtual int DeleteAddress(const KernelAddress& address) = 0;
    // A route with `raw` comes back as that message says; one without is made from the fields.
    // The kernel keys routes by table, destination, tos and metric: a route that differs from
    // one already there only in its next hop, protocol or source goes in beside it, and only an
    // identical one gives -EEXIST.
    virtual int AddRoute(const KernelRoute& route) = 0;
    // The route with these table, destination, tos, metric, type, protocol, source and next
    // hop; a field left 0 matches any, and of several matches the one with the lowest metric goes.
    virtual int DeleteRoute(const KernelRoute& route) = 0;
    // Down takes every route through the link; up brings back only its prefix routes.
    virtual int SetLinkUp(int ifIndex, bool up) = 0;
    // How many IPv6 addresses link `ifIndex` holds, or a negative errno. Setting a link down
    // flushes them (keep_addr_on_down is off by default), and this helper cannot put them back.
    virtual int IPv6Addresses(int ifIndex) = 0;

    // One ARP question for `target` from `source` out of link `ifIndex`, sent again every
    // second, waiting up to `waitMs` for `target` itself to answer. 0 with its hardware
    // address in `mac`; -ETIMEDOUT without an answer; -ECANCELED as soon as `abortFd` (-1: none)
    // becomes readable or hangs up.
    virtual int Arp(int ifIndex, IPAddr target, IPAddr source, std::uint8_t (&mac)[6], int waitMs,
                    int abortFd) = 0;
};

}  // namespace kestrel
