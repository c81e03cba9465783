// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The kernel's IPv4 objects over the IP Helper: what the privileged helper runs on Windows.
// Links and their addresses come from GetAdaptersInfo (with GetIfEntry for the states), routes
// from GetIpForwardTable. A route's KernelBlob is its MIB_IPFORWARDROW as read, an address's the
// NTE context it had; the IP Helper's results come back as the negative errnos NetKernel names.
#pragma once

#include "helper/netkernel.h"
#include "helper/windows/ip_helper_api.h"

namespace kestrel {

class WindowsNetKernel final : public NetKernel {
public:
    explicit WindowsNetKernel(IpHelperApi& api) : api_(api) {}

    bool Links(std::vector<KernelLink>& links) override;
    bool Addresses(std::vector<KernelAddress>& addresses) override;
    bool Routes(std::vector<KernelRoute>& routes) override;
    int AddAddress(const KernelAddress& address) override;
    int DeleteAddress(const KernelAddress& address) override;
    int AddRoute(const KernelRoute& route) override;
    int DeleteRoute(const KernelRoute& route) override;
    int SetLinkUp(int ifIndex, bool up) override;
    int IPv6Addresses(int ifIndex) override;
    // SendARP again and again until `waitMs` ran out; `abortFd` is a C runtime descriptor of
    // a pipe (the front end's requests).
    int Arp(int ifIndex, IPAddr target, IPAddr source, std::uint8_t (&mac)[6], int waitMs,
            int abortFd) override;

private:
    // The adapter chain, through the two-call sizing; an empty block when there are none.
    DWORD ReadAdapters(std::vector<std::uint64_t>& block);
    DWORD ReadRoutes(std::vector<MIB_IPFORWARDROW>& rows);

    IpHelperApi& api_;
};

}  // namespace kestrel
