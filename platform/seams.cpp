// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Which implementation of the network services is in use: the privileged helper's, or a test's
// fake.
#include <atomic>

#include "platform/dns_linux.h"
#include "platform/netparams.h"

namespace kestrel {
namespace {

// Before a front end has its privileged helper, nothing may change the PC's settings.
class WithoutHelper final : public IpHelper {
public:
    DWORD GetAdaptersInfo(IP_ADAPTER_INFO*, ULONG*) override { return ERROR_ACCESS_DENIED; }
    DWORD AddIPAddress(IPAddr, IPMask, DWORD, ULONG*, ULONG*) override {
        return ERROR_ACCESS_DENIED;
    }
    DWORD DeleteIPAddress(ULONG) override { return ERROR_ACCESS_DENIED; }
    DWORD GetIpForwardTable(MIB_IPFORWARDTABLE*, ULONG*, BOOL) override {
        return ERROR_ACCESS_DENIED;
    }
    DWORD CreateIpForwardEntry(const MIB_IPFORWARDROW*) override { return ERROR_ACCESS_DENIED; }
    DWORD DeleteIpForwardEntry(const MIB_IPFORWARDROW*) override { return ERROR_ACCESS_DENIED; }
    DWORD SendARP(IPAddr, IPAddr, void*, ULONG*) override { return ERROR_ACCESS_DENIED; }
    DWORD GetNetworkParams(FIXED_INFO* fixedInfo, ULONG* outBufLen) override {
        return LinuxGetNetworkParams(fixedInfo, outBufLen);
    }
};

std::atomic<IpHelper*> installedIpHelper{nullptr};
std::atomic<DnsClient*> installedDnsClient{nullptr};

}  // namespace

IpHelper& CurrentIpHelper() {
    static WithoutHelper withoutHelper;
    IpHelper* helper = installedIpHelper.load();
    return helper ? *helper : withoutHelper;
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
