// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The DNS client over Linux (c-ares).
#pragma once

#include "platform/windns.h"

namespace kestrel {

class LinuxDnsClient final : public DnsClient {
public:
    DNS_STATUS DnsQuery_A(const char* name, WORD type, DWORD options, IP4_ARRAY* servers,
                          DNS_RECORDA** results, void* reserved, ULONG ifIndex) override;
    void DnsFree(void* data, DNS_FREE_TYPE freeType) override;
};

}  // namespace kestrel
