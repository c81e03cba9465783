// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// A PC for unit tests of the network code, the jobs and the helper: the helper's own session over
// the model of the kernel, reached through the request lines the real helper reads. What the
// kernel drops with an address, and how the helper puts it back, are thus the real thing.
// Installs itself as the IP Helper for the lifetime of the object; its journal lives in a fresh
// temporary folder.
//
// The PC is written one object a line, addresses and routes as `ip` shows them (and as
// FakeKernel takes them), links by index and name, Ethernet, up and with carrier unless the
// word after the name says "wireless", "down" (Ethernet without carrier) or "other":
//   link 2 eth0
//   link 4 wlan0 wireless
//   address 192.168.1.100/24 dev 2 brd 192.168.1.255 noprefixroute valid 3600
//   route default via 192.168.1.1 dev 2 proto dhcp metric 100
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "helper/journal.h"
#include "helper/session.h"
#include "platform/linux/helper_client.h"
#include "tests/support/fake_kernel.h"

namespace kestrel::testing {

class HelperPc final : public HelperChannel {
public:
    explicit HelperPc(const std::string& pc = "");
    ~HelperPc() override;
    HelperPc(const HelperPc&) = delete;
    HelperPc& operator=(const HelperPc&) = delete;

    // More of the PC, in the same lines; a line the model refuses fails the test.
    void Add(const std::string& pc);
    // The helper dies and the next one starts over the same kernel and journal, replaying what
    // its predecessor left: true when nothing is left to put back.
    bool Restart();
    HelperSession& Session() { return *session_; }
    Journal& CurrentJournal() { return *journal_; }
    // What the helpers wrote to the system log.
    const std::vector<std::string>& SystemLog() const { return systemLog_; }

    // The boot loader answers ARP on these links, and nobody on others.
    void RouterAnswersArpOn(std::vector<int> links);
    // Runs before each request reaches the session, e.g. to request a stop at a step. A result
    // other than NO_ERROR is the reply instead, as when the helper fails.
    void SetRequestHook(std::function<DWORD(const HelperRequest&)> hook) { hook_ = hook; }
    // Addresses and routes as `ip` shows them, sorted, without the lifetimes that run on.
    std::vector<std::string> World() const;
    // The kernel's log lines that contain `part`, e.g. "192.168.1.141" or "arp".
    std::vector<std::string> LogWith(const std::string& part) const;

    bool Exchange(const std::string& request, std::string& reply) override;

    FakeKernel kernel;

private:
    std::string folder_;
    std::unique_ptr<Journal> journal_;
    std::unique_ptr<HelperSession> session_;
    std::unique_ptr<HelperIpHelper> client_;
    std::function<DWORD(const HelperRequest&)> hook_;
    std::vector<std::string> systemLog_;
};

}  // namespace kestrel::testing
