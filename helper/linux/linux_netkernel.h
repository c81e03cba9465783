// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The kernel's IPv4 objects over rtnetlink (libnl-route-3), and ARP over AF_PACKET: what the
// privileged helper runs. Every call opens its own netlink socket, so calls may come from any
// thread.
#pragma once

#include "helper/netkernel.h"

namespace kestrel {

class LinuxNetKernel final : public NetKernel {
public:
    bool Links(std::vector<KernelLink>& links) override;
    bool Addresses(std::vector<KernelAddress>& addresses) override;
    bool Routes(std::vector<KernelRoute>& routes) override;
    int Link(int ifIndex, KernelLink& link) override;
    int AddAddress(const KernelAddress& address) override;
    int DeleteAddress(const KernelAddress& address) override;
    int AddRoute(const KernelRoute& route) override;
    int DeleteRoute(const KernelRoute& route) override;
    int SetLinkUp(int ifIndex, bool up) override;
    int IPv6Addresses(int ifIndex) override;
    int Arp(int ifIndex, IPAddr target, IPAddr source, std::uint8_t (&mac)[6], int waitMs,
            int abortFd) override;
};

}  // namespace kestrel
