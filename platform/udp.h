// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The UDP calls of the probe and the upload, behind a seam so that unit tests play the router on
// a fake clock, and a socket that is closed on every path out of the call that opened it. Each
// program installs the system's sockets (platform/linux/services.h) or a test's.
#pragma once

#include <cstddef>
#include <cstdint>

struct sockaddr_in;  // the system's socket headers define it

namespace kestrel {

class UdpNetwork {
public:
    virtual ~UdpNetwork() = default;
    virtual int Open(int protocol) = 0;  // an IPv4 datagram socket, or -1
    virtual void Close(int socket) = 0;
    // Any local address, a port the system chooses.
    virtual bool BindAny(int socket) = 0;
    virtual void SendTo(int socket, const void* data, std::size_t length,
                        const sockaddr_in& to) = 0;
    // Waits at most `milliseconds` for a datagram: 1 when one is there, 0 when none came, -1 when
    // the wait failed (errno says why; EINTR too).
    virtual int WaitReadable(int socket, std::uint64_t milliseconds) = 0;
    // One datagram's length, or -1.
    virtual long ReceiveFrom(int socket, void* buffer, std::size_t size, sockaddr_in& from) = 0;
};

// The sockets installed; until then none open.
UdpNetwork& CurrentUdpNetwork();
// Installs `network` for the whole process; nullptr: none again.
void SetUdpNetwork(UdpNetwork* network);

class UdpSocket {
public:
    explicit UdpSocket(int protocol) : fd_(CurrentUdpNetwork().Open(protocol)) {}
    ~UdpSocket() {
        if (fd_ >= 0) CurrentUdpNetwork().Close(fd_);
    }
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    bool BindAny() const { return CurrentUdpNetwork().BindAny(fd_); }
    void SendTo(const void* data, std::size_t length, const sockaddr_in& to) const {
        CurrentUdpNetwork().SendTo(fd_, data, length, to);
    }
    int WaitReadable(std::uint64_t milliseconds) const {
        return CurrentUdpNetwork().WaitReadable(fd_, milliseconds);
    }
    long ReceiveFrom(void* buffer, std::size_t size, sockaddr_in& from) const {
        return CurrentUdpNetwork().ReceiveFrom(fd_, buffer, size, from);
    }

private:
    int fd_;
};

}  // namespace kestrel
