// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// A model of the Linux kernel's IPv4 objects for unit tests of the helper: it adds the prefix
// route of a new address, refuses what the kernel refuses, and takes off with an address what
// the kernel takes off with it. Changes are logged in order as short lines; the next call of an operation can be
// made to fail; ARP is answered by a callback.
//
// Objects are written as `ip` shows them, with links by index:
//   address "192.168.1.100/24 dev 2 brd 192.168.1.255 noprefixroute metric 100 valid 300"
//   route   "default via 192.168.1.1 dev 2 proto dhcp metric 100", "blackhole 10.0.0.0/8 table 7"
// and that text is the `raw` of every object the fake reports.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "helper/netkernel.h"

namespace kestrel::testing {

// "0", or the errno's name: "-EEXIST".
std::string ResultText(int result);

// Text and objects both ways. A text that does not parse gives false.
std::string AddressText(const KernelAddress& address);
std::string RouteText(const KernelRoute& route);
bool ParseAddress(const std::string& text, KernelAddress& address);
bool ParseRoute(const std::string& text, KernelRoute& route);

enum class KernelCall {
    kLinks,
    kAddresses,
    kRoutes,
    kAddAddress,
    kDeleteAddress,
    kAddRoute,
    kDeleteRoute,
    kSetLinkUp,
    kArp
};

class FakeKernel final : public NetKernel {
public:
    // Answers one ARP question: 0 with `mac` filled, or a negative errno.
    using ArpResponder =
        std::function<int(int ifIndex, IPAddr target, IPAddr source, std::uint8_t (&mac)[6])>;

    // The world, built through the model (a new address brings its prefix route) and not logged.
    // A change the kernel would refuse fails the test.
    void AddLink(KernelLink link);
    void PutAddress(const std::string& text);
    void PutRoute(const std::string& text);
    // An IPv6 address on the link: only counted, and flushed when the link goes down.
    void PutIPv6Address(int ifIndex);

    // The next call of `call` returns `error` (a negative errno; a dump returns false) and
    // changes nothing.
    void Fail(KernelCall call, int error);
    // Without a responder nobody answers: -ETIMEDOUT.
    void SetArpResponder(ArpResponder responder);

    // "add address 192.168.1.100/24 dev 2 = 0", "delete route default via 192.168.1.1 dev 2 =
    // -ESRCH", "link 2 down = 0", "arp 192.168.1.1 from 192.168.1.141 dev 2 = -ETIMEDOUT".
    std::vector<std::string> Log() const;
    void ClearLog();
    std::vector<std::string> AddressTexts() const;
    std::vector<std::string> RouteTexts() const;

    bool Links(std::vector<KernelLink>& links) override;
    bool Addresses(std::vector<KernelAddress>& addresses) override;
    bool Routes(std::vector<KernelRoute>& routes) override;
    int AddAddress(const KernelAddress& address) override;
    int DeleteAddress(const KernelAddress& address) override;
    int AddRoute(const KernelRoute& route) override;
    int DeleteRoute(const KernelRoute& route) override;
    int SetLinkUp(int ifIndex, bool up) override;
    int IPv6Addresses(int ifIndex) override;
    int Arp(int ifIndex, IPAddr target, IPAddr source, std::uint8_t (&mac)[6], int waitMs,
            int abortFd) override;

private:
    bool Failing(KernelCall call, int& error);
    int Record(const std::string& change, int result);
    KernelLink* FindLink(int index);
    bool IsLocal(IPAddr address) const;
    std::vector<KernelAddress> Listed() const;
    int LinkReaching(const KernelRoute& route) const;
    int Insert(KernelAddress address);
    int Insert(KernelRoute route);
    void Remove(std::size_t address);
    void AddPrefixRoute(const KernelAddress& address);

    mutable std::mutex lock_;
    std::vector<KernelLink> links_;
    std::vector<KernelAddress> addresses_;
    std::vector<KernelRoute> routes_;
    std::map<int, int> ipv6_;  // per link
    std::map<KernelCall, std::vector<int>> failures_;
    ArpResponder arpResponder_;
    std::vector<std::string> log_;
};

}  // namespace kestrel::testing
