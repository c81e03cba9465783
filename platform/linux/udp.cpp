// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/udp.h"

#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrel {

int LinuxUdpNetwork::Open(int protocol) {
    return ::socket(AF_INET, SOCK_DGRAM, protocol);
}

void LinuxUdpNetwork::Close(int socket) {
    ::close(socket);
}

bool LinuxUdpNetwork::BindAny(int socket) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = 0;
    return ::bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
}

void LinuxUdpNetwork::SendTo(int socket, const void* data, std::size_t length,
                             const sockaddr_in& to) {
    (void)::sendto(socket, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

int LinuxUdpNetwork::WaitReadable(int socket, std::uint64_t milliseconds) {
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(milliseconds / 1000);
    limit.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(socket, &readSet);
    return ::select(socket + 1, &readSet, nullptr, nullptr, &limit);
}

long LinuxUdpNetwork::ReceiveFrom(int socket, void* buffer, std::size_t size, sockaddr_in& from) {
    socklen_t fromLength = sizeof from;
    return ::recvfrom(socket, buffer, size, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
}

}  // namespace kestrel
