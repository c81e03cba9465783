// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The PC's network configuration: adapter snapshots, the removal and restoration of settings that
// clash with the router's factory subnet, and the check that the rebooted router answers again.
#pragma once

#include "platform/heap.h"
#include "platform/iphlpapi.h"
#include "platform/wizard.h"

namespace kestrel {

struct SavedAddress {
    char IpAddress[16];
    char IpMask[16];
    ULONG IfIndex;
    SavedAddress* Next;
};

struct SavedRoute {
    MIB_IPFORWARDROW Row;
    SavedRoute* Next;
};

// A fresh adapter snapshot in one heap block (release with HeapFree), or nullptr.
IP_ADAPTER_INFO* GetAdapterList(WizardContext& dlg);

// Takes every address and route whose network holds 192.168.1.1 off the PC and records it.
void RemoveConflictingSettings(WizardContext& dlg);
// Puts every recorded setting back, newest first, addresses before routes; empties both lists.
// How many could not be put back (the helper keeps them and says which at its end); with DEBUG
// a box names each.
int RestoreNetworkSettings(WizardContext& dlg);
void InsetRouteEntry(WizardContext& dlg, MIB_IPFORWARDROW row);
void InsetIPEntry(WizardContext& dlg, const char* ipAddress, const char* ipMask, ULONG ifIndex);
// Releases both lists without applying them (the dialog's destructor).
void DiscardSavedSettings(WizardContext& dlg);

// 1: the gateway of adapter `ifIndex` answered for kSetupHostName; 0: it did not;
// -1: no query was made.
int CheckResolver(WizardContext& dlg, ULONG ifIndex);

}  // namespace kestrel
