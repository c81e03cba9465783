// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// A scripted DNS client for unit tests: each query takes the next scripted status (then the
// default), answers with one A record on success, and every call is recorded in order as a
// readable line. Installs itself for the lifetime of the object.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/windns.h"

namespace kestrel::testing {

class FakeDnsClient final : public DnsClient {
public:
    explicit FakeDnsClient(DNS_STATUS defaultStatus = ERROR_TIMEOUT);
    ~FakeDnsClient() override;
    FakeDnsClient(const FakeDnsClient&) = delete;
    FakeDnsClient& operator=(const FakeDnsClient&) = delete;

    void ScriptStatus(DNS_STATUS status);
    void SetDefaultStatus(DNS_STATUS status);
    // Runs on every query before its status is chosen (e.g. to move a fake clock on).
    void SetQueryHook(std::function<void()> hook);

    // "DnsQuery_A(router.kestrel.home, type 1, options 8, servers [192.168.1.1] via 3) = 0",
    // "DnsFree(records, 1)".
    std::vector<std::string> Calls() const;
    // Record lists handed out and not yet freed.
    int OutstandingResults() const;

    DNS_STATUS DnsQuery_A(const char* name, WORD type, DWORD options, IP4_ARRAY* servers,
                          DNS_RECORDA** results, void* reserved, ULONG ifIndex) override;
    void DnsFree(void* data, DNS_FREE_TYPE freeType) override;

private:
    mutable std::mutex lock_;
    std::deque<DNS_STATUS> scripted_;
    DNS_STATUS defaultStatus_;
    std::function<void()> hook_;
    std::vector<std::string> calls_;
    int outstanding_ = 0;
};

}  // namespace kestrel::testing
