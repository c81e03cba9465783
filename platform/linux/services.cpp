// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/services.h"

#include "platform/linux/dns_client.h"
#include "platform/linux/netparams.h"
#include "platform/linux/udp.h"

namespace kestrel {
namespace {

// Before the helper is there, only the network parameters, which need no rights.
class WithoutHelper final : public RefusingIpHelper {
public:
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
