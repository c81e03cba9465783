// PLACEHOLDER: replaced by the netlink implementation.
#include "platform/linux_iphlp.h"

namespace kestrel {

DWORD LinuxIpHelper::GetAdaptersInfo(IP_ADAPTER_INFO*, ULONG*) {
    return ERROR_NOT_SUPPORTED;
}
DWORD LinuxIpHelper::AddIPAddress(IPAddr, IPMask, DWORD, ULONG*, ULONG*) {
    return ERROR_NOT_SUPPORTED;
}
DWORD LinuxIpHelper::DeleteIPAddress(ULONG) {
    return ERROR_NOT_SUPPORTED;
}
DWORD LinuxIpHelper::GetIpForwardTable(MIB_IPFORWARDTABLE*, ULONG*, BOOL) {
    return ERROR_NOT_SUPPORTED;
}
DWORD LinuxIpHelper::CreateIpForwardEntry(const MIB_IPFORWARDROW*) {
    return ERROR_NOT_SUPPORTED;
}
DWORD LinuxIpHelper::DeleteIpForwardEntry(const MIB_IPFORWARDROW*) {
    return ERROR_NOT_SUPPORTED;
}
DWORD LinuxIpHelper::SendARP(IPAddr, IPAddr, void*, ULONG*) {
    return ERROR_NOT_SUPPORTED;
}

DNS_STATUS LinuxDnsClient::DnsQuery_A(const char*, WORD, DWORD, IP4_ARRAY*, DNS_RECORDA**, void*) {
    return ERROR_NOT_SUPPORTED;
}
void LinuxDnsClient::DnsFree(void*, DNS_FREE_TYPE) {}

}  // namespace kestrel
