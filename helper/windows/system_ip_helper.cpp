// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "helper/windows/system_ip_helper.h"

// After the project's headers: the system's macros share the names of their constants.
#include <iphlpapi.h>

#include <cstddef>

namespace kestrel {
namespace {

// The records cross as they are: the layouts must be the system's, field for field.
static_assert(sizeof(kestrel::IP_ADAPTER_INFO) == sizeof(::IP_ADAPTER_INFO));
static_assert(offsetof(kestrel::IP_ADAPTER_INFO, Index) == offsetof(::IP_ADAPTER_INFO, Index));
static_assert(offsetof(kestrel::IP_ADAPTER_INFO, IpAddressList) ==
              offsetof(::IP_ADAPTER_INFO, IpAddressList));
static_assert(offsetof(kestrel::IP_ADAPTER_INFO, LeaseExpires) ==
              offsetof(::IP_ADAPTER_INFO, LeaseExpires));
static_assert(sizeof(kestrel::IP_ADDR_STRING) == sizeof(::IP_ADDR_STRING));
static_assert(offsetof(kestrel::IP_ADDR_STRING, Context) == offsetof(::IP_ADDR_STRING, Context));
static_assert(sizeof(kestrel::MIB_IPFORWARDROW) == sizeof(::MIB_IPFORWARDROW));
static_assert(offsetof(kestrel::MIB_IPFORWARDROW, dwForwardMetric1) ==
              offsetof(::MIB_IPFORWARDROW, dwForwardMetric1));
static_assert(offsetof(kestrel::MIB_IPFORWARDTABLE, table) ==
              offsetof(::MIB_IPFORWARDTABLE, table));
static_assert(sizeof(kestrel::MIB_IFROW) == sizeof(::MIB_IFROW));
static_assert(offsetof(kestrel::MIB_IFROW, dwAdminStatus) == offsetof(::MIB_IFROW, dwAdminStatus));
static_assert(offsetof(kestrel::MIB_IFROW, bDescr) == offsetof(::MIB_IFROW, bDescr));

template <typename System, typename Ours>
System* As(Ours* record) {
    return reinterpret_cast<System*>(record);
}

class SystemApi final : public IpHelperApi {
public:
    DWORD GetAdaptersInfo(IP_ADAPTER_INFO* adapterInfo, ULONG* sizePointer) override {
        return ::GetAdaptersInfo(As<::IP_ADAPTER_INFO>(adapterInfo), sizePointer);
    }
    DWORD GetIfEntry(MIB_IFROW* row) override { return ::GetIfEntry(As<::MIB_IFROW>(row)); }
    DWORD SetIfEntry(MIB_IFROW* row) override { return ::SetIfEntry(As<::MIB_IFROW>(row)); }
    DWORD AddIPAddress(IPAddr address, IPMask mask, DWORD ifIndex, ULONG* nteContext,
                       ULONG* nteInstance) override {
        return ::AddIPAddress(address, mask, ifIndex, nteContext, nteInstance);
    }
    DWORD DeleteIPAddress(ULONG nteContext) override { return ::DeleteIPAddress(nteContext); }
    DWORD GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL order) override {
        return ::GetIpForwardTable(As<::MIB_IPFORWARDTABLE>(table), size, order);
    }
    DWORD CreateIpForwardEntry(MIB_IPFORWARDROW* route) override {
        return ::CreateIpForwardEntry(As<::MIB_IPFORWARDROW>(route));
    }
    DWORD DeleteIpForwardEntry(MIB_IPFORWARDROW* route) override {
        return ::DeleteIpForwardEntry(As<::MIB_IPFORWARDROW>(route));
    }
    DWORD SendARP(IPAddr destIP, IPAddr srcIP, void* macAddr, ULONG* physAddrLen) override {
        return ::SendARP(destIP, srcIP, macAddr, physAddrLen);
    }
};

}  // namespace

IpHelperApi& SystemIpHelperApi() {
    static SystemApi api;
    return api;
}

}  // namespace kestrel
