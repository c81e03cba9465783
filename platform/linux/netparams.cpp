// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// GetNetworkParams over Linux: the DNS servers of the resolver configuration as glibc reads it,
// past the local stubs of systemd-resolved and NetworkManager.
#include "platform/linux/netparams.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <resolv.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/two_call.h"

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

struct LocalStub {
    const char* address;
    const char* upstreamList;
};
const LocalStub kLocalStubs[] = {
    {"127.0.0.53", "/run/systemd/resolve/resolv.conf"},
    {"127.0.1.1", "/run/NetworkManager/no-stub-resolv.conf"},
};

bool IsLoopback(IPAddr address) {
    return (ntohl(address) >> 24) == 127;
}

// The IPv4 "nameserver" lines of a resolv.conf text, in order.
std::vector<IPAddr> NameServersIn(const std::string& text) {
    std::vector<IPAddr> servers;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string keyword, address;
        in_addr parsed{};
        if (words >> keyword >> address && keyword == "nameserver" &&
            inet_pton(AF_INET, address.c_str(), &parsed) == 1)
            servers.push_back(parsed.s_addr);
    }
    return servers;
}

std::string ReadText(const char* path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

std::vector<IPAddr> ServersPastLocalStubs(const std::vector<IPAddr>& configured,
                                          const FileReader& readFile) {
    std::vector<IPAddr> servers;
    auto add = [&](IPAddr server) {
        if (!IsLoopback(server) &&
            std::find(servers.begin(), servers.end(), server) == servers.end())
            servers.push_back(server);
    };
    for (IPAddr server : configured) {
        for (const LocalStub& stub : kLocalStubs)
            if (server == inet_addr(stub.address))
                for (IPAddr upstream : NameServersIn(readFile(stub.upstreamList))) add(upstream);
        add(server);
    }
    return servers;
}

DWORD LinuxGetNetworkParams(FIXED_INFO* fixedInfo, ULONG* outBufLen) {
    if (!outBufLen) return ERROR_INVALID_PARAMETER;
    ResolverState resolver;
    if (!resolver.ok()) return ERROR_GEN_FAILURE;
    const struct __res_state& state = resolver.get();

    // IPv4 servers only, in the order of the configuration.
    std::vector<IPAddr> configured;
    for (int i = 0; i < state.nscount && i < MAXNS; ++i) {
        if (state.nsaddr_list[i].sin_family == AF_INET)
            configured.push_back(state.nsaddr_list[i].sin_addr.s_addr);
    }
    const std::vector<IPAddr> servers = ServersPastLocalStubs(configured, ReadText);
    const std::size_t count = servers.size();

    // The first server lives inside the record; the others follow it in the same block.
    auto* extraEntries = TwoCallBlock<IP_ADDR_STRING>(fixedInfo, outBufLen, 1, BeyondFirst(count));
    if (!extraEntries) return ERROR_BUFFER_OVERFLOW;
    char host[MAX_HOSTNAME_LEN + 4] = {};
    if (gethostname(host, sizeof host - 1) == 0) {
        CopyText(fixedInfo->HostName, sizeof fixedInfo->HostName, host);
    }
    CopyText(fixedInfo->DomainName, sizeof fixedInfo->DomainName, state.defdname);
    fixedInfo->NodeType = 1;  // broadcast: there is no NetBIOS name service here
    fixedInfo->EnableDns = count > 0 ? 1 : 0;

    IP_ADDR_STRING* entry = &fixedInfo->DnsServerList;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            IP_ADDR_STRING* next = &extraEntries[i - 1];
            entry->Next = next;
            entry = next;
        }
        const in_addr server{servers[i]};
        inet_ntop(AF_INET, &server, entry->IpAddress.String, sizeof entry->IpAddress.String);
        CopyText(entry->IpMask.String, sizeof entry->IpMask.String, "255.255.255.255");
    }
    if (count > 0) fixedInfo->CurrentDnsServer = &fixedInfo->DnsServerList;
    return NO_ERROR;
}

}  // namespace kestrel
