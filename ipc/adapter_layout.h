// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Lays out an adapter chain the way GetAdaptersInfo hands it over: every IP_ADAPTER_INFO first,
// then the extra address and gateway entries, all in the caller's one block.
#pragma once

#include <string>
#include <vector>

#include "platform/iphlpapi.h"
#include "platform/netfacts.h"  // Dotted, for the entries' text

namespace kestrel {

struct AdapterAddress {
    std::string address;  // dotted quad
    std::string mask;
    DWORD context = 0;
};

struct AdapterRecord {
    std::string name;
    std::string description;
    std::vector<BYTE> hardwareAddress;
    DWORD index = 0;
    UINT type = MIB_IF_TYPE_OTHER;
    std::vector<AdapterAddress> addresses;  // empty: one "0.0.0.0" entry
    std::vector<std::string> gateways;      // empty: one "0.0.0.0" entry
};

// Bytes the chain of `adapters` needs.
ULONG AdapterChainSize(const std::vector<AdapterRecord>& adapters);

// The two-call protocol: ERROR_NO_DATA without adapters, ERROR_BUFFER_OVERFLOW with the size
// needed when `*size` is too small or `block` is null, else NO_ERROR and the chain.
DWORD WriteAdapterChain(const std::vector<AdapterRecord>& adapters, IP_ADAPTER_INFO* block,
                        ULONG* size);

}  // namespace kestrel
