// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/fake_ip_helper.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

namespace kestrel::testing {
namespace {

bool SameRoute(const MIB_IPFORWARDROW& a, const MIB_IPFORWARDROW& b) {
    return a.dwForwardDest == b.dwForwardDest && a.dwForwardMask == b.dwForwardMask &&
           a.dwForwardNextHop == b.dwForwardNextHop && a.dwForwardIfIndex == b.dwForwardIfIndex;
}

}  // namespace

MIB_IPFORWARDROW MakeRoute(const std::string& dest, const std::string& mask,
                           const std::string& nextHop, DWORD ifIndex, DWORD metric, DWORD proto) {
    MIB_IPFORWARDROW row{};
    row.dwForwardDest = inet_addr(dest.c_str());
    row.dwForwardMask = inet_addr(mask.c_str());
    row.dwForwardNextHop = inet_addr(nextHop.c_str());
    row.dwForwardIfIndex = ifIndex;
    row.dwForwardType = row.dwForwardNextHop ? MIB_IPROUTE_TYPE_INDIRECT : MIB_IPROUTE_TYPE_DIRECT;
    row.dwForwardProto = proto;
    row.dwForwardMetric1 = metric;
    row.dwForwardMetric2 = row.dwForwardMetric3 = row.dwForwardMetric4 = row.dwForwardMetric5 =
        0xFFFFFFFF;
    return row;
}

std::string RouteText(const MIB_IPFORWARDROW& row) {
    return Dotted(row.dwForwardDest) + "/" + Dotted(row.dwForwardMask) + " via " +
           Dotted(row.dwForwardNextHop) + " on " + std::to_string(row.dwForwardIfIndex) +
           " metric " + std::to_string(row.dwForwardMetric1);
}

FakeIpHelper::FakeIpHelper() {
    SetIpHelper(this);
}

FakeIpHelper::~FakeIpHelper() {
    SetIpHelper(nullptr);
}

void FakeIpHelper::AddAdapter(DWORD index, const std::string& description, UINT type) {
    std::lock_guard<std::mutex> guard(lock_);
    Adapter adapter;
    adapter.record.name = "if" + std::to_string(index);
    adapter.record.description = description;
    adapter.record.hardwareAddress = {0x02, 0, 0, 0, 0, static_cast<BYTE>(index)};
    adapter.record.index = index;
    adapter.record.type = type;
    adapters_.push_back(std::move(adapter));
}

void FakeIpHelper::AddAdapterAfterSizing(DWORD index, const std::string& description, UINT type) {
    std::lock_guard<std::mutex> guard(lock_);
    Adapter adapter;
    adapter.record.name = "if" + std::to_string(index);
    adapter.record.description = description;
    adapter.record.index = index;
    adapter.record.type = type;
    pendingAdapters_.push_back(std::move(adapter));
}

DWORD FakeIpHelper::AddAddress(DWORD ifIndex, const std::string& address, const std::string& mask) {
    std::lock_guard<std::mutex> guard(lock_);
    Adapter* adapter = FindAdapter(ifIndex);
    if (!adapter) return 0;
    const DWORD context = nextContext_++;
    adapter->addresses.push_back({inet_addr(address.c_str()), inet_addr(mask.c_str()), context});
    contextNames_[context] = address + "/" + mask + " on " + std::to_string(ifIndex);
    return context;
}

void FakeIpHelper::AddGateway(DWORD ifIndex, const std::string& gateway) {
    std::lock_guard<std::mutex> guard(lock_);
    if (Adapter* adapter = FindAdapter(ifIndex)) adapter->record.gateways.push_back(gateway);
}

void FakeIpHelper::AddRoute(const MIB_IPFORWARDROW& row) {
    std::lock_guard<std::mutex> guard(lock_);
    routes_.push_back(row);
}

void FakeIpHelper::SetDnsServers(std::vector<std::string> servers) {
    std::lock_guard<std::mutex> guard(lock_);
    dnsServers_ = std::move(servers);
}

void FakeIpHelper::ScriptResult(const std::string& function, DWORD result) {
    std::lock_guard<std::mutex> guard(lock_);
    scripted_[function].push_back(result);
}

void FakeIpHelper::ScriptArp(DWORD result) {
    std::lock_guard<std::mutex> guard(lock_);
    arpResults_.push_back(result);
}

void FakeIpHelper::SetArpResponder(std::function<DWORD(IPAddr, IPAddr)> responder) {
    std::lock_guard<std::mutex> guard(lock_);
    arpResponder_ = std::move(responder);
}

void FakeIpHelper::SetCallHook(std::function<void(const std::string&)> hook) {
    std::lock_guard<std::mutex> guard(lock_);
    callHook_ = std::move(hook);
}

std::vector<std::string> FakeIpHelper::Calls() const {
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
}

void FakeIpHelper::ClearCalls() {
    std::lock_guard<std::mutex> guard(lock_);
    calls_.clear();
}

std::vector<MIB_IPFORWARDROW> FakeIpHelper::Routes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return routes_;
}

