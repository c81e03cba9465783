// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "helper/session.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "helper/host.h"
#include "helper/ip_text.h"
#include "helper/kernel_values.h"
#include "platform/clock.h"
#include "platform/netfacts.h"
#include "platform/posix.h"

namespace kestrel {
namespace {

using Kind = JournalEntry::Kind;

constexpr std::uint64_t kCarrierWaitMs = 3000;  // a link without carrier by then has no router
constexpr int kArpWaitMs = 3000;
// A restore tries what failed again this many times in all, then reports what is left.
constexpr int kRestorePasses = 3;

IPMask MaskOf(int prefix) {
    return prefix <= 0 ? 0 : htonl(~std::uint32_t{0} << (32 - prefix));
}

int PrefixOf(IPMask mask) {
    const int prefix = __builtin_popcount(ntohl(mask));
    return MaskOf(prefix) == mask ? prefix : -1;
}

DWORD ErrorOf(int result) {
    switch (-result) {
        case 0:
            return NO_ERROR;
        case EEXIST:
            return ERROR_OBJECT_ALREADY_EXISTS;
        case ESRCH:
        case ENOENT:
        case EADDRNOTAVAIL:
            return ERROR_NOT_FOUND;
        case EPERM:
        case EACCES:
            return ERROR_ACCESS_DENIED;
        case EINVAL:
        case ENODEV:
        case ENETUNREACH:
            return ERROR_INVALID_PARAMETER;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EOPNOTSUPP:
            return ERROR_NOT_SUPPORTED;
        default:
            return ERROR_GEN_FAILURE;
    }
}

HelperReply Failed(DWORD error, std::string message) {
    HelperReply reply;
    reply.error = error;
    reply.message = std::move(message);
    return reply;
}

// Nothing is changed without its record; the front end tells the user why nothing was.
HelperReply Unjournaled(const Journal& journal) {
    return Failed(ERROR_WRITE_FAULT, "the journal cannot be written (" + journal.Failure() + ")");
}

HelperReply Refused(std::string what) {
    return Failed(ERROR_ACCESS_DENIED, "refused: " + std::move(what));
}

MIB_IPFORWARDROW RowOf(const KernelRoute& route) {
    MIB_IPFORWARDROW row{};
    row.dwForwardDest = route.dst;
    row.dwForwardMask = MaskOf(route.prefix);
    row.dwForwardPolicy = route.tos;
    row.dwForwardNextHop = route.gateway;
    row.dwForwardIfIndex = static_cast<DWORD>(route.oif);
    switch (route.type) {
        case 1:  // unicast
        case 2:  // local
        case 3:  // broadcast
        case 5:  // multicast
            row.dwForwardType = route.gateway ? MIB_IPROUTE_TYPE_INDIRECT : MIB_IPROUTE_TYPE_DIRECT;
            break;
        case 6:  // blackhole
        case 7:  // unreachable
        case 8:  // prohibit
            row.dwForwardType = MIB_IPROUTE_TYPE_INVALID;
            break;
        default:
            row.dwForwardType = MIB_IPROUTE_TYPE_OTHER;
    }
    switch (route.protocol) {
        case 2:  // kernel
            row.dwForwardProto = MIB_IPPROTO_LOCAL;
            break;
        case 3:  // boot
        case 4:  // static
            row.dwForwardProto = MIB_IPPROTO_NETMGMT;
            break;
        default:
            row.dwForwardProto = MIB_IPPROTO_OTHER;
    }
    // No AS numbers here: the field carries the routing table.
    row.dwForwardNextHopAS = route.table;
    row.dwForwardMetric1 = route.priority;
    row.dwForwardMetric2 = row.dwForwardMetric3 = row.dwForwardMetric4 = row.dwForwardMetric5 =
        0xFFFFFFFF;
    return row;
}

bool SameRoute(const KernelRoute& a, const KernelRoute& b) {
    return a.table == b.table && a.dst == b.dst && a.prefix == b.prefix && a.tos == b.tos &&
           a.priority == b.priority && a.type == b.type && a.gateway == b.gateway &&
           a.oif == b.oif && a.protocol == b.protocol && a.scope == b.scope &&
           a.prefsrc == b.prefsrc && a.onlink == b.onlink && a.nexthops == b.nexthops;
}

// Whether a delete that names `named` may take `other` instead: the kernel takes a field the
// named route lacks (no gateway, no source, metric 0) as matching any, and an older kernel
// layer matched any scope.
bool DeleteMayTake(const KernelRoute& named, const KernelRoute& other) {
    return !SameRoute(named, other) && named.table == other.table && named.dst == other.dst &&
           named.prefix == other.prefix && named.tos == other.tos && named.type == other.type &&
           (!named.priority || named.priority == other.priority) &&
           (!named.protocol || named.protocol == other.protocol) &&
           (!named.prefsrc || named.prefsrc == other.prefsrc) &&
           (!named.gateway || named.gateway == other.gateway) &&
           (!named.oif || named.oif == other.oif);
}

bool SameRow(const MIB_IPFORWARDROW& a, const MIB_IPFORWARDROW& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Routes without a gateway first: a route with one needs the way to its gateway back first.
void GatewaysLast(std::vector<JournalEntry>& entries) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const JournalEntry& a, const JournalEntry& b) {
                         return (a.route.gateway != 0) < (b.route.gateway != 0);
                     });
}

