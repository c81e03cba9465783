// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/fake_kernel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <sstream>
#include <utility>

#include "helper/host.h"
#include "helper/kernel_values.h"
#include "ipc/adapter_layout.h"
#include "platform/posix.h"

namespace kestrel::testing {
namespace {

struct Name {
    unsigned value;
    const char* name;
};
constexpr Name kProtocols[] = {{RTPROT_KERNEL, "kernel"},
                               {RTPROT_BOOT, "boot"},
                               {RTPROT_STATIC, "static"},
                               {RTPROT_RA, "ra"},
                               {RTPROT_DHCP, "dhcp"}};
constexpr Name kScopes[] = {{RT_SCOPE_UNIVERSE, "global"},
                            {RT_SCOPE_LINK, "link"},
                            {RT_SCOPE_HOST, "host"},
                            {RT_SCOPE_NOWHERE, "nowhere"}};
constexpr Name kTypes[] = {
    {RTN_LOCAL, "local"},         {RTN_BROADCAST, "broadcast"},     {RTN_MULTICAST, "multicast"},
    {RTN_BLACKHOLE, "blackhole"}, {RTN_UNREACHABLE, "unreachable"}, {RTN_PROHIBIT, "prohibit"},
    {RTN_THROW, "throw"}};
// Flags written by name; the kernel's own IFA_F_PERMANENT follows from the lifetime.
constexpr Name kAddressFlags[] = {{IFA_F_SECONDARY, "secondary"},
                                  {IFA_F_NOPREFIXROUTE, "noprefixroute"},
                                  {IFA_F_DEPRECATED, "deprecated"}};
constexpr std::uint32_t kNamedFlags = IFA_F_SECONDARY | IFA_F_NOPREFIXROUTE | IFA_F_DEPRECATED;

template <std::size_t N>
std::string NameOf(const Name (&names)[N], unsigned value) {
    for (const Name& entry : names)
        if (entry.value == value) return entry.name;
    return std::to_string(value);
}

template <typename T>
bool NumberOf(const std::string& text, T& value) {
    std::size_t used = 0;
    unsigned long number = 0;
    try {
        number = std::stoul(text, &used, 0);
    } catch (const std::exception&) {
        return false;
    }
    value = static_cast<T>(number);
    return used == text.size();
}

template <std::size_t N, typename T>
bool ValueOf(const Name (&names)[N], const std::string& text, T& value) {
    for (const Name& entry : names)
        if (text == entry.name) {
            value = static_cast<T>(entry.value);
            return true;
        }
    return NumberOf(text, value);
}

bool Lifetime(const std::string& text, std::uint32_t& value) {
    if (text == "forever") {
        value = kForeverLifetime;
        return true;
    }
    return NumberOf(text, value);
}

bool IPv4(const std::string& text, IPAddr& address) {
    return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

// "10.9.0.0/16", "192.168.1.1" (/32) or "default".
bool Prefixed(const std::string& text, IPAddr& address, int& prefix) {
    if (text == "default") {
        address = 0;
        prefix = 0;
        return true;
    }
    const std::size_t slash = text.find('/');
    prefix = 32;
    return IPv4(text.substr(0, slash), address) &&
           (slash == std::string::npos ||
            (NumberOf(text.substr(slash + 1), prefix) && prefix <= 32));
}

IPAddr MaskOf(int prefix) {
    return prefix <= 0 ? 0 : htonl(~std::uint32_t{0} << (32 - prefix));
}

bool SameSubnet(IPAddr a, IPAddr b, int prefix) {
    return ((a ^ b) & MaskOf(prefix)) == 0;
}

KernelBlob BlobOf(const std::string& text) {
    return KernelBlob(text.begin(), text.end());
}

std::string TextOf(const KernelBlob& blob) {
    return std::string(blob.begin(), blob.end());
}

// What may follow an object's first word: bare flags and "word value" pairs.
struct Words {
    std::map<std::string, std::function<void()>> flags;
    std::map<std::string, std::function<bool(const std::string&)>> values;
};

bool ReadWords(std::istringstream& in, const Words& words) {
    for (std::string word, value; in >> word;) {
        if (auto flag = words.flags.find(word); flag != words.flags.end()) {
            flag->second();
            continue;
        }
        auto setter = words.values.find(word);
        if (setter == words.values.end() || !(in >> value) || !setter->second(value)) return false;
    }
    return true;
}

bool SameAddress(const KernelAddress& a, const KernelAddress& b) {
    return a.ifIndex == b.ifIndex && a.local == b.local && a.prefix == b.prefix;
}

bool SameRoute(const KernelRoute& a, const KernelRoute& b) {
    return a.table == b.table && a.dst == b.dst && a.prefix == b.prefix && a.tos == b.tos &&
           a.protocol == b.protocol && a.scope == b.scope && a.type == b.type &&
           a.priority == b.priority && a.prefsrc == b.prefsrc && a.gateway == b.gateway &&
           a.oif == b.oif && a.onlink == b.onlink && a.nexthops == b.nexthops;
}

}  // namespace

std::string ResultText(int result) {
    if (result == 0) return "0";
    // The names the kernel layers answer with; the C runtimes name none of them.
    static const std::map<int, const char*> names = {{EPERM, "EPERM"},
                                                     {ENOENT, "ENOENT"},
                                                     {ESRCH, "ESRCH"},
                                                     {ENOMEM, "ENOMEM"},
                                                     {EACCES, "EACCES"},
                                                     {EBUSY, "EBUSY"},
                                                     {EEXIST, "EEXIST"},
                                                     {ENODEV, "ENODEV"},
                                                     {EINVAL, "EINVAL"},
                                                     {ENETDOWN, "ENETDOWN"},
                                                     {ENETUNREACH, "ENETUNREACH"},
                                                     {ETIMEDOUT, "ETIMEDOUT"},
                                                     {ECANCELED, "ECANCELED"},
                                                     {EADDRNOTAVAIL, "EADDRNOTAVAIL"}};
    const auto found = names.find(-result);
    return found != names.end() ? std::string("-") + found->second : std::to_string(result);
}

std::string AddressText(const KernelAddress& a) {
    std::string text =
        Dotted(a.local) + "/" + std::to_string(a.prefix) + " dev " + std::to_string(a.ifIndex);
    if (a.broadcast) text += " brd " + Dotted(a.broadcast);
    if (a.scope) text += " scope " + NameOf(kScopes, a.scope);
    for (const Name& flag : kAddressFlags)
        if (a.flags & flag.value) text += std::string(" ") + flag.name;
    if (const std::uint32_t other = a.flags & ~kNamedFlags & ~std::uint32_t{IFA_F_PERMANENT})
        text += " flags " + std::to_string(other);
    if (a.metric) text += " metric " + std::to_string(a.metric);
    if (!a.label.empty()) text += " label " + a.label;
    if (a.validLifetime != kForeverLifetime) text += " valid " + std::to_string(a.validLifetime);
    if (a.preferredLifetime != kForeverLifetime)
        text += " preferred " + std::to_string(a.preferredLifetime);
    return text;
}

std::string RouteText(const KernelRoute& r) {
    std::string text;
    if (r.type != RTN_UNICAST) text += NameOf(kTypes, r.type) + " ";
    text +=
        r.prefix == 0 && r.dst == 0 ? "default" : Dotted(r.dst) + "/" + std::to_string(r.prefix);
    if (r.tos) text += " tos " + std::to_string(r.tos);
    if (r.gateway) text += " via " + Dotted(r.gateway);
    if (r.oif) text += " dev " + std::to_string(r.oif);
    if (r.table != kMainTable) text += " table " + std::to_string(r.table);
    if (r.protocol) text += " proto " + NameOf(kProtocols, r.protocol);
    if (r.scope) text += " scope " + NameOf(kScopes, r.scope);
    if (r.prefsrc) text += " src " + Dotted(r.prefsrc);
    if (r.priority) text += " metric " + std::to_string(r.priority);
    if (r.onlink) text += " onlink";
    if (r.nexthops != (r.type == RTN_UNICAST ? 1 : 0))
        text += " nexthops " + std::to_string(r.nexthops);
    return text;
}

bool ParseAddress(const std::string& text, KernelAddress& a) {
    std::istringstream in(text);
    std::string first;
    a = KernelAddress{};
    Words words;
    for (const Name& flag : kAddressFlags)
        words.flags[flag.name] = [&a, value = flag.value] { a.flags |= value; };
    words.values = {
        {"dev", [&](const std::string& v) { return NumberOf(v, a.ifIndex); }},
        {"brd", [&](const std::string& v) { return IPv4(v, a.broadcast); }},
        {"scope", [&](const std::string& v) { return ValueOf(kScopes, v, a.scope); }},
        {"flags",
         [&](const std::string& v) {
             std::uint32_t more = 0;
             if (!NumberOf(v, more)) return false;
             a.flags |= more;
             return true;
         }},
        {"metric", [&](const std::string& v) { return NumberOf(v, a.metric); }},
        {"label",
         [&](const std::string& v) {
             a.label = v;
             return true;
         }},
        {"valid", [&](const std::string& v) { return Lifetime(v, a.validLifetime); }},
        {"preferred", [&](const std::string& v) { return Lifetime(v, a.preferredLifetime); }},
    };
    return in >> first && Prefixed(first, a.local, a.prefix) && ReadWords(in, words);
}

bool ParseRoute(const std::string& text, KernelRoute& r) {
    std::istringstream in(text);
    std::string first;
    r = KernelRoute{};
    if (!(in >> first)) return false;
    if (first != "default" && first.find_first_not_of("0123456789./") != std::string::npos) {
        // Only a unicast route has a next hop.
        if (!ValueOf(kTypes, first, r.type) || !(in >> first)) return false;
        r.nexthops = 0;
    }
    Words words;
    words.flags = {{"onlink", [&] { r.onlink = true; }}};
    words.values = {
        {"tos", [&](const std::string& v) { return NumberOf(v, r.tos); }},
        {"via", [&](const std::string& v) { return IPv4(v, r.gateway); }},
        {"dev", [&](const std::string& v) { return NumberOf(v, r.oif); }},
        {"table", [&](const std::string& v) { return NumberOf(v, r.table); }},
        {"proto", [&](const std::string& v) { return ValueOf(kProtocols, v, r.protocol); }},
        {"scope", [&](const std::string& v) { return ValueOf(kScopes, v, r.scope); }},
        {"src", [&](const std::string& v) { return IPv4(v, r.prefsrc); }},
        {"metric", [&](const std::string& v) { return NumberOf(v, r.priority); }},
        {"nexthops", [&](const std::string& v) { return NumberOf(v, r.nexthops); }},
    };
    return Prefixed(first, r.dst, r.prefix) && ReadWords(in, words);
}

void FakeKernel::AddLink(KernelLink link) {
    std::lock_guard<std::mutex> guard(lock_);
    links_.push_back(std::move(link));
    std::sort(links_.begin(), links_.end(),
              [](const KernelLink& a, const KernelLink& b) { return a.index < b.index; });
}

void FakeKernel::PutAddress(const std::string& text) {
    KernelAddress address;
    ASSERT_TRUE(ParseAddress(text, address)) << text;
    std::lock_guard<std::mutex> guard(lock_);
    EXPECT_EQ(ResultText(Insert(address)), "0") << text;
}

void FakeKernel::PutRoute(const std::string& text) {
    KernelRoute route;
    ASSERT_TRUE(ParseRoute(text, route)) << text;
    std::lock_guard<std::mutex> guard(lock_);
    EXPECT_EQ(ResultText(Insert(route)), "0") << text;
}

void FakeKernel::PutIPv6Address(int ifIndex) {
    std::lock_guard<std::mutex> guard(lock_);
    ++ipv6_[ifIndex];
}

int FakeKernel::IPv6Addresses(int ifIndex) {
    std::lock_guard<std::mutex> guard(lock_);
    return ipv6_[ifIndex];
}

void FakeKernel::Fail(KernelCall call, int error) {
    std::lock_guard<std::mutex> guard(lock_);
    failures_[call].push_back(error);
}

void FakeKernel::SetArpResponder(ArpResponder responder) {
    std::lock_guard<std::mutex> guard(lock_);
    arpResponder_ = std::move(responder);
}

std::vector<std::string> FakeKernel::Log() const {
    std::lock_guard<std::mutex> guard(lock_);
    return log_;
}

void FakeKernel::ClearLog() {
    std::lock_guard<std::mutex> guard(lock_);
    log_.clear();
}

std::vector<std::string> FakeKernel::AddressTexts() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::string> texts;
    for (const KernelAddress& address : Listed()) texts.push_back(AddressText(address));
    return texts;
}

std::vector<std::string> FakeKernel::RouteTexts() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::string> texts;
    for (const KernelRoute& route : routes_) texts.push_back(RouteText(route));
    return texts;
}

