// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The network facts both sides of the recovery share: the router's factory address, the temporary
// address an adapter gets for its attempt, the rule for what clashes with them, and the
// dotted-quad text of an address.
#pragma once

#include <bit>
#include <cstdint>
#include <string>

#include "platform/iphlpapi.h"
#include "platform/wintypes.h"

namespace kestrel {

inline constexpr char kRouterAddress[] = "192.168.1.1";
inline constexpr char kTemporaryAddress[] = "192.168.1.141";
inline constexpr char kTemporaryMask[] = "255.255.255.0";
inline constexpr int kTemporaryPrefix = 24;

// A dotted quad in network byte order, as inet_addr gives it, at compile time.
constexpr IPAddr DottedValue(const char* text) {
    std::uint32_t host = 0;
    std::uint32_t part = 0;
    for (;; ++text) {
        if (*text != '.' && *text != 0) {
            part = part * 10 + static_cast<std::uint32_t>(*text - '0');
            continue;
        }
        host = host << 8 | part;
        part = 0;
        if (*text == 0) break;
    }
    if constexpr (std::endian::native == std::endian::big) return host;
    return host >> 24 | (host >> 8 & 0xff00u) | (host << 8 & 0xff0000u) | host << 24;
}

inline constexpr IPAddr kRouter = DottedValue(kRouterAddress);
inline constexpr IPAddr kTemporary = DottedValue(kTemporaryAddress);

// The clash rule. The temporary address's own /24 route wins over every shorter prefix by
// longest match, so only what can steer packets for the router's factory address away from the
// adapter being tried must come off while it is tried. The default route, supernets (a VPN's
// 0.0.0.0/1 and 128.0.0.0/1), blackhole, unreachable and prohibit routes (kill switches) and
// routes of other tables stay: taking them off cannot help and can harm.
constexpr bool ClashesWithRouter(IPAddr value, IPMask mask, bool isAddress) {
    const bool narrow = (mask & kRouter) == (mask & value) && std::popcount(mask) >= 24;
    if (!isAddress) return value != 0 && narrow;
    return value != 0 && (narrow || value == kRouter || value == kTemporary);
}

// An address, by its value and mask (network byte order).
constexpr bool ClashesWithRouter(IPAddr address, IPMask mask) {
    return ClashesWithRouter(address, mask, true);
}

// A route as the route table reports it: a unicast route of the main table (on Linux the
// next-hop AS field carries the table; elsewhere it is 0).
constexpr bool ClashesWithRouter(const MIB_IPFORWARDROW& row) {
    const bool unicast = row.dwForwardType == MIB_IPROUTE_TYPE_DIRECT ||
                         row.dwForwardType == MIB_IPROUTE_TYPE_INDIRECT;
    const bool mainTable = row.dwForwardNextHopAS == 0 || row.dwForwardNextHopAS == 254;
    return unicast && mainTable && ClashesWithRouter(row.dwForwardDest, row.dwForwardMask, false);
}

// `value` (network byte order) as dotted-quad text.
inline std::string Dotted(IPAddr value) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
    return std::to_string(bytes[0]) + '.' + std::to_string(bytes[1]) + '.' +
           std::to_string(bytes[2]) + '.' + std::to_string(bytes[3]);
}

}  // namespace kestrel