// The address as it should come back now: its lifetimes have run on since it was read.
bool Aged(const JournalEntry& entry, KernelAddress& address) {
    address = entry.address;
    const std::uint64_t now = Journal::NowMs();
    const auto elapsed =
        static_cast<std::uint32_t>(now > entry.readAtMs ? (now - entry.readAtMs) / 1000 : 0);
    auto age = [elapsed](std::uint32_t& lifetime) {
        if (lifetime != kForeverLifetime) lifetime = lifetime > elapsed ? lifetime - elapsed : 0;
    };
    age(address.validLifetime);
    age(address.preferredLifetime);
    return address.validLifetime != 0;
}

// What a live session may have journaled: the temporary address, a link brought up, and what
// clashes with the router or went with something that did.
bool Recoverable(const JournalEntry& entry) {
    const bool dropped = entry.droppedWith != 0 && entry.droppedWith < entry.seq;
    switch (entry.kind) {
        case Kind::AddedAddress:
            return entry.address.local == kTemporary && entry.address.prefix == kTemporaryPrefix;
        case Kind::RemovedAddress:
            return dropped || ClashesWithRouter(entry.address.local, MaskOf(entry.address.prefix));
        case Kind::RemovedRoute:
            return dropped || ClashesWithRouter(RowOf(entry.route));
        case Kind::LinkUp:
            return true;
    }
    return false;
}

// The command that would undo `entry` by hand.
std::string UndoCommand(const JournalEntry& entry) {
    switch (entry.kind) {
        case Kind::RemovedAddress:
            return AddressCommand("add", entry.address, entry.linkName);
        case Kind::RemovedRoute:
            return RouteCommand("add", entry.route, entry.linkName);
        case Kind::AddedAddress:
            return AddressCommand("del", entry.address, entry.linkName);
        case Kind::LinkUp:
            break;
    }
    return "ip link set dev " + entry.linkName + " down";
}

}  // namespace

HelperSession::HelperSession(NetKernel& kernel, Journal& journal, ChangeLog log)
    : kernel_(kernel), journal_(journal), log_(std::move(log)) {}

HelperReply HelperSession::Handle(const HelperRequest& request, int abortFd) {
    HelperReply reply;
    switch (request.op) {
        case HelperOp::Hello:
            reply.version = kHelperProtocolVersion;
            break;
        case HelperOp::Adapters:
            reply = Adapters();
            break;
        case HelperOp::Routes:
            reply = Routes();
            break;
        case HelperOp::AddAddress:
            reply = AddAddress(request);
            break;
        case HelperOp::DeleteAddress:
            reply = DeleteAddress(request);
            break;
        case HelperOp::CreateRoute:
            reply = CreateRoute(request);
            break;
        case HelperOp::DeleteRoute:
            reply = DeleteRoute(request);
            break;
        case HelperOp::Arp:
            reply = Arp(request, abortFd);
            break;
        case HelperOp::End:
            reply.notRestored = RestoreAll();
            break;
    }
    reply.id = request.id;
    return reply;
}

DWORD HelperSession::ContextFor(const AddressKey& key) {
    const auto known = contexts_.find(key);
    if (known != contexts_.end()) return known->second;
    const auto context = static_cast<DWORD>(contexts_.size() + 1);
    contexts_.emplace(key, context);
    return context;
}

