// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// One ARP question from the link that holds the source address, answered only by the asked
// address itself.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/if_ether.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>

#include "platform/linux_iphlp.h"

namespace kestrel {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr milliseconds kArpWait{3000};
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

// The link that holds `address`, or an empty name.
std::string LinkHolding(IPAddr address) {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return {};
    std::string name;
    for (ifaddrs* entry = list; entry && name.empty(); entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
        if (reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr == address)
            name = entry->ifa_name;
    }
    ::freeifaddrs(list);
    return name;
}

}  // namespace

DWORD LinuxIpHelper::SendARP(IPAddr destIP, IPAddr srcIP, void* macAddr, ULONG* physAddrLen) {
    if (!macAddr || !physAddrLen || *physAddrLen == 0 || destIP == 0)
        return ERROR_INVALID_PARAMETER;
    if (*physAddrLen < ETH_ALEN) return ERROR_BUFFER_OVERFLOW;
    const std::string link = LinkHolding(srcIP);
    if (link.empty()) return ERROR_NOT_FOUND;
    const unsigned ifIndex = if_nametoindex(link.c_str());

    Fd packet(::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ARP)));
    if (packet.get() < 0) return errno == EPERM ? ERROR_ACCESS_DENIED : ERROR_GEN_FAILURE;
    sockaddr_ll local{};
    local.sll_family = AF_PACKET;
    local.sll_protocol = htons(ETH_P_ARP);
    local.sll_ifindex = static_cast<int>(ifIndex);
    if (::bind(packet.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return ERROR_GEN_FAILURE;
    ifreq request{};
    std::strncpy(request.ifr_name, link.c_str(), IFNAMSIZ - 1);
    if (::ioctl(packet.get(), SIOCGIFHWADDR, &request) != 0) return ERROR_GEN_FAILURE;

    ether_arp question{};
    question.arp_hrd = htons(ARPHRD_ETHER);
    question.arp_pro = htons(ETH_P_IP);
    question.arp_hln = ETH_ALEN;
    question.arp_pln = 4;
    question.arp_op = htons(ARPOP_REQUEST);
    std::memcpy(question.arp_sha, request.ifr_hwaddr.sa_data, ETH_ALEN);
    std::memcpy(question.arp_spa, &srcIP, 4);
    std::memcpy(question.arp_tpa, &destIP, 4);
    sockaddr_ll broadcast = local;
    broadcast.sll_halen = ETH_ALEN;
    std::memset(broadcast.sll_addr, 0xFF, ETH_ALEN);

    const auto deadline = steady_clock::now() + kArpWait;
    auto nextSend = steady_clock::now();
    for (;;) {
        const auto now = steady_clock::now();
        if (now >= deadline) return ERROR_BAD_NET_NAME;
        if (now >= nextSend) {
            ::sendto(packet.get(), &question, sizeof question, 0,
                     reinterpret_cast<sockaddr*>(&broadcast), sizeof broadcast);
            nextSend = now + kArpResend;
        }
        const auto wake = std::min(deadline, nextSend);
        pollfd ready{packet.get(), POLLIN, 0};
        const auto wait = std::chrono::duration_cast<milliseconds>(wake - now).count();
        if (::poll(&ready, 1, static_cast<int>(wait) + 1) <= 0) continue;
        ether_arp answer{};
        const ssize_t got = ::recv(packet.get(), &answer, sizeof answer, 0);
        if (got < static_cast<ssize_t>(sizeof answer) || ntohs(answer.arp_op) != ARPOP_REPLY ||
            ntohs(answer.arp_pro) != ETH_P_IP || answer.arp_hln != ETH_ALEN)
            continue;
        if (std::memcmp(answer.arp_spa, &destIP, 4) != 0) continue;
        std::memcpy(macAddr, answer.arp_sha, ETH_ALEN);
        *physAddrLen = ETH_ALEN;
        return NO_ERROR;
    }
}

}  // namespace kestrel
