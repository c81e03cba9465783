// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The DNS probe: asks every DNS server of the PC for the router's login host name with a
// hand-built query and waits for one well-formed A answer.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/clock.h"
#include "platform/heap.h"
#include "platform/iphlpapi.h"
#include "platform/posix.h"
#include "platform/udp.h"
#include "proto/packets.h"
#include "proto/proto.h"

namespace kestrel {
namespace {

using namespace packets;

constexpr ULONG kFixedInfoFirstSize = 584;  // what the probe asks with first, whatever the record
constexpr int kQueriesPerServer = 5;
constexpr std::uint64_t kWindowMs = 5000;
constexpr std::uint64_t kWaitMs = 1000;

class ParamsBlock {
public:
    ParamsBlock() = default;
    ~ParamsBlock() { HeapFree(block_); }
    ParamsBlock(const ParamsBlock&) = delete;
    ParamsBlock& operator=(const ParamsBlock&) = delete;

    bool Allocate(ULONG bytes) {
        HeapFree(block_);
        block_ = static_cast<FIXED_INFO*>(HeapAlloc(bytes, true));
        return block_ != nullptr;
    }
    FIXED_INFO* get() const { return block_; }

private:
    FIXED_INFO* block_ = nullptr;
};

void Inform(WizardContext& dlg, const char* text, const char* caption) {
    if (dlg.m_bDebug) dlg.MessageBox(text, caption);
}

bool AskedServer(const IP_ADDR_STRING& servers, const sockaddr_in& from) {
    if (ntohs(from.sin_port) != kDnsPort) return false;
    for (const IP_ADDR_STRING* server = &servers; server; server = server->Next)
        if (inet_addr(server->IpAddress.String) == from.sin_addr.s_addr) return true;
    return false;
}

}  // namespace

std::size_t packets::BuildDnsQuery(unsigned char* query) {
    std::memset(query, 0, kDnsQuerySize);
    PutU16(query + kDnsIdOffset, kDnsQueryId);
    PutU16(query + kDnsFlagsHighOffset, kDnsFlagsStandardQuery);
    PutU16(query + kDnsQdcountOffset, 1);
    EncodeDnsName(query + kDnsNameOffset, kDnsQuerySize - kDnsNameOffset - 4, kSetupHostName);
    PutU16(query + kDnsQtypeOffset, kDnsTypeA);
    PutU16(query + kDnsQclassOffset, kDnsClassIn);
    return kDnsQuerySize;
}

const char* packets::CheckDnsAnswer(const unsigned char* answer, long length) {
    if (length != static_cast<long>(kDnsAnswerSize)) return "Packet length not is not correct";
    if (!(answer[kDnsFlagsHighOffset] & kDnsQrBit)) return "Packet is not a response";
    if (answer[kDnsFlagsLowOffset] & kDnsRcodeMask) return "Reply code is not correct";
    if (GetU16(answer + kDnsQdcountOffset) != 1) return "Questions is not correct";
    if (GetU16(answer + kDnsAnswerTypeOffset) != kDnsTypeA) return "Answer type is not correct";
    if (GetU16(answer + kDnsAnswerClassOffset) != kDnsClassIn) return "Answer class is not correct";
    if (GetU16(answer + kDnsAnswerRdlengthOffset) != 4) return "IP length is not correct";
    // Anybody on the LAN, or a resolver that answers every name, could otherwise pass a bricked
    // router off as a working one: the reply must answer this probe's own question.
    unsigned char query[kDnsQuerySize];
    BuildDnsQuery(query);
    if (GetU16(answer + kDnsIdOffset) != kDnsQueryId) return "Reply ID is not correct";
    if (GetU16(answer + kDnsAncountOffset) == 0) return "Answers is not correct";
    if (!std::equal(query + kDnsNameOffset, query + kDnsAnswerNameOffset,
                    answer + kDnsNameOffset) ||
        GetU16(answer + kDnsAnswerNameOffset) != kDnsPointerToQuestion)
        return "Answer is not for the question asked";
    return nullptr;
}

int ProbeRouterDns(WizardContext& dlg) {
    unsigned char receiveBuffer[kDnsReceiveSize] = {};
    unsigned char query[kDnsQuerySize] = {};
    int result = 0;

    ParamsBlock params;
    ULONG size = kFixedInfoFirstSize;
    if (!params.Allocate(size)) {
        Inform(dlg, "Error allocating memory for FIXED_INFO", "Error");
        return 0;
    }
    if (GetNetworkParams(params.get(), &size) == ERROR_BUFFER_OVERFLOW && !params.Allocate(size)) {
        Inform(dlg, "Error allocating memory for FIXED_INFO", "Error");
        return 0;
    }
    // Only the second call counts, also when the first one already succeeded.
    if (GetNetworkParams(params.get(), &size) != NO_ERROR) {
        Inform(dlg, "GetNetworkParams failed", "Error");
        return 0;
    }

    UdpSocket sock(IPPROTO_UDP);
    if (!sock.IsOpen()) {
        Inform(dlg, "DNSQUERY failed: Can't create socket.", "Warning");
        return 0;
    }
    if (!sock.BindAny()) {
        Inform(dlg, "DNSQUERY failed: Can't bind socket.", "Warning");
        return 0;
    }

    BuildDnsQuery(query);
    for (const IP_ADDR_STRING* server = &params.get()->DnsServerList; server;
         server = server->Next) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = inet_addr(server->IpAddress.String);
        to.sin_port = htons(kDnsPort);
        for (int i = 0; i < kQueriesPerServer; ++i) sock.SendTo(query, sizeof query, to);
    }

    const std::uint64_t start = GetTickCount64();
    // A stop ends the listening after the current wait.
    do {
        const int ready = sock.WaitReadable(kWaitMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) {
            Inform(dlg, "DNSQUERY failed: Socket error.", "Warning");
            break;
        }
        if (ready == 0) continue;

        sockaddr_in from{};
        const long received = sock.ReceiveFrom(receiveBuffer, sizeof receiveBuffer, from);
        if (received == 0) continue;
        if (!AskedServer(params.get()->DnsServerList, from)) {
            Inform(dlg, "Reply is not from a DNS server asked", "Information");
            continue;
        }
        if (const char* failed = CheckDnsAnswer(receiveBuffer, received)) {
            Inform(dlg, failed, "Information");
            continue;
        }
        in_addr answered{};
        std::memcpy(&answered, receiveBuffer + kDnsAnswerRdataOffset, sizeof answered);
        Inform(dlg, inet_ntoa(answered), "Information");
        result = 1;
        break;
    } while (GetTickCount64() - start < kWindowMs && !StopRequested());

    return result;
}

}  // namespace kestrel