bool FakeKernel::Failing(KernelCall call, int& error) {
    auto found = failures_.find(call);
    if (found == failures_.end() || found->second.empty()) return false;
    error = found->second.front();
    found->second.erase(found->second.begin());
    return true;
}

int FakeKernel::Record(const std::string& change, int result) {
    log_.push_back(change + " = " + ResultText(result));
    return result;
}

KernelLink* FakeKernel::FindLink(int index) {
    for (KernelLink& link : links_)
        if (link.index == index) return &link;
    return nullptr;
}

bool FakeKernel::IsLocal(IPAddr address) const {
    return std::any_of(addresses_.begin(), addresses_.end(),
                       [&](const KernelAddress& a) { return a.local == address; });
}

// The link through which the route's gateway is reached, or 0. The kernel looks the gateway up
// among the routes of scope link or host through the route's link (any link when it names
// none), in the route's table and then in the main one; a route via another gateway does not do.
int FakeKernel::LinkReaching(const KernelRoute& route) const {
    for (const std::uint32_t table : {route.table, kMainTable}) {
        for (const KernelRoute& r : routes_)
            if (r.table == table && r.type == RTN_UNICAST && r.scope >= RT_SCOPE_LINK &&
                (!route.oif || r.oif == route.oif) && SameSubnet(r.dst, route.gateway, r.prefix))
                return r.oif;
    }
    return 0;
}

