// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// GetNetworkParams over Linux: the DNS servers of the resolver configuration as glibc reads it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <resolv.h>
#include <unistd.h>

#include <cstring>

#include "platform/linux_iphlp.h"
#include "platform/netparams.h"

namespace kestrel {
namespace {

// res_ninit with its own state, released on every path.
class ResolverState {
public:
    ResolverState() { ok_ = res_ninit(&state_) == 0; }
    ~ResolverState() {
        if (ok_) res_nclose(&state_);
    }
    ResolverState(const ResolverState&) = delete;
    ResolverState& operator=(const ResolverState&) = delete;

    bool ok() const { return ok_; }
    const struct __res_state& get() const { return state_; }

private:
    struct __res_state state_ {};
    bool ok_ = false;
};

void CopyText(char* out, std::size_t capacity, const char* text) {
    const std::size_t length = strnlen(text, capacity - 1);
    std::memcpy(out, text, length);
    out[length] = 0;
}

}  // namespace

DWORD LinuxGetNetworkParams(FIXED_INFO* fixedInfo, ULONG* outBufLen) {
    if (!outBufLen) return ERROR_INVALID_PARAMETER;
    ResolverState resolver;
    if (!resolver.ok()) return ERROR_GEN_FAILURE;
    const struct __res_state& state = resolver.get();

    // IPv4 servers only, in the order of the configuration.
    in_addr servers[MAXNS];
    std::size_t count = 0;
    for (int i = 0; i < state.nscount && i < MAXNS; ++i) {
        if (state.nsaddr_list[i].sin_family == AF_INET) {
            servers[count++] = state.nsaddr_list[i].sin_addr;
        }
    }

    // The first server lives inside the record; the others follow it in the same block.
    const std::size_t extra = count > 1 ? count - 1 : 0;
    const std::size_t needed = sizeof(FIXED_INFO) + extra * sizeof(IP_ADDR_STRING);
    if (!fixedInfo || *outBufLen < needed) {
        *outBufLen = static_cast<ULONG>(needed);
        return ERROR_BUFFER_OVERFLOW;
    }

    std::memset(fixedInfo, 0, needed);
    char host[MAX_HOSTNAME_LEN + 4] = {};
    if (gethostname(host, sizeof host - 1) == 0) {
        CopyText(fixedInfo->HostName, sizeof fixedInfo->HostName, host);
    }
    CopyText(fixedInfo->DomainName, sizeof fixedInfo->DomainName, state.defdname);
    fixedInfo->NodeType = 1;  // broadcast: there is no NetBIOS name service here
    fixedInfo->EnableDns = count > 0 ? 1 : 0;

    auto* extraEntries = reinterpret_cast<IP_ADDR_STRING*>(fixedInfo + 1);
    IP_ADDR_STRING* entry = &fixedInfo->DnsServerList;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            IP_ADDR_STRING* next = &extraEntries[i - 1];
            entry->Next = next;
            entry = next;
        }
        inet_ntop(AF_INET, &servers[i], entry->IpAddress.String, sizeof entry->IpAddress.String);
        CopyText(entry->IpMask.String, sizeof entry->IpMask.String, "255.255.255.255");
    }
    if (count > 0) fixedInfo->CurrentDnsServer = &fixedInfo->DnsServerList;
    return NO_ERROR;
}

DWORD LinuxIpHelper::GetNetworkParams(FIXED_INFO* fixedInfo, ULONG* outBufLen) {
    return LinuxGetNetworkParams(fixedInfo, outBufLen);
}

}  // namespace kestrel
