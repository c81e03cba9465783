// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The upload and the probe through the kernel's sockets, in the lab: the upload to the router
// simulator and to real TFTP servers from Debian, the probe to the DNS servers the resolver
// configuration names. Their exchanges with the router are unit-tested.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/iphlpapi.h"
#include "proto/proto.h"
#include "tests/support/lab/lab_process.h"
#include "tests/support/recording_wizard.h"

namespace kestrel::lab {
namespace {

using testing::RecordingWizard;
using namespace std::chrono_literals;

// Gives a server in the router namespace, or in this one, a moment to bind its UDP `port`.
bool Listening(const char* port, bool inRouter = true) {
    const std::string command = std::string("ss -Hlnu 'sport = :") + port + "' | grep -q .";
    return WaitFor(
        [&] {
            return (inRouter ? RunInRouter({"sh", "-c", command}) : std::system(command.c_str())) ==
                   0;
        },
        5s);
}

std::string ImageName(std::size_t size) {
    return "fw-" + std::to_string(size) + ".bin";
}

// Uploads images of `sizes` bytes to a server storing them in `dir`, each intact.
void ExpectUploadsArriveIntact(const TempDir& dir, const std::vector<std::size_t>& sizes) {
    TempDir source;
    for (std::size_t size : sizes) {
        SCOPED_TRACE(size);
        const std::string name = ImageName(size);
        const auto image = MakeImage(size, static_cast<unsigned>(size) + 7);
        WriteFile(source.File(name), image);
        RecordingWizard wizard;
        wizard.m_hFirmwareFile = OpenFirmwareImage(source.File(name));
        snprintf(wizard.m_szFirmwareName, sizeof wizard.m_szFirmwareName, "%s", name.c_str());
        EXPECT_EQ(TftpUploadFirmware(wizard), TFTP_OK);
        CloseFirmwareImage(wizard.m_hFirmwareFile);
        // The server may still be closing the file when the last ACK arrives.
        EXPECT_TRUE(WaitFor([&] { return ReadFile(dir.File(name)) == image; }, 3s));
    }
}

TEST(TftpLab, TheSimulatorReceivesAnImageOnTheBootLoadersNewPort) {
    TempDir dir;
    const std::size_t size = 3 * 1024 * 1024 + 123;
    RouterSim sim(dir, {"--new-port", "--store", dir.File(ImageName(size))});
    ExpectUploadsArriveIntact(dir, {size});
    // Every block left from the request's port and went to the port of the boot loader's answer.
    const auto requests = sim.Tftp(2);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].name, ImageName(size));
    const auto data = sim.Tftp(3);
    EXPECT_EQ(data.size(), size / 512 + 1);
    for (const auto& block : data) {
        EXPECT_EQ(block.at, "own");
        EXPECT_EQ(block.port, requests[0].port);
    }
}

TEST(TftpPeersLab, TftpdHpaReceivesImagesPastBlock65535) {
    TempDir dir;
    RouterProcess server({"in.tftpd", "-L", "-c", "-s", dir.path(), "-a", "192.168.1.1:69"});
    ASSERT_TRUE(Listening("69"));
    ExpectUploadsArriveIntact(dir, {0, 512, 1000, 65536u * 512u + 300u});
}

TEST(TftpPeersLab, AtftpdReceivesImages) {
    const std::string binary = std::string(KESTREL_ATFTPD_DIR) + "/usr/sbin/atftpd";
    ASSERT_EQ(access(binary.c_str(), X_OK), 0) << "run tests/support/lab/fetch_atftpd.sh first";
    TempDir dir;
    RouterProcess server({binary, "--daemon", "--no-fork", "--logfile", "/dev/null", "--user",
                          "root.root", "--bind-address", "192.168.1.1", "--port", "69",
                          dir.path()});
    ASSERT_TRUE(Listening("69"));
    ExpectUploadsArriveIntact(dir, {0, 1000, 2 * 1024 * 1024});
}

