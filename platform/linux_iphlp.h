// The IP Helper and DNS client services over Linux. Internal to platform/.
#pragma once

#include "platform/iphlpapi.h"
#include "platform/windns.h"

namespace kestrel {

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
};

class LinuxDnsClient final : public DnsClient {
public:
    DNS_STATUS DnsQuery_A(const char* name, WORD type, DWORD options, IP4_ARRAY* servers,
                          DNS_RECORDA** results, void* reserved) override;
    void DnsFree(void* data, DNS_FREE_TYPE freeType) override;
};

}  // namespace kestrel
