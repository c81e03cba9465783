// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "helper/windows/windows_netkernel.h"

#include <io.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/clock.h"
#include "platform/posix.h"

namespace kestrel {
namespace {

// A table may grow between the sizing call and the filling one: ask again, a few times.
constexpr int kSizingAttempts = 4;
constexpr std::uint8_t kRouteUnicast = 1;    // RTN_UNICAST
constexpr std::uint8_t kRouteBlackhole = 6;  // RTN_BLACKHOLE
constexpr std::uint8_t kScopeLink = 253;     // RT_SCOPE_LINK
constexpr std::uint8_t kProtoKernel = 2;     // RTPROT_KERNEL: made with an address
constexpr std::uint8_t kProtoStatic = 4;     // RTPROT_STATIC
constexpr DWORD kMetricUnused = 0xFFFFFFFF;  // MIB_IPROUTE_METRIC_UNUSED
constexpr DWORD kErrorNetworkUnreachable = 1231;
constexpr DWORD kErrorFileNotFound = 2;
constexpr DWORD kErrorDevNotExist = 55;
constexpr int kArpPauseMs = 200;

// `notFound`: what a missing object means for this call (-EADDRNOTAVAIL, -ESRCH, -ENODEV).
int ErrnoOf(DWORD result, int notFound) {
    switch (result) {
        case NO_ERROR:
            return 0;
        case ERROR_OBJECT_ALREADY_EXISTS:
            return -EEXIST;
        case ERROR_NOT_FOUND:
        case kErrorFileNotFound:
            return notFound;
        case kErrorDevNotExist:
            return -ENODEV;
        case ERROR_ACCESS_DENIED:
            return -EPERM;
        case ERROR_INVALID_PARAMETER:
            return -EINVAL;
        case ERROR_NOT_SUPPORTED:
            return -EOPNOTSUPP;
        case ERROR_NOT_ENOUGH_MEMORY:
            return -ENOMEM;
        case kErrorNetworkUnreachable:
            return -ENETUNREACH;
        default:
            return -EIO;
    }
}

IPMask MaskOf(int prefix) {
    return prefix <= 0 ? 0 : htonl(~std::uint32_t{0} << (32 - prefix));
}

// -1 for a mask that is not a prefix.
int PrefixOf(IPMask mask) {
    const int prefix = __builtin_popcount(ntohl(mask));
    return MaskOf(prefix) == mask ? prefix : -1;
}

template <std::size_t N>
std::string Text(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

std::optional<IPAddr> AddressOf(const IP_ADDRESS_STRING& text) {
    const std::string dotted = Text(text.String);
    const IPAddr address = inet_addr(dotted.c_str());
    if (address == INADDR_NONE && dotted != "255.255.255.255") return std::nullopt;
    return address;
}

KernelBlob BytesOf(const void* object, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(object);
    return KernelBlob(bytes, bytes + size);
}

KernelRoute RouteOf(const MIB_IPFORWARDROW& row) {
    KernelRoute route;
    route.dst = row.dwForwardDest;
    route.prefix = PrefixOf(row.dwForwardMask);
    route.tos = static_cast<std::uint8_t>(row.dwForwardPolicy);
    route.priority = row.dwForwardMetric1;
    route.oif = static_cast<int>(row.dwForwardIfIndex);
    // A direct route names the adapter's own address as its next hop: it has no gateway.
    const bool direct = row.dwForwardType == MIB_IPROUTE_TYPE_DIRECT;
    route.gateway = direct ? 0 : row.dwForwardNextHop;
    route.scope = direct ? kScopeLink : 0;
    route.type = row.dwForwardType == MIB_IPROUTE_TYPE_INVALID ? kRouteBlackhole : kRouteUnicast;
    route.protocol = row.dwForwardProto == MIB_IPPROTO_LOCAL     ? kProtoKernel
                     : row.dwForwardProto == MIB_IPPROTO_NETMGMT ? kProtoStatic
                                                                 : 0;
    route.raw = BytesOf(&row, sizeof row);
    return route;
}

MIB_IPFORWARDROW RowOf(const KernelRoute& route) {
    MIB_IPFORWARDROW row{};
    if (route.raw.size() == sizeof row) {
        std::memcpy(&row, route.raw.data(), sizeof row);
    } else {
        row.dwForwardDest = route.dst;
        row.dwForwardMask = MaskOf(route.prefix);
        row.dwForwardPolicy = route.tos;
        row.dwForwardNextHop = route.gateway;
        row.dwForwardIfIndex = static_cast<DWORD>(route.oif);
        row.dwForwardType = route.gateway ? MIB_IPROUTE_TYPE_INDIRECT : MIB_IPROUTE_TYPE_DIRECT;
        row.dwForwardMetric1 = route.priority;
        row.dwForwardMetric2 = row.dwForwardMetric3 = row.dwForwardMetric4 = row.dwForwardMetric5 =
            kMetricUnused;
    }
    // The only protocol CreateIpForwardEntry takes; the age is the system's to count.
    row.dwForwardProto = MIB_IPPROTO_NETMGMT;
    row.dwForwardAge = 0;
    return row;
}

// Whether the delete that names `named` takes `route`: a field left 0 matches any.
bool Matches(const KernelRoute& named, const KernelRoute& route) {
    return named.dst == route.dst && named.prefix == route.prefix && named.tos == route.tos &&
           named.type == route.type && (!named.priority || named.priority == route.priority) &&
           (!named.protocol || named.protocol == route.protocol) &&
           (!named.gateway || named.gateway == route.gateway) &&
           (!named.oif || named.oif == route.oif);
}

// Whether the front end asked for more, or went away: its requests are the helper's
// standard input, a pipe.
bool AbortRequested(int abortFd) {
    if (abortFd < 0) return false;
    const auto pipe = reinterpret_cast<HANDLE>(::_get_osfhandle(abortFd));
    if (pipe == INVALID_HANDLE_VALUE || ::GetFileType(pipe) != FILE_TYPE_PIPE) return false;
    DWORD waiting = 0;
    if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr)) return true;
    return waiting > 0;
}

}  // namespace

