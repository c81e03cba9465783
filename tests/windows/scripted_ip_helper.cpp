// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/windows/scripted_ip_helper.h"

#include <algorithm>
#include <cstring>

#include "platform/posix.h"
#include "platform/two_call.h"

namespace kestrel::testing {
namespace {

void Copy(char* field, std::size_t size, const std::string& text) {
    std::strncpy(field, text.c_str(), size - 1);
}

void Fill(IP_ADDR_STRING& entry, const ScriptedAddress& address) {
    Copy(entry.IpAddress.String, sizeof entry.IpAddress.String, Dotted(address.local));
    Copy(entry.IpMask.String, sizeof entry.IpMask.String, Dotted(address.mask));
    entry.Context = address.context;
}

bool SameRoute(const MIB_IPFORWARDROW& a, const MIB_IPFORWARDROW& b) {
    return a.dwForwardDest == b.dwForwardDest && a.dwForwardMask == b.dwForwardMask &&
           a.dwForwardNextHop == b.dwForwardNextHop && a.dwForwardIfIndex == b.dwForwardIfIndex;
}

}  // namespace

IPAddr Ip(const char* dotted) {
    return inet_addr(dotted);
}

std::string Dotted(IPAddr address) {
    const std::uint32_t host = ntohl(address);
    return std::to_string(host >> 24) + "." + std::to_string((host >> 16) & 255) + "." +
           std::to_string((host >> 8) & 255) + "." + std::to_string(host & 255);
}

MIB_IPFORWARDROW Row(const char* dest, const char* mask, const char* nextHop, DWORD ifIndex,
                     DWORD metric, DWORD type, DWORD proto) {
    MIB_IPFORWARDROW row{};
    row.dwForwardDest = Ip(dest);
    row.dwForwardMask = Ip(mask);
    row.dwForwardNextHop = Ip(nextHop);
    row.dwForwardIfIndex = ifIndex;
    row.dwForwardType = type;
    row.dwForwardProto = proto;
    row.dwForwardAge = 42;
    row.dwForwardMetric1 = metric;
    row.dwForwardMetric2 = row.dwForwardMetric3 = row.dwForwardMetric4 = row.dwForwardMetric5 =
        0xFFFFFFFF;
    return row;
}

bool ScriptedIpHelper::Scripted(const std::string& call, DWORD& result) {
    auto queued = results.find(call);
    if (queued == results.end() || queued->second.empty()) return false;
    result = queued->second.front();
    queued->second.pop_front();
    return true;
}

ScriptedAdapter* ScriptedIpHelper::Adapter(DWORD index) {
    for (ScriptedAdapter& adapter : adapters)
        if (adapter.index == index) return &adapter;
    return nullptr;
}

DWORD ScriptedIpHelper::GetAdaptersInfo(IP_ADAPTER_INFO* adapterInfo, ULONG* sizePointer) {
    if (DWORD result = 0; Scripted("GetAdaptersInfo", result)) return result;
    if (adapters.empty()) return ERROR_NO_DATA;
    std::size_t extra = 0;
    for (const ScriptedAdapter& adapter : adapters) extra += BeyondFirst(adapter.addresses.size());
    auto* more = TwoCallBlock<IP_ADDR_STRING>(adapterInfo, sizePointer, adapters.size(), extra);
    if (!more) {
        ++sizingCalls;
        if (afterSizing) afterSizing();
        return ERROR_BUFFER_OVERFLOW;
    }
    for (std::size_t i = 0; i < adapters.size(); ++i) {
        const ScriptedAdapter& adapter = adapters[i];
        IP_ADAPTER_INFO& info = adapterInfo[i];
        info.Next = i + 1 < adapters.size() ? &adapterInfo[i + 1] : nullptr;
        info.Index = adapter.index;
        info.ComboIndex = adapter.index;
        Copy(info.AdapterName, sizeof info.AdapterName, adapter.name);
        Copy(info.Description, sizeof info.Description, adapter.description);
        info.AddressLength = static_cast<UINT>(adapter.mac.size());
        std::copy(adapter.mac.begin(), adapter.mac.end(), info.Address);
        info.Type = adapter.type;
        Fill(info.IpAddressList,
             adapter.addresses.empty() ? ScriptedAddress{} : adapter.addresses.front());
        IP_ADDR_STRING* last = &info.IpAddressList;
        for (std::size_t a = 1; a < adapter.addresses.size(); ++a) {
            Fill(*more, adapter.addresses[a]);
            last->Next = more;
            last = more++;
        }
    }
    return NO_ERROR;
}

DWORD ScriptedIpHelper::GetIfEntry(MIB_IFROW* row) {
    if (DWORD result = 0; Scripted("GetIfEntry", result)) return result;
    const ScriptedAdapter* adapter = Adapter(row->dwIndex);
    if (!adapter) return ERROR_NOT_FOUND;
    row->dwType = adapter->type;
    row->dwAdminStatus = adapter->adminStatus;
    row->dwOperStatus = adapter->operStatus;
    return NO_ERROR;
}

DWORD ScriptedIpHelper::SetIfEntry(MIB_IFROW* row) {
    calls.push_back("SetIfEntry " + std::to_string(row->dwIndex) + " admin " +
                    std::to_string(row->dwAdminStatus));
    if (DWORD result = 0; Scripted("SetIfEntry", result)) return result;
    ScriptedAdapter* adapter = Adapter(row->dwIndex);
    if (!adapter) return ERROR_NOT_FOUND;
    adapter->adminStatus = row->dwAdminStatus;
    return NO_ERROR;
}

DWORD ScriptedIpHelper::AddIPAddress(IPAddr address, IPMask mask, DWORD ifIndex, ULONG* nteContext,
                                     ULONG* nteInstance) {
    calls.push_back("AddIPAddress " + Dotted(address) + "/" + Dotted(mask) + " on " +
                    std::to_string(ifIndex));
    if (DWORD result = 0; Scripted("AddIPAddress", result)) return result;
    ScriptedAdapter* adapter = Adapter(ifIndex);
    if (!adapter) return ERROR_INVALID_PARAMETER;
    for (const ScriptedAdapter& each : adapters)
        for (const ScriptedAddress& existing : each.addresses)
            if (existing.local == address) return ERROR_OBJECT_ALREADY_EXISTS;
    adapter->addresses.push_back({address, mask, nextContext_});
    *nteContext = *nteInstance = nextContext_++;
    // The system adds the subnet's on-link route with the address.
    MIB_IPFORWARDROW subnet = Row("0.0.0.0", "0.0.0.0", "0.0.0.0", ifIndex, 281,
                                  MIB_IPROUTE_TYPE_DIRECT, MIB_IPPROTO_LOCAL);
    subnet.dwForwardDest = address & mask;
    subnet.dwForwardMask = mask;
    subnet.dwForwardNextHop = address;
    routes.push_back(subnet);
    return NO_ERROR;
}

DWORD ScriptedIpHelper::DeleteIPAddress(ULONG nteContext) {
    calls.push_back("DeleteIPAddress " + std::to_string(nteContext));
    if (DWORD result = 0; Scripted("DeleteIPAddress", result)) return result;
    for (ScriptedAdapter& adapter : adapters) {
        const auto found = std::find_if(adapter.addresses.begin(), adapter.addresses.end(),
                                        [&](const auto& a) { return a.context == nteContext; });
        if (found == adapter.addresses.end()) continue;
        const ScriptedAddress gone = *found;
        adapter.addresses.erase(found);
        // With the address go its subnet's routes on this adapter and every route whose
        // next hop that subnet held.
        std::erase_if(routes, [&](const MIB_IPFORWARDROW& row) {
            return row.dwForwardIfIndex == adapter.index &&
                   ((row.dwForwardNextHop & gone.mask) == (gone.local & gone.mask));
        });
        return NO_ERROR;
    }
    return ERROR_NOT_FOUND;
}

DWORD ScriptedIpHelper::GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL) {
    if (DWORD result = 0; Scripted("GetIpForwardTable", result)) return result;
    if (routes.empty()) return ERROR_NO_DATA;
    if (!TwoCallBlock<MIB_IPFORWARDROW>(table, size, 1, BeyondFirst(routes.size()))) {
        ++sizingCalls;
        if (afterSizing) afterSizing();
        return ERROR_INSUFFICIENT_BUFFER;
    }
    table->dwNumEntries = static_cast<DWORD>(routes.size());
    std::copy(routes.begin(), routes.end(), table->table);
    return NO_ERROR;
}

