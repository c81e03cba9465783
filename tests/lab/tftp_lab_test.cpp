// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The firmware upload against the router simulator, in the lab.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/kernel.h"
#include "proto/proto.h"
#include "tests/support/lab/lab_process.h"
#include "tests/support/recording_wizard.h"

namespace kestrel::lab {
namespace {

using testing::RecordingWizard;
using namespace std::chrono_literals;

constexpr char kFailedAck[] = "Warning: TFTP firmware recovery failed: TFTP Ack Number.";
constexpr char kCompleted[] = "Warning: TFTP firmware recovery completed.";
constexpr char kTimeOut[] = "Warning: TFTP firmware recovery failed: Time Out.";

struct Upload {
    int result = -1;
    double seconds = 0;
    std::vector<std::string> boxes;
};

// Uploads the image open in `file` (-1: none).
Upload RunUpload(int file, const std::string& name, bool debug) {
    RecordingWizard wizard;
    wizard.m_hFirmwareFile = file;
    snprintf(wizard.m_szFirmwareName, sizeof wizard.m_szFirmwareName, "%s", name.c_str());
    wizard.m_bDebug = debug ? TRUE : FALSE;
    const std::uint64_t start = GetTickCount64();
    Upload upload;
    upload.result = TftpUploadFirmware(wizard);
    upload.seconds = static_cast<double>(GetTickCount64() - start) / 1000.0;
    upload.boxes = wizard.Boxes();
    return upload;
}

class TftpLab : public ::testing::Test {
protected:
    // Uploads an image of `size` bytes to a simulator started with `options`.
    Upload Send(std::size_t size, std::vector<std::string> options, bool debug = true) {
        image_ = MakeImage(size, static_cast<unsigned>(size));
        WriteFile(dir_.File("kestrel.img"), image_);
        options.insert(options.end(), {"--store", dir_.File("stored.img")});
        StartSim(options);
        const int file = OpenFirmwareImage(dir_.File("kestrel.img"));
        const Upload upload = RunUpload(file, "kestrel.img", debug);
        CloseFirmwareImage(file);
        return upload;
    }
    void StartSim(const std::vector<std::string>& options) {
        sim_.reset();  // the last one must have let go of port 69
        sim_ = std::make_unique<RouterSim>(dir_, options, "sim" + std::to_string(++sims_));
    }
    std::vector<unsigned char> Stored() const { return ReadFile(dir_.File("stored.img")); }
    // The upload succeeded, the simulator ended cleanly and holds the image byte for byte.
    void ExpectIntact(const Upload& upload, bool debug = true) {
        EXPECT_EQ(upload.result, TFTP_OK);
        EXPECT_EQ(upload.boxes,
                  debug ? std::vector<std::string>{kCompleted} : std::vector<std::string>{});
        EXPECT_EQ(sim_->WaitExit(3s), 0);
        EXPECT_TRUE(Stored() == image_);
    }