DWORD WindowsNetKernel::ReadAdapters(std::vector<std::uint64_t>& block) {
    ULONG size = 0;
    block.clear();
    for (int attempt = 0; attempt < kSizingAttempts; ++attempt) {
        auto* chain = block.empty() ? nullptr : reinterpret_cast<IP_ADAPTER_INFO*>(block.data());
        const DWORD result = api_.GetAdaptersInfo(chain, &size);
        if (result == ERROR_NO_DATA) block.clear();
        if (result != ERROR_BUFFER_OVERFLOW) return result == ERROR_NO_DATA ? NO_ERROR : result;
        block.assign((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t), 0);
    }
    return ERROR_BUFFER_OVERFLOW;
}

DWORD WindowsNetKernel::ReadRoutes(std::vector<MIB_IPFORWARDROW>& rows) {
    ULONG size = 0;
    std::vector<std::uint64_t> block;
    rows.clear();
    for (int attempt = 0; attempt < kSizingAttempts; ++attempt) {
        auto* table = block.empty() ? nullptr : reinterpret_cast<MIB_IPFORWARDTABLE*>(block.data());
        const DWORD result = api_.GetIpForwardTable(table, &size, FALSE);
        if (result == ERROR_NO_DATA) return NO_ERROR;
        if (result == NO_ERROR && table) {
            const std::size_t fit =
                (size - offsetof(MIB_IPFORWARDTABLE, table)) / sizeof(MIB_IPFORWARDROW);
            rows.assign(table->table,
                        table->table + std::min<std::size_t>(table->dwNumEntries, fit));
            return NO_ERROR;
        }
        if (result != ERROR_INSUFFICIENT_BUFFER && result != NO_ERROR) return result;
        if (size < sizeof(MIB_IPFORWARDTABLE)) size = sizeof(MIB_IPFORWARDTABLE);
        block.assign((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t), 0);
    }
    return ERROR_INSUFFICIENT_BUFFER;
}

bool WindowsNetKernel::Links(std::vector<KernelLink>& links) {
    std::vector<std::uint64_t> block;
    if (ReadAdapters(block) != NO_ERROR) return false;
    links.clear();
    if (block.empty()) return true;
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_INFO*>(block.data()); adapter;
         adapter = adapter->Next) {
        KernelLink link;
        link.index = static_cast<int>(adapter->Index);
        link.name = Text(adapter->AdapterName);
        link.description = Text(adapter->Description);
        const UINT length = std::min<UINT>(adapter->AddressLength, MAX_ADAPTER_ADDRESS_LENGTH);
        link.mac.assign(adapter->Address, adapter->Address + length);
        link.type = adapter->Type;
        MIB_IFROW row{};
        row.dwIndex = adapter->Index;
        // An adapter gone since the list was read is not there any more; any other failure
        // leaves the states unknown.
        if (const DWORD result = api_.GetIfEntry(&row); result == ERROR_NOT_FOUND)
            continue;
        else if (result != NO_ERROR)
            return false;
        link.up = row.dwAdminStatus == kAdminStatusUp;
        link.carrier =
            row.dwOperStatus == kOperStatusConnected || row.dwOperStatus == kOperStatusOperational;
        links.push_back(std::move(link));
    }
    return true;
}

bool WindowsNetKernel::Addresses(std::vector<KernelAddress>& addresses) {
    std::vector<std::uint64_t> block;
    if (ReadAdapters(block) != NO_ERROR) return false;
    addresses.clear();
    if (block.empty()) return true;
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_INFO*>(block.data()); adapter;
         adapter = adapter->Next) {
        for (const IP_ADDR_STRING* entry = &adapter->IpAddressList; entry; entry = entry->Next) {
            const std::optional<IPAddr> local = AddressOf(entry->IpAddress);
            const std::optional<IPAddr> mask = AddressOf(entry->IpMask);
            // An adapter without an address lists 0.0.0.0.
            if (!local || !mask || *local == 0 || PrefixOf(*mask) < 0) continue;
            KernelAddress address;
            address.ifIndex = static_cast<int>(adapter->Index);
            address.local = *local;
            address.prefix = PrefixOf(*mask);
            address.broadcast = address.prefix < 31 ? (*local | ~*mask) : 0;
            address.raw = BytesOf(&entry->Context, sizeof entry->Context);
            addresses.push_back(std::move(address));
        }
    }
    return true;
}

