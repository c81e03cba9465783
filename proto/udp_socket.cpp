// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "proto/udp_socket.h"

#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

namespace kestrel {
namespace {

class KernelUdp final : public UdpNetwork {
public:
    int Open(int protocol) override { return ::socket(AF_INET, SOCK_DGRAM, protocol); }
    void Close(int socket) override { ::close(socket); }

    bool BindAny(int socket) override {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        local.sin_port = 0;
        return ::bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    }

    void SendTo(int socket, const void* data, std::size_t length, const sockaddr_in& to) override {
        (void)::sendto(socket, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }

    int WaitReadable(int socket, std::uint64_t milliseconds) override {
        timeval limit{};
        limit.tv_sec = static_cast<time_t>(milliseconds / 1000);
        limit.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
        fd_set readSet;
        FD_ZERO(&readSet);
        FD_SET(socket, &readSet);
        return ::select(socket + 1, &readSet, nullptr, nullptr, &limit);
    }

    long ReceiveFrom(int socket, void* buffer, std::size_t size, sockaddr_in& from) override {
        socklen_t fromLength = sizeof from;
        return ::recvfrom(socket, buffer, size, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    }
};

KernelUdp kernelUdp;
std::atomic<UdpNetwork*> installed{nullptr};

}  // namespace

UdpNetwork& CurrentUdpNetwork() {
    UdpNetwork* network = installed.load();
    return network ? *network : kernelUdp;
}

void SetUdpNetwork(UdpNetwork* network) {
    installed.store(network);
}

}  // namespace kestrel
