// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The front end's side of the privileged helper: the IP Helper services as requests to it. The
// front end itself runs with no rights at all; name queries and UDP need none.
#pragma once

#include <sys/types.h>

#include <cstdint>
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

    bool Exchange(const std::string& request, std::string& reply) override;
    pid_t Pid() const { return pid_; }

private:
    HelperProcess(pid_t pid, int toHelper, int fromHelper);

    pid_t pid_;
    int toHelper_;
    int fromHelper_;
    std::string buffered_;
};

class HelperIpHelper final : public IpHelper {
public:
    explicit HelperIpHelper(HelperChannel& channel) : channel_(channel) {}

    // The first exchange: false, with the reason, when no helper answers (it could not be
    // started, or the rights were refused).
    bool Hello(std::string& why);
    // The clean end: the helper puts back anything still changed, then ends.
    bool End();

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
    // A fresh reply that only told the caller the size to allocate. The call that follows
    // fills the buffer from it, so that the pair costs one request; any other request drops it,
    // and so does its use, so that no table outlives a change or serves twice.
    HelperOp sizedOp_ = HelperOp::Hello;
    std::optional<HelperReply> sized_;
};

}  // namespace kestrel