bool WindowsNetKernel::Routes(std::vector<KernelRoute>& routes) {
    std::vector<MIB_IPFORWARDROW> rows;
    if (ReadRoutes(rows) != NO_ERROR) return false;
    routes.clear();
    for (const MIB_IPFORWARDROW& row : rows)
        if (PrefixOf(row.dwForwardMask) >= 0) routes.push_back(RouteOf(row));
    return true;
}

int WindowsNetKernel::AddAddress(const KernelAddress& address) {
    ULONG context = 0;
    ULONG instance = 0;
    return ErrnoOf(api_.AddIPAddress(address.local, MaskOf(address.prefix),
                                     static_cast<DWORD>(address.ifIndex), &context, &instance),
                   -ENODEV);
}

int WindowsNetKernel::DeleteAddress(const KernelAddress& address) {
    // The context changes whenever the address is added again: the one read now is the one.
    std::vector<std::uint64_t> block;
    if (const DWORD result = ReadAdapters(block); result != NO_ERROR) return ErrnoOf(result, -EIO);
    if (block.empty()) return -EADDRNOTAVAIL;
    const IPMask mask = MaskOf(address.prefix);
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_INFO*>(block.data()); adapter;
         adapter = adapter->Next) {
        if (static_cast<int>(adapter->Index) != address.ifIndex) continue;
        for (const IP_ADDR_STRING* entry = &adapter->IpAddressList; entry; entry = entry->Next)
            if (AddressOf(entry->IpAddress) == address.local && AddressOf(entry->IpMask) == mask)
                return ErrnoOf(api_.DeleteIPAddress(entry->Context), -EADDRNOTAVAIL);
    }
    return -EADDRNOTAVAIL;
}

int WindowsNetKernel::AddRoute(const KernelRoute& route) {
    MIB_IPFORWARDROW row = RowOf(route);
    return ErrnoOf(api_.CreateIpForwardEntry(&row), -ENODEV);
}

int WindowsNetKernel::DeleteRoute(const KernelRoute& route) {
    std::vector<MIB_IPFORWARDROW> rows;
    if (const DWORD result = ReadRoutes(rows); result != NO_ERROR) return ErrnoOf(result, -EIO);
    const MIB_IPFORWARDROW* chosen = nullptr;
    for (const MIB_IPFORWARDROW& row : rows)
        if (PrefixOf(row.dwForwardMask) >= 0 && Matches(route, RouteOf(row)) &&
            (!chosen || row.dwForwardMetric1 < chosen->dwForwardMetric1))
            chosen = &row;
    if (!chosen) return -ESRCH;
    MIB_IPFORWARDROW row = *chosen;
    return ErrnoOf(api_.DeleteIpForwardEntry(&row), -ESRCH);
}

int WindowsNetKernel::SetLinkUp(int ifIndex, bool up) {
    MIB_IFROW row{};
    row.dwIndex = static_cast<DWORD>(ifIndex);
    if (const DWORD result = api_.GetIfEntry(&row); result != NO_ERROR)
        return ErrnoOf(result, -ENODEV);
    row.dwAdminStatus = up ? kAdminStatusUp : kAdminStatusDown;
    return ErrnoOf(api_.SetIfEntry(&row), -ENODEV);
}

int WindowsNetKernel::IPv6Addresses(int) {
    // An adapter keeps its IPv6 configuration while it is disabled: nothing is lost.
    return 0;
}

int WindowsNetKernel::Arp(int, IPAddr target, IPAddr source, std::uint8_t (&mac)[6], int waitMs,
                          int abortFd) {
    // SendARP leaves through the adapter that holds `source`, and waits on its own, a while.
    const std::uint64_t deadline = GetTickCount64() + static_cast<std::uint64_t>(waitMs);
    for (;;) {
        if (AbortRequested(abortFd)) return -ECANCELED;
        BYTE answer[MAX_ADAPTER_ADDRESS_LENGTH] = {};
        ULONG length = sizeof answer;
        const DWORD result = api_.SendARP(target, source, answer, &length);
        if (result == NO_ERROR && length >= sizeof mac) {
            std::copy(answer, answer + sizeof mac, mac);
            return 0;
        }
        // No answer yet is ERROR_BAD_NET_NAME (or a time-out); anything else will not change.
        if (result != ERROR_BAD_NET_NAME && result != ERROR_GEN_FAILURE && result != NO_ERROR &&
            result != ERROR_TIMEOUT)
            return ErrnoOf(result, -EADDRNOTAVAIL);
        if (GetTickCount64() + kArpPauseMs >= deadline) return -ETIMEDOUT;
        Sleep(kArpPauseMs);
    }
}

}  // namespace kestrel
