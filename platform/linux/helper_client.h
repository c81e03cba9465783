// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The front end's side of the privileged helper: the IP Helper services as requests to it. The
// front end itself runs with no rights at all; name queries and UDP need none.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
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

// The helper as a child process, over pipes to its standard input and output.
class HelperProcess final : public HelperChannel {
public:
    // Starts `argv` (the helper, or pkexec and the helper) in the front end's process group:
    // pkexec may ask for a password on the terminal, which only the foreground group may read.
    // The helper then leaves that group itself.
    static std::unique_ptr<HelperProcess> Start(const std::vector<std::string>& argv,
                                                std::string& why);
    // Closes the helper's input, which makes it put back whatever is still changed and end,
    // and waits a while for it.
    ~HelperProcess() override;
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    // False, too, when no reply comes within the time limit: a stopped helper must not hold
    // up the front end, nor a stop.
    bool Exchange(const std::string& request, std::string& reply) override;
    pid_t Pid() const { return pid_; }
    // Until set, a reply may take any time: pkexec may be asking for a password.
    void SetTimeLimit(std::chrono::milliseconds limit) { limit_ = limit; }

private:
    HelperProcess(pid_t pid, int toHelper, int fromHelper);

    pid_t pid_;
    int toHelper_;
    int fromHelper_;
    std::string buffered_;
    std::chrono::milliseconds limit_{-1};
    bool silent_ = false;  // it let a time limit pass: not worth waiting for at the end
};

class HelperIpHelper final : public IpHelper {
public:
    explicit HelperIpHelper(HelperChannel& channel) : channel_(channel) {}

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

    DWORD GetAdaptersInfo(IP_ADAPTER_INFO* adapterInfo, ULONG* sizePointer) override;
    DWORD AddIPAddress(IPAddr address, IPMask mask, DWORD ifIndex, ULONG* nteContext,
                       ULONG* nteInstance) override;
    DWORD DeleteIPAddress(ULONG nteContext) override;
    DWORD GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL order) override;
    DWORD CreateIpForwardEntry(const MIB_IPFORWARDROW* route) override;
    DWORD DeleteIpForwardEntry(const MIB_IPFORWARDROW* route) override;
    DWORD SendARP(IPAddr destIP, IPAddr srcIP, void* macAddr, ULONG* physAddrLen) override;
    // Needs no rights: read here, from the resolver configuration.
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
    std::uint64_t nextId_ = 1;
    bool gone_ = false;
    bool lost_ = false;  // gone without a clean end
    std::function<void()> onLost_;
    // A fresh reply that only told the caller the size to allocate. The call that follows
    // fills the buffer from it, so that the pair costs one request; any other request drops it,
    // and so does its use, so that no table outlives a change or serves twice.
    HelperOp sizedOp_ = HelperOp::Hello;
    std::optional<HelperReply> sized_;
};

}  // namespace kestrel