const KernelLink* HelperSession::LinkOf(int ifIndex) {
    for (const KernelLink& link : links_)
        if (link.index == ifIndex) return &link;
    return nullptr;
}

const KernelLink* HelperSession::ReadLink(int ifIndex) {
    KernelLink link;
    const int result = kernel_.Link(ifIndex, link);
    // Unreadable: what was read last stands, as after a failed dump.
    if (result != 0 && result != -ENODEV) return LinkOf(ifIndex);
    std::erase_if(links_, [ifIndex](const KernelLink& known) { return known.index == ifIndex; });
    if (result != 0) return nullptr;
    links_.push_back(std::move(link));
    return &links_.back();
}

bool HelperSession::FindAddress(const AddressKey& key, KernelAddress& found) {
    std::vector<KernelAddress> addresses;
    if (!kernel_.Addresses(addresses)) return false;
    for (KernelAddress& address : addresses)
        if (AddressKey{address.ifIndex, address.local, address.prefix} == key) {
            found = std::move(address);
            return true;
        }
    return false;
}

bool HelperSession::FindRoute(const MIB_IPFORWARDROW& row, KernelRoute& found) {
    std::vector<KernelRoute> routes;
    if (!kernel_.Routes(routes)) return false;
    for (KernelRoute& route : routes)
        if (SameRow(RowOf(route), row)) {
            found = std::move(route);
            return true;
        }
    return false;
}

JournalEntry HelperSession::EntryFor(Kind kind, int ifIndex) {
    JournalEntry entry;
    entry.kind = kind;
    entry.ifIndex = ifIndex;
    if (const KernelLink* link = LinkOf(ifIndex)) {
        entry.linkName = link->name;
        entry.linkMac = link->mac;
    }
    entry.readAtMs = Journal::NowMs();
    return entry;
}

bool HelperSession::SameLink(const JournalEntry& entry) {
    if (entry.ifIndex == 0) return true;
    const KernelLink* link = ReadLink(entry.ifIndex);
    return link && link->name == entry.linkName && link->mac == entry.linkMac;
}

HelperReply HelperSession::Adapters() {
    std::vector<KernelAddress> addresses;
    std::vector<KernelRoute> routes;
    if (!kernel_.Links(links_) || !kernel_.Addresses(addresses) || !kernel_.Routes(routes))
        return Failed(ERROR_GEN_FAILURE, "the kernel's links cannot be read");

    // Gateways of the default routes of the main table, per link, lowest metric first.
    std::vector<const KernelRoute*> defaults;
    for (const KernelRoute& route : routes)
        if (route.table == kMainTable && route.type == 1 && route.prefix == 0 && route.gateway)
            defaults.push_back(&route);
    std::stable_sort(
        defaults.begin(), defaults.end(),
        [](const KernelRoute* a, const KernelRoute* b) { return a->priority < b->priority; });

    HelperReply reply;
    std::vector<KernelLink> links = links_;
    std::sort(links.begin(), links.end(),
              [](const KernelLink& a, const KernelLink& b) { return a.index < b.index; });
    for (const KernelLink& link : links) {
        AdapterRecord record;
        record.index = static_cast<DWORD>(link.index);
        record.name = link.name;
        record.description = link.description;
        record.hardwareAddress = link.mac;
        record.type = link.type;
        for (const KernelAddress& address : addresses) {
            if (address.ifIndex != link.index) continue;
            record.addresses.push_back(
                {Dotted(address.local), Dotted(MaskOf(address.prefix)),
                 ContextFor({address.ifIndex, address.local, address.prefix})});
        }
        for (const KernelRoute* route : defaults)
            if (route->oif == link.index) record.gateways.push_back(Dotted(route->gateway));
        reply.adapters.push_back(std::move(record));
    }
    return reply;
}

HelperReply HelperSession::Routes() {
    std::vector<KernelRoute> routes;
    if (!kernel_.Routes(routes)) return Failed(ERROR_GEN_FAILURE, "the route table cannot be read");
    HelperReply reply;
    for (const KernelRoute& route : routes) reply.routes.push_back(RowOf(route));
    return reply;
}

