// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The front ends' network services on Windows: the system's own network parameters, DNS client
// and Winsock, behind the contracts of platform/.
#pragma once

#include "platform/iphlpapi.h"
#include "platform/udp.h"
#include "platform/windns.h"

namespace kestrel {

// The system's GetNetworkParams: its record is ours, field for field, and so is its sizing.
DWORD WindowsGetNetworkParams(FIXED_INFO* fixedInfo, ULONG* outBufLen);

// The system's DnsQuery_A. It cannot be tied to an adapter: `ifIndex` is not used, and the
// query follows the routes (the clashing ones are off while an adapter is tried).
class WindowsDnsClient final : public DnsClient {
public:
    DNS_STATUS DnsQuery_A(const char* name, WORD type, DWORD options, IP4_ARRAY* servers,
                          DNS_RECORDA** results, void* reserved, ULONG ifIndex) override;
    void DnsFree(void* data, DNS_FREE_TYPE freeType) override;
};

// Winsock datagram sockets. The first one starts Winsock for the process.
class WindowsUdpNetwork final : public UdpNetwork {
public:
    int Open(int protocol) override;
    void Close(int socket) override;
    bool BindAny(int socket) override;
    void SendTo(int socket, const void* data, std::size_t length, const sockaddr_in& to) override;
    int WaitReadable(int socket, std::uint64_t milliseconds) override;
    long ReceiveFrom(int socket, void* buffer, std::size_t size, sockaddr_in& from) override;
};

// Installs the network parameters (the only IP Helper call that needs no rights), the DNS
// client and the sockets for the whole process: a program's main() calls it first.
void InstallWindowsServices();

}  // namespace kestrel
