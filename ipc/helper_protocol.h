// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The conversation between a front end and the privileged helper: one JSON object per line on
// the helper's standard input and output, a request and then its reply, in turn.
//
//   {"v":1,"id":3,"op":"add_address","address":"192.168.1.141","mask":"255.255.255.0","ifindex":2}
//   {"v":1,"id":3,"error":0,"context":7}
//
// Every request is hostile input to the helper: the decoder takes only the fields its
// operation names, in their types and ranges, on a line of bounded length.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ipc/adapter_layout.h"
#include "platform/iphlpapi.h"

namespace kestrel {

inline constexpr int kHelperProtocolVersion = 1;
inline constexpr std::size_t kMaxRequestLine = 1024;
// Replies have no bound: a PC may have any number of routes, and the helper is trusted.

enum class HelperOp {
    Hello,          // -> version, notRestored (a journal left by a helper that died)
    Adapters,       // -> adapters
    AddAddress,     // address, mask, ifIndex -> context
    DeleteAddress,  // context
    Routes,         // -> routes
    CreateRoute,    // row
    DeleteRoute,    // row
    Arp,            // target, source -> mac
    End,            // put back what is left, then the helper ends -> notRestored
};

struct HelperRequest {
    std::uint64_t id = 0;
    HelperOp op = HelperOp::Hello;
    IPAddr address = 0;      // AddAddress; network byte order
    IPMask mask = 0;         // AddAddress
    DWORD ifIndex = 0;       // AddAddress
    DWORD context = 0;       // DeleteAddress
    MIB_IPFORWARDROW row{};  // CreateRoute, DeleteRoute
    IPAddr target = 0;       // Arp
    IPAddr source = 0;       // Arp

    bool operator==(const HelperRequest& other) const;
};

struct HelperReply {
    std::uint64_t id = 0;
    DWORD error = NO_ERROR;                // the IP Helper result the front end's call returns
    std::string message;                   // why, when refused or failed
    int version = 0;                       // Hello
    std::vector<AdapterRecord> adapters;   // Adapters
    std::vector<MIB_IPFORWARDROW> routes;  // Routes
    DWORD context = 0;                     // AddAddress
    std::array<BYTE, 6> mac{};             // Arp
    // Hello, End: what could not be put back, as `ip` commands that would do it
    std::vector<std::string> notRestored;
};

const char* HelperOpName(HelperOp op);

std::string EncodeRequest(const HelperRequest& request);
// False, with the reason in `why`, for anything but a well-formed request of this version:
// over-long lines, bad JSON, unknown operations, missing, unknown or out-of-range fields.
bool DecodeRequest(std::string_view line, HelperRequest& request, std::string& why);

// The reply to a request of operation `op`; only that operation's fields are written.
std::string EncodeReply(HelperOp op, const HelperReply& reply);
bool DecodeReply(std::string_view line, HelperOp op, HelperReply& reply, std::string& why);

}  // namespace kestrel
