// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Which implementation of the network services is in use: what the program's main() installed,
// or a test's fake. Until something is installed every call is refused: nothing here picks an
// operating system's services.
#include <atomic>

#include "platform/iphlpapi.h"
#include "platform/udp.h"
#include "platform/windns.h"

namespace kestrel {
namespace {

class NoDnsClient final : public DnsClient {
public:
    DNS_STATUS DnsQuery_A(const char*, WORD, DWORD, IP4_ARRAY*, DNS_RECORDA** results, void*,
                          ULONG) override {
        if (results) *results = nullptr;
        return ERROR_NOT_SUPPORTED;
    }
    void DnsFree(void*, DNS_FREE_TYPE) override {}
};

class NoUdpNetwork final : public UdpNetwork {
public:
    int Open(int) override { return -1; }
    void Close(int) override {}
    bool BindAny(int) override { return false; }
    void SendTo(int, const void*, std::size_t, const sockaddr_in&) override {}
    int WaitReadable(int, std::uint64_t) override { return -1; }
    long ReceiveFrom(int, void*, std::size_t, sockaddr_in&) override { return -1; }
};

std::atomic<IpHelper*> installedIpHelper{nullptr};
std::atomic<DnsClient*> installedDnsClient{nullptr};
std::atomic<UdpNetwork*> installedUdpNetwork{nullptr};

}  // namespace

IpHelper& CurrentIpHelper() {
    static RefusingIpHelper none;
    IpHelper* helper = installedIpHelper.load();
    return helper ? *helper : none;
}

void SetIpHelper(IpHelper* helper) {
    installedIpHelper.store(helper);
}

DnsClient& CurrentDnsClient() {
    static NoDnsClient none;
    DnsClient* client = installedDnsClient.load();
    return client ? *client : none;
}

void SetDnsClient(DnsClient* client) {
    installedDnsClient.store(client);
}

UdpNetwork& CurrentUdpNetwork() {
    static NoUdpNetwork none;
    UdpNetwork* network = installedUdpNetwork.load();
    return network ? *network : none;
}

void SetUdpNetwork(UdpNetwork* network) {
    installedUdpNetwork.store(network);
}

}  // namespace kestrel
