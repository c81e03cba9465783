// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The firmware upload: a TFTP write transfer of the image to the boot loader at 192.168.1.1,
// one 512-byte block in flight, one re-send per packet.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/netfacts.h"
#include "platform/posix.h"
#include "platform/udp.h"
#include "proto/packets.h"
#include "proto/proto.h"

namespace kestrel {
namespace {

using namespace packets;

enum : int {
    TFTP_STATE_REQUEST_SENT = 0,
    TFTP_STATE_SENDING = 1,
    TFTP_STATE_LAST_SENT = 2,
};

constexpr std::uint64_t kWaitLimitMs = 5000;
constexpr char kCaption[] = "Warning";

// The image opened at start-up and kept open, read from its start on every attempt.
class ImageReader {
public:
    explicit ImageReader(int file) : file_(file) {}

    bool IsOpen() const { return file_ >= 0; }
    // Up to one block; fewer bytes mean the end of the image. False when reading failed.
    bool ReadBlock(unsigned char* buffer, std::size_t& count) {
        count = 0;
        while (count < kTftpBlockSize) {
            const ssize_t got = ::pread(file_, buffer + count, kTftpBlockSize - count,
                                        offset_ + static_cast<off_t>(count));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return false;
            if (got == 0) break;
            count += static_cast<std::size_t>(got);
        }
        offset_ += static_cast<off_t>(count);
        return true;
    }

private:
    int file_;
    off_t offset_ = 0;
};

void Report(WizardContext& dlg, const std::string& text) {
    if (dlg.m_bDebug) dlg.MessageBox(text, kCaption);
}

// The ERROR packet's text, read only as far as the datagram goes, each byte taken as the
// character of the same number.
std::string ErrorMessage(const unsigned char* packet, std::size_t length) {
    const int code = static_cast<std::int8_t>(packet[kTftpErrorCodeLowByte]);
    std::string text =
        "TFTP firmware recovery failed: TFTP recevie Error " + std::to_string(code) + ": ";
    for (std::size_t i = kTftpErrorTextOffset; i < length && packet[i] != 0; ++i) {
        const unsigned char c = packet[i];
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else {
            text += static_cast<char>(0xc0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3f));
        }
    }
    return text;
}

// Waits until a datagram is readable or `deadline` (tick count) passes. 1 readable, 0 timed
// out or stopped, -1 failed. Looks for a stop at least once a second.
int WaitReadable(const UdpSocket& sock, std::uint64_t deadline) {
    constexpr std::uint64_t kStopCheckMs = 1000;
    for (;;) {
        if (StopRequested()) return 0;
        const std::uint64_t now = GetTickCount64();
        const std::uint64_t slice = std::min(deadline > now ? deadline - now : 0, kStopCheckMs);
        const int ready = sock.WaitReadable(slice);
        if (ready > 0) return 1;
        if (ready < 0 && errno != EINTR) return -1;
        if (ready == 0 && GetTickCount64() >= deadline) return 0;
    }
}

}  // namespace

