// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// kestrel-router-sim: a router for the lab. Run it inside the lab's router namespace
// ("ip netns exec $LAB_ROUTER kestrel-router-sim ..."); it never runs anywhere else.
//
// Boot-loader mode (the default) is a TFTP write server on port 69 that stores the image it
// receives. After a complete image it exits, stays in boot-loader mode, or "reboots": a pause,
// then normal mode. Normal mode is a DNS responder on port 53 for the router's login host name
// and, with --dhcp, a DHCP server as the firmware of a real router runs one.
//
//   --address A           local address to serve on (default 192.168.1.1)
//   --mode bootloader|normal
//   --store PATH          write the received image here (default: keep nothing)
//   --after-image exit|stay|reboot   (default exit)
//   --reboot-seconds S    pause before normal mode (default 3)
//   --reboot-carrier-loss S   the reboot also takes the link that holds --address down for S
//                         seconds, so that the PC loses its carrier; normal mode comes after the
//                         pause and the carrier, whichever is later
//   --max-seconds S       lifetime; the simulator always ends by then (default 60)
//   --log PATH            event log (default stdout), one line per received packet, each
//                         line starting with t=SECONDS since the start:
//                           ready mode=bootloader|normal
//                           tftp port=P at=69|own op=2 block=COUNT len=L name=NAME
//                           tftp port=P at=69|own op=3 block=B len=L
//                           tftp port=P at=69|own op=O block=-1 len=L   (anything else)
//                           image size=N
//                           mode normal
//                           dns port=P len=L
//                           carrier down|up
//                           dhcp pid=P
//   Boot loader:
//   --new-port            answer the request from a new port (as U-Boot does)
//   Normal mode:
//   --dns LIST            answers to the queries in turn, the last one repeating: good (53
//                         bytes, owner name a pointer), full-name, nxdomain, rcode3, type5, silent
//   --dhcp                leases from 192.168.1.100 to 192.168.1.140 (never the recovery's
//                         192.168.1.141) for an hour, with --address as gateway and DNS server;
//                         dnsmasq serves them and logs to stderr. It starts with normal mode,
//                         knowing no leases, and ends with the simulator.
//
// Exit status: 0 when it ended normally or its lifetime ran out, 2 for a bad command line,
// 1 when a socket, the link or the DHCP server could not be set up.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "proto/packets.h"

namespace kestrel::lab {
namespace {

using namespace packets;

struct Options {
    std::string address = "192.168.1.1";
    bool normalMode = false;
    std::string store;
    std::string afterImage = "exit";
    double rebootSeconds = 3;
    double carrierLoss = 0;
    double maxSeconds = 60;
    std::string log;
    bool newPort = false;
    std::vector<std::string> dns{"good"};
    bool dhcp = false;
};

double Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::FILE* logFile = stdout;
double started = 0;
volatile sig_atomic_t stopRequested = 0;
sigset_t waitMask;  // the signal mask the simulator started with

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Log(const char* format, ...) {
    std::fprintf(logFile, "t=%.3f ", Now() - started);
    va_list args;
    va_start(args, format);
    std::vfprintf(logFile, format, args);
    va_end(args);
    std::fputc('\n', logFile);
    std::fflush(logFile);
}

[[noreturn]] void Usage(const std::string& why) {
    std::fprintf(stderr, "kestrel-router-sim: %s (see the comment at the top of router_sim.cpp)\n",
                 why.c_str());
    std::exit(2);
}

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) return parts;
        start = comma + 1;
    }
}

Options Parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) Usage(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--address")
            o.address = value();
        else if (arg == "--mode") {
            const std::string mode = value();
            if (mode != "bootloader" && mode != "normal") Usage("unknown mode " + mode);
            o.normalMode = mode == "normal";
        } else if (arg == "--store")
            o.store = value();
        else if (arg == "--after-image") {
            o.afterImage = value();
            if (o.afterImage != "exit" && o.afterImage != "stay" && o.afterImage != "reboot")
                Usage("unknown --after-image " + o.afterImage);
        } else if (arg == "--reboot-seconds")
            o.rebootSeconds = std::atof(value().c_str());
        else if (arg == "--reboot-carrier-loss")
            o.carrierLoss = std::atof(value().c_str());
        else if (arg == "--max-seconds")
            o.maxSeconds = std::atof(value().c_str());
        else if (arg == "--log")
            o.log = value();
        else if (arg == "--new-port")
            o.newPort = true;
        else if (arg == "--dns") {
            o.dns = Split(value());
            for (const auto& v : o.dns) {
                if (v != "good" && v != "full-name" && v != "nxdomain" && v != "rcode3" &&
                    v != "type5" && v != "silent")
                    Usage("unknown --dns answer " + v);
            }
        } else if (arg == "--dhcp")
            o.dhcp = true;
        else
            Usage("unknown option " + arg);
    }
    if (o.maxSeconds <= 0) Usage("--max-seconds must be positive");
    return o;
}

