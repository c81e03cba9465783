// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The packet layouts, the probe's acceptance rules and the paths of both operations that end
// before anything is sent. Nothing here sends a datagram.
#include "proto/proto.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/iphlpapi.h"
#include "platform/kernel.h"
#include "proto/packets.h"
#include "tests/support/fake_network_params.h"
#include "tests/support/network_isolation.h"
#include "tests/support/recording_wizard.h"

namespace kestrel {
namespace {

using namespace packets;
using testing::FakeNetworkParams;
using testing::RecordingWizard;

std::vector<unsigned char> Bytes(const unsigned char* data, std::size_t length) {
    return {data, data + length};
}

TEST(TftpPackets, WriteRequestCarriesTheBareNameAndOctetMode) {
    char packet[1024];
    std::memset(packet, 0x55, sizeof packet);
    ASSERT_EQ(BuildTftpRequest(packet, "fw.bin"), 6 + 9);
    const char expected[] = {0, 2, 'f', 'w', '.', 'b', 'i', 'n', 0, 'o', 'c', 't', 'e', 't', 0};
    EXPECT_EQ(std::memcmp(packet, expected, sizeof expected), 0);
    EXPECT_EQ(packet[sizeof expected], 0x55);  // no options follow

    const std::string longest(255, 'n');
    EXPECT_EQ(BuildTftpRequest(packet, longest.c_str()), 255 + 9);
    EXPECT_EQ(std::string(packet + 258, 5), "octet");
}

TEST(TftpPackets, ErrorTextIsCutToTheBufferAndMayLackItsTerminator) {
    unsigned char packet[16];
    EXPECT_EQ(BuildTftpError(packet, sizeof packet, 0x0102, "abc"), 8u);
    EXPECT_EQ(Bytes(packet, 8), (std::vector<unsigned char>{0, 5, 1, 2, 'a', 'b', 'c', 0}));
    EXPECT_EQ(BuildTftpError(packet, sizeof packet, 1, "abc", false), 7u);
    // 4 header bytes and 11 characters leave room for the terminator.
    EXPECT_EQ(BuildTftpError(packet, sizeof packet, 1, "a text that is far too long"), 16u);
    EXPECT_EQ(packet[15], 0);
}

TEST(DnsPackets, ProbeQueryIsTheFixedSixtyFourBytes) {
    unsigned char query[kDnsQuerySize];
    std::memset(query, 0xaa, sizeof query);
    ASSERT_EQ(BuildDnsQuery(query), 64u);
    std::vector<unsigned char> expected = {0, 1, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0};
    for (const char* label : {"router", "kestrel", "home"}) {
        expected.push_back(static_cast<unsigned char>(std::strlen(label)));
        expected.insert(expected.end(), label, label + std::strlen(label));
    }
    expected.insert(expected.end(), {0, 0, 1, 0, 1});
    ASSERT_EQ(expected.size(), 37u);
    expected.resize(64, 0);  // 27 bytes of padding
    EXPECT_EQ(Bytes(query, sizeof query), expected);
}

TEST(DnsPackets, NamesThatCannotBeEncodedAreRefused) {
    unsigned char out[64];
    EXPECT_EQ(EncodeDnsName(out, sizeof out, "a.b"), 5u);
    EXPECT_EQ(EncodeDnsName(out, sizeof out, "a..b"), 0u);
    EXPECT_EQ(EncodeDnsName(out, sizeof out, ""), 0u);
    EXPECT_EQ(EncodeDnsName(out, sizeof out, std::string(64, 'x').c_str()), 0u);
    EXPECT_EQ(EncodeDnsName(out, 4, "abc"), 0u);
    EXPECT_EQ(EncodeDnsName(out, 5, "abc"), 5u);
}

// The accepted 53-byte answer, built from the query as a router would.
std::vector<unsigned char> GoodAnswer() {
    unsigned char query[kDnsQuerySize];
    BuildDnsQuery(query);
    std::vector<unsigned char> answer(query, query + kDnsQuestionEnd);
    answer[2] = 0x81;
    answer[3] = 0x80;
    answer[7] = 1;  // ANCOUNT
    const unsigned char record[] = {0xc0, 12, 0, 1, 0, 1, 0, 0, 1, 0x2c, 0, 4, 192, 168, 1, 1};
    answer.insert(answer.end(), record, record + sizeof record);
    return answer;
}

const char* Check(const std::vector<unsigned char>& answer) {
    std::vector<unsigned char> buffer(kDnsReceiveSize, 0);
    std::copy(answer.begin(), answer.end(), buffer.begin());
    return CheckDnsAnswer(buffer.data(), static_cast<long>(answer.size()));
}

TEST(DnsPackets, AnswerAcceptanceRulesInTheirOrder) {
    ASSERT_EQ(GoodAnswer().size(), 53u);
    EXPECT_EQ(Check(GoodAnswer()), nullptr);

    struct Case {
        const char* what;
        void (*change)(std::vector<unsigned char>&);
        const char* expected;
    };
    const Case cases[] = {
        {"owner name in full", [](auto& a) { a.insert(a.begin() + 37, 19, 'x'); },
         "Packet length not is not correct"},
        {"name error without record", [](auto& a) { a.resize(37); },
         "Packet length not is not correct"},
        {"not a response", [](auto& a) { a[2] = 0x01; }, "Packet is not a response"},
        {"RCODE 3", [](auto& a) { a[3] = 0x83; }, "Reply code is not correct"},
        {"two questions", [](auto& a) { a[5] = 2; }, "Questions is not correct"},
        {"TYPE 5", [](auto& a) { a[40] = 5; }, "Answer type is not correct"},
        {"CLASS 3", [](auto& a) { a[42] = 3; }, "Answer class is not correct"},
        {"RDLENGTH 16", [](auto& a) { a[48] = 16; }, "IP length is not correct"},
        // The first failing rule decides.
        {"not a response and RCODE 3",
         [](auto& a) {
             a[2] = 0;
             a[3] = 3;
         },
         "Packet is not a response"},
    };
    for (const auto& c : cases) {
        auto answer = GoodAnswer();
        c.change(answer);
        const char* failed = Check(answer);
        ASSERT_NE(failed, nullptr) << c.what;
        EXPECT_STREQ(failed, c.expected) << c.what;
    }

    unsigned char buffer[kDnsReceiveSize] = {};
    EXPECT_STREQ(CheckDnsAnswer(buffer, -1), "Packet length not is not correct");
}

TEST(DnsPackets, WhatTheRulesDoNotLookAtDoesNotMatter) {
    auto answer = GoodAnswer();
    answer[0] = 0x77;   // ID
    answer[2] |= 0x7e;  // other flag bits
    answer[7] = 9;      // ANCOUNT
    answer[13] = 'X';   // repeated question
    answer[37] = 0x00;  // owner name
    answer[46] = 0xff;  // TTL
    answer[51] = 0;     // address
    EXPECT_EQ(Check(answer), nullptr);
}

class ProbeWithoutSending : public ::testing::Test {
protected:
    ~ProbeWithoutSending() override { SetHeapFailureHook(nullptr); }
    RecordingWizard wizard_;
};

TEST_F(ProbeWithoutSending, FailedNetworkParametersEndTheProbe) {
    FakeNetworkParams params({"192.168.1.1"});
    params.failFrom = 2;
    wizard_.m_bDebug = TRUE;
    EXPECT_EQ(ProbeRouterDns(wizard_), 0);
    EXPECT_EQ(wizard_.Boxes(), std::vector<std::string>{"Error: GetNetworkParams failed"});
    // 584 bytes first, then the size the platform asked for.
    EXPECT_EQ(params.askedSizes, (std::vector<ULONG>{584, params.Needed()}));
    EXPECT_GT(params.Needed(), 584u);

    RecordingWizard quiet;
    EXPECT_EQ(ProbeRouterDns(quiet), 0);
    EXPECT_TRUE(quiet.Boxes().empty());
}

TEST_F(ProbeWithoutSending, EnlargedBlockThatCannotBeAllocated) {
    FakeNetworkParams params({"192.168.1.1", "192.168.1.2", "192.168.1.3"});
    static ULONG refused;
    refused = params.Needed();
    SetHeapFailureHook([](std::size_t bytes) { return bytes == refused; });
    wizard_.m_bDebug = TRUE;
    EXPECT_EQ(ProbeRouterDns(wizard_), 0);
    EXPECT_EQ(wizard_.Boxes(),
              std::vector<std::string>{"Error: Error allocating memory for FIXED_INFO"});
    EXPECT_EQ(params.askedSizes.size(), 1u);
}

TEST(UploadWithoutSending, WithoutAnOpenImageItEndsBeforeAnySocket) {
    for (BOOL debug : {TRUE, FALSE}) {
        RecordingWizard wizard;
        std::strcpy(wizard.m_szFirmwareName, "kestrel.img");
        wizard.m_bDebug = debug;
        EXPECT_EQ(TftpUploadFirmware(wizard), TFTP_ERR_OPEN);
        EXPECT_EQ(wizard.Boxes(),
                  debug ? std::vector<std::string>{"Warning: TFTP firmware recovery failed: Can "
                                                   "not open firmware."}
                        : std::vector<std::string>{});
    }
}

TEST(NetworkParams, SizeProtocolAsksForTheWholeBlock) {
    // This record is larger than the 584 bytes the probe starts with, so its first call always
    // asks for more.
    EXPECT_GT(sizeof(FIXED_INFO), 584u);
    ULONG size = 0;
    ASSERT_EQ(GetNetworkParams(nullptr, &size), ERROR_BUFFER_OVERFLOW);
    EXPECT_GE(size, sizeof(FIXED_INFO));
    EXPECT_EQ((size - sizeof(FIXED_INFO)) % sizeof(IP_ADDR_STRING), 0u);
    ULONG small = 584;
    std::vector<unsigned char> block(size, 0);
    ASSERT_EQ(GetNetworkParams(reinterpret_cast<FIXED_INFO*>(block.data()), &small),
              ERROR_BUFFER_OVERFLOW);
    EXPECT_EQ(small, size);
    ASSERT_EQ(GetNetworkParams(reinterpret_cast<FIXED_INFO*>(block.data()), &size), NO_ERROR);
    EXPECT_EQ(GetNetworkParams(nullptr, nullptr), ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace kestrel
