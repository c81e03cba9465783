// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The shared netlink layer of the IP Helper services: a connected route socket, the raw IPv4
// route dump, and the mapping of libnl errors. Internal to platform/.
#pragma once

#include <memory>
#include <vector>

#include "platform/linux_iphlp.h"

struct nl_sock;
struct rtnl_route;

namespace kestrel {

struct NlSocketRelease {
    void operator()(nl_sock* socket) const;
};
using NlSocket = std::unique_ptr<nl_sock, NlSocketRelease>;

// A NETLINK_ROUTE socket, or null.
NlSocket ConnectRoute();

// Every IPv4 route of every table, one object per kernel message. libnl's route cache would
// merge routes that differ only by link, so the table is read with a plain dump.
bool DumpIPv4Routes(nl_sock* socket, std::vector<NlObject>& routes);

DWORD ErrorFromNl(int nlError);

inline rtnl_route* AsRoute(const NlObject& object) {
    return reinterpret_cast<rtnl_route*>(object.get());
}

}  // namespace kestrel