HelperReply HelperSession::AddAddress(const HelperRequest& request) {
    const int prefix = PrefixOf(request.mask);
    if (prefix < 0) return Failed(ERROR_INVALID_PARAMETER, "the mask is not a prefix");
    const AddressKey key{static_cast<int>(request.ifIndex), request.address, prefix};
    HelperReply reply;

    // One of the PC's own addresses, taken off by this helper: it comes back exactly.
    for (const JournalEntry& entry : journal_.Entries()) {
        if (entry.kind != Kind::RemovedAddress ||
            AddressKey{entry.address.ifIndex, entry.address.local, entry.address.prefix} != key)
            continue;
        const JournalEntry removed = entry;
        if (!UndoRemovedAddress(removed))
            return Failed(ERROR_GEN_FAILURE, "the address could not be put back");
        reply.context = ContextFor(key);
        return reply;
    }

    if (request.address != kTemporary || prefix != kTemporaryPrefix) {
        // Already back, with the address the kernel took it along with: nothing to do.
        KernelAddress existing;
        if (!FindAddress(key, existing)) return Refused("only 192.168.1.141/24 may be added");
        reply.context = ContextFor(key);
        return reply;
    }
    kernel_.Links(links_);
    const KernelLink* link = LinkOf(std::get<0>(key));
    if (!link || link->type != MIB_IF_TYPE_ETHERNET)
        return Refused("192.168.1.141/24 goes on an Ethernet link only");

    // One link at a time: with two, the router's answers could leave by the other one.
    std::vector<KernelAddress> present;
    if (!kernel_.Addresses(present))
        return Failed(ERROR_GEN_FAILURE, "the kernel's addresses cannot be read");
    for (const KernelAddress& other : present)
        if (other.local == kTemporary && other.ifIndex != link->index)
            return Refused("192.168.1.141 is on another link already");

    // Setting the link down again after the attempt would flush its IPv6 addresses for good.
    if (!link->up && kernel_.IPv6Addresses(link->index) != 0)
        return Refused("the link is down and holds IPv6 addresses that setting it down would lose");

    if (!link->up) {
        // Brought up for this attempt only, and set down again after it.
        if (!journal_.Append({EntryFor(Kind::LinkUp, link->index)})) return Unjournaled(journal_);
        const int result = kernel_.SetLinkUp(link->index, true);
        if (result != 0) {
            journal_.Remove({journal_.Entries().back().seq});
            return Failed(ErrorOf(result), "the link cannot be brought up");
        }
        linkUpAt_[link->index] = GetTickCount64();
        log_("brought up: ip link set dev " + link->name + " up");
    }

    KernelAddress temporary;
    temporary.ifIndex = link->index;
    temporary.local = kTemporary;
    temporary.prefix = kTemporaryPrefix;
    temporary.broadcast = kTemporary | ~MaskOf(kTemporaryPrefix);
    JournalEntry entry = EntryFor(Kind::AddedAddress, link->index);
    entry.address = temporary;
    const std::string name = link->name;
    if (!journal_.Append({entry})) return Unjournaled(journal_);
    const int result = kernel_.AddAddress(temporary);
    if (result != 0) {
        journal_.Remove({journal_.Entries().back().seq});
        return Failed(ErrorOf(result), "the address cannot be added");
    }
    log_("added: " + AddressCommand("add", temporary, name));
    reply.context = ContextFor(key);
    return reply;
}

HelperReply HelperSession::DeleteAddress(const HelperRequest& request) {
    const auto known = std::find_if(contexts_.begin(), contexts_.end(), [&](const auto& item) {
        return item.second == request.context;
    });
    if (known == contexts_.end()) return Failed(ERROR_INVALID_PARAMETER, "unknown address context");
    const AddressKey key = known->first;
    if (!ClashesWithRouter(std::get<1>(key), MaskOf(std::get<2>(key))))
        return Refused("only an address in the router's factory subnet may be deleted");
    KernelAddress address;
    if (!FindAddress(key, address)) return Failed(ERROR_NOT_FOUND, "no such address");
    kernel_.Links(links_);

    for (const JournalEntry& entry : journal_.Entries()) {
        if (entry.kind != Kind::AddedAddress ||
            AddressKey{entry.address.ifIndex, entry.address.local, entry.address.prefix} != key)
            continue;
        const JournalEntry added = entry;
        if (!UndoAddedAddress(added))
            return Failed(ERROR_GEN_FAILURE, "the address cannot be deleted");
        return {};
    }
    const DWORD result =
        RemoveAddress(address, EntryFor(Kind::RemovedAddress, address.ifIndex), false);
    if (result == ERROR_WRITE_FAULT) return Unjournaled(journal_);
    return result == NO_ERROR ? HelperReply{} : Failed(result, "the address cannot be deleted");
}

