// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The DNS client over c-ares: one query, to exactly the one server given, leaving through the
// adapter it is asked for, with a bounded time-out and no cache.
#include "platform/linux/dns_client.h"

#include <ares.h>
#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <net/if.h>
#include <sys/select.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/clock.h"

namespace kestrel {
namespace {

constexpr int kTimeoutMs = 2000;
constexpr int kTries = 2;
constexpr auto kQueryBound = std::chrono::milliseconds(kTimeoutMs * kTries + 2000);
constexpr DNS_STATUS DNS_ERROR_RCODE_NOT_IMPLEMENTED = 9004;

DNS_STATUS StatusOf(int aresStatus) {
    switch (aresStatus) {
        case ARES_SUCCESS:
            return 0;
        case ARES_ENODATA:
            return DNS_INFO_NO_RECORDS;
        case ARES_ENOTFOUND:
            return DNS_ERROR_RCODE_NAME_ERROR;
        case ARES_EFORMERR:
            return DNS_ERROR_RCODE_FORMAT_ERROR;
        case ARES_EREFUSED:
            return DNS_ERROR_RCODE_REFUSED;
        case ARES_ENOTIMP:
            return DNS_ERROR_RCODE_NOT_IMPLEMENTED;
        case ARES_ETIMEOUT:
        case ARES_ECONNREFUSED:  // nothing listens there: the query goes unanswered
        case ARES_ECANCELLED:
            return ERROR_TIMEOUT;
        case ARES_ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return DNS_ERROR_RCODE_SERVER_FAILURE;
    }
}

struct Outcome {
    bool done = false;
    int status = ARES_ETIMEOUT;
    std::vector<ares_addrttl> addresses;
};

void OnAnswer(void* argument, int status, int, unsigned char* answer, int length) {
    auto& outcome = *static_cast<Outcome*>(argument);
    outcome.done = true;
    outcome.status = status;
    if (status != ARES_SUCCESS) return;
    ares_addrttl addresses[16];
    int count = 16;
    outcome.status = ares_parse_a_reply(answer, length, nullptr, addresses, &count);
    if (outcome.status == ARES_SUCCESS && count == 0) outcome.status = ARES_ENODATA;
    if (outcome.status == ARES_SUCCESS) outcome.addresses.assign(addresses, addresses + count);
}

struct Channel {
    ares_channel channel = nullptr;
    ~Channel() {
        if (channel) ares_destroy(channel);
    }
};

}  // namespace

DNS_STATUS LinuxDnsClient::DnsQuery_A(const char* name, WORD type, DWORD, IP4_ARRAY* servers,
                                      DNS_RECORDA** results, void*, ULONG ifIndex) {
    if (!name || !results || !servers || servers->AddrCount != 1) return ERROR_INVALID_PARAMETER;
    if (type != DNS_TYPE_A) return ERROR_NOT_SUPPORTED;
    *results = nullptr;
    // A clashing route on another link must not carry the query away from its adapter; a link
    // that is gone has nobody to ask.
    char link[IF_NAMESIZE] = {};
    if (!if_indextoname(ifIndex, link)) return ERROR_NOT_FOUND;
    static std::once_flag initialised;
    static int libraryStatus = ARES_SUCCESS;
    std::call_once(initialised, [] { libraryStatus = ares_library_init(ARES_LIB_INIT_ALL); });
    if (libraryStatus != ARES_SUCCESS) return ERROR_GEN_FAILURE;

    in_addr server{};
    server.s_addr = servers->AddrArray[0];
    ares_options options{};
    options.flags = ARES_FLAG_NOCHECKRESP | ARES_FLAG_NOSEARCH | ARES_FLAG_NOALIASES;
    options.timeout = kTimeoutMs;
    options.tries = kTries;
    options.servers = &server;
    options.nservers = 1;
    options.lookups = const_cast<char*>("b");
    int mask =
        ARES_OPT_FLAGS | ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES | ARES_OPT_SERVERS | ARES_OPT_LOOKUPS;
#ifdef ARES_OPT_QUERY_CACHE
    options.qcache_max_ttl = 0;  // no cache: every call asks the server
    mask |= ARES_OPT_QUERY_CACHE;
#endif
    Channel channel;
    if (ares_init_options(&channel.channel, &options, mask) != ARES_SUCCESS)
        return ERROR_GEN_FAILURE;
    // SO_BINDTODEVICE, which needs no privilege since Linux 5.7.
    ares_set_local_dev(channel.channel, link);

    Outcome outcome;
    ares_query(channel.channel, name, ns_c_in, ns_t_a, OnAnswer, &outcome);
    const auto deadline = std::chrono::steady_clock::now() + kQueryBound;
    while (!outcome.done) {
        fd_set readers, writers;
        FD_ZERO(&readers);
        FD_ZERO(&writers);
        const int count = ares_fds(channel.channel, &readers, &writers);
        if (count == 0) break;
        timeval bound{0, 200 * 1000};
        timeval wait{};
        ares_timeout(channel.channel, &bound, &wait);
        ::select(count, &readers, &writers, nullptr, &wait);
        ares_process(channel.channel, &readers, &writers);
        if (std::chrono::steady_clock::now() >= deadline || StopRequested())
            ares_cancel(channel.channel);
    }
    if (!outcome.done) return ERROR_TIMEOUT;
    const DNS_STATUS status = StatusOf(outcome.status);
    if (status != 0) return status;

    DNS_RECORDA* head = nullptr;
    DNS_RECORDA** tail = &head;
    for (const ares_addrttl& address : outcome.addresses) {
        auto* record = static_cast<DNS_RECORDA*>(std::calloc(1, sizeof(DNS_RECORDA)));
        char* copy = record ? strdup(name) : nullptr;
        if (!copy) {
            std::free(record);
            DnsFree(head, DnsFreeRecordList);
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        record->pName = copy;
        record->wType = DNS_TYPE_A;
        record->wDataLength = sizeof(DNS_A_DATA);
        record->dwTtl = static_cast<DWORD>(address.ttl);
        record->Data.A.IpAddress = address.ipaddr.s_addr;
        *tail = record;
        tail = &record->pNext;
    }
    *results = head;
    return 0;
}

void LinuxDnsClient::DnsFree(void* data, DNS_FREE_TYPE freeType) {
    auto* record = static_cast<DNS_RECORDA*>(data);
    if (freeType != DnsFreeRecordList) {
        std::free(data);
        return;
    }
    while (record) {
        DNS_RECORDA* next = record->pNext;
        std::free(record->pName);
        std::free(record);
        record = next;
    }
}

}  // namespace kestrel
