// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Which implementation of the network services is in use: Linux's, or a test's fake.
#include <atomic>

#include "platform/linux_iphlp.h"

namespace kestrel {
namespace {

std::atomic<IpHelper*> installedIpHelper{nullptr};
std::atomic<DnsClient*> installedDnsClient{nullptr};

}  // namespace

IpHelper& CurrentIpHelper() {
    static LinuxIpHelper linux;
    IpHelper* helper = installedIpHelper.load();
    return helper ? *helper : linux;
}

void SetIpHelper(IpHelper* helper) {
    installedIpHelper.store(helper);
}

DnsClient& CurrentDnsClient() {
    static LinuxDnsClient linux;
    DnsClient* client = installedDnsClient.load();
    return client ? *client : linux;
}

void SetDnsClient(DnsClient* client) {
    installedDnsClient.store(client);
}

}  // namespace kestrel
