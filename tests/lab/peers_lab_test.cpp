// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The upload and the probe against real servers from Debian, in the lab.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/kernel.h"
#include "proto/proto.h"
#include "tests/support/lab/lab_process.h"
#include "tests/support/recording_wizard.h"

namespace kestrel::lab {
namespace {

using testing::RecordingWizard;
using namespace std::chrono_literals;

int Upload(const std::string& path, const std::string& name) {
    RecordingWizard wizard;
    wizard.m_hFirmwareFile = OpenFirmwareImage(path);
    snprintf(wizard.m_szFirmwareName, sizeof wizard.m_szFirmwareName, "%s", name.c_str());
    const int result = TftpUploadFirmware(wizard);
    CloseFirmwareImage(wizard.m_hFirmwareFile);
    return result;
}

// Gives a server started in the router namespace a moment to bind its port.
bool Listening(const char* protocolFlag, const char* port) {
    return WaitFor(
        [&] {
            return RunInRouter({"sh", "-c",
                                std::string("ss -H -ln") + protocolFlag + " 'sport = :" + port +
                                    "' | grep -q ."}) == 0;
        },
        5s);
}

// Uploads images of `sizes` bytes to a server serving `dir`, each intact.
void ExpectUploadsArriveIntact(const TempDir& dir, const std::vector<std::size_t>& sizes) {
    TempDir source;
    for (std::size_t size : sizes) {
        SCOPED_TRACE(size);
        const std::string name = "fw-" + std::to_string(size) + ".bin";
        const auto image = MakeImage(size, static_cast<unsigned>(size) + 7);
        WriteFile(source.File(name), image);
        EXPECT_EQ(Upload(source.File(name), name), TFTP_OK);
        // The server may still be closing the file when the last ACK arrives.
        EXPECT_TRUE(WaitFor([&] { return ReadFile(dir.File(name)) == image; }, 3s));
    }
}

TEST(RealPeersLab, TftpdHpaReceivesImagesPastBlock65535) {
    TempDir dir;
    RouterProcess server({"in.tftpd", "-L", "-c", "-s", dir.path(), "-a", "192.168.1.1:69"});
    ASSERT_TRUE(Listening("u", "69"));
    ExpectUploadsArriveIntact(dir, {0, 512, 1000, 65536u * 512u + 300u});
}

TEST(RealPeersLab, AtftpdReceivesImages) {
    const std::string binary = std::string(KESTREL_ATFTPD_DIR) + "/usr/sbin/atftpd";
    ASSERT_EQ(access(binary.c_str(), X_OK), 0) << "run tests/lab/fetch_atftpd.sh first";
    TempDir dir;
    RouterProcess server({binary, "--daemon", "--no-fork", "--logfile", "/dev/null", "--user",
                          "root.root", "--bind-address", "192.168.1.1", "--port", "69",
                          dir.path()});
    ASSERT_TRUE(Listening("u", "69"));
    ExpectUploadsArriveIntact(dir, {0, 1000, 2 * 1024 * 1024});
}

TEST(RealPeersLab, ProbeFindsDnsmasqAnsweringForTheLoginName) {
    TempDir dir;
    RouterProcess server({"dnsmasq", "--keep-in-foreground", "--conf-file=/dev/null", "--no-resolv",
                          "--no-hosts", "--bind-interfaces", "--listen-address=192.168.1.1",
                          "--port=53", "--pid-file=" + dir.File("dnsmasq.pid"), "--user=root",
                          std::string("--host-record=") + kSetupHostName + ",192.168.1.1"});
    ASSERT_TRUE(Listening("u", "53"));
    RecordingWizard wizard;
    wizard.m_bDebug = TRUE;
    EXPECT_EQ(ProbeRouterDns(wizard), 1);
    EXPECT_EQ(wizard.Boxes(), std::vector<std::string>{"Information: 192.168.1.1"});
}

}  // namespace
}  // namespace kestrel::lab
