// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/fake_dns_client.h"

#include <cstdlib>
#include <cstring>

#include "platform/posix.h"

namespace kestrel::testing {
namespace {

std::string ServerList(const IP4_ARRAY* servers) {
    if (!servers) return "null";
    std::string out = "[";
    for (DWORD i = 0; i < servers->AddrCount; ++i) {
        char text[INET_ADDRSTRLEN] = {};
        in_addr address{};
        address.s_addr = servers->AddrArray[i];
        inet_ntop(AF_INET, &address, text, sizeof text);
        out += (i ? ", " : "") + std::string(text);
    }
    return out + "]";
}

}  // namespace

FakeDnsClient::FakeDnsClient(DNS_STATUS defaultStatus) : defaultStatus_(defaultStatus) {
    SetDnsClient(this);
}

FakeDnsClient::~FakeDnsClient() {
    SetDnsClient(nullptr);
}

void FakeDnsClient::ScriptStatus(DNS_STATUS status) {
    std::lock_guard<std::mutex> guard(lock_);
    scripted_.push_back(status);
}

void FakeDnsClient::SetDefaultStatus(DNS_STATUS status) {
    std::lock_guard<std::mutex> guard(lock_);
    defaultStatus_ = status;
}

void FakeDnsClient::SetQueryHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> guard(lock_);
    hook_ = std::move(hook);
}

std::vector<std::string> FakeDnsClient::Calls() const {
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
}

int FakeDnsClient::OutstandingResults() const {
    std::lock_guard<std::mutex> guard(lock_);
    return outstanding_;
}

DNS_STATUS FakeDnsClient::DnsQuery_A(const char* name, WORD type, DWORD options, IP4_ARRAY* servers,
                                     DNS_RECORDA** results, void*, ULONG ifIndex) {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> guard(lock_);
        hook = hook_;
    }
    if (hook) hook();
    std::lock_guard<std::mutex> guard(lock_);
    DNS_STATUS status = defaultStatus_;
    if (!scripted_.empty()) {
        status = scripted_.front();
        scripted_.pop_front();
    }
    if (status == 0 && results) {
        auto* record = static_cast<DNS_RECORDA*>(std::calloc(1, sizeof(DNS_RECORDA)));
        record->pName = strdup(name ? name : "");
        record->wType = DNS_TYPE_A;
        record->wDataLength = sizeof(DNS_A_DATA);
        record->Data.A.IpAddress = inet_addr("192.168.1.1");
        *results = record;
        ++outstanding_;
    }
    calls_.push_back("DnsQuery_A(" + std::string(name ? name : "null") + ", type " +
                     std::to_string(type) + ", options " + std::to_string(options) + ", servers " +
                     ServerList(servers) + " via " + std::to_string(ifIndex) +
                     ") = " + std::to_string(status));
    return status;
}

void FakeDnsClient::DnsFree(void* data, DNS_FREE_TYPE freeType) {
    std::lock_guard<std::mutex> guard(lock_);
    calls_.push_back(std::string("DnsFree(") + (data ? "records" : "null") + ", " +
                     std::to_string(static_cast<int>(freeType)) + ")");
    auto* record = static_cast<DNS_RECORDA*>(data);
    if (record) --outstanding_;
    while (record) {
        DNS_RECORDA* next = record->pNext;
        std::free(record->pName);
        std::free(record);
        record = next;
    }
}

}  // namespace kestrel::testing