std::vector<std::string> FakeIpHelper::RouteTexts() const {
    std::vector<std::string> out;
    for (const auto& row : Routes()) out.push_back(RouteText(row));
    return out;
}

std::vector<std::string> FakeIpHelper::AddressTexts() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::string> out;
    for (const auto& adapter : adapters_)
        for (const auto& a : adapter.addresses)
            out.push_back(Dotted(a.address) + "/" + Dotted(a.mask) + " on " +
                          std::to_string(adapter.record.index));
    return out;
}

bool FakeIpHelper::Scripted(const std::string& function, DWORD& result) {
    auto found = scripted_.find(function);
    if (found == scripted_.end() || found->second.empty()) return false;
    result = found->second.front();
    found->second.pop_front();
    return result != kRealResult;
}

DWORD FakeIpHelper::Record(std::string call, DWORD result) {
    calls_.push_back(std::move(call) + " = " + std::to_string(result));
    if (callHook_) callHook_(calls_.back());
    return result;
}

FakeIpHelper::Adapter* FakeIpHelper::FindAdapter(DWORD index) {
    for (auto& adapter : adapters_)
        if (adapter.record.index == index) return &adapter;
    return nullptr;
}

bool FakeIpHelper::Reaches(const Adapter& adapter, IPAddr gateway) const {
    return std::any_of(adapter.addresses.begin(), adapter.addresses.end(), [&](const Address& a) {
        return (a.address & a.mask) == (gateway & a.mask);
    });
}

std::string FakeIpHelper::ContextText(ULONG context) const {
    auto found = contextNames_.find(context);
    return found != contextNames_.end() ? found->second : "#" + std::to_string(context);
}

DWORD FakeIpHelper::GetAdaptersInfo(IP_ADAPTER_INFO* adapterInfo, ULONG* sizePointer) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::string call = adapterInfo ? "GetAdaptersInfo(buffer)" : "GetAdaptersInfo(null)";
    DWORD result = 0;
    if (Scripted("GetAdaptersInfo", result)) return Record(call, result);

    std::vector<AdapterRecord> records;
    for (const auto& adapter : adapters_) {
        AdapterRecord record = adapter.record;
        for (const auto& a : adapter.addresses)
            record.addresses.push_back({Dotted(a.address), Dotted(a.mask), a.context});
        records.push_back(std::move(record));
    }
    result = WriteAdapterChain(records, adapterInfo, sizePointer);
    if (result == ERROR_BUFFER_OVERFLOW && !pendingAdapters_.empty()) {
        for (auto& adapter : pendingAdapters_) adapters_.push_back(std::move(adapter));
        pendingAdapters_.clear();
    }
    return Record(call, result);
}

DWORD FakeIpHelper::AddIPAddress(IPAddr address, IPMask mask, DWORD ifIndex, ULONG* nteContext,
                                 ULONG* nteInstance) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::string call = "AddIPAddress(" + Dotted(address) + "/" + Dotted(mask) + " on " +
                             std::to_string(ifIndex) + ")";
    DWORD result = 0;
    if (Scripted("AddIPAddress", result)) return Record(call, result);
    Adapter* adapter = FindAdapter(ifIndex);
    if (!adapter || !nteContext || !nteInstance) return Record(call, ERROR_INVALID_PARAMETER);
    for (const auto& other : adapters_)
        for (const auto& a : other.addresses)
            if (a.address == address) return Record(call, ERROR_OBJECT_ALREADY_EXISTS);
    const DWORD context = nextContext_++;
    adapter->addresses.push_back({address, mask, context});
    contextNames_[context] =
        Dotted(address) + "/" + Dotted(mask) + " on " + std::to_string(ifIndex);
    *nteContext = context;
    *nteInstance = context;
    return Record(call, NO_ERROR);
}

DWORD FakeIpHelper::DeleteIPAddress(ULONG nteContext) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::string call = "DeleteIPAddress(" + ContextText(nteContext) + ")";
    DWORD result = 0;
    if (Scripted("DeleteIPAddress", result)) return Record(call, result);
    for (auto& adapter : adapters_) {
        auto found = std::find_if(adapter.addresses.begin(), adapter.addresses.end(),
                                  [&](const Address& a) { return a.context == nteContext; });
        if (found == adapter.addresses.end()) continue;
        adapter.addresses.erase(found);
        // The kernel drops the routes whose gateway only the deleted address made reachable.
        std::erase_if(routes_, [&](const MIB_IPFORWARDROW& row) {
            return row.dwForwardIfIndex == adapter.record.index && row.dwForwardNextHop != 0 &&
                   !Reaches(adapter, row.dwForwardNextHop);
        });
        return Record(call, NO_ERROR);
    }
    return Record(call, ERROR_NOT_FOUND);
}

