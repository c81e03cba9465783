// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The network facts both sides of the recovery share: the router's factory address, the temporary
// address an adapter gets for its attempt, the rule for what clashes with them, and the
// dotted-quad text of an address.
#pragma once

#include <bit>
#include <cstdint>
#include <string>

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

// The clash rule: the network of `value` and `mask` (network byte order) holds the router's
// factory address, so the setting must come off while an adapter is tried.
constexpr bool ClashesWithRouter(IPAddr value, IPMask mask) {
    return value != 0 && (mask & kRouter) == (mask & value);
}

// `value` (network byte order) as dotted-quad text.
inline std::string Dotted(IPAddr value) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
    return std::to_string(bytes[0]) + '.' + std::to_string(bytes[1]) + '.' +
           std::to_string(bytes[2]) + '.' + std::to_string(bytes[3]);
}

}  // namespace kestrel
