// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Wire layouts of the two router protocols, written once for the client, the router simulator
// and the tests. Every multi-byte field is big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/wizard.h"

namespace kestrel::packets {

inline std::uint16_t GetU16(const unsigned char* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline void PutU16(unsigned char* p, std::uint16_t value) {
    p[0] = static_cast<unsigned char>(value >> 8);
    p[1] = static_cast<unsigned char>(value & 0xff);
}

// ---- TFTP (write transfers, "octet" mode, no options) -------------------------------------

inline constexpr std::uint16_t kTftpPort = 69;
inline constexpr std::size_t kTftpBlockSize = 512;
inline constexpr std::size_t kTftpBufferSize = 1024;

enum TftpOpcode : std::uint8_t {
    TFTP_WRQ = 2,
    TFTP_DATA = 3,
    TFTP_ACK = 4,
    TFTP_ERROR = 5,
};

inline constexpr std::size_t kTftpOpcodeLowByte = 1;  // the only opcode byte the client reads
inline constexpr std::size_t kTftpBlockOffset = 2;    // DATA and ACK
inline constexpr std::size_t kTftpDataOffset = 4;     // DATA payload
inline constexpr std::size_t kTftpErrorCodeLowByte = 3;
inline constexpr std::size_t kTftpErrorTextOffset = 4;
inline constexpr std::size_t kTftpHeaderSize = 4;  // shortest ACK, DATA or ERROR
inline constexpr std::size_t kTftpRequestNameOffset = 2;
inline constexpr char kTftpMode[] = "octet";

// Lays out an ACK; returns its length.
inline std::size_t BuildTftpAck(unsigned char* packet, std::uint16_t block) {
    PutU16(packet, TFTP_ACK);
    PutU16(packet + kTftpBlockOffset, block);
    return kTftpHeaderSize;
}

// Lays out an ERROR; `terminate` false leaves off the closing zero byte. Returns its length.
inline std::size_t BuildTftpError(unsigned char* packet, std::size_t capacity, std::uint16_t code,
                                  const char* text, bool terminate = true) {
    PutU16(packet, TFTP_ERROR);
    PutU16(packet + 2, code);
    std::size_t length = std::strlen(text);
    const std::size_t room = capacity - kTftpErrorTextOffset - 1;
    if (length > room) length = room;
    std::memcpy(packet + kTftpErrorTextOffset, text, length);
    packet[kTftpErrorTextOffset + length] = 0;
    return kTftpErrorTextOffset + length + (terminate ? 1 : 0);
}

// ---- DNS probe (one question, answered with one A record) ---------------------------------

inline constexpr std::uint16_t kDnsPort = 53;
inline constexpr std::size_t kDnsQuerySize = 64;  // always sent in full, zero-padded
inline constexpr std::size_t kDnsReceiveSize = 1024;
inline constexpr std::size_t kDnsHeaderSize = 12;
inline constexpr std::uint16_t kDnsQueryId = 0x0001;
inline constexpr std::uint16_t kDnsFlagsStandardQuery = 0x0100;  // RD set
inline constexpr std::uint16_t kDnsTypeA = 1;
inline constexpr std::uint16_t kDnsTypeCname = 5;
inline constexpr std::uint16_t kDnsClassIn = 1;
inline constexpr std::uint8_t kDnsRcodeNameError = 3;

inline constexpr std::size_t kDnsIdOffset = 0;
inline constexpr std::size_t kDnsFlagsHighOffset = 2;  // QR is bit 7
inline constexpr std::size_t kDnsFlagsLowOffset = 3;   // RCODE is the low 4 bits
inline constexpr std::size_t kDnsQdcountOffset = 4;
inline constexpr std::size_t kDnsAncountOffset = 6;
inline constexpr std::size_t kDnsNameOffset = 12;
inline constexpr std::uint8_t kDnsQrBit = 0x80;
inline constexpr std::uint8_t kDnsRcodeMask = 0x0f;

// Length of `name` in label encoding, the terminating zero byte included (21 for
// "router.kestrel.home").
constexpr std::size_t EncodedNameLength(const char* name) {
    std::size_t length = 1;
    for (; *name; ++name) ++length;
    return length + 1;
}
inline constexpr std::size_t kDnsNameLength = EncodedNameLength(kSetupHostName);
static_assert(kDnsNameLength == 21);
static_assert(kDnsHeaderSize + kDnsNameLength + 4 <= kDnsQuerySize);

// Offsets in the query (after the name) and in the accepted answer, whose owner name is a
// two-byte compression pointer back to the question.
inline constexpr std::size_t kDnsQtypeOffset = 12 + kDnsNameLength;
inline constexpr std::size_t kDnsQclassOffset = 14 + kDnsNameLength;
inline constexpr std::size_t kDnsAnswerNameOffset = 16 + kDnsNameLength;  // 2 bytes: a pointer
inline constexpr std::uint16_t kDnsPointerToQuestion = 0xc000 | kDnsNameOffset;
inline constexpr std::size_t kDnsAnswerTypeOffset = 18 + kDnsNameLength;
inline constexpr std::size_t kDnsAnswerClassOffset = 20 + kDnsNameLength;
inline constexpr std::size_t kDnsAnswerRdlengthOffset = 26 + kDnsNameLength;
inline constexpr std::size_t kDnsAnswerRdataOffset = 28 + kDnsNameLength;
inline constexpr std::size_t kDnsAnswerSize = 32 + kDnsNameLength;
static_assert(kDnsAnswerSize == 53);

// Writes `name` in label encoding at `out`; returns the bytes written, or 0 when a label is
// empty or longer than 63 bytes or the result would pass `capacity`.
inline std::size_t EncodeDnsName(unsigned char* out, std::size_t capacity, const char* name) {
    std::size_t used = 0;
    const char* label = name;
    for (;;) {
        const char* end = label;
        while (*end && *end != '.') ++end;
        const auto labelLength = static_cast<std::size_t>(end - label);
        if (labelLength == 0 || labelLength > 63 || used + labelLength + 2 > capacity) return 0;
        out[used++] = static_cast<unsigned char>(labelLength);
        std::memcpy(out + used, label, labelLength);
        used += labelLength;
        if (!*end) break;
        label = end + 1;
    }
    out[used++] = 0;
    return used;
}

// Fills the 64-byte probe query for kSetupHostName; returns its length.
std::size_t BuildDnsQuery(unsigned char* query);

// The probe's acceptance rules for a received datagram of `length` bytes (negative: the receive
// failed): nullptr when accepted, else the text of the first rule that failed.
const char* CheckDnsAnswer(const unsigned char* answer, long length);

}  // namespace kestrel::packets
