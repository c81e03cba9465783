// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/services.h"

#include "platform/linux/dns_client.h"
#include "platform/linux/netparams.h"
#include "platform/linux/udp.h"

namespace kestrel {
namespace {

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

}  // namespace

void InstallLinuxServices() {
    static WithoutHelper withoutHelper;
    static LinuxDnsClient dnsClient;
    static LinuxUdpNetwork udpNetwork;
    SetIpHelper(&withoutHelper);
    SetDnsClient(&dnsClient);
    SetUdpNetwork(&udpNetwork);
}

}  // namespace kestrel
