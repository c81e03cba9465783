// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Whether the rebooted router answers name queries again, asked at one adapter's gateway only.
#include <cstring>

#include "netcfg/netcfg.h"
#include "platform/posix.h"
#include "platform/windns.h"

namespace kestrel {

int CheckResolver(WizardContext& dlg, ULONG ifIndex) {
    char gateway[16];
    std::memset(gateway, 0, sizeof gateway);

    IP_ADAPTER_INFO* adapters = GetAdapterList(dlg);
    if (!adapters) return -1;
    bool found = false;
    for (const IP_ADAPTER_INFO* adapter = adapters; adapter; adapter = adapter->Next) {
        if (adapter->Index != ifIndex) continue;
        std::memcpy(gateway, adapter->GatewayList.IpAddress.String, sizeof gateway - 1);
        found = true;
        break;
    }
    HeapFree(adapters);
    if (!found) return -1;

    auto* servers = static_cast<IP4_ARRAY*>(HeapAlloc(sizeof(IP4_ARRAY), true));
    if (!servers) {
        if (dlg.m_bDebug) dlg.MessageBox("Memory allocation failed", "Failed");
        return -1;
    }
    servers->AddrCount = 1;
    servers->AddrArray[0] = inet_addr(gateway);
    if (servers->AddrArray[0] == INADDR_NONE) {
        if (dlg.m_bDebug) dlg.MessageBox("Invalid DNS server IP address", "Information");
        HeapFree(servers);
        return -1;
    }

    DNS_RECORDA* records = nullptr;
    // Through this adapter only: a clashing route elsewhere must not carry the query away.
    const DNS_STATUS status = DnsQuery_A(kSetupHostName, DNS_TYPE_A, DNS_QUERY_BYPASS_CACHE,
                                         servers, &records, nullptr, ifIndex);
    HeapFree(servers);
    if (status != 0) return 0;
    DnsFree(records, DnsFreeRecordList);
    return 1;
}

}  // namespace kestrel
