// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The upload and the probe against a scripted router on a fake clock, through the UDP seam.
#include "proto/proto.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "proto/packets.h"
#include "tests/support/fake_network_params.h"
#include "tests/support/fake_udp.h"
#include "tests/support/recording_wizard.h"

namespace kestrel {
namespace {

using namespace packets;
using Datagram = testing::FakeUdp::Datagram;
using Script = std::vector<Datagram>;
using Bytes = std::vector<unsigned char>;
using Boxes = std::vector<std::string>;

// ---- The upload

constexpr std::uint16_t kLoader = 1069;  // the port the boot loader answers from
const std::string kFailed = "Warning: TFTP firmware recovery failed: ";

Datagram Ack(std::uint16_t block, std::uint64_t afterMs = 0, std::uint16_t port = kLoader) {
    Datagram ack{Bytes(kTftpHeaderSize), port, afterMs};
    BuildTftpAck(ack.bytes.data(), block);
    return ack;
}
Datagram Error(std::uint16_t code, const char* text, bool terminated = true) {
    Bytes bytes(64);
    bytes.resize(BuildTftpError(bytes.data(), bytes.size(), code, text, terminated));
    return {bytes, kLoader};
}
// ACKs from 0 to `last`, then `tail`.
Script Acks(std::size_t last, const Script& tail = {}) {
    Script script;
    for (std::size_t block = 0; block <= last; ++block)
        script.push_back(Ack(static_cast<std::uint16_t>(block)));
    script.insert(script.end(), tail.begin(), tail.end());
    return script;
}

class Upload : public ::testing::Test {
protected:
    // An image of `size` bytes, opened once as the front end does.
    void SetImage(std::size_t size) {
        image_.resize(size);
        for (std::size_t i = 0; i < size; ++i) image_[i] = static_cast<unsigned char>(i ^ i / 512);
        imageFile_.reset(std::tmpfile());
        // An empty vector's data() may be null, which fwrite must not get.
        ASSERT_TRUE(imageFile_ &&
                    (!size || std::fwrite(image_.data(), 1, size, imageFile_.get()) == size) &&
                    std::fflush(imageFile_.get()) == 0);
    }

    // The result, the boxes and what was sent: "W" the request, "D<n>" block n, "@<ms>" when it
    // left after the start, and when the upload ended.
    std::tuple<int, Boxes, std::string> Run(const Script& script, bool debug = true) {
        testing::RecordingWizard wizard;
        wizard.m_hFirmwareFile = imageFile_ ? fileno(imageFile_.get()) : -1;
        std::strcpy(wizard.m_szFirmwareName, "kestrel.img");
        wizard.m_bDebug = debug;
        udp_.replies.assign(script.begin(), script.end());
        udp_.sent.clear();
        const std::uint64_t start = udp_.clock.GetTickCount64();
        const int result = TftpUploadFirmware(wizard);
        ClearStopRequest();
        // Appended, not added to a literal: there mingw-w64's GCC 12 at -O3 sees an overlap.
        auto at = [&](std::uint64_t tick) {
            return tick == start ? std::string()
                                 : std::string("@").append(std::to_string(tick - start));
        };
        std::string sends;
        for (const auto& packet : udp_.sent) {
            const bool request = packet.bytes[1] == TFTP_WRQ;
            // After the first ACK every block goes to the port that sent it.
            EXPECT_EQ(packet.port, request ? kTftpPort : kLoader);
            sends += request ? std::string("W")
                             : std::string("D").append(std::to_string(GetU16(&packet.bytes[2])));
            sends += at(packet.tick) + " ";
        }
        return {result, wizard.Boxes(), sends + "end" + at(udp_.clock.GetTickCount64())};
    }

