// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The PC's DNS servers as the probe asks them. A free function, so that a front end can read
// them without the rest of the IP Helper services.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/iphlpapi.h"

namespace kestrel {

// GetNetworkParams: the IPv4 DNS servers of the resolver configuration (read with res_ninit),
// in its order, past any local stub (ServersPastLocalStubs).
DWORD LinuxGetNetworkParams(FIXED_INFO* fixedInfo, ULONG* outBufLen);

// The servers to ask in place of `configured`, each once, in order: a local stub's cached answer
// must never make a dead router look alive. systemd-resolved's stub 127.0.0.53 stands for the
// servers in /run/systemd/resolve/resolv.conf, NetworkManager's dnsmasq at 127.0.1.1 for those in
// /run/NetworkManager/no-stub-resolv.conf. Any other loopback server, and a stub whose list
// names nobody, is left out. `readFile` gives a file's text, "" when it cannot be read.
using FileReader = std::function<std::string(const char* path)>;
std::vector<IPAddr> ServersPastLocalStubs(const std::vector<IPAddr>& configured,
                                          const FileReader& readFile);

}  // namespace kestrel