// Link by link, the primary addresses before the secondary ones, as the kernel lists them.
std::vector<KernelAddress> FakeKernel::Listed() const {
    std::vector<KernelAddress> addresses = addresses_;
    std::stable_sort(addresses.begin(), addresses.end(),
                     [](const KernelAddress& a, const KernelAddress& b) {
                         return std::pair(a.ifIndex, a.flags & IFA_F_SECONDARY) <
                                std::pair(b.ifIndex, b.flags & IFA_F_SECONDARY);
                     });
    return addresses;
}

int FakeKernel::Insert(KernelAddress address) {
    const KernelLink* link = FindLink(address.ifIndex);
    if (!link) return -ENODEV;
    if (address.local == 0 || address.prefix < 0 || address.prefix > 32 ||
        address.validLifetime == 0)
        return -EINVAL;
    address.preferredLifetime = std::min(address.preferredLifetime, address.validLifetime);
    address.flags &= ~std::uint32_t{IFA_F_SECONDARY | IFA_F_PERMANENT | IFA_F_DEPRECATED};
    // A second address in a subnet the link already has is a secondary one.
    for (const KernelAddress& other : addresses_) {
        if (other.ifIndex != address.ifIndex || other.prefix != address.prefix ||
            !SameSubnet(other.local, address.local, address.prefix))
            continue;
        if (other.local == address.local) return -EEXIST;
        address.flags |= IFA_F_SECONDARY;
    }
    if (address.validLifetime == kForeverLifetime) address.flags |= IFA_F_PERMANENT;
    if (address.preferredLifetime == 0) address.flags |= IFA_F_DEPRECATED;
    if (address.label.empty()) address.label = link->name;
    address.raw.clear();
    addresses_.push_back(address);
    if (!(address.flags & IFA_F_SECONDARY)) AddPrefixRoute(address);
    return 0;
}