    testing::FakeUdp udp_;
    Bytes image_;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> imageFile_{nullptr, std::fclose};
};

TEST_F(Upload, ImagesOfEveryShapeAreSentWholeOnEveryAttempt) {
    for (std::size_t size : {0u, 512u, 1000u, 65536u * 512u + 700u}) {
        SCOPED_TRACE(size);
        SetImage(size);
        const std::size_t blocks = size / 512 + 1;  // the last one short, maybe empty
        for (int attempt = 0; attempt < 2; ++attempt) {
            EXPECT_EQ(std::get<0>(Run(Acks(blocks))), TFTP_OK);
            ASSERT_EQ(udp_.sent.size(), blocks + 1);
            const char request[] = "\0\2kestrel.img\0octet";
            EXPECT_EQ(udp_.sent[0].bytes, Bytes(request, std::end(request)));
            Bytes delivered;
            for (std::size_t i = 1; i <= blocks; ++i) {
                const auto& data = udp_.sent[i].bytes;
                // Block numbers wrap from 65535 to 0.
                ASSERT_EQ(GetU16(&data[2]), static_cast<std::uint16_t>(i));
                delivered.insert(delivered.end(), data.begin() + kTftpDataOffset, data.end());
            }
            EXPECT_TRUE(delivered == image_);
        }
    }
}

TEST_F(Upload, AnswersOfTheBootLoader) {
    SetImage(600);
    const std::string done = "Warning: TFTP firmware recovery completed.";
    const std::string badAck = kFailed + "TFTP Ack Number.", timeOut = kFailed + "Time Out.";
    const std::string remote = kFailed + "TFTP recevie Error ";
    const Datagram junk{{0, TFTP_DATA, 0, 1}, kLoader},
        stray{Ack(5).bytes, kLoader, 0, "192.168.1.2"},
        stop{{}, kLoader, 1500, "192.168.1.1", true};
    // What the boot loader sends, the result, the box in diagnostic mode (empty: none) and what
    // was sent.
    const std::tuple<const char*, Script, int, std::string, std::string> cases[] = {
        {"ACK 3 for block 2", Acks(1, {Ack(3)}), TFTP_ERR_ACK, badAck, "W D1 D2 end"},
        {"old ACK 0 for block 2", Acks(1, {Ack(0)}), TFTP_ERR_ACK, badAck, "W D1 D2 end"},
        {"repeated ACK, junk, short and empty datagrams",
         Script{Ack(0), Ack(0), junk, Datagram{{0, TFTP_ACK, 0}, kLoader}, Datagram{{}, kLoader},
                Ack(1), Ack(2)},
         TFTP_OK, done, "W D1 D2 end"},
        {"a stray host, the old port", Script{Ack(0), stray, Ack(5, 0, kTftpPort), Ack(1), Ack(2)},
         TFTP_OK, done, "W D1 D2 end"},
        {"ERROR for the request, its text bytes taken as characters",
         Script{Error(1, "caf\xe9\x80\x7f")}, TFTP_ERR_REMOTE, remote + "1: caf\u00e9\u0080\x7f",
         "W end"},
        {"ERROR text cut to the datagram", Script{Error(2, std::string(70, 'x').c_str())},
         TFTP_ERR_REMOTE, remote + "2: " + std::string(59, 'x'), "W end"},
        {"ERROR without its zero byte, and only the low byte of the code, signed",
         Acks(0, {junk, Error(456, "Access violation", false)}), TFTP_ERR_REMOTE,
         remote + "-56: Access violation", "W D1 end"},
        {"silence after a block", Acks(0), TFTP_ERR_TIMEOUT, timeOut, "W D1 D1@5000 end@10000"},
        {"each packet has a re-send of its own", Script{Ack(0, 6000), Ack(1, 6000), Ack(2)},
         TFTP_OK, done, "W W@5000 D1@6000 D1@11000 D2@12000 end@12000"},
        // Boot loaders re-send their last ACK every second while they wait.
        {"repeated ACKs do not put the re-send off",
         Acks(0, {Ack(0, 1000), Ack(0, 1000), Ack(0, 1000), Ack(0, 1000), Ack(1, 1500), Ack(2)}),
         TFTP_OK, done, "W D1 D1@5000 D2@5500 end@5500"},
        {"nor keep an unanswered block alive", Acks(0, Script(12, Ack(0, 1000))), TFTP_ERR_TIMEOUT,
         timeOut, "W D1 D1@5000 end@10000"},
        {"a stop ends the wait, silently", Acks(0, {stop}), TFTP_ERR_TIMEOUT, "", "W D1 end@1500"},
    };
    for (const auto& [what, script, result, box, sends] : cases) {
        SCOPED_TRACE(what);
        for (bool debug : {true, false})
            EXPECT_EQ(Run(script, debug),
                      std::tuple(result, debug && !box.empty() ? Boxes{box} : Boxes{}, sends));
    }
}

TEST_F(Upload, WithoutAnOpenImageItFailsAtOnce) {
    EXPECT_EQ(Run(Acks(2)),
              std::tuple(TFTP_ERR_OPEN, Boxes{kFailed + "Can not open firmware."}, "end"));
}

// ---- The probe

// The 64-byte query, zero-padded.
const char kQuery[kDnsQuerySize] = "\0\1\1\0\0\1\0\0\0\0\0\0\6router\7kestrel\4home\0\0\1\0\1";

// The accepted answer: the question again and one A record for 192.168.1.1.
const char kAnswer[] =
    "\0\1\201\200\0\1\0\1\0\0\0\0\6router\7kestrel\4home\0\0\1\0\1"
    "\300\14\0\1\0\1\0\0\1\54\0\4\300\250\1\1";
Bytes Answer() {
    return Bytes(kAnswer, kAnswer + sizeof kAnswer - 1);
}

class Probe : public ::testing::Test {
protected:
    // The result and the boxes shown.
    std::pair<int, Boxes> Run(bool debug = true) {
        testing::RecordingWizard wizard;
        wizard.m_bDebug = debug;
        udp_.sent.clear();
        start_ = udp_.clock.GetTickCount64();
        const int result = ProbeRouterDns(wizard);
        ClearStopRequest();
        return {result, wizard.Boxes()};
    }