DWORD HelperSession::RemoveAddress(const KernelAddress& address, JournalEntry entry,
                                   bool keepRoutes) {
    std::vector<KernelAddress> addressesBefore;
    std::vector<KernelRoute> routesBefore;
    if (!kernel_.Addresses(addressesBefore) || !kernel_.Routes(routesBefore))
        return ERROR_GEN_FAILURE;
    const std::string linkName = entry.linkName;

    // Journal first what the kernel may take along: the secondaries of a primary address, the
    // routes through its link and those with it as source. What really went is known after.
    std::vector<JournalEntry> batch;
    std::uint64_t owner = entry.seq;
    if (entry.seq == 0) {
        entry.address = address;
        owner = journal_.NextSeq();
        batch.push_back(entry);
    }
    const IPMask mask = MaskOf(address.prefix);
    auto inSubnet = [&](IPAddr value) { return (value & mask) == (address.local & mask); };
    for (const KernelAddress& other : addressesBefore) {
        // The temporary address is never one of the PC's: it is not to come back.
        if (other.ifIndex != address.ifIndex || other.local == address.local ||
            !(other.flags & IFA_F_SECONDARY) || (address.flags & IFA_F_SECONDARY) ||
            !inSubnet(other.local) || other.local == kTemporary)
            continue;
        JournalEntry atRisk = EntryFor(Kind::RemovedAddress, other.ifIndex);
        atRisk.address = other;
        atRisk.droppedWith = owner;
        batch.push_back(std::move(atRisk));
    }
    for (const KernelRoute& route : routesBefore) {
        if (route.oif != address.ifIndex && route.prefsrc != address.local) continue;
        // The temporary address's own routes go with it for good: those with it as source. A
        // route through a gateway in its subnet may be one of the PC's that was put back.
        if (keepRoutes && route.prefsrc == address.local) continue;
        JournalEntry atRisk = EntryFor(Kind::RemovedRoute, route.oif);
        atRisk.route = route;
        atRisk.droppedWith = owner;
        batch.push_back(std::move(atRisk));
    }
    std::vector<std::uint64_t> seqs;
    if (!journal_.Append(std::move(batch), &seqs)) return ERROR_WRITE_FAULT;
    const std::vector<std::uint64_t> atRisk(seqs.begin() + (entry.seq == 0 ? 1 : 0), seqs.end());

    const int result = kernel_.DeleteAddress(address);
    if (result != 0) {
        journal_.Remove(seqs);
        return ErrorOf(result);
    }
    log_(keepRoutes ? "deleted: " + AddressCommand("del", address, linkName)
                    : "took off, to put back: " + AddressCommand("add", address, linkName));

    std::vector<KernelAddress> addressesAfter;
    std::vector<KernelRoute> routesAfter;
    // Unreadable: the journal keeps everything that was at risk, which a replay puts back.
    if (!kernel_.Addresses(addressesAfter) || !kernel_.Routes(routesAfter)) return NO_ERROR;
    std::vector<std::uint64_t> stayed;
    std::vector<JournalEntry> dropped;
    for (std::uint64_t seq : atRisk) {
        const JournalEntry& candidate = *journal_.Find(seq);
        const bool present =
            candidate.kind == Kind::RemovedRoute
                ? std::any_of(
                      routesAfter.begin(), routesAfter.end(),
                      [&](const KernelRoute& route) { return SameRoute(route, candidate.route); })
                : std::any_of(addressesAfter.begin(), addressesAfter.end(),
                              [&](const KernelAddress& other) {
                                  return other.ifIndex == candidate.address.ifIndex &&
                                         other.local == candidate.address.local;
                              });
        if (present)
            stayed.push_back(seq);
        else
            dropped.push_back(candidate);
    }
    // The temporary address taken along with a primary is gone: its undo is done.
    if (std::none_of(addressesAfter.begin(), addressesAfter.end(),
                     [](const KernelAddress& other) { return other.local == kTemporary; }))
        for (const JournalEntry& added : journal_.Entries())
            if (added.kind == Kind::AddedAddress && added.seq != entry.seq)
                stayed.push_back(added.seq);
    journal_.Remove(stayed);
    if (!keepRoutes) {
        for (const JournalEntry& gone : dropped)
            log_("dropped with it, to put back: " +
                 (gone.kind == Kind::RemovedRoute
                      ? RouteCommand("add", gone.route, gone.linkName)
                      : AddressCommand("add", gone.address, gone.linkName)));
        return NO_ERROR;
    }
    // The temporary address must not take anything of the PC's with it. An address that went
    // with it came after it, so it is no primary of the PC's: it comes back in the restore,
    // after the PC's own addresses.
    std::erase_if(dropped,
                  [](const JournalEntry& gone) { return gone.kind != Kind::RemovedRoute; });
    GatewaysLast(dropped);
    for (const JournalEntry& route : dropped)
        if (journal_.Find(route.seq)) UndoRemovedRoute(route);
    return NO_ERROR;
}