DWORD ScriptedIpHelper::CreateIpForwardEntry(MIB_IPFORWARDROW* route) {
    calls.push_back("CreateIpForwardEntry " + Dotted(route->dwForwardDest) + "/" +
                    Dotted(route->dwForwardMask) + " via " + Dotted(route->dwForwardNextHop));
    created.push_back(*route);
    if (DWORD result = 0; Scripted("CreateIpForwardEntry", result)) return result;
    if (route->dwForwardProto != MIB_IPPROTO_NETMGMT) return ERROR_INVALID_PARAMETER;
    for (const MIB_IPFORWARDROW& row : routes)
        if (SameRoute(row, *route)) return ERROR_OBJECT_ALREADY_EXISTS;
    routes.push_back(*route);
    return NO_ERROR;
}

DWORD ScriptedIpHelper::DeleteIpForwardEntry(MIB_IPFORWARDROW* route) {
    calls.push_back("DeleteIpForwardEntry " + Dotted(route->dwForwardDest) + "/" +
                    Dotted(route->dwForwardMask) + " via " + Dotted(route->dwForwardNextHop));
    if (DWORD result = 0; Scripted("DeleteIpForwardEntry", result)) return result;
    const auto found = std::find_if(routes.begin(), routes.end(),
                                    [&](const auto& row) { return SameRoute(row, *route); });
    if (found == routes.end()) return ERROR_NOT_FOUND;
    routes.erase(found);
    return NO_ERROR;
}

DWORD ScriptedIpHelper::SendARP(IPAddr destIP, IPAddr srcIP, void* macAddr, ULONG* physAddrLen) {
    calls.push_back("SendARP " + Dotted(destIP) + " from " + Dotted(srcIP));
    if (onArp) onArp();
    const DWORD result = arpResults.empty() ? ERROR_BAD_NET_NAME : arpResults.front();
    if (!arpResults.empty()) arpResults.pop_front();
    if (result == NO_ERROR) {
        std::copy(arpMac.begin(), arpMac.end(), static_cast<BYTE*>(macAddr));
        *physAddrLen = static_cast<ULONG>(arpMac.size());
    }
    return result;
}

}  // namespace kestrel::testing
