// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The upload and the probe through the kernel's sockets, in the lab: the upload to real TFTP
// servers from Debian, the probe to the DNS servers the resolver configuration names. Their
// exchanges with the router are unit-tested.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/iphlpapi.h"
#include "proto/proto.h"
#include "tests/support/lab/lab_process.h"
#include "tests/support/recording_wizard.h"

namespace kestrel::lab {
namespace {

using namespace std::chrono_literals;

// Gives a server in the router namespace a moment to bind its UDP `port`.
bool Listening(const char* port) {
    const std::string command = std::string("ss -Hlnu 'sport = :") + port + "' | grep -q .";
    return WaitFor([&] { return RunInRouter({"sh", "-c", command}) == 0; }, 5s);
}

// Real servers, each answering from a port of its own, receive images of every shape intact:
// tftpd-hpa past block 65535.
TEST(TftpPeersLab, RealServersReceiveImagesIntact) {
    const std::string atftpd = std::string(KESTREL_ATFTPD_DIR) + "/usr/sbin/atftpd";
    for (const bool hpa : {true, false}) {
        SCOPED_TRACE(hpa ? "tftpd-hpa" : "atftpd");
        TempDir dir, source;
        RouterProcess server(
            hpa ? std::vector<std::string>{"in.tftpd", "-L", "-c", "-s", dir.path(), "-a",
                                           "192.168.1.1:69"}
                : std::vector<std::string>{atftpd, "--daemon", "--no-fork", "--logfile",
                                           "/dev/null", "--user", "root.root", "--bind-address",
                                           "192.168.1.1", "--port", "69", dir.path()});
        ASSERT_TRUE(Listening("69"));
        for (std::size_t size : hpa ? std::vector<std::size_t>{0, 512, 1000, 65536u * 512u + 300u}
                                    : std::vector<std::size_t>{0, 1000, 2 * 1024 * 1024}) {
            SCOPED_TRACE(size);
            const std::string name = "fw-" + std::to_string(size) + ".bin";
            const auto image = MakeImage(size, static_cast<unsigned>(size) + 7);
            WriteFile(source.File(name), image);
            testing::RecordingWizard wizard;
            wizard.m_hFirmwareFile = OpenFirmwareImage(source.File(name));
            snprintf(wizard.m_szFirmwareName, sizeof wizard.m_szFirmwareName, "%s", name.c_str());
            EXPECT_EQ(TftpUploadFirmware(wizard), TFTP_OK);
            CloseFirmwareImage(wizard.m_hFirmwareFile);
            // The server may still be closing the file when the last ACK arrives.
            EXPECT_TRUE(WaitFor([&] { return ReadFile(dir.File(name)) == image; }, 3s));
        }
    }
}

TEST(DnsLab, TheRouterIsAskedPastALocalStubAsTheResolverConfigurationOrders) {
    // The resolver configuration and systemd-resolved's list of upstream servers, seen only by
    // this process and what it starts: a tmpfs over /run/systemd, in a mount namespace of its own
    // that ends with the process.
    ASSERT_TRUE(unshare(CLONE_NEWNS) == 0 &&
                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                mount("tmpfs", "/run/systemd", "tmpfs", 0, "size=64k") == 0)
        << "a private /run/systemd: " << std::strerror(errno);
    mkdir("/run/systemd/resolve", 0755);
    std::ofstream("/run/systemd/resolve/resolv.conf") << "nameserver 192.168.1.1\n";
    std::ofstream("/run/systemd/test-resolv.conf")
        << "search lab.example\nnameserver 192.168.1.2\nnameserver 127.0.0.53\n";
    ASSERT_EQ(mount("/run/systemd/test-resolv.conf", "/etc/resolv.conf", nullptr, MS_BIND, nullptr),
              0);

    // Asked with one record's room first, as the probe asks, then with what it said it needs.
    std::vector<unsigned char> block(1024, 0xee);
    auto* info = reinterpret_cast<FIXED_INFO*>(block.data());
    ULONG size = 584;
    ASSERT_EQ(GetNetworkParams(info, &size), ERROR_BUFFER_OVERFLOW);
    ASSERT_EQ(size, sizeof(FIXED_INFO) + sizeof(IP_ADDR_STRING));
    ASSERT_EQ(GetNetworkParams(info, &size), NO_ERROR);
    std::vector<std::string> servers;
    for (const IP_ADDR_STRING* s = &info->DnsServerList; s; s = s->Next)
        servers.push_back(s->IpAddress.String);
    EXPECT_EQ(servers, (std::vector<std::string>{"192.168.1.2", "192.168.1.1"}));
    // Nothing written past the size the call asked for.
    EXPECT_EQ(std::count(block.begin() + size, block.end(), 0xee), 1024 - size);

    testing::RecordingWizard wizard;
    wizard.m_bDebug = TRUE;

    // A real DNS server answering for the login name, as a working router does, accepts the
    // query, and its answer is accepted.
    RouterProcess router({"dnsmasq", "--keep-in-foreground", "--conf-file=/dev/null", "--no-resolv",
                          "--no-hosts", "--bind-interfaces", "--pid-file=", "--user=root",
                          "--listen-address=192.168.1.1",
                          std::string("--host-record=") + kSetupHostName + ",192.168.1.1"});
    ASSERT_TRUE(Listening("53"));
    EXPECT_EQ(ProbeRouterDns(wizard), 1);
    EXPECT_EQ(wizard.Boxes(), std::vector<std::string>{"Information: 192.168.1.1"});
}

}  // namespace
}  // namespace kestrel::lab