DWORD FakeIpHelper::GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL order) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::string call = std::string("GetIpForwardTable(") + (table ? "table" : "null") +
                             (order ? ", sorted)" : ")");
    DWORD result = 0;
    if (Scripted("GetIpForwardTable", result)) return Record(call, result);
    if (!size) return Record(call, ERROR_INVALID_PARAMETER);
    const std::size_t rows = std::max<std::size_t>(routes_.size(), 1);
    const auto needed =
        static_cast<ULONG>(sizeof(MIB_IPFORWARDTABLE) + (rows - 1) * sizeof(MIB_IPFORWARDROW));
    if (!table || *size < needed) {
        *size = needed;
        return Record(call, ERROR_INSUFFICIENT_BUFFER);
    }
    table->dwNumEntries = static_cast<DWORD>(routes_.size());
    std::copy(routes_.begin(), routes_.end(), table->table);
    return Record(call, NO_ERROR);
}

DWORD FakeIpHelper::CreateIpForwardEntry(const MIB_IPFORWARDROW* route) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!route) return Record("CreateIpForwardEntry(null)", ERROR_INVALID_PARAMETER);
    const std::string call = "CreateIpForwardEntry(" + RouteText(*route) + ")";
    DWORD result = 0;
    if (Scripted("CreateIpForwardEntry", result)) return Record(call, result);
    for (const auto& row : routes_)
        if (SameRoute(row, *route) && row.dwForwardMetric1 == route->dwForwardMetric1)
            return Record(call, ERROR_OBJECT_ALREADY_EXISTS);
    // Like the kernel, a gateway must be reachable through the route's own adapter.
    const Adapter* adapter = FindAdapter(route->dwForwardIfIndex);
    if (!adapter || (route->dwForwardNextHop != 0 && !Reaches(*adapter, route->dwForwardNextHop)))
        return Record(call, ERROR_INVALID_PARAMETER);
    routes_.push_back(*route);
    return Record(call, NO_ERROR);
}

DWORD FakeIpHelper::DeleteIpForwardEntry(const MIB_IPFORWARDROW* route) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!route) return Record("DeleteIpForwardEntry(null)", ERROR_INVALID_PARAMETER);
    const std::string call = "DeleteIpForwardEntry(" + RouteText(*route) + ")";
    DWORD result = 0;
    if (Scripted("DeleteIpForwardEntry", result)) return Record(call, result);
    auto found = std::find_if(routes_.begin(), routes_.end(),
                              [&](const MIB_IPFORWARDROW& row) { return SameRoute(row, *route); });
    if (found == routes_.end()) return Record(call, ERROR_NOT_FOUND);
    routes_.erase(found);
    return Record(call, NO_ERROR);
}

DWORD FakeIpHelper::SendARP(IPAddr destIP, IPAddr srcIP, void* macAddr, ULONG* physAddrLen) {
    std::function<DWORD(IPAddr, IPAddr)> responder;
    DWORD result = ERROR_BAD_NET_NAME;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!arpResults_.empty()) {
            result = arpResults_.front();
            arpResults_.pop_front();
        } else if (arpResponder_) {
            responder = arpResponder_;
        }
    }
    // The responder may touch the fake clock or this fake: call it unlocked.
    if (responder) result = responder(destIP, srcIP);
    std::lock_guard<std::mutex> guard(lock_);
    if (result == NO_ERROR && macAddr && physAddrLen && *physAddrLen >= 6) {
        const BYTE mac[6] = {0x02, 0x4b, 0x53, 0x54, 0x4c, 0x01};
        std::memcpy(macAddr, mac, sizeof mac);
        *physAddrLen = 6;
    }
    return Record("SendARP(" + Dotted(destIP) + " from " + Dotted(srcIP) + ")", result);
}

DWORD FakeIpHelper::GetNetworkParams(FIXED_INFO* fixedInfo, ULONG* outBufLen) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::string call =
        std::string("GetNetworkParams(") + (fixedInfo ? "buffer" : "null") + ")";
    DWORD result = 0;
    if (Scripted("GetNetworkParams", result)) return Record(call, result);
    if (!outBufLen) return Record(call, ERROR_INVALID_PARAMETER);
    const std::size_t extra = dnsServers_.size() > 1 ? dnsServers_.size() - 1 : 0;
    const auto needed = static_cast<ULONG>(sizeof(FIXED_INFO) + extra * sizeof(IP_ADDR_STRING));
    if (!fixedInfo || *outBufLen < needed) {
        *outBufLen = needed;
        return Record(call, ERROR_BUFFER_OVERFLOW);
    }
    std::memset(static_cast<void*>(fixedInfo), 0, needed);
    std::strcpy(fixedInfo->HostName, "pc");
    auto* more = reinterpret_cast<IP_ADDR_STRING*>(fixedInfo + 1);
    IP_ADDR_STRING* previous = nullptr;
    for (std::size_t i = 0; i < dnsServers_.size(); ++i) {
        IP_ADDR_STRING& entry = i == 0 ? fixedInfo->DnsServerList : more[i - 1];
        std::strncpy(entry.IpAddress.String, dnsServers_[i].c_str(),
                     sizeof entry.IpAddress.String - 1);
        if (previous) previous->Next = &entry;
        previous = &entry;
    }
    return Record(call, NO_ERROR);
}

}  // namespace kestrel::testing
