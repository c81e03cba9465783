// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// A PC for unit tests of the network code and the jobs: the helper's own session over the model
// of the kernel, reached through the request lines the real helper reads. What the kernel drops
// with an address, and how the helper puts it back, are thus the real thing. Installs itself as
// the IP Helper for the lifetime of the object; its journal lives in a fresh temporary folder.
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
    HelperPc();
    ~HelperPc() override;
    HelperPc(const HelperPc&) = delete;
    HelperPc& operator=(const HelperPc&) = delete;

    // The boot loader answers ARP on these links, and nobody on others.
    void RouterAnswersArpOn(std::vector<int> links);
    // Runs before each request reaches the session, e.g. to request a stop at a step. A result
    // other than NO_ERROR is the reply instead, as when the helper fails.
    void SetRequestHook(std::function<DWORD(const HelperRequest&)> hook) {
        hook_ = std::move(hook);
    }
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
};

}  // namespace kestrel::testing
