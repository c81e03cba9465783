// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Adapters and their addresses over libnl: links, IPv4 addresses and default routes laid out as
// an adapter chain; addresses added and deleted by context.
#include <arpa/inet.h>
#include <linux/ethtool.h>
#include <linux/if.h>
#include <linux/if_arp.h>
#include <linux/rtnetlink.h>
#include <linux/sockios.h>
#include <netlink/addr.h>
#include <netlink/cache.h>
#include <netlink/route/addr.h>
#include <netlink/route/link.h>
#include <netlink/route/route.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "platform/adapter_layout.h"
#include "platform/netlink.h"

namespace kestrel {
namespace {

struct CacheRelease {
    void operator()(nl_cache* cache) const { nl_cache_free(cache); }
};
using NlCache = std::unique_ptr<nl_cache, CacheRelease>;

struct AddrRelease {
    void operator()(nl_addr* address) const { nl_addr_put(address); }
};
using NlAddr = std::unique_ptr<nl_addr, AddrRelease>;

IPAddr MaskOf(int prefix) {
    return prefix <= 0 ? 0 : htonl(~std::uint32_t{0} << (32 - prefix));
}

// The prefix of a contiguous mask, or -1.
int PrefixOf(IPMask mask) {
    const std::uint32_t host = ntohl(mask);
    const int prefix = __builtin_popcount(host);
    return MaskOf(prefix) == mask ? prefix : -1;
}

IPAddr AddressOf(nl_addr* address) {
    IPAddr value = 0;
    if (address && nl_addr_get_len(address) == sizeof value)
        std::memcpy(&value, nl_addr_get_binary_addr(address), sizeof value);
    return value;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

UINT TypeOf(rtnl_link* link, const std::string& name) {
    switch (rtnl_link_get_arptype(link)) {
        case ARPHRD_ETHER:
            if (Exists("/sys/class/net/" + name + "/wireless") ||
                Exists("/sys/class/net/" + name + "/phy80211"))
                return IF_TYPE_IEEE80211;
            return MIB_IF_TYPE_ETHERNET;
        case ARPHRD_LOOPBACK:
            return MIB_IF_TYPE_LOOPBACK;
        case ARPHRD_PPP:
            return MIB_IF_TYPE_PPP;
        default:
            return MIB_IF_TYPE_OTHER;
    }
}

std::string DriverOf(const std::string& name) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    ethtool_drvinfo info{};
    info.cmd = ETHTOOL_GDRVINFO;
    ifreq request{};
    std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
    request.ifr_data = reinterpret_cast<char*>(&info);
    const bool ok = ::ioctl(fd, SIOCETHTOOL, &request) == 0;
    ::close(fd);
    return ok ? std::string(info.driver, strnlen(info.driver, sizeof info.driver)) : std::string();
}

// What udev's hardware database knows of a physical device. Its files are indexed by ifindex,
// which another namespace reuses, so the file must name this very interface.
std::string VendorModelOf(const std::string& name, int ifIndex) {
    if (!Exists("/sys/class/net/" + name + "/device")) return {};
    std::ifstream data("/run/udev/data/n" + std::to_string(ifIndex));
    std::string line, vendor, model;
    bool same = false;
    while (std::getline(data, line)) {
        if (line == "E:INTERFACE=" + name) same = true;
        if (line.rfind("E:ID_VENDOR_FROM_DATABASE=", 0) == 0) vendor = line.substr(26);
        if (line.rfind("E:ID_MODEL_FROM_DATABASE=", 0) == 0) model = line.substr(25);
    }
    if (!same) return {};
    return vendor.empty() ? model : model.empty() ? vendor : vendor + " " + model;
}

// "Intel Corporation 82574L Gigabit Network Connection (eth0, e1000e)", "eth1 (veth)", "lo".
std::string DescriptionOf(rtnl_link* link, const std::string& name, int ifIndex) {
    std::string driver = DriverOf(name);
    if (driver.empty() && rtnl_link_get_type(link)) driver = rtnl_link_get_type(link);
    const std::string device = VendorModelOf(name, ifIndex);
    if (!device.empty()) return device + " (" + name + (driver.empty() ? "" : ", " + driver) + ")";
    return driver.empty() ? name : name + " (" + driver + ")";
}

// Gateways of the default routes of the main table, per link, lowest metric first.
std::map<int, std::vector<std::pair<DWORD, std::string>>> DefaultGateways(nl_sock* socket) {
    std::map<int, std::vector<std::pair<DWORD, std::string>>> gateways;
    std::vector<NlObject> routes;
    DumpIPv4Routes(socket, routes);
    for (const NlObject& object : routes) {
        rtnl_route* route = AsRoute(object);
        if (rtnl_route_get_table(route) != RT_TABLE_MAIN ||
            rtnl_route_get_type(route) != RTN_UNICAST)
            continue;
        nl_addr* dst = rtnl_route_get_dst(route);
        if (dst && nl_addr_get_prefixlen(dst) != 0) continue;
        for (int n = 0; n < rtnl_route_get_nnexthops(route); ++n) {
            rtnl_nexthop* hop = rtnl_route_nexthop_n(route, n);
            const IPAddr gateway = AddressOf(rtnl_route_nh_get_gateway(hop));
            if (gateway == 0) continue;
            gateways[rtnl_route_nh_get_ifindex(hop)].emplace_back(rtnl_route_get_priority(route),
                                                                  Dotted(gateway));
        }
    }
    for (auto& [ifIndex, list] : gateways) std::stable_sort(list.begin(), list.end());
    return gateways;
}

}  // namespace

DWORD LinuxIpHelper::ContextFor(int ifIndex, IPAddr address, int prefix) {
    for (std::size_t i = 0; i < addresses_.size(); ++i) {
        const AddressEntry& entry = addresses_[i];
        if (entry.ifIndex == ifIndex && entry.address == address && entry.prefix == prefix)
            return static_cast<DWORD>(i + 1);
    }
    addresses_.push_back({ifIndex, address, prefix, nullptr});
    return static_cast<DWORD>(addresses_.size());
}

DWORD LinuxIpHelper::GetAdaptersInfo(IP_ADAPTER_INFO* adapterInfo, ULONG* sizePointer) {
    if (!sizePointer) return ERROR_INVALID_PARAMETER;
    NlSocket socket = ConnectRoute();
    if (!socket) return ERROR_GEN_FAILURE;
    nl_cache* rawLinks = nullptr;
    nl_cache* rawAddresses = nullptr;
    if (rtnl_link_alloc_cache(socket.get(), AF_UNSPEC, &rawLinks) < 0) return ERROR_GEN_FAILURE;
    NlCache links(rawLinks);
    if (rtnl_addr_alloc_cache(socket.get(), &rawAddresses) < 0) return ERROR_GEN_FAILURE;
    NlCache addresses(rawAddresses);
    auto gateways = DefaultGateways(socket.get());

    std::vector<AdapterRecord> adapters;
    std::lock_guard<std::mutex> guard(lock_);
    for (nl_object* object = nl_cache_get_first(links.get()); object;
         object = nl_cache_get_next(object)) {
        auto* link = reinterpret_cast<rtnl_link*>(object);
        AdapterRecord record;
        record.index = static_cast<DWORD>(rtnl_link_get_ifindex(link));
        record.name = rtnl_link_get_name(link) ? rtnl_link_get_name(link) : "";
        record.type = TypeOf(link, record.name);
        record.description = DescriptionOf(link, record.name, rtnl_link_get_ifindex(link));
        if (nl_addr* mac = rtnl_link_get_addr(link)) {
            const auto* bytes = static_cast<const BYTE*>(nl_addr_get_binary_addr(mac));
            record.hardwareAddress.assign(bytes, bytes + nl_addr_get_len(mac));
        }
        for (nl_object* item = nl_cache_get_first(addresses.get()); item;
             item = nl_cache_get_next(item)) {
            auto* address = reinterpret_cast<rtnl_addr*>(item);
            if (rtnl_addr_get_family(address) != AF_INET ||
                rtnl_addr_get_ifindex(address) != rtnl_link_get_ifindex(link))
                continue;
            const IPAddr local = AddressOf(rtnl_addr_get_local(address));
            const int prefix = rtnl_addr_get_prefixlen(address);
            const DWORD context = ContextFor(rtnl_addr_get_ifindex(address), local, prefix);
            addresses_[context - 1].last.reset(nl_object_clone(item));
            record.addresses.push_back({Dotted(local), Dotted(MaskOf(prefix)), context});
        }
        for (const auto& gateway : gateways[rtnl_link_get_ifindex(link)])
            record.gateways.push_back(gateway.second);
        adapters.push_back(std::move(record));
    }
    std::sort(adapters.begin(), adapters.end(),
              [](const AdapterRecord& a, const AdapterRecord& b) { return a.index < b.index; });
    return WriteAdapterChain(adapters, adapterInfo, sizePointer);
}

DWORD LinuxIpHelper::AddIPAddress(IPAddr address, IPMask mask, DWORD ifIndex, ULONG* nteContext,
                                  ULONG* nteInstance) {
    const int prefix = PrefixOf(mask);
    if (!nteContext || !nteInstance || prefix < 0 || address == 0 || ifIndex == 0)
        return ERROR_INVALID_PARAMETER;
    NlSocket socket = ConnectRoute();
    if (!socket) return ERROR_GEN_FAILURE;

    std::lock_guard<std::mutex> guard(lock_);
    const DWORD context = ContextFor(static_cast<int>(ifIndex), address, prefix);
    AddressEntry& entry = addresses_[context - 1];
    NlObject object;
    if (entry.last) {
        // Back as it was read: broadcast, label, scope, flags; a finite lifetime as it then stood.
        object.reset(nl_object_clone(entry.last.get()));
        auto* known = reinterpret_cast<rtnl_addr*>(object.get());
        const std::uint32_t valid = rtnl_addr_get_valid_lifetime(known);
        const std::uint32_t preferred = rtnl_addr_get_preferred_lifetime(known);
        if (valid != 0xFFFFFFFFu && valid != 0) {
            rtnl_addr_set_valid_lifetime(known, valid);
            rtnl_addr_set_preferred_lifetime(known, std::min(preferred, valid));
        }
    } else {
        rtnl_addr* fresh = rtnl_addr_alloc();
        if (!fresh) return ERROR_NOT_ENOUGH_MEMORY;
        object.reset(reinterpret_cast<nl_object*>(fresh));
        NlAddr local(nl_addr_build(AF_INET, &address, sizeof address));
        nl_addr_set_prefixlen(local.get(), prefix);
        rtnl_addr_set_ifindex(fresh, static_cast<int>(ifIndex));
        rtnl_addr_set_family(fresh, AF_INET);
        rtnl_addr_set_local(fresh, local.get());
        rtnl_addr_set_prefixlen(fresh, prefix);
        if (prefix < 31) {
            const IPAddr broadcast = address | ~mask;
            NlAddr brd(nl_addr_build(AF_INET, &broadcast, sizeof broadcast));
            rtnl_addr_set_broadcast(fresh, brd.get());
        }
    }
    const int result =
        rtnl_addr_add(socket.get(), reinterpret_cast<rtnl_addr*>(object.get()), NLM_F_EXCL);
    if (result < 0) return ErrorFromNl(result);
    *nteContext = context;
    *nteInstance = context;
    return NO_ERROR;
}

DWORD LinuxIpHelper::DeleteIPAddress(ULONG nteContext) {
    std::lock_guard<std::mutex> guard(lock_);
    if (nteContext == 0 || nteContext > addresses_.size()) return ERROR_INVALID_PARAMETER;
    const AddressEntry& entry = addresses_[nteContext - 1];
    NlSocket socket = ConnectRoute();
    if (!socket) return ERROR_GEN_FAILURE;
    rtnl_addr* address = rtnl_addr_alloc();
    if (!address) return ERROR_NOT_ENOUGH_MEMORY;
    NlObject holder(reinterpret_cast<nl_object*>(address));
    NlAddr local(nl_addr_build(AF_INET, &entry.address, sizeof entry.address));
    nl_addr_set_prefixlen(local.get(), entry.prefix);
    rtnl_addr_set_ifindex(address, entry.ifIndex);
    rtnl_addr_set_family(address, AF_INET);
    rtnl_addr_set_local(address, local.get());
    rtnl_addr_set_prefixlen(address, entry.prefix);
    return ErrorFromNl(rtnl_addr_delete(socket.get(), address, 0));
}

}  // namespace kestrel
