// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The two lists of removed settings: records go on the front, so each list runs newest first.
#include <cstring>
#include <string>

#include "netcfg/netcfg.h"
#include "platform/posix.h"

namespace kestrel {

void InsetIPEntry(WizardContext& dlg, const char* ipAddress, const char* ipMask, ULONG ifIndex) {
    auto* entry = static_cast<SavedAddress*>(HeapAlloc(sizeof(SavedAddress)));
    if (!entry) {
        if (dlg.m_bDebug)
            dlg.MessageBox("InsetIPEntry failed, may be not enough memory", "Warning");
        return;
    }
    std::memset(entry, 0, sizeof *entry);
    std::strncpy(entry->IpAddress, ipAddress, sizeof entry->IpAddress - 1);
    std::strncpy(entry->IpMask, ipMask, sizeof entry->IpMask - 1);
    entry->IfIndex = ifIndex;
    entry->Next = dlg.m_pSavedAddresses;
    dlg.m_pSavedAddresses = entry;
}

void InsetRouteEntry(WizardContext& dlg, MIB_IPFORWARDROW row) {
    auto* entry = static_cast<SavedRoute*>(HeapAlloc(sizeof(SavedRoute)));
    if (!entry) {
        if (dlg.m_bDebug)
            dlg.MessageBox("InsetRouteEntry failed, may be not enough memory", "Warning");
        return;
    }
    entry->Row = row;
    entry->Next = dlg.m_pSavedRoutes;
    dlg.m_pSavedRoutes = entry;
}

int RestoreNetworkSettings(WizardContext& dlg) {
    int failed = 0;
    auto note = [&](DWORD result, const std::string& what) {
        // An address or route that is there already is back.
        if (result == NO_ERROR || result == ERROR_OBJECT_ALREADY_EXISTS) return;
        ++failed;
        if (dlg.m_bDebug)
            dlg.MessageBox(what + " could not be put back (error " + std::to_string(result) + ")",
                           "Warning");
    };
    while (SavedAddress* entry = dlg.m_pSavedAddresses) {
        ULONG context = 0;
        ULONG instance = 0;
        note(AddIPAddress(inet_addr(entry->IpAddress), inet_addr(entry->IpMask), entry->IfIndex,
                          &context, &instance),
             std::string("address ") + entry->IpAddress + "/" + entry->IpMask);
        dlg.m_pSavedAddresses = entry->Next;
        HeapFree(entry);
    }
    while (SavedRoute* entry = dlg.m_pSavedRoutes) {
        in_addr destination{};
        destination.s_addr = entry->Row.dwForwardDest;
        note(CreateIpForwardEntry(&entry->Row), std::string("route to ") + inet_ntoa(destination));
        dlg.m_pSavedRoutes = entry->Next;
        HeapFree(entry);
    }
    return failed;
}

void DiscardSavedSettings(WizardContext& dlg) {
    while (SavedAddress* entry = dlg.m_pSavedAddresses) {
        dlg.m_pSavedAddresses = entry->Next;
        HeapFree(entry);
    }
    while (SavedRoute* entry = dlg.m_pSavedRoutes) {
        dlg.m_pSavedRoutes = entry->Next;
        HeapFree(entry);
    }
}

}  // namespace kestrel
