// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The IP Helper and DNS client services over Linux. Internal to platform/.
#pragma once

#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/iphlpapi.h"
#include "platform/windns.h"

struct nl_object;

namespace kestrel {

struct NlObjectRelease {
    void operator()(nl_object* object) const;
};
using NlObject = std::unique_ptr<nl_object, NlObjectRelease>;

// Route rows: dwForwardPolicy carries the route's TOS, dwForwardNextHopAS its routing table (no
// AS numbers here), dwForwardMetric1 its priority; the unused metrics read 0xFFFFFFFF.
class LinuxIpHelper final : public IpHelper {
public:
    DWORD GetAdaptersInfo(IP_ADAPTER_INFO* adapterInfo, ULONG* sizePointer) override;
    DWORD AddIPAddress(IPAddr address, IPMask mask, DWORD ifIndex, ULONG* nteContext,
                       ULONG* nteInstance) override;
    DWORD DeleteIPAddress(ULONG nteContext) override;
    DWORD GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL order) override;
    DWORD CreateIpForwardEntry(const MIB_IPFORWARDROW* route) override;
    DWORD DeleteIpForwardEntry(const MIB_IPFORWARDROW* route) override;
    DWORD SendARP(IPAddr destIP, IPAddr srcIP, void* macAddr, ULONG* physAddrLen) override;
    DWORD GetNetworkParams(FIXED_INFO* fixedInfo, ULONG* outBufLen) override;

private:
    // An address as the kernel knows it: (ifindex, address, prefix), and the last full copy read
    // (broadcast, label, scope, flags, lifetimes) so that a restored address comes back as it was.
    struct AddressEntry {
        int ifIndex;
        IPAddr address;
        int prefix;
        NlObject last;
    };
    using RowKey = std::array<DWORD, sizeof(MIB_IPFORWARDROW) / sizeof(DWORD)>;

    // Context of the address, registered on first sight; contexts stay valid for the process.
    DWORD ContextFor(int ifIndex, IPAddr address, int prefix);
    static RowKey KeyOf(const MIB_IPFORWARDROW& row);

    std::mutex lock_;
    std::vector<AddressEntry> addresses_;  // context = position + 1
    // Every route read, by its row: protocol, scope, type, preferred source, table, metrics and
    // flags that a row cannot carry, for deleting and re-creating it exactly.
    std::map<RowKey, NlObject> routes_;
};

class LinuxDnsClient final : public DnsClient {
public:
    DNS_STATUS DnsQuery_A(const char* name, WORD type, DWORD options, IP4_ARRAY* servers,
                          DNS_RECORDA** results, void* reserved, ULONG ifIndex) override;
    void DnsFree(void* data, DNS_FREE_TYPE freeType) override;
};

}  // namespace kestrel
