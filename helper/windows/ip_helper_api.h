// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The IP Helper functions the helper's Windows kernel layer calls, with the system's own
// signatures and record layouts, behind one interface: the system's functions in the program
// (SystemIpHelperApi), a scripted IP Helper in the tests, for what Wine does not do (changes,
// ARP, error codes, tables that change between the two sizing calls).
#pragma once

#include "platform/iphlpapi.h"

namespace kestrel {

// MIB_IFROW as ifmib.h lays it out; only one file sees the system's headers.
struct MIB_IFROW {
    WCHAR wszName[256];
    DWORD dwIndex;
    DWORD dwType;
    DWORD dwMtu;
    DWORD dwSpeed;
    DWORD dwPhysAddrLen;
    BYTE bPhysAddr[8];
    DWORD dwAdminStatus;
    DWORD dwOperStatus;
    DWORD dwLastChange;
    DWORD dwInOctets;
    DWORD dwInUcastPkts;
    DWORD dwInNUcastPkts;
    DWORD dwInDiscards;
    DWORD dwInErrors;
    DWORD dwInUnknownProtos;
    DWORD dwOutOctets;
    DWORD dwOutUcastPkts;
    DWORD dwOutNUcastPkts;
    DWORD dwOutDiscards;
    DWORD dwOutErrors;
    DWORD dwOutQLen;
    DWORD dwDescrLen;
    BYTE bDescr[256];
};

inline constexpr DWORD kAdminStatusUp = 1;    // MIB_IF_ADMIN_STATUS_UP
inline constexpr DWORD kAdminStatusDown = 2;  // MIB_IF_ADMIN_STATUS_DOWN
inline constexpr DWORD kOperStatusConnected = 4;
inline constexpr DWORD kOperStatusOperational = 5;

class IpHelperApi {
public:
    virtual ~IpHelperApi() = default;

    virtual DWORD GetAdaptersInfo(IP_ADAPTER_INFO* adapterInfo, ULONG* sizePointer) = 0;
    virtual DWORD GetIfEntry(MIB_IFROW* row) = 0;
    virtual DWORD SetIfEntry(MIB_IFROW* row) = 0;
    virtual DWORD AddIPAddress(IPAddr address, IPMask mask, DWORD ifIndex, ULONG* nteContext,
                               ULONG* nteInstance) = 0;
    virtual DWORD DeleteIPAddress(ULONG nteContext) = 0;
    virtual DWORD GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL order) = 0;
    virtual DWORD CreateIpForwardEntry(MIB_IPFORWARDROW* route) = 0;
    virtual DWORD DeleteIpForwardEntry(MIB_IPFORWARDROW* route) = 0;
    virtual DWORD SendARP(IPAddr destIP, IPAddr srcIP, void* macAddr, ULONG* physAddrLen) = 0;
};

}  // namespace kestrel