int TftpUploadFirmware(WizardContext& dlg) {
    unsigned char sendBuffer[kTftpBufferSize] = {};
    unsigned char receiveBuffer[kTftpBufferSize] = {};
    unsigned char readBuffer[kTftpBufferSize] = {};
    std::uint16_t block = 0;  // wraps from 65535 to 0 as the boot loaders expect
    int state = TFTP_STATE_REQUEST_SENT;
    int resent = 0;

    ImageReader image(dlg.m_hFirmwareFile);
    if (!image.IsOpen()) {
        Report(dlg, "TFTP firmware recovery failed: Can not open firmware.");
        return TFTP_ERR_OPEN;
    }
    UdpSocket sock(0);
    if (!sock.IsOpen()) {
        Report(dlg, "TFTP firmware recovery failed: Can't create socket.");
        return TFTP_ERR_SOCKET;
    }
    if (!sock.BindAny()) {
        Report(dlg, "TFTP firmware recovery failed: Can't bind socket.");
        return TFTP_ERR_SOCKET;
    }

    // The name field is 256 bytes; never read past it.
    char fileName[sizeof dlg.m_szFirmwareName];
    std::memcpy(fileName, dlg.m_szFirmwareName, sizeof fileName);
    fileName[sizeof fileName - 1] = 0;
    std::size_t sendLength =
        static_cast<std::size_t>(BuildTftpRequest(reinterpret_cast<char*>(sendBuffer), fileName));

    sockaddr_in router{};
    router.sin_family = AF_INET;
    router.sin_addr.s_addr = inet_addr(kRouterAddress);
    router.sin_port = htons(kTftpPort);
    sock.SendTo(sendBuffer, sendLength, router);
    std::uint64_t deadline = GetTickCount64() + kWaitLimitMs;

    for (;;) {
        const int ready = WaitReadable(sock, deadline);
        // A stop ends the transfer, silently; the boot loader drops the half-sent image and
        // waits for a new one.
        if (StopRequested()) return TFTP_ERR_TIMEOUT;
        if (ready < 0) {
            Report(dlg, "TFTP firmware recovery failed: Socket error.");
            return TFTP_ERR_SOCKET;
        }
        if (ready == 0) {
            if (resent) {
                Report(dlg, "TFTP firmware recovery failed: Time Out.");
                return TFTP_ERR_TIMEOUT;
            }
            sock.SendTo(sendBuffer, sendLength, router);
            resent = 1;
            deadline = GetTickCount64() + kWaitLimitMs;
            continue;
        }

        sockaddr_in from{};
        const long received = sock.ReceiveFrom(receiveBuffer, sizeof receiveBuffer, from);
        // A failed receive carries nothing from the router: the wait for it goes on.
        if (received < 0) continue;
        // Only the router counts, and after its first ACK only the port that sent it: a stray
        // or forged datagram must neither end nor prolong the transfer.
        if (from.sin_family != AF_INET || from.sin_addr.s_addr != router.sin_addr.s_addr) continue;
        if (state != TFTP_STATE_REQUEST_SENT && from.sin_port != router.sin_port) continue;

        const auto length = static_cast<std::size_t>(received);
        const bool isAck =
            length >= kTftpHeaderSize && receiveBuffer[kTftpOpcodeLowByte] == TFTP_ACK;
        const std::uint16_t acked = isAck ? GetU16(receiveBuffer + kTftpBlockOffset) : 0;

        // Boot loaders re-send their last ACK on their own timer while they wait. It asks for
        // nothing: answer nothing, and keep measuring the wait from the packet's send.
        if (isAck && state != TFTP_STATE_REQUEST_SENT &&
            acked == static_cast<std::uint16_t>(block - 1)) {
            continue;
        }

        resent = 0;
        deadline = GetTickCount64() + kWaitLimitMs;
        if (length < kTftpHeaderSize) continue;

        if (receiveBuffer[kTftpOpcodeLowByte] == TFTP_ERROR) {
            Report(dlg, ErrorMessage(receiveBuffer, length));
            return TFTP_ERR_REMOTE;
        }
        if (!isAck) continue;

        if (acked != block) {
            Report(dlg, "TFTP firmware recovery failed: TFTP Ack Number.");
            return TFTP_ERR_ACK;
        }
        if (state == TFTP_STATE_LAST_SENT) {
            Report(dlg, "TFTP firmware recovery completed.");
            return TFTP_OK;
        }
        if (state == TFTP_STATE_REQUEST_SENT) {
            // The boot loader answers from a new port; the rest of the transfer goes there.
            router.sin_port = from.sin_port;
        }

        std::size_t count = 0;
        if (!image.ReadBlock(readBuffer, count)) {
            // A short read here would end the transfer early and flash a truncated image.
            Report(dlg, "TFTP firmware recovery failed: Can not open firmware.");
            return TFTP_ERR_OPEN;
        }
        state = count < kTftpBlockSize ? TFTP_STATE_LAST_SENT : TFTP_STATE_SENDING;
        ++block;
        PutU16(sendBuffer, TFTP_DATA);
        PutU16(sendBuffer + kTftpBlockOffset, block);
        std::memcpy(sendBuffer + kTftpDataOffset, readBuffer, count);
        sendLength = count + kTftpDataOffset;
        sock.SendTo(sendBuffer, sendLength, router);
        deadline = GetTickCount64() + kWaitLimitMs;
    }
}

}  // namespace kestrel
