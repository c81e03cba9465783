// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// A scripted PC for unit tests: adapters with their addresses, contexts and gateways, a route
// table, per-call error codes and ARP answers. Add and Delete change its own model, including the
// kernel's habit of dropping the routes whose gateway a deleted address made reachable. Every call
// is recorded in order as a readable line. Installs itself for the lifetime of the object.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/adapter_layout.h"
#include "platform/iphlpapi.h"

namespace kestrel::testing {

// A route row with the fields a test cares about; unused metrics read 0xFFFFFFFF as on the
// platform.
MIB_IPFORWARDROW MakeRoute(const std::string& dest, const std::string& mask,
                           const std::string& nextHop, DWORD ifIndex, DWORD metric = 0,
                           DWORD proto = MIB_IPPROTO_NETMGMT);
// "192.168.1.0/255.255.255.0 via 192.168.0.254 on 1 metric 50"
std::string RouteText(const MIB_IPFORWARDROW& row);

class FakeIpHelper final : public IpHelper {
public:
    FakeIpHelper();
    ~FakeIpHelper() override;
    FakeIpHelper(const FakeIpHelper&) = delete;
    FakeIpHelper& operator=(const FakeIpHelper&) = delete;

    // The world. Adapters appear in the order they were added.
    void AddAdapter(DWORD index, const std::string& description, UINT type = MIB_IF_TYPE_ETHERNET);
    // Returns the new address's context.
    DWORD AddAddress(DWORD ifIndex, const std::string& address, const std::string& mask);
    void AddGateway(DWORD ifIndex, const std::string& gateway);
    void AddRoute(const MIB_IPFORWARDROW& row);
    // An adapter that appears right after the next GetAdaptersInfo call that reports a size.
    void AddAdapterAfterSizing(DWORD index, const std::string& description,
                               UINT type = MIB_IF_TYPE_ETHERNET);
    void SetDnsServers(std::vector<std::string> servers);

    // Scripting: the next calls of `function` (e.g. "GetIpForwardTable") return these codes,
    // one each, and change nothing. kRealResult lets that one call through to the model.
    static constexpr DWORD kRealResult = 0xFFFFFFFF;
    void ScriptResult(const std::string& function, DWORD result);
    // SendARP answers: scripted codes first, then the responder, else ERROR_BAD_NET_NAME.
    void ScriptArp(DWORD result);
    void SetArpResponder(std::function<DWORD(IPAddr dest, IPAddr src)> responder);
    // Runs after every call with its line (see Calls); it must not call the fake.
    void SetCallHook(std::function<void(const std::string& call)> hook);

    // What happened.
    std::vector<std::string> Calls() const;
    void ClearCalls();
    std::vector<MIB_IPFORWARDROW> Routes() const;
    std::vector<std::string> RouteTexts() const;
    // "192.168.1.100/255.255.255.0 on 2", adapters in order, addresses in order.
    std::vector<std::string> AddressTexts() const;

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
    struct Address {
        IPAddr address;
        IPMask mask;
        DWORD context;
    };
    struct Adapter {
        AdapterRecord record;
        std::vector<Address> addresses;
    };

    bool Scripted(const std::string& function, DWORD& result);
    DWORD Record(std::string call, DWORD result);
    Adapter* FindAdapter(DWORD index);
    bool Reaches(const Adapter& adapter, IPAddr gateway) const;
    std::string ContextText(ULONG context) const;

    mutable std::mutex lock_;
    std::vector<Adapter> adapters_;
    std::vector<Adapter> pendingAdapters_;
    std::vector<MIB_IPFORWARDROW> routes_;
    std::vector<std::string> dnsServers_;
    std::map<std::string, std::deque<DWORD>> scripted_;
    std::deque<DWORD> arpResults_;
    std::function<DWORD(IPAddr, IPAddr)> arpResponder_;
    std::function<void(const std::string&)> callHook_;
    std::map<DWORD, std::string> contextNames_;  // every context ever handed out
    DWORD nextContext_ = 1;
    std::vector<std::string> calls_;
};

}  // namespace kestrel::testing
