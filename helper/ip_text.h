// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// Addresses and routes written as `ip` commands, for the system log: an administrator can put
// back by hand what the log says was taken off.
#pragma once

#include <string>

#include "helper/netkernel.h"

namespace kestrel {

// "ip -4 address add 192.168.1.100/24 brd 192.168.1.255 dev eth1 noprefixroute metric 100"
std::string AddressCommand(const std::string& verb, const KernelAddress& address,
                           const std::string& link);
// "ip -4 route add default via 192.168.1.1 dev eth1 proto dhcp metric 100"
std::string RouteCommand(const std::string& verb, const KernelRoute& route,
                         const std::string& link);

}  // namespace kestrel
