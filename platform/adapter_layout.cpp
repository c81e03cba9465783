// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/adapter_layout.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

namespace kestrel {
namespace {

std::size_t ExtraEntries(const AdapterRecord& adapter) {
    return (adapter.addresses.size() > 1 ? adapter.addresses.size() - 1 : 0) +
           (adapter.gateways.size() > 1 ? adapter.gateways.size() - 1 : 0);
}

template <std::size_t N>
void CopyText(char (&target)[N], const std::string& text) {
    std::memset(target, 0, N);
    std::memcpy(target, text.data(), std::min(text.size(), N - 1));
}

void FillEntry(IP_ADDR_STRING& entry, const std::string& address, const std::string& mask,
               DWORD context) {
    entry.Next = nullptr;
    CopyText(entry.IpAddress.String, address);
    CopyText(entry.IpMask.String, mask);
    entry.Context = context;
}

}  // namespace

std::string Dotted(IPAddr value) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr address{};
    address.s_addr = value;
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

ULONG AdapterChainSize(const std::vector<AdapterRecord>& adapters) {
    std::size_t bytes = 0;
    for (const auto& adapter : adapters)
        bytes += sizeof(IP_ADAPTER_INFO) + ExtraEntries(adapter) * sizeof(IP_ADDR_STRING);
    return static_cast<ULONG>(bytes);
}

DWORD WriteAdapterChain(const std::vector<AdapterRecord>& adapters, IP_ADAPTER_INFO* block,
                        ULONG* size) {
    if (!size) return ERROR_INVALID_PARAMETER;
    if (adapters.empty()) return ERROR_NO_DATA;
    const ULONG needed = AdapterChainSize(adapters);
    if (!block || *size < needed) {
        *size = needed;
        return ERROR_BUFFER_OVERFLOW;
    }
    std::memset(static_cast<void*>(block), 0, needed);
    // Extra entries live after the last adapter node, in the same block.
    auto* extra = reinterpret_cast<IP_ADDR_STRING*>(block + adapters.size());
    for (std::size_t i = 0; i < adapters.size(); ++i) {
        const AdapterRecord& record = adapters[i];
        IP_ADAPTER_INFO& info = block[i];
        info.Next = i + 1 < adapters.size() ? &block[i + 1] : nullptr;
        info.ComboIndex = record.index;
        CopyText(info.AdapterName, record.name);
        CopyText(info.Description, record.description);
        info.AddressLength = static_cast<UINT>(
            std::min<std::size_t>(record.hardwareAddress.size(), MAX_ADAPTER_ADDRESS_LENGTH));
        if (info.AddressLength)
            std::memcpy(info.Address, record.hardwareAddress.data(), info.AddressLength);
        info.Index = record.index;
        info.Type = record.type;

        auto fillList = [&extra](IP_ADDR_STRING& head, auto count, auto entryAt) {
            IP_ADDR_STRING* previous = &head;
            for (std::size_t n = 0; n < count; ++n) {
                IP_ADDR_STRING& entry = n == 0 ? head : *extra++;
                entryAt(entry, n);
                if (n > 0) previous->Next = &entry;
                previous = &entry;
            }
        };
        if (record.addresses.empty()) {
            FillEntry(info.IpAddressList, "0.0.0.0", "0.0.0.0", 0);
        } else {
            fillList(info.IpAddressList, record.addresses.size(),
                     [&record](IP_ADDR_STRING& entry, std::size_t n) {
                         const AdapterAddress& a = record.addresses[n];
                         FillEntry(entry, a.address, a.mask, a.context);
                     });
        }
        info.CurrentIpAddress = nullptr;
        if (record.gateways.empty()) {
            FillEntry(info.GatewayList, "0.0.0.0", "0.0.0.0", 0);
        } else {
            fillList(info.GatewayList, record.gateways.size(),
                     [&record](IP_ADDR_STRING& entry, std::size_t n) {
                         FillEntry(entry, record.gateways[n], "255.255.255.255", 0);
                     });
        }
    }
    *size = needed;
    return NO_ERROR;
}

}  // namespace kestrel
