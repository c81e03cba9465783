// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ipc/helper_client.h"

#include <cstring>

#include "platform/two_call.h"

namespace kestrel {

DWORD HelperIpHelper::Call(HelperRequest request, HelperReply& reply) {
    std::lock_guard<std::mutex> guard(lock_);
    return CallLocked(std::move(request), reply);
}

DWORD HelperIpHelper::CallLocked(HelperRequest request, HelperReply& reply) {
    sized_.reset();
    if (gone_) return ERROR_GEN_FAILURE;
    request.id = nextId_++;
    std::string line;
    std::string why;
    const bool exchanged = channel_.Exchange(EncodeRequest(request), line);
    const bool decoded = exchanged && DecodeReply(line, request.op, reply, why);
    if (!decoded || reply.id != request.id) {
        // Without its helper the front end can change nothing more; the helper, on its side,
        // puts back what it changed when the conversation breaks. A reply to no request is
        // still the helper's word on why it would not serve.
        gone_ = true;
        if (!decoded) reply.message = why;
        if (request.op != HelperOp::Hello && request.op != HelperOp::End && !lost_) {
            lost_ = true;
            if (onLost_) onLost_();
        }
        return ERROR_GEN_FAILURE;
    }
    if (reply.error == ERROR_WRITE_FAULT && unjournaled_.empty()) unjournaled_ = reply.message;
    return reply.error;
}

bool HelperIpHelper::Hello(std::string& why, std::vector<std::string>& left) {
    HelperRequest request;
    request.op = HelperOp::Hello;
    HelperReply reply;
    const bool greeted =
        Call(request, reply) == NO_ERROR && reply.version == kHelperProtocolVersion;
    left = std::move(reply.notRestored);
    if (!greeted) why = reply.message;
    return greeted;
}

bool HelperIpHelper::End(std::vector<std::string>& left) {
    HelperRequest request;
    request.op = HelperOp::End;
    HelperReply reply;
    const bool ended = Call(request, reply) == NO_ERROR;
    left = std::move(reply.notRestored);
    std::lock_guard<std::mutex> guard(lock_);
    gone_ = true;
    return ended;
}

DWORD HelperIpHelper::ReadLocked(HelperOp op, HelperReply& reply, bool& fresh) {
    fresh = !sized_ || sizedOp_ != op;
    if (!fresh) {
        reply = std::move(*sized_);
        sized_.reset();
        return NO_ERROR;
    }
    HelperRequest request;
    request.op = op;
    return CallLocked(request, reply);
}

void HelperIpHelper::KeepForFill(HelperOp op, HelperReply& reply, bool fresh) {
    if (!fresh) return;
    sizedOp_ = op;
    sized_ = std::move(reply);
}

DWORD HelperIpHelper::GetAdaptersInfo(IP_ADAPTER_INFO* adapterInfo, ULONG* sizePointer) {
    if (!sizePointer) return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(lock_);
    HelperReply reply;
    bool fresh = false;
    if (const DWORD result = ReadLocked(HelperOp::Adapters, reply, fresh); result != NO_ERROR)
        return result;
    const DWORD result = WriteAdapterChain(reply.adapters, adapterInfo, sizePointer);
    if (result == ERROR_BUFFER_OVERFLOW) KeepForFill(HelperOp::Adapters, reply, fresh);
    return result;
}

DWORD HelperIpHelper::AddIPAddress(IPAddr address, IPMask mask, DWORD ifIndex, ULONG* nteContext,
                                   ULONG* nteInstance) {
    if (!nteContext || !nteInstance) return ERROR_INVALID_PARAMETER;
    HelperRequest request;
    request.op = HelperOp::AddAddress;
    request.address = address;
    request.mask = mask;
    request.ifIndex = ifIndex;
    HelperReply reply;
    const DWORD result = Call(request, reply);
    if (result == NO_ERROR) *nteContext = *nteInstance = reply.context;
    return result;
}

DWORD HelperIpHelper::DeleteIPAddress(ULONG nteContext) {
    HelperRequest request;
    request.op = HelperOp::DeleteAddress;
    request.context = nteContext;
    HelperReply reply;
    return Call(request, reply);
}

DWORD HelperIpHelper::GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL) {
    if (!size) return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(lock_);
    HelperReply reply;
    bool fresh = false;
    if (const DWORD result = ReadLocked(HelperOp::Routes, reply, fresh); result != NO_ERROR)
        return result;
    if (!TwoCallBlock<MIB_IPFORWARDROW>(table, size, 1, BeyondFirst(reply.routes.size()))) {
        KeepForFill(HelperOp::Routes, reply, fresh);
        return ERROR_INSUFFICIENT_BUFFER;
    }
    table->dwNumEntries = static_cast<DWORD>(reply.routes.size());
    std::copy(reply.routes.begin(), reply.routes.end(), table->table);
    return NO_ERROR;
}

DWORD HelperIpHelper::RouteCall(HelperOp op, const MIB_IPFORWARDROW* route) {
    if (!route) return ERROR_INVALID_PARAMETER;
    HelperRequest request;
    request.op = op;
    request.row = *route;
    HelperReply reply;
    return Call(request, reply);
}

DWORD HelperIpHelper::CreateIpForwardEntry(const MIB_IPFORWARDROW* route) {
    return RouteCall(HelperOp::CreateRoute, route);
}

DWORD HelperIpHelper::DeleteIpForwardEntry(const MIB_IPFORWARDROW* route) {
    return RouteCall(HelperOp::DeleteRoute, route);
}

DWORD HelperIpHelper::SendARP(IPAddr destIP, IPAddr srcIP, void* macAddr, ULONG* physAddrLen) {
    if (!macAddr || !physAddrLen || *physAddrLen == 0 || destIP == 0)
        return ERROR_INVALID_PARAMETER;
    if (*physAddrLen < 6) return ERROR_BUFFER_OVERFLOW;
    HelperRequest request;
    request.op = HelperOp::Arp;
    request.target = destIP;
    request.source = srcIP;
    HelperReply reply;
    const DWORD result = Call(request, reply);
    if (result != NO_ERROR) return result;
    std::memcpy(macAddr, reply.mac.data(), reply.mac.size());
    *physAddrLen = static_cast<ULONG>(reply.mac.size());
    return NO_ERROR;
}

DWORD HelperIpHelper::GetNetworkParams(FIXED_INFO* fixedInfo, ULONG* outBufLen) {
    return networkParams_(fixedInfo, outBufLen);
}

std::vector<std::string> HelperAccount::Lines() const {
    std::vector<std::string> lines;
    if (lost && unknown)
        lines.push_back(
            "the privileged helper went away during the recovery, and no new one "
            "could put the network settings back (" +
            why +
            "): they come back "
            "when it runs again, or with: " +
            restore);
    else if (lost)
        lines.push_back(
            "the privileged helper went away during the recovery; a new one put "
            "back the network settings it had taken off");
    if (!unjournaled.empty())
        lines.push_back("the privileged helper stopped changing network settings: " + unjournaled);
    if (!notRestored.empty())
        lines.push_back(
            "these network settings could not be put back; each line is the "
            "command that would do it:");
    for (const std::string& line : notRestored) lines.push_back("  " + line);
    return lines;
}

}  // namespace kestrel
