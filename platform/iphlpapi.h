// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// IP Helper services: adapters, addresses, routes, ARP and network parameters, with the
// record layouts, sizing protocols and result codes the network code relies on.
// Over Linux the front ends send them to the privileged helper (platform/linux/helper_client.h),
// which makes them over netlink and AF_PACKET; the network parameters come from the resolver
// configuration. Each program installs its services with SetIpHelper, unit tests a scripted fake.
#pragma once

#include <ctime>

#include "platform/wintypes.h"

namespace kestrel {

inline constexpr int MAX_ADAPTER_NAME_LENGTH = 256;
inline constexpr int MAX_ADAPTER_DESCRIPTION_LENGTH = 128;
inline constexpr int MAX_ADAPTER_ADDRESS_LENGTH = 8;
inline constexpr int MAX_HOSTNAME_LEN = 128;
inline constexpr int MAX_DOMAIN_NAME_LEN = 128;
inline constexpr int MAX_SCOPE_ID_LEN = 256;

inline constexpr UINT MIB_IF_TYPE_OTHER = 1;
inline constexpr UINT MIB_IF_TYPE_ETHERNET = 6;
inline constexpr UINT MIB_IF_TYPE_PPP = 23;
inline constexpr UINT MIB_IF_TYPE_LOOPBACK = 24;
inline constexpr UINT IF_TYPE_IEEE80211 = 71;

struct IP_ADDRESS_STRING {
    char String[16];  // dotted quad, zero-terminated
};
using IP_MASK_STRING = IP_ADDRESS_STRING;

struct IP_ADDR_STRING {
    IP_ADDR_STRING* Next;
    IP_ADDRESS_STRING IpAddress;
    IP_MASK_STRING IpMask;
    DWORD Context;  // what DeleteIPAddress takes to remove this address
};

struct IP_ADAPTER_INFO {
    IP_ADAPTER_INFO* Next;
    DWORD ComboIndex;
    char AdapterName[MAX_ADAPTER_NAME_LENGTH + 4];
    char Description[MAX_ADAPTER_DESCRIPTION_LENGTH + 4];
    UINT AddressLength;
    BYTE Address[MAX_ADAPTER_ADDRESS_LENGTH];
    DWORD Index;
    UINT Type;
    UINT DhcpEnabled;
    IP_ADDR_STRING* CurrentIpAddress;
    IP_ADDR_STRING IpAddressList;
    IP_ADDR_STRING GatewayList;
    IP_ADDR_STRING DhcpServer;
    BOOL HaveWins;
    IP_ADDR_STRING PrimaryWinsServer;
    IP_ADDR_STRING SecondaryWinsServer;
    std::time_t LeaseObtained;
    std::time_t LeaseExpires;
};

inline constexpr DWORD MIB_IPROUTE_TYPE_OTHER = 1;
inline constexpr DWORD MIB_IPROUTE_TYPE_INVALID = 2;
inline constexpr DWORD MIB_IPROUTE_TYPE_DIRECT = 3;
inline constexpr DWORD MIB_IPROUTE_TYPE_INDIRECT = 4;

inline constexpr DWORD MIB_IPPROTO_OTHER = 1;
inline constexpr DWORD MIB_IPPROTO_LOCAL = 2;
inline constexpr DWORD MIB_IPPROTO_NETMGMT = 3;

struct MIB_IPFORWARDROW {
    DWORD dwForwardDest;
    DWORD dwForwardMask;
    DWORD dwForwardPolicy;
    DWORD dwForwardNextHop;
    DWORD dwForwardIfIndex;
    DWORD dwForwardType;
    DWORD dwForwardProto;
    DWORD dwForwardAge;
    DWORD dwForwardNextHopAS;
    DWORD dwForwardMetric1;
    DWORD dwForwardMetric2;
    DWORD dwForwardMetric3;
    DWORD dwForwardMetric4;
    DWORD dwForwardMetric5;
};

struct MIB_IPFORWARDTABLE {
    DWORD dwNumEntries;
    MIB_IPFORWARDROW table[1];  // dwNumEntries rows follow in the same block
};

struct FIXED_INFO {
    char HostName[MAX_HOSTNAME_LEN + 4];
    char DomainName[MAX_DOMAIN_NAME_LEN + 4];
    IP_ADDR_STRING* CurrentDnsServer;
    IP_ADDR_STRING DnsServerList;  // the first server; Next leads on, inside the same block
    UINT NodeType;
    char ScopeId[MAX_SCOPE_ID_LEN + 4];
    UINT EnableRouting;
    UINT EnableProxy;
    UINT EnableDns;
};

class IpHelper {
public:
    virtual ~IpHelper() = default;