// Made only while the link is up, for a primary address that has a subnet to reach.
void FakeKernel::AddPrefixRoute(const KernelAddress& address) {
    const IPAddr subnet = address.local & MaskOf(address.prefix);
    if (!FindLink(address.ifIndex)->up || (address.flags & IFA_F_NOPREFIXROUTE) ||
        address.prefix == 32 || (subnet & htonl(0xFF000000)) == 0)
        return;
    KernelRoute route;
    route.dst = subnet;
    route.prefix = address.prefix;
    route.protocol = RTPROT_KERNEL;
    route.scope = RT_SCOPE_LINK;
    route.priority = address.metric;
    route.prefsrc = address.local;
    route.oif = address.ifIndex;
    routes_.push_back(route);
}

int FakeKernel::Insert(KernelRoute route) {
    if (route.prefix < 0 || route.prefix > 32 || (route.dst & ~MaskOf(route.prefix)) != 0)
        return -EINVAL;
    if (route.type == RTN_UNICAST) {
        if (!route.oif && route.gateway && !route.onlink) {
            route.oif = LinkReaching(route);
            if (!route.oif) return -ENETUNREACH;
        }
        const KernelLink* link = FindLink(route.oif);
        if (!link) return -ENODEV;
        if (!link->up) return -ENETDOWN;
        if (route.gateway && !route.onlink && !LinkReaching(route)) return -ENETUNREACH;
    }
    if (route.prefsrc && !IsLocal(route.prefsrc)) return -EINVAL;
    // Routes that differ only by next hop, protocol or source stand side by side.
    for (const KernelRoute& r : routes_)
        if (SameRoute(r, route)) return -EEXIST;
    route.raw.clear();
    routes_.push_back(route);
    return 0;
}