// dnsmasq answering for the login name on `address`, as a working router does.
std::vector<std::string> Dnsmasq(const std::string& address) {
    std::vector<std::string> command = {
        "dnsmasq",    "--keep-in-foreground", "--conf-file=/dev/null", "--no-resolv",
        "--no-hosts", "--bind-interfaces",    "--pid-file=",           "--user=root"};
    command.push_back("--listen-address=" + address);
    command.push_back(std::string("--host-record=") + kSetupHostName + ",192.168.1.1");
    return command;
}

// The resolver configuration and systemd-resolved's list of upstream servers, seen only by this
// process and what it starts: a tmpfs over /run/systemd, in a mount namespace of its own.
class ResolverFiles {
public:
    ResolverFiles(const std::string& conf, const std::string& upstream) {
        mounted_ = unshare(CLONE_NEWNS) == 0 &&
                   mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                   mount("tmpfs", "/run/systemd", "tmpfs", 0, "size=64k") == 0;
        EXPECT_TRUE(mounted_) << "a private /run/systemd: " << std::strerror(errno);
        mkdir("/run/systemd/resolve", 0755);
        std::ofstream("/run/systemd/resolve/resolv.conf") << upstream;
        std::ofstream("/run/systemd/test-resolv.conf") << conf;
        EXPECT_EQ(
            mount("/run/systemd/test-resolv.conf", "/etc/resolv.conf", nullptr, MS_BIND, nullptr),
            0);
    }
    ~ResolverFiles() {
        umount("/etc/resolv.conf");
        if (mounted_) umount("/run/systemd");
    }

private:
    bool mounted_ = false;
};

TEST(DnsLab, TheRouterIsAskedPastALocalStubAsTheResolverConfigurationOrders) {
    ResolverFiles files("search lab.example\nnameserver 192.168.1.2\nnameserver 127.0.0.53\n",
                        "nameserver 192.168.1.1\n");
    ULONG size = 584;
    std::vector<unsigned char> block(size);
    ASSERT_EQ(GetNetworkParams(reinterpret_cast<FIXED_INFO*>(block.data()), &size),
              ERROR_BUFFER_OVERFLOW);
    ASSERT_EQ(size, sizeof(FIXED_INFO) + sizeof(IP_ADDR_STRING));
    std::vector<unsigned char> fitted(size + 64, 0xee);
    auto* info = reinterpret_cast<FIXED_INFO*>(fitted.data());
    ASSERT_EQ(GetNetworkParams(info, &size), NO_ERROR);
    std::vector<std::string> servers;
    for (const IP_ADDR_STRING* s = &info->DnsServerList; s; s = s->Next) {
        const auto* at = reinterpret_cast<const unsigned char*>(s);
        ASSERT_GE(at, fitted.data());
        ASSERT_LE(at + sizeof *s, fitted.data() + size);
        servers.push_back(s->IpAddress.String);
    }
    EXPECT_EQ(servers, (std::vector<std::string>{"192.168.1.2", "192.168.1.1"}));
    // Nothing written past the size the call asked for.
    EXPECT_EQ(fitted[size], 0xee);
    EXPECT_EQ(fitted.back(), 0xee);

    // The stub holds an answer for the login name, as a cache would after the router was seen:
    // only the router itself tells a boot loader from a working router.
    RouterProcess stub(Dnsmasq("127.0.0.53"), "LAB_PC");
    ASSERT_TRUE(Listening("53", false));
    RecordingWizard wizard;
    wizard.m_bDebug = TRUE;
    const std::uint64_t start = GetTickCount64();
    EXPECT_EQ(ProbeRouterDns(wizard), 0);
    // A boot loader does not answer: the kernel's waits last the whole window.
    const std::uint64_t ms = GetTickCount64() - start;
    EXPECT_TRUE(ms >= 5000 && ms < 5500) << ms;

    // A real DNS server accepts the query, and its answer is accepted.
    RouterProcess router(Dnsmasq("192.168.1.1"));
    ASSERT_TRUE(Listening("53"));
    EXPECT_EQ(ProbeRouterDns(wizard), 1);
    EXPECT_EQ(wizard.Boxes(), std::vector<std::string>{"Information: 192.168.1.1"});
}

}  // namespace
}  // namespace kestrel::lab