    TempDir dir_;
    std::vector<unsigned char> image_;
    std::unique_ptr<RouterSim> sim_;
    int sims_ = 0;
};

TEST_F(TftpLab, ImagesOfEveryShapeArriveIntact) {
    struct Case {
        std::size_t size;
        std::vector<std::string> options;
    };
    // Block counts: 1 empty block; 512 bytes need a closing empty block; 1000 bytes end short.
    const std::vector<Case> cases = {
        {0, {}}, {512, {"--new-port"}}, {1000, {}}, {3 * 1024 * 1024 + 123, {"--new-port"}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        ExpectIntact(Send(c.size, c.options));

        const auto requests = sim_->Tftp(2);
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].name, "kestrel.img");
        EXPECT_EQ(requests[0].len, 9 + 11);
        const auto data = sim_->Tftp(3);
        ASSERT_EQ(data.size(), c.size / 512 + 1);
        EXPECT_EQ(data.back().len, static_cast<long>(c.size % 512 + 4));
        for (const auto& d : data) {
            // After the first ACK every block goes to the port that sent it.
            EXPECT_EQ(d.at, c.options.empty() ? "69" : "own");
            EXPECT_EQ(d.port, requests[0].port);
        }
        EXPECT_TRUE(sim_->Tftp(-1).empty());
    }
}

TEST_F(TftpLab, BlockNumbersWrapPast65535) {
    const std::size_t size = 65536u * 512u + 700u;  // 65538 blocks
    const Upload upload = Send(size, {"--new-port"}, false);
    ExpectIntact(upload, false);
    const auto data = sim_->Tftp(3);
    ASSERT_EQ(data.size(), 65538u);
    EXPECT_EQ(data[65534].block, 65535);
    EXPECT_EQ(data[65535].block, 0);
    EXPECT_EQ(data[65537].block, 2);
    std::printf("65538 blocks in %.2f s\n", upload.seconds);
}

TEST_F(TftpLab, WrongAcknowledgementsEndTheUpload) {
    {
        SCOPED_TRACE("ACK 1 for the request: nothing is sent");
        const Upload upload = Send(2000, {"--first-ack", "1"});
        EXPECT_EQ(upload.result, TFTP_ERR_ACK);
        EXPECT_EQ(upload.boxes, std::vector<std::string>{kFailedAck});
        EXPECT_TRUE(sim_->Tftp(3).empty());
    }
    {
        SCOPED_TRACE("ACK 5 for block 3");
        const Upload upload = Send(4000, {"--bad-ack", "3", "--new-port"}, false);
        EXPECT_EQ(upload.result, TFTP_ERR_ACK);
        EXPECT_TRUE(upload.boxes.empty());
        EXPECT_EQ(sim_->Tftp(3).size(), 3u);
    }
}

TEST_F(TftpLab, RepeatedAcksJunkAndStrayHostsAreIgnored) {
    ASSERT_EQ(RunInRouter({"ip", "addr", "add", "192.168.1.2/24", "dev", "eth0"}), 0);
    struct Case {
        const char* what;
        std::vector<std::string> options;
    };
    const std::vector<Case> cases = {
        {"repeated ACK", {"--repeat-ack", "2", "--new-port"}},
        {"neither ACK nor ERROR, short and empty datagrams", {"--junk-at", "2"}},
        {"stray host and the old port", {"--stray", "192.168.1.2", "--new-port"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Upload upload = Send(5 * 512 + 17, c.options);
        ExpectIntact(upload);
        // Nothing was sent in answer to what was ignored: each block went out once.
        EXPECT_EQ(sim_->Tftp(3).size(), 6u);
        EXPECT_LT(upload.seconds, 2.0);
    }
    RunInRouter({"ip", "addr", "del", "192.168.1.2/24", "dev", "eth0"});
}

TEST_F(TftpLab, ErrorPacketsEndTheUploadWithTheirCodeAndText) {
    struct Case {
        std::vector<std::string> options;
        std::string box;
    };
    const std::vector<Case> cases = {
        {{"--error-at", "0", "--error-code", "1", "--error-text", "File not found"},
         "Warning: TFTP firmware recovery failed: TFTP recevie Error 1: File not found"},
        // Text without its zero byte: read only as far as the datagram goes.
        {{"--error-at", "2", "--error-code", "2", "--error-text", "Access violation",
          "--error-unterminated", "--new-port"},
         "Warning: TFTP firmware recovery failed: TFTP recevie Error 2: Access violation"},
        // Only the low byte of the code counts, as a signed number.
        {{"--error-at", "1", "--error-code", "456", "--error-text", "x"},
         "Warning: TFTP firmware recovery failed: TFTP recevie Error -56: x"},
    };
    for (const auto& c : cases) {
        const Upload upload = Send(3000, c.options);
        EXPECT_EQ(upload.result, TFTP_ERR_REMOTE);
        EXPECT_EQ(upload.boxes, std::vector<std::string>{c.box});
    }
}

TEST_F(TftpLab, TheImageOpenedOnceIsSentWholeOnEveryAttempt) {
    image_ = MakeImage(3 * 512 + 5, 11);
    WriteFile(dir_.File("kestrel.img"), image_);
    const int file = OpenFirmwareImage(dir_.File("kestrel.img"));
    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE(attempt);
        std::filesystem::remove(dir_.File("stored.img"));
        StartSim({"--store", dir_.File("stored.img")});
        ExpectIntact(RunUpload(file, "kestrel.img", true));
    }
    CloseFirmwareImage(file);
}

TEST_F(TftpLab, AStopEndsTheWaitSilentlyWithoutAResend) {
    image_ = MakeImage(1000, 5);
    WriteFile(dir_.File("kestrel.img"), image_);
    const int file = OpenFirmwareImage(dir_.File("kestrel.img"));
    StartSim({"--silent"});
    std::thread stopper([] {
        std::this_thread::sleep_for(1500ms);
        RequestStop();
    });
    const Upload upload = RunUpload(file, "kestrel.img", true);
    stopper.join();
    ClearStopRequest();
    CloseFirmwareImage(file);
    EXPECT_NE(upload.result, TFTP_OK);
    EXPECT_TRUE(upload.boxes.empty());
    EXPECT_EQ(sim_->Tftp(2).size(), 1u);  // the re-send was due at 5 s
    std::printf("stopped after %.1f s\n", upload.seconds);
}

TEST_F(TftpLab, MissingImageSendsNothing) {
    StartSim({});
    const Upload upload = RunUpload(-1, "absent.img", true);
    EXPECT_EQ(upload.result, TFTP_ERR_OPEN);
    EXPECT_EQ(upload.boxes, std::vector<std::string>{
                                "Warning: TFTP firmware recovery failed: Can not open firmware."});
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(sim_->Tftp(2).empty());
}

TEST_F(TftpLab, RouterRebootsIntoNormalModeAfterTheImage) {
    const Upload upload = Send(1000, {"--after-image", "reboot", "--reboot-seconds", "1"});
    EXPECT_EQ(upload.result, TFTP_OK);
    ASSERT_TRUE(WaitFor(
        [&] {
            const auto events = sim_->Events();
            return !events.empty() && events.back().kind == "mode";
        },
        3s));
    EXPECT_TRUE(Stored() == image_);
    RecordingWizard wizard;
    EXPECT_EQ(ProbeRouterDns(wizard), 1);
}

// The slow paths: each costs real seconds of the 5-second wait, so each is run once.

TEST_F(TftpLab, SilentRouterTimesOutAfterOneResend) {
    const Upload upload = Send(1000, {"--silent"});
    EXPECT_EQ(upload.result, TFTP_ERR_TIMEOUT);
    EXPECT_EQ(upload.boxes, std::vector<std::string>{kTimeOut});
    EXPECT_GE(upload.seconds, 9.9);
    EXPECT_LT(upload.seconds, 10.8);
    const auto requests = sim_->Tftp(2);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NEAR(requests[1].t - requests[0].t, 5.0, 0.3);
    EXPECT_EQ(requests[1].port, requests[0].port);
}

TEST_F(TftpLab, AnswersToResendsOnlyWhileTheBootLoaderRepeatsItsAck) {
    // The boot loader ignores the first copy of blocks 1 and 2 and re-sends its last ACK every
    // second meanwhile. Those duplicates must not delay the re-send, which leaves 5 s after the
    // block; and block 2 again has its own re-send.
    const Upload upload =
        Send(3 * 512, {"--resend-only", "1,2", "--resend-ack-every", "1", "--new-port"});
    ExpectIntact(upload);
    const auto data = sim_->Tftp(3);
    ASSERT_EQ(data.size(), 6u);  // 1, 1, 2, 2, 3, 4
    for (std::size_t i : {0u, 2u}) {
        const long block = static_cast<long>(i / 2 + 1);
        EXPECT_EQ(data[i].block, block);
        EXPECT_EQ(data[i + 1].block, block);
        EXPECT_NEAR(data[i + 1].t - data[i].t, 5.0, 0.3);
    }
    EXPECT_GE(upload.seconds, 9.9);
    EXPECT_LT(upload.seconds, 11.0);
}

TEST_F(TftpLab, DuplicateAcksDoNotKeepAnUnansweredBlockAlive) {
    const Upload upload = Send(10 * 512, {"--drop-from", "3", "--resend-ack-every", "1"});
    EXPECT_EQ(upload.result, TFTP_ERR_TIMEOUT);
    EXPECT_EQ(upload.boxes, std::vector<std::string>{kTimeOut});
    const auto data = sim_->Tftp(3);
    ASSERT_EQ(data.size(), 4u);  // 1, 2, 3 and the one re-send of 3
    EXPECT_EQ(data[3].block, 3);
    EXPECT_NEAR(data[3].t - data[2].t, 5.0, 0.3);
    EXPECT_GE(upload.seconds, 9.9);
    EXPECT_LT(upload.seconds, 11.0);
}

}  // namespace
}  // namespace kestrel::lab