HelperReply HelperSession::CreateRoute(const HelperRequest& request) {
    for (const JournalEntry& entry : journal_.Entries()) {
        if (entry.kind != Kind::RemovedRoute || !SameRow(RowOf(entry.route), request.row)) continue;
        const JournalEntry removed = entry;
        if (!UndoRemovedRoute(removed))
            return Failed(ERROR_GEN_FAILURE, "the route could not be put back");
        return {};
    }
    // Already there, put back with its address: "already exists" is no failure.
    KernelRoute existing;
    if (FindRoute(request.row, existing)) return {};
    return Refused("only a route this helper took off may be created");
}

HelperReply HelperSession::DeleteRoute(const HelperRequest& request) {
    if (!ClashesWithRouter(request.row))
        return Refused("only a route into the router's factory subnet may be deleted");
    std::vector<KernelRoute> routes;
    if (!kernel_.Routes(routes)) return Failed(ERROR_GEN_FAILURE, "the route table cannot be read");
    const auto named = std::find_if(routes.begin(), routes.end(), [&](const KernelRoute& route) {
        return SameRow(RowOf(route), request.row);
    });
    if (named == routes.end()) return Failed(ERROR_NOT_FOUND, "no such route");
    const KernelRoute route = *named;
    // What the kernel may take in its place is journaled with it; one taken instead goes back at
    // the end of its key's list, so that the next try reaches the one named.
    ReadLink(route.oif);
    JournalEntry entry = EntryFor(Kind::RemovedRoute, route.oif);
    entry.route = route;
    const std::string linkName = entry.linkName;
    std::vector<JournalEntry> batch{entry};
    for (const KernelRoute& other : routes) {
        if (!DeleteMayTake(route, other)) continue;
        ReadLink(other.oif);
        JournalEntry alike = EntryFor(Kind::RemovedRoute, other.oif);
        alike.route = other;
        batch.push_back(std::move(alike));
    }
    std::vector<std::uint64_t> seqs;
    if (!journal_.Append(batch, &seqs)) return Unjournaled(journal_);

    auto present = [](const std::vector<KernelRoute>& table, const KernelRoute& wanted) {
        return std::any_of(table.begin(), table.end(),
                           [&](const KernelRoute& each) { return SameRoute(each, wanted); });
    };
    int result = 0;
    bool gone = false;
    std::vector<std::uint64_t> settled(seqs.begin() + 1, seqs.end());  // the others, in place
    for (std::size_t attempt = 0; attempt < batch.size() && !gone; ++attempt) {
        result = kernel_.DeleteRoute(route);
        if (result != 0) break;
        std::vector<KernelRoute> after;
        // Unreadable: the journal keeps all that was at risk, which a restore puts back.
        if (!kernel_.Routes(after)) {
            settled.clear();
            gone = true;
            break;
        }
        gone = !present(after, route);
        settled.clear();
        for (std::size_t i = 1; i < batch.size(); ++i)
            if (present(after, batch[i].route) || kernel_.AddRoute(batch[i].route) == 0)
                settled.push_back(seqs[i]);
    }
    if (!gone) settled.push_back(seqs.front());
    journal_.Remove(settled);
    if (result != 0) return Failed(ErrorOf(result), "the route cannot be deleted");
    if (!gone) return Failed(ERROR_GEN_FAILURE, "the route named could not be deleted alone");
    log_("took off, to put back: " + RouteCommand("add", route, linkName));
    return {};
}

