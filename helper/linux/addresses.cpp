// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// IPv4 addresses, read and put back with every attribute the kernel gave them. libnl 3.7 neither
// reads nor sets IFA_RT_PRIORITY (the metric of the address's prefix route): it is taken from the
// message and written into the request here.
#include <linux/if_addr.h>
#include <linux/rtnetlink.h>
#include <netlink/attr.h>
#include <netlink/msg.h>
#include <netlink/route/addr.h>

#include <algorithm>
#include <cerrno>

#include "helper/linux/linux_netkernel.h"
#include "helper/linux/rtnl.h"

namespace kestrel {
namespace {

constexpr int kAddressReads = 5;

std::uint32_t MetricOf(KernelBlob& message) {
    nlmsghdr* header = rtnl::MessageOf(message, RTM_NEWADDR, sizeof(ifaddrmsg));
    nlattr* metric = header ? nlmsg_find_attr(header, sizeof(ifaddrmsg), IFA_RT_PRIORITY) : nullptr;
    return metric ? nla_get_u32(metric) : 0;
}

// The lifetimes and the metric the address gets back; a preferred lifetime beyond the valid one
// would be refused.
int PutLifetimesAndMetric(nl_msg* request, const KernelAddress& address) {
    ifa_cacheinfo lifetimes{};
    lifetimes.ifa_valid = address.validLifetime;
    lifetimes.ifa_prefered = std::min(address.preferredLifetime, address.validLifetime);
    int result = nla_put(request, IFA_CACHEINFO, sizeof lifetimes, &lifetimes);
    if (result == 0 && address.metric != 0)
        result = nla_put_u32(request, IFA_RT_PRIORITY, address.metric);
    return result;
}

// The kernel's own message, every attribute as it was (flags with noprefixroute, label,
// broadcast, scope, protocol), with the lifetimes and metric of `address`.
rtnl::Message Resent(const KernelAddress& address) {
    KernelBlob copy = address.raw;
    nlmsghdr* kernel = rtnl::MessageOf(copy, RTM_NEWADDR, sizeof(ifaddrmsg));
    if (!kernel) return nullptr;
    rtnl::Message request = rtnl::NewRequest(RTM_NEWADDR, NLM_F_CREATE | NLM_F_EXCL,
                                             nlmsg_data(kernel), sizeof(ifaddrmsg));
    if (!request) return nullptr;
    nlattr* attribute = nullptr;
    int remaining = 0;
    nlmsg_for_each_attr(attribute, kernel, sizeof(ifaddrmsg), remaining) {
        const int type = nla_type(attribute);
        if (type == IFA_CACHEINFO || type == IFA_RT_PRIORITY) continue;
        if (nla_put(request.get(), attribute->nla_type, nla_len(attribute), nla_data(attribute)) <
            0)
            return nullptr;
    }
    if (PutLifetimesAndMetric(request.get(), address) < 0) return nullptr;
    return request;
}

rtnl::Message Made(const KernelAddress& address) {
    ifaddrmsg header{};
    header.ifa_family = AF_INET;
    header.ifa_prefixlen = static_cast<std::uint8_t>(address.prefix);
    header.ifa_flags = static_cast<std::uint8_t>(address.flags);
    header.ifa_scope = address.scope;
    header.ifa_index = static_cast<std::uint32_t>(address.ifIndex);
    rtnl::Message request =
        rtnl::NewRequest(RTM_NEWADDR, NLM_F_CREATE | NLM_F_EXCL, &header, sizeof header);
    if (!request) return nullptr;
    nl_msg* message = request.get();
    if (nla_put_u32(message, IFA_LOCAL, address.local) < 0 ||
        nla_put_u32(message, IFA_ADDRESS, address.local) < 0 ||
        (address.broadcast && nla_put_u32(message, IFA_BROADCAST, address.broadcast) < 0) ||
        (!address.label.empty() && nla_put_string(message, IFA_LABEL, address.label.c_str()) < 0) ||
        nla_put_u32(message, IFA_FLAGS, address.flags) < 0 ||
        PutLifetimesAndMetric(message, address) < 0)
        return nullptr;
    return request;
}

// The address the kernel matches a deletion's prefix against: the peer of a point-to-point
// address, else the local one.
IPAddr PrefixAddressOf(const KernelAddress& address) {
    KernelBlob copy = address.raw;
    nlmsghdr* kernel = rtnl::MessageOf(copy, RTM_NEWADDR, sizeof(ifaddrmsg));
    nlattr* peer = kernel ? nlmsg_find_attr(kernel, sizeof(ifaddrmsg), IFA_ADDRESS) : nullptr;
    return peer && nla_len(peer) == sizeof(IPAddr) ? nla_get_u32(peer) : address.local;
}

bool ReadAddresses(std::vector<KernelAddress>& addresses) {
    ifaddrmsg request{};
    request.ifa_family = AF_INET;
    std::vector<KernelBlob> messages;
    if (!rtnl::Dump(RTM_GETADDR, &request, sizeof request, messages)) return false;
    addresses.clear();
    for (KernelBlob& message : messages) {
        rtnl::Object object = rtnl::Parse(message);
        auto* address = reinterpret_cast<rtnl_addr*>(object.get());
        if (!address || rtnl_addr_get_family(address) != AF_INET) continue;
        KernelAddress entry;
        entry.ifIndex = rtnl_addr_get_ifindex(address);
        entry.local = rtnl::AddressOf(rtnl_addr_get_local(address));
        entry.prefix = static_cast<int>(rtnl_addr_get_prefixlen(address));
        entry.broadcast = rtnl::AddressOf(rtnl_addr_get_broadcast(address));
        entry.flags = rtnl_addr_get_flags(address);
        entry.scope = static_cast<std::uint8_t>(rtnl_addr_get_scope(address));
        entry.metric = MetricOf(message);
        entry.label = rtnl_addr_get_label(address) ? rtnl_addr_get_label(address) : "";
        entry.validLifetime = rtnl_addr_get_valid_lifetime(address);
        entry.preferredLifetime = rtnl_addr_get_preferred_lifetime(address);
        entry.raw = std::move(message);
        addresses.push_back(std::move(entry));
    }
    return true;
}

bool SameNames(const std::vector<KernelAddress>& a, const std::vector<KernelAddress>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        return x.ifIndex == y.ifIndex && x.local == y.local && x.prefix == y.prefix;
    });
}

}  // namespace

