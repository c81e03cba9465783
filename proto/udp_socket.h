// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// A UDP socket that is closed on every path out of the call that opened it.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrel {

class UdpSocket {
public:
    explicit UdpSocket(int protocol) : fd_(::socket(AF_INET, SOCK_DGRAM, protocol)) {}
    ~UdpSocket() {
        if (fd_ >= 0) ::close(fd_);
    }
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    // Any local address, a port the system chooses.
    bool BindAny() const {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        local.sin_port = 0;
        return ::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    }

    void SendTo(const void* data, std::size_t length, const sockaddr_in& to) const {
        (void)::sendto(fd_, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }

private:
    int fd_;
};

}  // namespace kestrel
