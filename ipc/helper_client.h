// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The front end's side of the privileged helper: the IP Helper services as requests to it, over
// whatever channel the system's launcher gives (platform/linux/helper_client.h on Linux).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ipc/helper_protocol.h"
#include "platform/iphlpapi.h"

namespace kestrel {

class HelperChannel {
public:
    virtual ~HelperChannel() = default;
    // One request line out, its reply line back. False once the helper is gone.
    virtual bool Exchange(const std::string& request, std::string& reply) = 0;
};

using NetworkParamsReader = DWORD (*)(FIXED_INFO* fixedInfo, ULONG* outBufLen);

class HelperIpHelper final : public IpHelper {
public:
    // `networkParams` answers GetNetworkParams, which needs no rights: the system's own.
    HelperIpHelper(HelperChannel& channel, NetworkParamsReader networkParams)
        : channel_(channel), networkParams_(networkParams) {}

    // The first exchange: false, with the reason, when no helper answers (it could not be
    // started, or the rights were refused) or when it said why it would not serve. `left`
    // receives what its replay of a journal left behind could not put back.
    bool Hello(std::string& why, std::vector<std::string>& left);
    // The clean end: the helper puts back anything still changed, then ends. False when it
    // could not be asked; `left` receives what it could not put back.
    bool End(std::vector<std::string>& left);
    bool Hello(std::string& why) {
        std::vector<std::string> left;
        return Hello(why, left);
    }
    bool End() {
        std::vector<std::string> left;
        return End(left);
    }
    // Called once, on the calling thread, when the helper is found gone during a request.
    void OnLost(std::function<void()> lost) { onLost_ = std::move(lost); }
    bool Lost() const { return lost_; }
    // The helper's first word that it could not record a change, and so made none: empty when
    // it always could.
    const std::string& Unjournaled() const { return unjournaled_; }

    DWORD GetAdaptersInfo(IP_ADAPTER_INFO* adapterInfo, ULONG* sizePointer) override;
    DWORD AddIPAddress(IPAddr address, IPMask mask, DWORD ifIndex, ULONG* nteContext,
                       ULONG* nteInstance) override;
    DWORD DeleteIPAddress(ULONG nteContext) override;
    DWORD GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL order) override;
    DWORD CreateIpForwardEntry(const MIB_IPFORWARDROW* route) override;
    DWORD DeleteIpForwardEntry(const MIB_IPFORWARDROW* route) override;
    DWORD SendARP(IPAddr destIP, IPAddr srcIP, void* macAddr, ULONG* physAddrLen) override;
    DWORD GetNetworkParams(FIXED_INFO* fixedInfo, ULONG* outBufLen) override;

private:
    // The helper's result for `request`; ERROR_GEN_FAILURE once the helper is gone.
    DWORD Call(HelperRequest request, HelperReply& reply);
    DWORD RouteCall(HelperOp op, const MIB_IPFORWARDROW* route);
    DWORD CallLocked(HelperRequest request, HelperReply& reply);
    // The adapters or the routes: from the reply that answered the sizing call just before,
    // else from the helper. `fresh` tells which.
    DWORD ReadLocked(HelperOp op, HelperReply& reply, bool& fresh);
    // `reply` only told the size: the call that follows fills from it, if it was fresh.
    void KeepForFill(HelperOp op, HelperReply& reply, bool fresh);

    std::mutex lock_;  // the worker and the UI thread (Quit) both call
    HelperChannel& channel_;
    NetworkParamsReader networkParams_;
    std::uint64_t nextId_ = 1;
    bool gone_ = false;
    bool lost_ = false;  // gone without a clean end
    std::function<void()> onLost_;
    std::string unjournaled_;
    // A fresh reply that only told the caller the size to allocate. The call that follows
    // fills the buffer from it, so that the pair costs one request; any other request drops it,
    // and so does its use, so that no table outlives a change or serves twice.
    HelperOp sizedOp_ = HelperOp::Hello;
    std::optional<HelperReply> sized_;
};

// What became of the settings the helper took off, for the user's last word.
struct HelperAccount {
    bool lost = false;        // the helper went away during the recovery
    bool unknown = false;     // and no new helper could put back what its journal holds
    std::string why;          // why not
    std::string restore;      // the command that puts them back by hand
    std::string unjournaled;  // why the helper stopped making changes, if it did
    // What the helpers said they could not put back, as `ip` commands that would do it.
    std::vector<std::string> notRestored;

    bool AllBack() const { return !unknown && notRestored.empty(); }
    // What the user is told, one line each; none when the run went as it should.
    std::vector<std::string> Lines() const;
};

}  // namespace kestrel
