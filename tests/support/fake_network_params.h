// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// An IpHelper whose GetNetworkParams lists the DNS servers a test chooses, with the two-call
// sizing protocol, and records the sizes it was asked with. Everything else is unsupported.
// Installs itself for the lifetime of the object.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "platform/iphlpapi.h"
#include "platform/two_call.h"

namespace kestrel::testing {

class FakeNetworkParams final : public RefusingIpHelper {
public:
    explicit FakeNetworkParams(std::vector<std::string> servers) : servers_(std::move(servers)) {
        SetIpHelper(this);
    }
    ~FakeNetworkParams() override { SetIpHelper(nullptr); }
    FakeNetworkParams(const FakeNetworkParams&) = delete;
    FakeNetworkParams& operator=(const FakeNetworkParams&) = delete;

    ULONG Needed() const {
        return TwoCallSize<FIXED_INFO, IP_ADDR_STRING>(1, BeyondFirst(servers_.size()));
    }

    DWORD GetNetworkParams(FIXED_INFO* info, ULONG* size) override {
        askedSizes.push_back(*size);
        if (failFrom != 0 && askedSizes.size() >= failFrom) return ERROR_GEN_FAILURE;
        auto* extra = TwoCallBlock<IP_ADDR_STRING>(info, size, 1, BeyondFirst(servers_.size()));
        if (!extra) return ERROR_BUFFER_OVERFLOW;
        IP_ADDR_STRING* entry = &info->DnsServerList;
        for (std::size_t i = 0; i < servers_.size(); ++i) {
            if (i > 0) entry = entry->Next = &extra[i - 1];
            std::strncpy(entry->IpAddress.String, servers_[i].c_str(),
                         sizeof entry->IpAddress.String - 1);
        }
        return NO_ERROR;
    }

    std::vector<ULONG> askedSizes;
    // Calls from this one on (1-based) fail with ERROR_GEN_FAILURE; 0: none fails.
    std::size_t failFrom = 0;

private:
    std::vector<std::string> servers_;
};

}  // namespace kestrel::testing
