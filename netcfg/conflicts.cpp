// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Taking the PC's settings that clash with the router's factory subnet off, so that the
// temporary address reaches the boot loader, and remembering them for RestoreNetworkSettings.
#include <string>

#include "netcfg/netcfg.h"
#include "platform/netfacts.h"
#include "platform/posix.h"

namespace kestrel {
void RemoveConflictingSettings(WizardContext& dlg) {
    IP_ADAPTER_INFO* adapters = GetAdapterList(dlg);
    if (!adapters) return;

    for (const IP_ADAPTER_INFO* adapter = adapters; adapter; adapter = adapter->Next) {
        for (const IP_ADDR_STRING* entry = &adapter->IpAddressList; entry; entry = entry->Next) {
            const DWORD address = inet_addr(entry->IpAddress.String);
            const DWORD mask = inet_addr(entry->IpMask.String);
            if (!ClashesWithRouter(address, mask)) continue;
            InsetIPEntry(dlg, entry->IpAddress.String, entry->IpMask.String, adapter->Index);
            DeleteIPAddress(entry->Context);
            if (dlg.m_bDebug)
                dlg.MessageBox(std::string("Delete IP: ") + entry->IpAddress.String + " Mask: " +
                                   entry->IpMask.String + " from Adapter: " + adapter->Description,
                               "Information");
        }
    }
    HeapFree(adapters);

    ULONG size = 0;
    DWORD result = GetIpForwardTable(nullptr, &size, FALSE);
    if (result != ERROR_INSUFFICIENT_BUFFER) {
        if (dlg.m_bDebug)
            dlg.MessageBox("GetIpForwardTable sizing failed with error " + std::to_string(result),
                           "FAIL");
        return;
    }
    auto* table = static_cast<MIB_IPFORWARDTABLE*>(HeapAlloc(size));
    if (!table) {
        if (dlg.m_bDebug) dlg.MessageBox("Memory allocation failed", "FAIL");
        return;
    }
    result = GetIpForwardTable(table, &size, FALSE);
    if (result != NO_ERROR) {
        if (dlg.m_bDebug)
            dlg.MessageBox("GetIpForwardTable failed with error " + std::to_string(result), "FAIL");
        HeapFree(table);
        return;
    }

    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        const MIB_IPFORWARDROW& row = table->table[i];
        if (!ClashesWithRouter(row)) continue;
        if (dlg.m_bDebug) {
            in_addr value{};
            std::string text = "Delete Route: ";
            value.s_addr = row.dwForwardDest;
            text += inet_ntoa(value);
            text += "/";
            value.s_addr = row.dwForwardMask;
            text += inet_ntoa(value);
            text += "-> ";
            value.s_addr = row.dwForwardNextHop;
            text += inet_ntoa(value);
            dlg.MessageBox(text, "Information");
        }
        InsetRouteEntry(dlg, row);
        DeleteIpForwardEntry(&row);
    }
    HeapFree(table);
}

}  // namespace kestrel