// The kernel does not flag every deletion that cuts across an address dump: under load a read
// can miss an address that was never deleted. A read counts when the next one names the same
// addresses in the same order.
bool LinuxNetKernel::Addresses(std::vector<KernelAddress>& addresses) {
    std::vector<KernelAddress> previous;
    if (!ReadAddresses(previous)) return false;
    for (int attempt = 0; attempt < kAddressReads; ++attempt) {
        if (!ReadAddresses(addresses)) return false;
        if (SameNames(previous, addresses)) return true;
        previous = std::move(addresses);
    }
    addresses.clear();
    return false;
}

int LinuxNetKernel::AddAddress(const KernelAddress& address) {
    if (!address.raw.empty() && !rtnl::MessageOf(address.raw, RTM_NEWADDR, sizeof(ifaddrmsg)))
        return -EINVAL;
    rtnl::Message request = address.raw.empty() ? Made(address) : Resent(address);
    return request ? rtnl::Send(request.get()) : -ENOMEM;
}

int LinuxNetKernel::DeleteAddress(const KernelAddress& address) {
    ifaddrmsg header{};
    header.ifa_family = AF_INET;
    header.ifa_prefixlen = static_cast<std::uint8_t>(address.prefix);
    header.ifa_index = static_cast<std::uint32_t>(address.ifIndex);
    rtnl::Message request = rtnl::NewRequest(RTM_DELADDR, 0, &header, sizeof header);
    if (!request || nla_put_u32(request.get(), IFA_LOCAL, address.local) < 0 ||
        nla_put_u32(request.get(), IFA_ADDRESS, PrefixAddressOf(address)) < 0)
        return -ENOMEM;
    return rtnl::Send(request.get());
}

int LinuxNetKernel::IPv6Addresses(int ifIndex) {
    ifaddrmsg request{};
    request.ifa_family = AF_INET6;
    std::vector<KernelBlob> messages;
    if (!rtnl::Dump(RTM_GETADDR, &request, sizeof request, messages)) return -EIO;
    int count = 0;
    for (const KernelBlob& message : messages) {
        const nlmsghdr* header = rtnl::MessageOf(message, RTM_NEWADDR, sizeof(ifaddrmsg));
        const auto* address = header ? static_cast<const ifaddrmsg*>(NLMSG_DATA(header)) : nullptr;
        if (address && address->ifa_family == AF_INET6 &&
            static_cast<int>(address->ifa_index) == ifIndex)
            ++count;
    }
    return count;
}

}  // namespace kestrel
