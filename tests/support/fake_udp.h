// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// A scripted router behind the UDP seam, on a fake clock: it answers with the datagrams a test
// queued, in order, and records what was sent. A wait that finds nothing due moves the clock on
// by its whole timeout, so timeouts and re-sends cost no time. Installs itself and its clock for
// the lifetime of the object.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/posix.h"
#include "platform/udp.h"
#include "tests/support/fake_clock.h"

namespace kestrel::testing {

class FakeUdp final : public UdpNetwork {
public:
    struct Datagram {
        std::vector<unsigned char> bytes;
        std::uint16_t port = 69;    // the sender's
        std::uint64_t afterMs = 0;  // of waiting, once the one before was read
        std::string from = "192.168.1.1";
        bool stop = false;  // instead of arriving, a stop is requested
    };
    struct Sent {
        std::vector<unsigned char> bytes;
        std::string to;
        std::uint16_t port;
        std::uint64_t tick;
    };

    FakeUdp() { SetUdpNetwork(this); }
    ~FakeUdp() override { SetUdpNetwork(nullptr); }
    FakeUdp(const FakeUdp&) = delete;
    FakeUdp& operator=(const FakeUdp&) = delete;

    int Open(int) override { return ++opened; }
    void Close(int) override {}
    bool BindAny(int) override { return true; }

    void SendTo(int, const void* data, std::size_t length, const sockaddr_in& to) override {
        const auto* bytes = static_cast<const unsigned char*>(data);
        sent.push_back({{bytes, bytes + length},
                        inet_ntoa(to.sin_addr),
                        ntohs(to.sin_port),
                        clock.GetTickCount64()});
    }

    int WaitReadable(int, std::uint64_t milliseconds) override {
        if (replies.empty() || replies.front().afterMs > milliseconds) {
            if (!replies.empty()) replies.front().afterMs -= milliseconds;
            clock.Advance(milliseconds);
            return 0;
        }
        clock.Advance(replies.front().afterMs);
        replies.front().afterMs = 0;
        if (!replies.front().stop) return 1;
        replies.pop_front();
        RequestStop();
        return 0;
    }

    long ReceiveFrom(int, void* buffer, std::size_t size, sockaddr_in& from) override {
        const Datagram next = replies.front();
        replies.pop_front();
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = inet_addr(next.from.c_str());
        from.sin_port = htons(next.port);
        const std::size_t length = std::min(size, next.bytes.size());
        std::copy_n(next.bytes.begin(), length, static_cast<unsigned char*>(buffer));
        return static_cast<long>(length);
    }

    FakeClock clock;
    std::deque<Datagram> replies;
    std::vector<Sent> sent;
    int opened = 0;  // sockets
};

}  // namespace kestrel::testing
