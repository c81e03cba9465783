// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// An IP Helper with a model of its own adapters, addresses and routes, behaving as the
// documentation describes (two-call sizing, new contexts for every address added, the routes an
// address takes with it), with scripted results, a hook between a sizing call and the next, and
// a log of the calls that changed something.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "helper/windows/ip_helper_api.h"

namespace kestrel::testing {

IPAddr Ip(const char* dotted);
std::string Dotted(IPAddr address);

struct ScriptedAddress {
    IPAddr local = 0;
    IPMask mask = 0;
    ULONG context = 0;
};

struct ScriptedAdapter {
    DWORD index = 0;
    std::string name;
    std::string description;
    std::vector<BYTE> mac;
    UINT type = MIB_IF_TYPE_ETHERNET;
    DWORD adminStatus = kAdminStatusUp;
    DWORD operStatus = kOperStatusOperational;
    std::vector<ScriptedAddress> addresses;
};

MIB_IPFORWARDROW Row(const char* dest, const char* mask, const char* nextHop, DWORD ifIndex,
                     DWORD metric, DWORD type = MIB_IPROUTE_TYPE_INDIRECT,
                     DWORD proto = MIB_IPPROTO_NETMGMT);

class ScriptedIpHelper final : public IpHelperApi {
public:
    std::vector<ScriptedAdapter> adapters;
    std::vector<MIB_IPFORWARDROW> routes;
    // Results to give instead of doing the call, by function name, first in first out.
    std::map<std::string, std::deque<DWORD>> results;
    // Runs after every "too small" answer, before the caller comes back.
    std::function<void()> afterSizing;
    // SendARP: the answers in turn (NO_ERROR answers with `arpMac`), then ERROR_BAD_NET_NAME;
    // every call first lets `onArp` run (a real one blocks a while).
    std::deque<DWORD> arpResults;
    std::vector<BYTE> arpMac = {0x02, 0x00, 0x5e, 0x00, 0x01, 0x01};
    std::function<void()> onArp;
    // The calls that change something, and SendARP, as text.
    std::vector<std::string> calls;
    std::vector<MIB_IPFORWARDROW> created;  // the rows CreateIpForwardEntry was given
    int sizingCalls = 0;

    DWORD GetAdaptersInfo(IP_ADAPTER_INFO* adapterInfo, ULONG* sizePointer) override;
    DWORD GetIfEntry(MIB_IFROW* row) override;
    DWORD SetIfEntry(MIB_IFROW* row) override;
    DWORD AddIPAddress(IPAddr address, IPMask mask, DWORD ifIndex, ULONG* nteContext,
                       ULONG* nteInstance) override;
    DWORD DeleteIPAddress(ULONG nteContext) override;
    DWORD GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL order) override;
    DWORD CreateIpForwardEntry(MIB_IPFORWARDROW* route) override;
    DWORD DeleteIpForwardEntry(MIB_IPFORWARDROW* route) override;
    DWORD SendARP(IPAddr destIP, IPAddr srcIP, void* macAddr, ULONG* physAddrLen) override;

    ScriptedAdapter* Adapter(DWORD index);

private:
    // The scripted result for `call`, if one is queued.
    bool Scripted(const std::string& call, DWORD& result);

    ULONG nextContext_ = 100;
};

}  // namespace kestrel::testing
