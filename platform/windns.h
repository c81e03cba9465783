// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// DNS client services: one query, to the servers given, past any cache, through one adapter.
// Over Linux: c-ares with exactly the servers given, bounded time-out and tries
// (platform/linux/dns_client.h).
#pragma once

#include "platform/wintypes.h"

namespace kestrel {

using IP4_ADDRESS = DWORD;  // network byte order
using DNS_STATUS = long;

struct IP4_ARRAY {
    DWORD AddrCount;
    IP4_ADDRESS AddrArray[1];
};

inline constexpr WORD DNS_TYPE_A = 1;
inline constexpr DWORD DNS_QUERY_STANDARD = 0;
inline constexpr DWORD DNS_QUERY_BYPASS_CACHE = 8;

#ifndef _WIN32  // Windows has them as macros (winerror.h)
inline constexpr DNS_STATUS DNS_ERROR_RCODE_FORMAT_ERROR = 9001;
inline constexpr DNS_STATUS DNS_ERROR_RCODE_SERVER_FAILURE = 9002;
inline constexpr DNS_STATUS DNS_ERROR_RCODE_NAME_ERROR = 9003;
inline constexpr DNS_STATUS DNS_ERROR_RCODE_REFUSED = 9005;
inline constexpr DNS_STATUS DNS_INFO_NO_RECORDS = 9501;
#endif

struct DNS_A_DATA {
    IP4_ADDRESS IpAddress;
};

struct DNS_RECORDA {
    DNS_RECORDA* pNext;
    char* pName;
    WORD wType;
    WORD wDataLength;
    DWORD Flags;
    DWORD dwTtl;
    DWORD dwReserved;
    union {
        DNS_A_DATA A;
    } Data;
};

enum DNS_FREE_TYPE { DnsFreeFlat = 0, DnsFreeRecordList = 1 };

class DnsClient {
public:
    virtual ~DnsClient() = default;
    // Status 0 with a record list in *results, or a DNS_ERROR_* / ERROR_TIMEOUT status.
    // The query leaves through adapter `ifIndex` only, whatever the routes say; a stop request
    // ends it early as a time-out.
    virtual DNS_STATUS DnsQuery_A(const char* name, WORD type, DWORD options, IP4_ARRAY* servers,
                                  DNS_RECORDA** results, void* reserved, ULONG ifIndex) = 0;
    virtual void DnsFree(void* data, DNS_FREE_TYPE freeType) = 0;
};

// The client installed; until then every query fails with ERROR_NOT_SUPPORTED.
DnsClient& CurrentDnsClient();
// Installs `client` for the whole process; nullptr: none again.
void SetDnsClient(DnsClient* client);

inline DNS_STATUS DnsQuery_A(const char* name, WORD type, DWORD options, IP4_ARRAY* servers,
                             DNS_RECORDA** results, void* reserved, ULONG ifIndex) {
    return CurrentDnsClient().DnsQuery_A(name, type, options, servers, results, reserved, ifIndex);
}
inline void DnsFree(void* data, DNS_FREE_TYPE freeType) {
    CurrentDnsClient().DnsFree(data, freeType);
}

}  // namespace kestrel
