// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Taking the PC's settings that clash with the router's factory subnet off, so that the
// temporary address reaches the boot loader, and remembering them for RestoreNetworkSettings.
#include <arpa/inet.h>

#include <cstring>
#include <string>
#include <vector>

#include "netcfg/netcfg.h"

namespace kestrel {
namespace {

constexpr char kRouterAddress[] = "192.168.1.1";

bool Conflicts(DWORD value, DWORD mask, DWORD router) {
    return value != 0 && (mask & router) == (mask & value);
}

bool SameRow(const MIB_IPFORWARDROW& a, const MIB_IPFORWARDROW& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The route table as rows, or nothing when it cannot be read.
std::vector<MIB_IPFORWARDROW> ReadRoutes() {
    ULONG size = 0;
    if (GetIpForwardTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER) return {};
    auto* table = static_cast<MIB_IPFORWARDTABLE*>(HeapAlloc(size));
    if (!table) return {};
    std::vector<MIB_IPFORWARDROW> rows;
    if (GetIpForwardTable(table, &size, FALSE) == NO_ERROR)
        rows.assign(table->table, table->table + table->dwNumEntries);
    HeapFree(table);
    return rows;
}

// Deleting an address makes the kernel drop the routes whose gateway it made reachable (a default
// route via the router goes with the address in its subnet). Those are recorded too, so that the
// restore brings them back; the kernel's own subnet routes come back with their address.
void RecordRoutesDroppedWithAddresses(WizardContext& dlg,
                                      const std::vector<MIB_IPFORWARDROW>& before,
                                      const MIB_IPFORWARDTABLE& after) {
    for (const MIB_IPFORWARDROW& row : before) {
        if (row.dwForwardProto == MIB_IPPROTO_LOCAL) continue;
        bool present = false;
        for (DWORD i = 0; i < after.dwNumEntries && !present; ++i)
            present = SameRow(row, after.table[i]);
        if (!present) InsetRouteEntry(dlg, row);
    }
}

}  // namespace

void RemoveConflictingSettings(WizardContext& dlg) {
    const DWORD router = inet_addr(kRouterAddress);

    IP_ADAPTER_INFO* adapters = GetAdapterList(dlg);
    if (!adapters) return;

    bool routesRead = false;
    std::vector<MIB_IPFORWARDROW> routesBefore;
    for (const IP_ADAPTER_INFO* adapter = adapters; adapter; adapter = adapter->Next) {
        for (const IP_ADDR_STRING* entry = &adapter->IpAddressList; entry; entry = entry->Next) {
            const DWORD address = inet_addr(entry->IpAddress.String);
            const DWORD mask = inet_addr(entry->IpMask.String);
            if (!Conflicts(address, mask, router)) continue;
            if (!routesRead) {
                routesBefore = ReadRoutes();
                routesRead = true;
            }
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
        if (!Conflicts(row.dwForwardDest, row.dwForwardMask, router)) continue;
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
    // Recorded last, so they come back first: right after their addresses, before a clashing
    // route returns and could take the path to their gateway.
    RecordRoutesDroppedWithAddresses(dlg, routesBefore, *table);
    HeapFree(table);
}

}  // namespace kestrel