    // Two-call sizing: a too small buffer gives ERROR_BUFFER_OVERFLOW and the size needed;
    // no adapters give ERROR_NO_DATA.
    virtual DWORD GetAdaptersInfo(IP_ADAPTER_INFO* adapterInfo, ULONG* sizePointer) = 0;
    virtual DWORD AddIPAddress(IPAddr address, IPMask mask, DWORD ifIndex, ULONG* nteContext,
                               ULONG* nteInstance) = 0;
    virtual DWORD DeleteIPAddress(ULONG nteContext) = 0;
    // Two-call sizing with ERROR_INSUFFICIENT_BUFFER.
    virtual DWORD GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL order) = 0;
    virtual DWORD CreateIpForwardEntry(const MIB_IPFORWARDROW* route) = 0;
    virtual DWORD DeleteIpForwardEntry(const MIB_IPFORWARDROW* route) = 0;
    // NO_ERROR only when `destIP` itself answered; waits a bounded time.
    virtual DWORD SendARP(IPAddr destIP, IPAddr srcIP, void* macAddr, ULONG* physAddrLen) = 0;
    // Two-call sizing with ERROR_BUFFER_OVERFLOW.
    virtual DWORD GetNetworkParams(FIXED_INFO* fixedInfo, ULONG* outBufLen) = 0;
};

// Refuses every call: a program's services before any are installed, and the base of services
// that answer only some calls.
class RefusingIpHelper : public IpHelper {
public:
    DWORD GetAdaptersInfo(IP_ADAPTER_INFO*, ULONG*) override { return ERROR_ACCESS_DENIED; }
    DWORD AddIPAddress(IPAddr, IPMask, DWORD, ULONG*, ULONG*) override {
        return ERROR_ACCESS_DENIED;
    }
    DWORD DeleteIPAddress(ULONG) override { return ERROR_ACCESS_DENIED; }
    DWORD GetIpForwardTable(MIB_IPFORWARDTABLE*, ULONG*, BOOL) override {
        return ERROR_ACCESS_DENIED;
    }
    DWORD CreateIpForwardEntry(const MIB_IPFORWARDROW*) override { return ERROR_ACCESS_DENIED; }
    DWORD DeleteIpForwardEntry(const MIB_IPFORWARDROW*) override { return ERROR_ACCESS_DENIED; }
    DWORD SendARP(IPAddr, IPAddr, void*, ULONG*) override { return ERROR_ACCESS_DENIED; }
    DWORD GetNetworkParams(FIXED_INFO*, ULONG*) override { return ERROR_ACCESS_DENIED; }
};

// The services installed; until then every call is refused with ERROR_ACCESS_DENIED.
IpHelper& CurrentIpHelper();
// Installs `helper` for the whole process; nullptr: none again.
void SetIpHelper(IpHelper* helper);

inline DWORD GetAdaptersInfo(IP_ADAPTER_INFO* adapterInfo, ULONG* sizePointer) {
    return CurrentIpHelper().GetAdaptersInfo(adapterInfo, sizePointer);
}
inline DWORD AddIPAddress(IPAddr address, IPMask mask, DWORD ifIndex, ULONG* nteContext,
                          ULONG* nteInstance) {
    return CurrentIpHelper().AddIPAddress(address, mask, ifIndex, nteContext, nteInstance);
}
inline DWORD DeleteIPAddress(ULONG nteContext) {
    return CurrentIpHelper().DeleteIPAddress(nteContext);
}
inline DWORD GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL order) {
    return CurrentIpHelper().GetIpForwardTable(table, size, order);
}
inline DWORD CreateIpForwardEntry(const MIB_IPFORWARDROW* route) {
    return CurrentIpHelper().CreateIpForwardEntry(route);
}
inline DWORD DeleteIpForwardEntry(const MIB_IPFORWARDROW* route) {
    return CurrentIpHelper().DeleteIpForwardEntry(route);
}
inline DWORD SendARP(IPAddr destIP, IPAddr srcIP, void* macAddr, ULONG* physAddrLen) {
    return CurrentIpHelper().SendARP(destIP, srcIP, macAddr, physAddrLen);
}
inline DWORD GetNetworkParams(FIXED_INFO* fixedInfo, ULONG* outBufLen) {
    return CurrentIpHelper().GetNetworkParams(fixedInfo, outBufLen);
}

}  // namespace kestrel
