// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The kernel's UDP sockets.
#pragma once

#include "platform/udp.h"

namespace kestrel {

class LinuxUdpNetwork final : public UdpNetwork {
public:
    int Open(int protocol) override;
    void Close(int socket) override;
    bool BindAny(int socket) override;
    void SendTo(int socket, const void* data, std::size_t length, const sockaddr_in& to) override;
    int WaitReadable(int socket, std::uint64_t milliseconds) override;
    long ReceiveFrom(int socket, void* buffer, std::size_t size, sockaddr_in& from) override;
};

}  // namespace kestrel