HelperReply HelperSession::Arp(const HelperRequest& request, int abortFd) {
    if (request.target != kRouter || request.source != kTemporary)
        return Refused("ARP asks 192.168.1.1 from 192.168.1.141 only");
    int ifIndex = 0;
    for (const JournalEntry& entry : journal_.Entries())
        if (entry.kind == Kind::AddedAddress) ifIndex = entry.address.ifIndex;
    if (ifIndex == 0) return Failed(ERROR_NOT_FOUND, "192.168.1.141 is on no link");

    // Without carrier there is nobody to ask: wait for it until the link has been up a while.
    const auto upAt = linkUpAt_.find(ifIndex);
    const std::uint64_t deadline =
        (upAt != linkUpAt_.end() ? upAt->second : GetTickCount64()) + kCarrierWaitMs;
    for (;;) {
        kernel_.Links(links_);
        const KernelLink* link = LinkOf(ifIndex);
        if (!link) return Failed(ERROR_NOT_FOUND, "the link is gone");
        if (link->carrier) break;
        if (GetTickCount64() >= deadline)
            return Failed(ERROR_BAD_NET_NAME, "the link has no carrier");
        if (abortFd >= 0 && HasInput(abortFd)) return Failed(ERROR_CANCELLED, "cancelled");
        Sleep(100);
    }

    std::uint8_t mac[6] = {};
    const int result =
        kernel_.Arp(ifIndex, request.target, request.source, mac, kArpWaitMs, abortFd);
    if (result == -ECANCELED) return Failed(ERROR_CANCELLED, "cancelled");
    if (result != 0) return Failed(ERROR_BAD_NET_NAME, "no answer");
    HelperReply reply;
    std::copy(std::begin(mac), std::end(mac), reply.mac.begin());
    return reply;
}

bool HelperSession::UndoRemovedAddress(const JournalEntry& entry) {
    // A secondary the kernel took along with its primary comes back after it, as it was.
    if (const JournalEntry* primary = journal_.Find(entry.droppedWith);
        primary && primary->kind == Kind::RemovedAddress) {
        const JournalEntry copy = *primary;
        return UndoRemovedAddress(copy);
    }
    std::vector<JournalEntry> secondaries;
    std::vector<JournalEntry> routes;
    for (const JournalEntry& candidate : journal_.Entries())
        if (candidate.droppedWith == entry.seq)
            (candidate.kind == Kind::RemovedRoute ? routes : secondaries).push_back(candidate);

    bool back = true;
    KernelAddress address;
    if (!SameLink(entry)) {
        notBack_.push_back(AddressCommand("add", entry.address, entry.linkName));
        log_("not put back, the link " + entry.linkName + " is gone: " + notBack_.back());
    } else if (!Aged(entry, address)) {
        log_("not put back, its lifetime ran out: " +
             AddressCommand("add", entry.address, entry.linkName));
    } else if (const int result = kernel_.AddAddress(address); result != 0 && result != -EEXIST) {
        log_("could not put back (" + std::string(std::strerror(-result)) +
             "): " + AddressCommand("add", address, entry.linkName));
        // Kept, with what went with it, for the next pass or the next helper.
        return false;
    } else {
        log_("put back: " + AddressCommand("add", address, entry.linkName));
    }
    journal_.Remove({entry.seq});
    bool all = back;
    for (const JournalEntry& secondary : secondaries) all = UndoRemovedAddress(secondary) && all;
    // Without its address a route has nowhere to go: the log keeps it for the administrator.
    GatewaysLast(routes);
    for (const JournalEntry& route : routes) all = UndoRemovedRoute(route) && all;
    return all;
}

