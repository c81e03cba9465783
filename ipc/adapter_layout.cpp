// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ipc/adapter_layout.h"

#include <algorithm>
#include <cstring>

#include "platform/two_call.h"

namespace kestrel {
namespace {

std::size_t ExtraEntries(const std::vector<AdapterRecord>& adapters) {
    std::size_t extra = 0;
    for (const auto& adapter : adapters)
        extra += BeyondFirst(adapter.addresses.size()) + BeyondFirst(adapter.gateways.size());
    return extra;
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

ULONG AdapterChainSize(const std::vector<AdapterRecord>& adapters) {
    return TwoCallSize<IP_ADAPTER_INFO, IP_ADDR_STRING>(adapters.size(), ExtraEntries(adapters));
}

DWORD WriteAdapterChain(const std::vector<AdapterRecord>& adapters, IP_ADAPTER_INFO* block,
                        ULONG* size) {
    if (!size) return ERROR_INVALID_PARAMETER;
    if (adapters.empty()) return ERROR_NO_DATA;
    auto* extra =
        TwoCallBlock<IP_ADDR_STRING>(block, size, adapters.size(), ExtraEntries(adapters));
    if (!extra) return ERROR_BUFFER_OVERFLOW;
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
    *size = AdapterChainSize(adapters);
    return NO_ERROR;
}

}  // namespace kestrel