sockaddr_in Address(const std::string& text, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (inet_pton(AF_INET, text.c_str(), &a.sin_addr) != 1) Usage("bad address " + text);
    return a;
}

class Socket {
public:
    Socket() = default;
    ~Socket() { Close(); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool Open(const sockaddr_in& local) {
        Close();
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        if (fd_ < 0) return false;
        const int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        return ::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int fd() const { return fd_; }
    void Send(const void* data, std::size_t length, const sockaddr_in& to) const {
        (void)::sendto(fd_, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }

private:
    int fd_ = -1;
};

// The name of the link that holds ADDRESS, or "" when none does.
std::string LinkHolding(const std::string& address) {
    const in_addr_t wanted = Address(address, 0).sin_addr.s_addr;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return {};
    std::string name;
    for (const ifaddrs* a = list; a && name.empty(); a = a->ifa_next) {
        if (a->ifa_addr && a->ifa_addr->sa_family == AF_INET &&
            reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr == wanted)
            name = a->ifa_name;
    }
    ::freeifaddrs(list);
    return name;
}

// Down is what the PC sees as a lost carrier: the far end of a veth link loses it with us.
bool SetLinkUp(const std::string& name, bool up) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return false;
    ifreq request{};
    std::snprintf(request.ifr_name, sizeof request.ifr_name, "%s", name.c_str());
    bool done = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (done) {
        request.ifr_flags =
            static_cast<short>(up ? request.ifr_flags | IFF_UP : request.ifr_flags & ~IFF_UP);
        done = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    ::close(fd);
    return done;
}

// dnsmasq as the router firmware's DHCP server (its DNS is off: the simulator answers that),
// for as long as the object lives, and no longer than the simulator.
class DhcpServer {
public:
    DhcpServer() = default;
    ~DhcpServer() { Stop(); }
    DhcpServer(const DhcpServer&) = delete;
    DhcpServer& operator=(const DhcpServer&) = delete;

    bool Start(const std::string& address) {
        Stop();
        const std::vector<std::string> args = {
            "dnsmasq", "--keep-in-foreground", "--conf-file=/dev/null", "--port=0", "--pid-file=",
            // Its own group would clear the parent-death signal.
            "--user=root", "--group=root", "--log-facility=-", "--listen-address=" + address,
            "--dhcp-range=192.168.1.100,192.168.1.140,255.255.255.0,1h",
            "--dhcp-option=option:router," + address, "--dhcp-option=option:dns-server," + address,
            // A rebooted router knows no leases and answers a PC that asks for its old one.
            "--leasefile-ro", "--dhcp-authoritative"};
        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::sigprocmask(SIG_SETMASK, &waitMask, nullptr);
            if (::getppid() != parent) ::_exit(1);
            std::vector<char*> argv;
            for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            std::perror("kestrel-router-sim: dnsmasq");
            ::_exit(127);
        }
        return true;
    }
    void Stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

class Router {
public:
    explicit Router(const Options& o) : o_(o) {}
    ~Router() {
        if (carrierUpAt_ > 0) SetLinkUp(link_, true);
    }
    Router(const Router&) = delete;
    Router& operator=(const Router&) = delete;

    int Run() {
        const double end = Now() + o_.maxSeconds;
        if (o_.carrierLoss > 0) {
            link_ = LinkHolding(o_.address);
            if (link_.empty()) {
                std::fprintf(stderr, "kestrel-router-sim: no link holds %s\n", o_.address.c_str());
                return 1;
            }
        }
        if (o_.normalMode ? !StartNormal() : !StartBootLoader()) return 1;
        Log("ready mode=%s", o_.normalMode ? "normal" : "bootloader");
        for (;;) {
            const double now = Now();
            if (now >= end || finished_ || stopRequested) return status_;
            if (carrierUpAt_ > 0 && now >= carrierUpAt_) {
                carrierUpAt_ = 0;
                if (!SetCarrier(true)) return 1;
            }
            if (rebootAt_ > 0 && now >= rebootAt_) {
                rebootAt_ = 0;
                if (!StartNormal()) return 1;
                Log("mode normal");
            }
            double wake = end;
            if (carrierUpAt_ > 0 && carrierUpAt_ < wake) wake = carrierUpAt_;
            if (rebootAt_ > 0 && rebootAt_ < wake) wake = rebootAt_;

            pollfd fds[3];
            int count = 0;
            for (const Socket* s : {&listen_, &ownPort_, &dns_}) {
                if (s->fd() >= 0) fds[count++] = pollfd{s->fd(), POLLIN, 0};
            }
            const long waitMs = static_cast<long>((wake - now) * 1000) + 1;
            const timespec timeout{waitMs / 1000, (waitMs % 1000) * 1000000};
            // TERM and INT get through only while waiting here, so none is missed.
            if (::ppoll(fds, static_cast<nfds_t>(count), &timeout, &waitMask) <= 0) continue;
            for (int i = 0; i < count; ++i) {
                if (fds[i].revents & POLLIN) Receive(fds[i].fd);
            }
        }
    }

private:
    bool StartBootLoader() { return listen_.Open(Address(o_.address, kTftpPort)); }

    bool StartNormal() {
        listen_.Close();
        ownPort_.Close();
        transfer_ = nullptr;
        if (!dns_.Open(Address(o_.address, kDnsPort))) return false;
        if (o_.dhcp) {
            if (!dhcp_.Start(o_.address)) return false;
            Log("dhcp pid=%d", static_cast<int>(dhcp_.pid()));
        }
        return true;
    }

    bool SetCarrier(bool up) {
        if (!SetLinkUp(link_, up)) {
            std::fprintf(stderr, "kestrel-router-sim: cannot set %s %s\n", link_.c_str(),
                         up ? "up" : "down");
            return false;
        }
        Log("carrier %s", up ? "up" : "down");
        return true;
    }

    void Receive(int fd) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got = ::recvfrom(fd, packet_, sizeof packet_, 0,
                                       reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (got < 0) return;
        const auto length = static_cast<std::size_t>(got);
        if (fd == dns_.fd()) {
            Log("dns port=%u len=%zu", ntohs(from.sin_port), length);
            AnswerDns(from, length);
            return;
        }
        const unsigned op = length >= 2 ? packet_[1] : 0;
        const char* at = fd == listen_.fd() ? "69" : "own";
        if (op == TFTP_WRQ && fd == listen_.fd()) {
            ++requests_;
            const int nameLength =
                static_cast<int>(strnlen(reinterpret_cast<const char*>(packet_) + 2, length - 2));
            Log("tftp port=%u at=%s op=2 block=%ld len=%zu name=%.*s", ntohs(from.sin_port), at,
                requests_, length, nameLength, reinterpret_cast<const char*>(packet_) + 2);
            OnRequest(from);
        } else if (op == TFTP_DATA && length >= kTftpHeaderSize && transfer_ &&
                   fd == transfer_->fd() && SameClient(from)) {
            const std::uint16_t block = GetU16(packet_ + kTftpBlockOffset);
            Log("tftp port=%u at=%s op=3 block=%u len=%zu", ntohs(from.sin_port), at, block,
                length);
            OnData(block, length);
        } else {
            Log("tftp port=%u at=%s op=%u block=-1 len=%zu", ntohs(from.sin_port), at, op, length);
        }
    }

    bool SameClient(const sockaddr_in& from) const {
        return from.sin_addr.s_addr == client_.sin_addr.s_addr && from.sin_port == client_.sin_port;
    }

    void OnRequest(const sockaddr_in& from) {
        client_ = from;
        if (o_.newPort) {
            if (!ownPort_.Open(Address(o_.address, 0))) return;
            transfer_ = &ownPort_;
        } else {
            transfer_ = &listen_;
        }
        if (!o_.store.empty()) {
            if (image_) std::fclose(image_);
            image_ = std::fopen(o_.store.c_str(), "wb");
        }
        imageSize_ = 0;
        received_ = 0;
        expected_ = 1;
        SendAck(0);
    }

    void OnData(std::uint16_t block, std::size_t length) {
        if (block != expected_) {
            // A re-sent block that was already acknowledged: acknowledge it again, as servers do.
            if (block == lastAcked_ && received_ > 0)
                transfer_->Send(lastAck_, kTftpHeaderSize, client_);
            return;
        }
        const std::size_t dataLength = length - kTftpDataOffset;
        if (image_) std::fwrite(packet_ + kTftpDataOffset, 1, dataLength, image_);
        imageSize_ += dataLength;
        ++received_;
        expected_ = static_cast<std::uint16_t>(block + 1);  // 65535 wraps to 0
        SendAck(block);

        if (dataLength < kTftpBlockSize) Finish();
    }

    void Finish() {
        if (image_) std::fclose(image_);
        image_ = nullptr;
        Log("image size=%zu", imageSize_);
        if (o_.afterImage == "exit") {
            finished_ = true;
        } else if (o_.afterImage == "reboot") {
            listen_.Close();
            ownPort_.Close();
            transfer_ = nullptr;
            double pause = o_.rebootSeconds;
            if (o_.carrierLoss > 0) {
                if (!SetCarrier(false)) {
                    status_ = 1;
                    finished_ = true;
                    return;
                }
                carrierUpAt_ = Now() + o_.carrierLoss;
                pause = std::max(pause, o_.carrierLoss);
            }
            rebootAt_ = Now() + pause;
        } else {
            transfer_ = nullptr;
            requests_ = 0;
        }
    }

    void SendAck(std::uint16_t block) {
        BuildTftpAck(lastAck_, block);
        lastAcked_ = block;
        transfer_->Send(lastAck_, kTftpHeaderSize, client_);
    }

    void AnswerDns(const sockaddr_in& from, std::size_t length) {
        const std::string& kind = o_.dns[dnsCount_ < o_.dns.size() ? dnsCount_ : o_.dns.size() - 1];
        ++dnsCount_;
        if (kind == "silent") return;
        // Repeat the question as it came; only queries for the login name are answered.
        std::size_t nameEnd = kDnsNameOffset;
        while (nameEnd < length && packet_[nameEnd] != 0) nameEnd += packet_[nameEnd] + 1u;
        const std::size_t questionEnd = nameEnd + 5;
        if (length < kDnsHeaderSize || questionEnd > length) return;
        unsigned char expected[kDnsQuerySize];
        const std::size_t nameLength = EncodeDnsName(expected, sizeof expected, kSetupHostName);
        const bool ours = questionEnd - 4 - kDnsNameOffset == nameLength &&
                          std::memcmp(expected, packet_ + kDnsNameOffset, nameLength) == 0;

        unsigned char answer[kDnsReceiveSize];
        std::memcpy(answer, packet_, questionEnd);
        answer[kDnsFlagsHighOffset] = static_cast<unsigned char>(kDnsQrBit | (packet_[2] & 0x01));
        answer[kDnsFlagsLowOffset] = 0x80;  // RA
        PutU16(answer + kDnsQdcountOffset, 1);
        PutU16(answer + 8, 0);
        PutU16(answer + 10, 0);
        std::size_t size = questionEnd;
        if (!ours || kind == "nxdomain") {
            answer[kDnsFlagsLowOffset] |= kDnsRcodeNameError;
            PutU16(answer + kDnsAncountOffset, 0);
            Reply(from, answer, size);
            return;
        }
        PutU16(answer + kDnsAncountOffset, 1);
        if (kind == "full-name") {
            std::memcpy(answer + size, packet_ + kDnsNameOffset, nameLength);
            size += nameLength;
        } else {
            PutU16(answer + size, 0xc000 | kDnsNameOffset);
            size += 2;
        }
        PutU16(answer + size, kind == "type5" ? kDnsTypeCname : kDnsTypeA);
        PutU16(answer + size + 2, kDnsClassIn);
        PutU16(answer + size + 4, 0);
        PutU16(answer + size + 6, 300);
        PutU16(answer + size + 8, 4);
        const sockaddr_in address = Address(o_.address, 0);
        std::memcpy(answer + size + 10, &address.sin_addr, 4);
        size += 14;
        if (kind == "rcode3") answer[kDnsFlagsLowOffset] |= kDnsRcodeNameError;
        Reply(from, answer, size);
    }

    void Reply(const sockaddr_in& to, const unsigned char* data, std::size_t length) {
        dns_.Send(data, length, to);
    }

    const Options& o_;
    std::string link_;  // the link whose carrier a reboot drops
    DhcpServer dhcp_;
    Socket listen_, ownPort_, dns_;
    Socket* transfer_ = nullptr;
    sockaddr_in client_{};
    unsigned char packet_[65536] = {};
    unsigned char lastAck_[kTftpHeaderSize] = {};
    std::uint16_t lastAcked_ = 0;
    std::uint16_t expected_ = 1;
    long requests_ = 0;
    long received_ = 0;  // DATA packets taken into the image
    std::size_t imageSize_ = 0;
    std::FILE* image_ = nullptr;
    double rebootAt_ = 0;
    double carrierUpAt_ = 0;
    std::size_t dnsCount_ = 0;
    bool finished_ = false;
    int status_ = 0;
};

}  // namespace
}  // namespace kestrel::lab

int main(int argc, char** argv) {
    kestrel::lab::started = kestrel::lab::Now();
    // Ending on TERM or INT through Run's loop puts the carrier back and stops the DHCP server.
    struct sigaction stop {};
    stop.sa_handler = [](int) { kestrel::lab::stopRequested = 1; };
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, &kestrel::lab::waitMask);
    const kestrel::lab::Options options = kestrel::lab::Parse(argc, argv);
    if (!options.log.empty()) {
        kestrel::lab::logFile = std::fopen(options.log.c_str(), "a");
        if (!kestrel::lab::logFile) kestrel::lab::Usage("cannot open " + options.log);
    }
    kestrel::lab::Router router(options);
    return router.Run();
}
