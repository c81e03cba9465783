// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// One ARP question out of a given link, answered only by the asked address itself, and given up
// at once when the front end goes away.
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/if_ether.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "helper/linux/linux_netkernel.h"

namespace kestrel {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr milliseconds kArpResend{1000};

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool IsAnswerFrom(const ether_arp& answer, IPAddr target) {
    return ntohs(answer.arp_op) == ARPOP_REPLY && ntohs(answer.arp_pro) == ETH_P_IP &&
           answer.arp_hln == ETH_ALEN && std::memcmp(answer.arp_spa, &target, 4) == 0;
}

}  // namespace

int LinuxNetKernel::Arp(int ifIndex, IPAddr target, IPAddr source, std::uint8_t (&mac)[6],
                        int waitMs, int abortFd) {
    char name[IF_NAMESIZE] = {};
    if (!if_indextoname(static_cast<unsigned>(ifIndex), name)) return -ENODEV;
    Fd packet(::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ARP)));
    if (packet.get() < 0) return -errno;
    sockaddr_ll local{};
    local.sll_family = AF_PACKET;
    local.sll_protocol = htons(ETH_P_ARP);
    local.sll_ifindex = ifIndex;
    if (::bind(packet.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) return -errno;
    ifreq request{};
    static_assert(sizeof request.ifr_name == sizeof name);
    std::memcpy(request.ifr_name, name, sizeof name);
    if (::ioctl(packet.get(), SIOCGIFHWADDR, &request) != 0) return -errno;

    ether_arp question{};
    question.arp_hrd = htons(ARPHRD_ETHER);
    question.arp_pro = htons(ETH_P_IP);
    question.arp_hln = ETH_ALEN;
    question.arp_pln = 4;
    question.arp_op = htons(ARPOP_REQUEST);
    std::memcpy(question.arp_sha, request.ifr_hwaddr.sa_data, ETH_ALEN);
    std::memcpy(question.arp_spa, &source, 4);
    std::memcpy(question.arp_tpa, &target, 4);
    sockaddr_ll broadcast = local;
    broadcast.sll_halen = ETH_ALEN;
    std::memset(broadcast.sll_addr, 0xFF, ETH_ALEN);

    const auto deadline = steady_clock::now() + milliseconds(std::max(waitMs, 0));
    auto nextSend = steady_clock::now();
    for (;;) {
        const auto now = steady_clock::now();
        if (now >= deadline) return -ETIMEDOUT;
        if (now >= nextSend) {
            // A failed send (link down) is tried again with the next one.
            ::sendto(packet.get(), &question, sizeof question, 0,
                     reinterpret_cast<sockaddr*>(&broadcast), sizeof broadcast);
            nextSend = now + kArpResend;
        }
        const auto wait =
            std::chrono::duration_cast<milliseconds>(std::min(deadline, nextSend) - now).count();
        // poll ignores a negative descriptor: without an abort descriptor only the socket counts.
        pollfd ready[2] = {{packet.get(), POLLIN, 0}, {abortFd, POLLIN, 0}};
        if (::poll(ready, 2, static_cast<int>(wait) + 1) <= 0) continue;
        if (ready[1].revents & (POLLIN | POLLHUP | POLLERR)) return -ECANCELED;
        if (!(ready[0].revents & POLLIN)) continue;
        ether_arp answer{};
        const ssize_t got = ::recv(packet.get(), &answer, sizeof answer, MSG_DONTWAIT);
        if (got < static_cast<ssize_t>(sizeof answer) || !IsAnswerFrom(answer, target)) continue;
        std::memcpy(mac, answer.arp_sha, ETH_ALEN);
        return 0;
    }
}

}  // namespace kestrel
