// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// What the privileged helper does for its front end, and nothing more: it reads links,
// addresses and routes; takes off what clashes with the router's factory subnet (and keeps what
// the kernel drops with it); adds and deletes the temporary address; asks the router by ARP;
// and puts back what it took off. Every change is journaled before it is made.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "helper/journal.h"
#include "helper/netkernel.h"
#include "ipc/helper_protocol.h"

namespace kestrel {

class HelperSession {
public:
    // `log` receives one line per change, in the form `ip` accepts, for the system log.
    using ChangeLog = std::function<void(const std::string& line)>;

    HelperSession(NetKernel& kernel, Journal& journal, ChangeLog log);

    // `abortFd` ends a waiting ARP early (the front end's end of the pipe hanging up).
    HelperReply Handle(const HelperRequest& request, int abortFd = -1);

    // Undoes every journaled change: the temporary address and the links brought up go, the
    // PC's addresses come back with the routes the kernel dropped with them, then its other
    // routes, those without a gateway first. What could not be put back, as `ip` commands that
    // would do it; empty when everything is back.
    std::vector<std::string> RestoreAll();

private:
    using AddressKey = std::tuple<int, IPAddr, int>;  // link, address, prefix

    HelperReply Adapters();
    HelperReply Routes();
    HelperReply AddAddress(const HelperRequest& request);
    HelperReply DeleteAddress(const HelperRequest& request);
    HelperReply CreateRoute(const HelperRequest& request);
    HelperReply DeleteRoute(const HelperRequest& request);
    HelperReply Arp(const HelperRequest& request, int abortFd);

    DWORD ContextFor(const AddressKey& key);
    const KernelLink* LinkOf(int ifIndex);
    // Reads link `ifIndex` again, alone, into what was last read: a whole dump would also ask
    // every link's driver and udev. Null when it is gone.
    const KernelLink* ReadLink(int ifIndex);
    bool FindAddress(const AddressKey& key, KernelAddress& found);
    bool FindRoute(const MIB_IPFORWARDROW& row, KernelRoute& found);
    // Deletes `address`, journaled as `entry` (RemovedAddress or AddedAddress); the routes the
    // kernel drops with it are journaled as dropped with it, or put straight back when
    // `keepRoutes` (the temporary address must never take the PC's routes with it).
    DWORD RemoveAddress(const KernelAddress& address, JournalEntry entry, bool keepRoutes);
    bool UndoRemovedAddress(const JournalEntry& entry);
    bool UndoRemovedRoute(const JournalEntry& entry);
    bool UndoAddedAddress(const JournalEntry& entry);
    bool UndoLinkUp(const JournalEntry& entry);
    JournalEntry EntryFor(JournalEntry::Kind kind, int ifIndex);
    // Whether the link a journal entry names is still that link (index, name and hardware
    // address): a replay must not touch another link that took the index.
    bool SameLink(const JournalEntry& entry);

    NetKernel& kernel_;
    Journal& journal_;
    ChangeLog log_;
    std::vector<KernelLink> links_;  // as last read
    std::map<AddressKey, DWORD> contexts_;
    std::map<int, std::uint64_t> linkUpAt_;  // links this helper brought up, when (ms)
};

}  // namespace kestrel
