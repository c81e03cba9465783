// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The values the kernel model's addresses and routes carry: Linux's own (flags, scopes, route
// types and origins). They are the model's vocabulary on every system, so Windows, which has no
// such headers, gets the same numbers here; its kernel layer translates into them.
#pragma once

#ifdef _WIN32
inline constexpr unsigned IFA_F_SECONDARY = 0x01;
inline constexpr unsigned IFA_F_NODAD = 0x02;
inline constexpr unsigned IFA_F_DEPRECATED = 0x20;
inline constexpr unsigned IFA_F_PERMANENT = 0x80;
inline constexpr unsigned IFA_F_NOPREFIXROUTE = 0x200;

enum : unsigned char {
    RT_SCOPE_UNIVERSE = 0,
    RT_SCOPE_SITE = 200,
    RT_SCOPE_LINK = 253,
    RT_SCOPE_HOST = 254,
    RT_SCOPE_NOWHERE = 255,
};
enum : unsigned char {
    RTN_UNSPEC,
    RTN_UNICAST,
    RTN_LOCAL,
    RTN_BROADCAST,
    RTN_ANYCAST,
    RTN_MULTICAST,
    RTN_BLACKHOLE,
    RTN_UNREACHABLE,
    RTN_PROHIBIT,
    RTN_THROW,
};
inline constexpr unsigned char RTPROT_KERNEL = 2;
inline constexpr unsigned char RTPROT_BOOT = 3;
inline constexpr unsigned char RTPROT_STATIC = 4;
inline constexpr unsigned char RTPROT_RA = 9;
inline constexpr unsigned char RTPROT_DHCP = 16;
inline constexpr unsigned RT_TABLE_MAIN = 254;
#else
#include <linux/if_addr.h>
#include <linux/rtnetlink.h>
#endif
