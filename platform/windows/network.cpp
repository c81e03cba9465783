// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/windows/network.h"

#include <cerrno>
#include <cstddef>
#include <mutex>

#include "platform/posix.h"

// After the project's headers: the system's macros share the names of their constants.
#include <iphlpapi.h>
#include <windns.h>

namespace kestrel {
namespace {

// The records cross as they are: the layouts must be the system's, field for field.
static_assert(sizeof(kestrel::FIXED_INFO) == sizeof(::FIXED_INFO));
static_assert(offsetof(kestrel::FIXED_INFO, DnsServerList) ==
              offsetof(::FIXED_INFO, DnsServerList));
static_assert(offsetof(kestrel::FIXED_INFO, EnableDns) == offsetof(::FIXED_INFO, EnableDns));
static_assert(sizeof(kestrel::IP4_ARRAY) == sizeof(::IP4_ARRAY));
static_assert(offsetof(kestrel::DNS_RECORDA, wType) == offsetof(::DNS_RECORDA, wType));
static_assert(offsetof(kestrel::DNS_RECORDA, dwTtl) == offsetof(::DNS_RECORDA, dwTtl));
static_assert(offsetof(kestrel::DNS_RECORDA, Data) == offsetof(::DNS_RECORDA, Data));
static_assert(sizeof(kestrel::DNS_A_DATA) == sizeof(::DNS_A_DATA));

// Before the helper is there, only the network parameters, which need no rights.
class WithoutHelper final : public RefusingIpHelper {
public:
    DWORD GetNetworkParams(FIXED_INFO* fixedInfo, ULONG* outBufLen) override {
        return WindowsGetNetworkParams(fixedInfo, outBufLen);
    }
};

bool StartWinsock() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        WSADATA data{};
        started = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return started;
}

// errno for the callers, which test it as on Linux.
void SetErrnoFromWinsock() {
    errno = ::WSAGetLastError() == WSAEINTR ? EINTR : EIO;
}

}  // namespace

DWORD WindowsGetNetworkParams(FIXED_INFO* fixedInfo, ULONG* outBufLen) {
    return ::GetNetworkParams(reinterpret_cast<::FIXED_INFO*>(fixedInfo), outBufLen);
}

DNS_STATUS WindowsDnsClient::DnsQuery_A(const char* name, WORD type, DWORD options,
                                        IP4_ARRAY* servers, DNS_RECORDA** results, void* reserved,
                                        ULONG) {
    return ::DnsQuery_A(name, type, options, reinterpret_cast<::IP4_ARRAY*>(servers),
                        reinterpret_cast<::DNS_RECORDA**>(results), static_cast<PVOID*>(reserved));
}

void WindowsDnsClient::DnsFree(void* data, DNS_FREE_TYPE freeType) {
    ::DnsFree(data, freeType == DnsFreeFlat ? ::DnsFreeFlat : ::DnsFreeRecordList);
}

// A socket is a handle on Windows; handles fit an int, as the contract has it.
int WindowsUdpNetwork::Open(int protocol) {
    if (!StartWinsock()) return -1;
    const SOCKET socket = ::socket(AF_INET, SOCK_DGRAM, protocol);
    if (socket == INVALID_SOCKET) {
        SetErrnoFromWinsock();
        return -1;
    }
    return static_cast<int>(socket);
}

void WindowsUdpNetwork::Close(int socket) {
    ::closesocket(static_cast<SOCKET>(socket));
}

bool WindowsUdpNetwork::BindAny(int socket) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = 0;
    return ::bind(static_cast<SOCKET>(socket), reinterpret_cast<const sockaddr*>(&local),
                  sizeof local) == 0;
}

void WindowsUdpNetwork::SendTo(int socket, const void* data, std::size_t length,
                               const sockaddr_in& to) {
    (void)::sendto(static_cast<SOCKET>(socket), static_cast<const char*>(data),
                   static_cast<int>(length), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

int WindowsUdpNetwork::WaitReadable(int socket, std::uint64_t milliseconds) {
    timeval limit{};
    limit.tv_sec = static_cast<long>(milliseconds / 1000);
    limit.tv_usec = static_cast<long>((milliseconds % 1000) * 1000);
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(static_cast<SOCKET>(socket), &readSet);
    const int ready = ::select(0, &readSet, nullptr, nullptr, &limit);
    if (ready == SOCKET_ERROR) {
        SetErrnoFromWinsock();
        return -1;
    }
    return ready;
}

long WindowsUdpNetwork::ReceiveFrom(int socket, void* buffer, std::size_t size, sockaddr_in& from) {
    int fromLength = sizeof from;
    const int got =
        ::recvfrom(static_cast<SOCKET>(socket), static_cast<char*>(buffer), static_cast<int>(size),
                   0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (got == SOCKET_ERROR) {
        // A datagram larger than the buffer arrives cut, as recvfrom does on Linux.
        if (::WSAGetLastError() == WSAEMSGSIZE) return static_cast<long>(size);
        SetErrnoFromWinsock();
        return -1;
    }
    return got;
}

void InstallWindowsServices() {
    static WithoutHelper withoutHelper;
    static WindowsDnsClient dnsClient;
    static WindowsUdpNetwork udpNetwork;
    SetIpHelper(&withoutHelper);
    SetDnsClient(&dnsClient);
    SetUdpNetwork(&udpNetwork);
}

}  // namespace kestrel