bool HelperSession::UndoRemovedRoute(const JournalEntry& entry) {
    const std::vector<std::uint64_t> done{entry.seq};
    if (!SameLink(entry)) {
        notBack_.push_back(RouteCommand("add", entry.route, entry.linkName));
        log_("not put back, the link " + entry.linkName + " is gone: " + notBack_.back());
        journal_.Remove(done);
        return true;
    }
    const int result = kernel_.AddRoute(entry.route);
    const std::string command = RouteCommand("add", entry.route, entry.linkName);
    // Kept until the route is really back: its gateway's address may come back later.
    if (result != 0 && result != -EEXIST) {
        log_("could not put back (" + std::string(std::strerror(-result)) + "): " + command);
        return false;
    }
    journal_.Remove(done);
    log_("put back: " + command);
    return true;
}

bool HelperSession::UndoAddedAddress(const JournalEntry& entry) {
    const AddressKey key{entry.address.ifIndex, entry.address.local, entry.address.prefix};
    if (SameLink(entry)) {
        std::vector<KernelAddress> addresses;
        // Unreadable is not gone: the entry stays for the next pass.
        if (!kernel_.Addresses(addresses)) return false;
        const auto found = std::find_if(addresses.begin(), addresses.end(), [&](const auto& a) {
            return AddressKey{a.ifIndex, a.local, a.prefix} == key;
        });
        if (found != addresses.end() && RemoveAddress(*found, entry, true) != NO_ERROR)
            return false;
    }
    journal_.Remove({entry.seq});
    // A link brought up for this attempt goes down with its address.
    for (const JournalEntry& other : journal_.Entries())
        if (other.kind == Kind::LinkUp && other.ifIndex == entry.ifIndex) {
            const JournalEntry up = other;
            return UndoLinkUp(up);
        }
    return true;
}

bool HelperSession::UndoLinkUp(const JournalEntry& entry) {
    const int result = SameLink(entry) ? kernel_.SetLinkUp(entry.ifIndex, false) : 0;
    if (result != 0) return false;
    journal_.Remove({entry.seq});
    linkUpAt_.erase(entry.ifIndex);
    log_("set down again: ip link set dev " + entry.linkName + " down");
    return true;
}

std::vector<std::string> HelperSession::RestoreAll() {
    // A live session journals nothing else; an entry outside that came from elsewhere, and
    // putting it "back" would change what no recovery changed.
    std::vector<std::uint64_t> foreign;
    for (const JournalEntry& entry : journal_.Entries())
        if (!Recoverable(entry)) {
            log_("not put back, no recovery changes it: " + UndoCommand(entry));
            foreign.push_back(entry.seq);
        }
    journal_.Remove(foreign);
    // Pass by pass: the temporary address and the links brought up go; the PC's addresses come
    // back oldest first, so that primaries stay primary, each with the routes the kernel
    // dropped with it; then its other routes, those without a gateway first. What failed stays
    // journaled and is tried again once the rest is back.
    for (int pass = 0; pass < kRestorePasses && !journal_.Entries().empty(); ++pass) {
        const std::vector<JournalEntry> entries = journal_.Entries();
        std::vector<JournalEntry> order;
        for (Kind kind : {Kind::AddedAddress, Kind::LinkUp})
            for (auto it = entries.rbegin(); it != entries.rend(); ++it)
                if (it->kind == kind) order.push_back(*it);
        for (const JournalEntry& entry : entries)
            if (entry.kind == Kind::RemovedAddress) order.push_back(entry);
        std::vector<JournalEntry> routes;
        for (auto it = entries.rbegin(); it != entries.rend(); ++it)
            if (it->kind == Kind::RemovedRoute) routes.push_back(*it);
        GatewaysLast(routes);
        order.insert(order.end(), routes.begin(), routes.end());
        for (const JournalEntry& entry : order) {
            // Done already along with another, or one that waits for its address.
            if (!journal_.Find(entry.seq)) continue;
            if (entry.kind == Kind::RemovedRoute && journal_.Find(entry.droppedWith)) continue;
            switch (entry.kind) {
                case Kind::AddedAddress:
                    UndoAddedAddress(entry);
                    break;
                case Kind::LinkUp:
                    UndoLinkUp(entry);
                    break;
                case Kind::RemovedAddress:
                    UndoRemovedAddress(entry);
                    break;
                case Kind::RemovedRoute:
                    UndoRemovedRoute(entry);
                    break;
            }
        }
    }
    std::vector<std::string> left = std::move(notBack_);
    notBack_.clear();
    for (const JournalEntry& entry : journal_.Entries()) left.push_back(UndoCommand(entry));
    return left;
}

}  // namespace kestrel