    testing::FakeUdp udp_;
    std::uint64_t start_ = 0;
};

TEST_F(Probe, AnswersAreCheckedInOrderUntilOneIsAccepted) {
    testing::FakeNetworkParams params({"192.168.1.1"});
    // A change to the accepted answer, and the box it brings.
    const std::pair<void (*)(Datagram&), const char*> cases[] = {
        {[](Datagram& d) { d.bytes.insert(d.bytes.begin() + 37, 19, 'x'); },
         "Packet length not is not correct"},
        {[](Datagram& d) { d.bytes.resize(37); }, "Packet length not is not correct"},
        {[](Datagram& d) { d.bytes[2] = 0x01; }, "Packet is not a response"},
        {[](Datagram& d) { d.bytes[3] = 0x83; }, "Reply code is not correct"},
        {[](Datagram& d) { d.bytes[5] = 2; }, "Questions is not correct"},
        {[](Datagram& d) { d.bytes[40] = 5; }, "Answer type is not correct"},
        {[](Datagram& d) { d.bytes[42] = 3; }, "Answer class is not correct"},
        {[](Datagram& d) { d.bytes[48] = 16; }, "IP length is not correct"},
        // The first rule broken names the fault; an empty datagram is passed over.
        {[](Datagram& d) { d.bytes[2] = 0, d.bytes[3] = 3; }, "Packet is not a response"},
        {[](Datagram& d) { d.bytes.clear(); }, nullptr},
        // A well-formed answer to somebody else's question, or from somebody not asked.
        {[](Datagram& d) { d.bytes[0] = 7; }, "Reply ID is not correct"},
        {[](Datagram& d) { d.bytes[7] = 0; }, "Answers is not correct"},
        {[](Datagram& d) { d.bytes[13] = 'X'; }, "Answer is not for the question asked"},
        {[](Datagram& d) { d.bytes[37] = 0; }, "Answer is not for the question asked"},
        {[](Datagram& d) { d.from = "192.168.1.2"; }, "Reply is not from a DNS server asked"},
        {[](Datagram& d) { d.port = 5353; }, "Reply is not from a DNS server asked"},
        // What the rules do not look at does not matter; the address is the record's.
        {[](Datagram& d) { d.bytes[2] |= 0x7e, d.bytes[7] = 9, d.bytes[52] = 77; }, "192.168.1.77"},
    };
    Boxes boxes;
    for (const auto& [change, box] : cases) {
        udp_.replies.push_back({Answer(), kDnsPort});
        change(udp_.replies.back());
        if (box) boxes.push_back(std::string("Information: ") + box);
    }
    EXPECT_EQ(Run(), std::pair(1, boxes));
}

TEST_F(Probe, QueriesEveryServerFiveTimesThenListensUntilTheWindowEndsOrAStop) {
    testing::FakeNetworkParams params({"192.168.1.1", "10.0.0.2"});
    const Datagram stop{{}, kDnsPort, 1500, "192.168.1.1", true};
    auto at = [](std::uint64_t afterMs) { return Datagram{Answer(), kDnsPort, afterMs}; };
    const Bytes query(kQuery, std::end(kQuery));
    // What arrives, the result, and when the probe ends.
    const std::tuple<const char*, Script, int, std::uint64_t> cases[] = {
        {"silence to the window's end", {}, 0, 5000},
        {"an answer just inside the window", {at(4900)}, 1, 4900},
        {"an answer just after it", {at(5100)}, 0, 5000},
        {"a stop ends the listening after the current wait", {stop, at(0)}, 0, 1500},
    };
    for (const auto& [what, script, result, endMs] : cases) {
        SCOPED_TRACE(what);
        for (bool debug : {true, false}) {
            udp_.replies.assign(script.begin(), script.end());
            EXPECT_EQ(
                Run(debug),
                std::pair(result, debug && result ? Boxes{"Information: 192.168.1.1"} : Boxes{}));
            EXPECT_EQ(udp_.clock.GetTickCount64() - start_, endMs);
            // Each server five times in the order listed, all before the first wait.
            std::vector<std::tuple<std::string, std::uint16_t, std::uint64_t, Bytes>> sent, asked;
            for (const auto& q : udp_.sent) sent.emplace_back(q.to, q.port, q.tick, q.bytes);
            for (const char* to : {"192.168.1.1", "10.0.0.2"})
                asked.insert(asked.end(), 5, {to, kDnsPort, start_, query});
            EXPECT_EQ(sent, asked);
        }
    }
}

TEST_F(Probe, WithoutItsServersItSaysWhy) {
    testing::FakeNetworkParams params({"192.168.1.1", "192.168.1.2"});
    params.failFrom = 2;
    EXPECT_EQ(Run(), std::pair(0, Boxes{"Error: GetNetworkParams failed"}));
    // 584 bytes first, then the size the platform asked for.
    EXPECT_EQ(params.askedSizes, (std::vector<ULONG>{584, params.Needed()}));
}

}  // namespace
}  // namespace kestrel