// What the kernel takes off with an address, as measured (promote_secondaries off, as by
// default): a primary takes its secondaries with it; each one takes its prefix route and, once
// no link holds its address any more, the main table's routes with it as preferred source; and
// a link left with no address loses every route through it, in every table. A route whose
// gateway is now out of reach stays while the link keeps another address.
void FakeKernel::Remove(std::size_t index) {
    const KernelAddress target = addresses_[index];
    std::vector<KernelAddress> gone;
    if (!(target.flags & IFA_F_SECONDARY))
        for (const KernelAddress& a : addresses_)
            if (a.ifIndex == target.ifIndex && (a.flags & IFA_F_SECONDARY) &&
                a.prefix == target.prefix && SameSubnet(a.local, target.local, target.prefix))
                gone.push_back(a);
    gone.push_back(target);
    for (const KernelAddress& address : gone) {
        std::erase_if(addresses_, [&](const KernelAddress& a) { return SameAddress(a, address); });
        if (!(address.flags & (IFA_F_SECONDARY | IFA_F_NOPREFIXROUTE))) {
            auto prefixRoute =
                std::find_if(routes_.begin(), routes_.end(), [&](const KernelRoute& r) {
                    return r.table == kMainTable && r.protocol == RTPROT_KERNEL &&
                           r.oif == address.ifIndex && r.prefsrc == address.local &&
                           r.prefix == address.prefix && r.priority == address.metric &&
                           SameSubnet(r.dst, address.local, address.prefix);
                });
            if (prefixRoute != routes_.end()) routes_.erase(prefixRoute);
        }
        if (!IsLocal(address.local))
            std::erase_if(routes_, [&](const KernelRoute& r) {
                return r.table == kMainTable && r.prefsrc == address.local;
            });
    }
    const bool linkKeepsOne =
        std::any_of(addresses_.begin(), addresses_.end(),
                    [&](const KernelAddress& a) { return a.ifIndex == target.ifIndex; });
    if (!linkKeepsOne)
        std::erase_if(routes_, [&](const KernelRoute& r) { return r.oif == target.ifIndex; });
}

bool FakeKernel::Links(std::vector<KernelLink>& links) {
    std::lock_guard<std::mutex> guard(lock_);
    int error = 0;
    if (Failing(KernelCall::kLinks, error)) return false;
    links = links_;
    for (KernelLink& link : links) link.carrier = link.up && link.carrier;
    return true;
}

bool FakeKernel::Addresses(std::vector<KernelAddress>& addresses) {
    std::lock_guard<std::mutex> guard(lock_);
    int error = 0;
    if (Failing(KernelCall::kAddresses, error)) return false;
    addresses = Listed();
    for (KernelAddress& address : addresses) address.raw = BlobOf(AddressText(address));
    return true;
}

bool FakeKernel::Routes(std::vector<KernelRoute>& routes) {
    std::lock_guard<std::mutex> guard(lock_);
    int error = 0;
    if (Failing(KernelCall::kRoutes, error)) return false;
    routes = routes_;
    for (KernelRoute& route : routes) route.raw = BlobOf(RouteText(route));
    return true;
}

int FakeKernel::AddAddress(const KernelAddress& given) {
    std::lock_guard<std::mutex> guard(lock_);
    KernelAddress address = given;
    int result = 0;
    if (Failing(KernelCall::kAddAddress, result)) {
    } else if (!given.raw.empty() && !ParseAddress(TextOf(given.raw), address)) {
        address = given;
        result = -EINVAL;
    } else {
        // Back as the object was read, with the lifetimes and metric asked for now.
        address.validLifetime = given.validLifetime;
        address.preferredLifetime = given.preferredLifetime;
        address.metric = given.metric;
        result = Insert(address);
    }
    return Record("add address " + AddressText(address), result);
}

