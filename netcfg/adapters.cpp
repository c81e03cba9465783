// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Adapter snapshots: one sizing call, one fetch, one heap block for the caller.
#include <string>

#include "netcfg/netcfg.h"

namespace kestrel {

IP_ADAPTER_INFO* GetAdapterList(WizardContext& dlg) {
    ULONG size = 0;
    DWORD result = GetAdaptersInfo(nullptr, &size);
    if (result != ERROR_BUFFER_OVERFLOW) {
        if (dlg.m_bDebug)
            dlg.MessageBox("GetAdaptersInfo sizing failed with error " + std::to_string(result),
                           "FAIL");
        return nullptr;
    }
    auto* adapters = static_cast<IP_ADAPTER_INFO*>(HeapAlloc(size));
    if (!adapters) {
        if (dlg.m_bDebug) dlg.MessageBox("Memory allocation failed", "Failed");
        return nullptr;
    }
    result = GetAdaptersInfo(adapters, &size);
    if (result != NO_ERROR) {
        if (dlg.m_bDebug)
            dlg.MessageBox("GetAdaptersInfo failed with error " + std::to_string(result), "FAIL");
        HeapFree(adapters);
        return nullptr;
    }
    return adapters;
}

}  // namespace kestrel