int FakeKernel::DeleteAddress(const KernelAddress& address) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::string change = "delete address " + Dotted(address.local) + "/" +
                               std::to_string(address.prefix) + " dev " +
                               std::to_string(address.ifIndex);
    int result = 0;
    if (Failing(KernelCall::kDeleteAddress, result)) return Record(change, result);
    if (!FindLink(address.ifIndex)) return Record(change, -ENODEV);
    auto found = std::find_if(addresses_.begin(), addresses_.end(),
                              [&](const KernelAddress& a) { return SameAddress(a, address); });
    if (found == addresses_.end()) return Record(change, -EADDRNOTAVAIL);
    Remove(static_cast<std::size_t>(found - addresses_.begin()));
    return Record(change, 0);
}

int FakeKernel::AddRoute(const KernelRoute& given) {
    std::lock_guard<std::mutex> guard(lock_);
    KernelRoute route = given;
    int result = 0;
    if (Failing(KernelCall::kAddRoute, result)) {
    } else if (!given.raw.empty() && !ParseRoute(TextOf(given.raw), route)) {
        route = given;
        result = -EINVAL;
    } else {
        result = Insert(route);
    }
    return Record("add route " + RouteText(route), result);
}

// Fields left 0 match anything, as in the kernel; of several matches the lowest metric goes.
int FakeKernel::DeleteRoute(const KernelRoute& route) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::string change = "delete route " + RouteText(route);
    int result = 0;
    if (Failing(KernelCall::kDeleteRoute, result)) return Record(change, result);
    auto matches = [&](const KernelRoute& r) {
        return r.table == route.table && r.dst == route.dst && r.prefix == route.prefix &&
               r.tos == route.tos && (!route.priority || r.priority == route.priority) &&
               (!route.type || r.type == route.type) &&
               (!route.protocol || r.protocol == route.protocol) &&
               (!route.prefsrc || r.prefsrc == route.prefsrc) &&
               (!route.gateway || r.gateway == route.gateway) && (!route.oif || r.oif == route.oif);
    };
    auto victim = routes_.end();
    for (auto r = routes_.begin(); r != routes_.end(); ++r)
        if (matches(*r) && (victim == routes_.end() || r->priority < victim->priority)) victim = r;
    if (victim == routes_.end()) return Record(change, -ESRCH);
    routes_.erase(victim);
    return Record(change, 0);
}

// Down takes every route through the link; up brings back only the prefix routes.
int FakeKernel::SetLinkUp(int ifIndex, bool up) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::string change = "link " + std::to_string(ifIndex) + (up ? " up" : " down");
    int result = 0;
    if (Failing(KernelCall::kSetLinkUp, result)) return Record(change, result);
    KernelLink* link = FindLink(ifIndex);
    if (!link) return Record(change, -ENODEV);
    if (link->up != up) {
        link->up = up;
        if (!up) {
            std::erase_if(routes_, [&](const KernelRoute& r) { return r.oif == ifIndex; });
            ipv6_.erase(ifIndex);
        }
        for (const KernelAddress& address : addresses_)
            if (up && address.ifIndex == ifIndex && !(address.flags & IFA_F_SECONDARY))
                AddPrefixRoute(address);
    }
    return Record(change, 0);
}

int FakeKernel::Arp(int ifIndex, IPAddr target, IPAddr source, std::uint8_t (&mac)[6], int,
                    int abortFd) {
    const std::string change =
        "arp " + Dotted(target) + " from " + Dotted(source) + " dev " + std::to_string(ifIndex);
    ArpResponder responder;
    {
        std::lock_guard<std::mutex> guard(lock_);
        int result = 0;
        if (Failing(KernelCall::kArp, result)) return Record(change, result);
        if (!FindLink(ifIndex)) return Record(change, -ENODEV);
        if (abortFd >= 0 && HasInput(abortFd)) return Record(change, -ECANCELED);
        if (!arpResponder_) return Record(change, -ETIMEDOUT);
        responder = arpResponder_;
    }
    // The responder may use this fake: call it unlocked.
    const int result = responder(ifIndex, target, source, mac);
    std::lock_guard<std::mutex> guard(lock_);
    return Record(change, result);
}

}  // namespace kestrel::testing
