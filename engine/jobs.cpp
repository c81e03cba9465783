// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The status check and the recovery procedure, run on the wizard's worker thread.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

#include "engine/engine.h"
#include "engine/pages.h"
#include "netcfg/netcfg.h"
#include "platform/clock.h"
#include "platform/heap.h"
#include "platform/iphlpapi.h"
#include "platform/netfacts.h"
#include "platform/posix.h"
#include "platform/threads.h"
#include "proto/proto.h"

namespace kestrel {
namespace {

constexpr int kFullBar = 1000;
constexpr std::uint64_t kMinimumCheckMs = 1000;
constexpr std::uint64_t kMinimumArpMs = 1000;
constexpr std::uint64_t kMinimumPollMs = 1000;
constexpr DWORD kFinalPauseMs = 1000;
constexpr DWORD kSettleMs = 4000;  // after adding or restoring addresses
constexpr DWORD kNoQueryPauseMs = 2000;

std::mutex protocolsLock;
RouterProtocols installedProtocols;

RouterProtocols CurrentProtocols() {
    std::lock_guard<std::mutex> lock(protocolsLock);
    RouterProtocols protocols = installedProtocols;
    RouterProtocols real = RealRouterProtocols();
    if (!protocols.probe) protocols.probe = std::move(real.probe);
    if (!protocols.upload) protocols.upload = std::move(real.upload);
    return protocols;
}

// Sleeps out the rest of `minimumMs` counted from `start`.
void PadTo(std::uint64_t start, std::uint64_t minimumMs) {
    const std::uint64_t elapsed = GetTickCount64() - start;
    if (elapsed < minimumMs) Sleep(static_cast<DWORD>(minimumMs - elapsed));
}

void ShowTarget(WizardContext& dlg) {
    dlg.SetProgressPos(dlg.m_nProgressTarget.load());
}

struct RunAddresses {
    IPAddr router;
    IPAddr temporary;
    IPMask mask;
};

// How an attempt on an adapter ended. Stopped: a stop was requested; the temporary address is
// gone and nothing further is tried or slept.
enum class Attempt { Failed, Succeeded, Stopped };

// One attempt on one Ethernet adapter. Raises the bar target by exactly plan.S unless it was
// stopped.
Attempt TryAdapter(WizardContext& dlg, const IP_ADAPTER_INFO& adapter, const ProgressPlan& plan,
                   const RunAddresses& addresses, const RouterProtocols& protocols,
                   int& lastResolverResult) {
    if (dlg.m_bDebug) dlg.MessageBox(std::string("Try ") + adapter.Description, "Information");

    dlg.SetStatusText(kConfiguringText);
    dlg.RaiseProgressTarget(plan.B);
    ULONG nteContext = 0;
    ULONG nteInstance = 0;
    // Only an address this attempt added may be deleted again: a failed add leaves the
    // context pointing at nothing of ours.
    bool added = AddIPAddress(addresses.temporary, addresses.mask, adapter.Index, &nteContext,
                              &nteInstance) == NO_ERROR;
    auto deleteTemporary = [&] {
        if (added) DeleteIPAddress(nteContext);
        added = false;
    };
    // The boundary between two steps: on a stop the attempt ends here.
    auto stopped = [&] {
        if (!StopRequested()) return false;
        deleteTemporary();
        return true;
    };
    Sleep(kSettleMs);
    ShowTarget(dlg);
    if (stopped()) return Attempt::Stopped;

    dlg.RaiseProgressTarget(plan.A);
    BYTE reply[8];
    std::memset(reply, 0xFF, sizeof reply);
    ULONG replyLength = 6;
    const std::uint64_t arpStart = GetTickCount64();
    const DWORD arp = SendARP(addresses.router, addresses.temporary, reply, &replyLength);
    PadTo(arpStart, kMinimumArpMs);
    ShowTarget(dlg);
    if (stopped()) return Attempt::Stopped;
    if (arp != NO_ERROR) {
        deleteTemporary();
        dlg.RaiseProgressTarget(plan.D + plan.B + plan.F);
        ShowTarget(dlg);
        return Attempt::Failed;
    }

    dlg.RaiseProgressTarget(plan.F);
    dlg.SetStatusText(kUploadingText);
    const int upload = protocols.upload(dlg);
    ShowTarget(dlg);
    if (stopped()) return Attempt::Stopped;
    if (upload != TFTP_OK) {
        deleteTemporary();
        dlg.RaiseProgressTarget(plan.D + plan.B);
        ShowTarget(dlg);
        return Attempt::Failed;
    }

    dlg.RaiseProgressTarget(plan.B);
    dlg.SetStatusText(kRestoringText);
    deleteTemporary();
    RestoreNetworkSettings(dlg);
    Sleep(kSettleMs);
    ShowTarget(dlg);
    if (stopped()) return Attempt::Stopped;

    dlg.RaiseProgressTarget(plan.D);
    dlg.SetStatusText(kRebootingText);
    dlg.SetTimer1(plan.waitInterval);
    const auto timeout = static_cast<std::uint64_t>(std::max(dlg.m_nRebootTimeout, 0));
    const std::uint64_t waitStart = GetTickCount64();
    for (;;) {
        const std::uint64_t pollStart = GetTickCount64();
        lastResolverResult = CheckResolver(dlg, adapter.Index);
        if (lastResolverResult == 1) break;
        if (stopped()) return Attempt::Stopped;
        if (lastResolverResult == -1)
            Sleep(kNoQueryPauseMs);
        else
            // A query that fails at once must not flood the booting router or burn a core.
            PadTo(pollStart, kMinimumPollMs);
        if (GetTickCount64() - waitStart >= timeout) break;
    }
    ShowTarget(dlg);
    dlg.SetTimer1(plan.stepInterval);

    if (lastResolverResult == 1) return Attempt::Succeeded;
    // The router stayed silent: take the PC's clashing settings off again for the next adapter.
    RemoveConflictingSettings(dlg);
    return Attempt::Failed;
}

}  // namespace

void EndWorker(WizardContext& dlg) {
    {
        // The UI thread holds the lock until it has stored the handle.
        std::lock_guard<std::mutex> lock(dlg.m_workerLock);
        CloseHandle(dlg.m_hWorker);
        dlg.m_hWorker = nullptr;
    }
    dlg.KillTimer1();
}

RouterProtocols RealRouterProtocols() {
    return {ProbeRouterDns, TftpUploadFirmware};
}

void SetRouterProtocols(RouterProtocols protocols) {
    std::lock_guard<std::mutex> lock(protocolsLock);
    installedProtocols = std::move(protocols);
}

void CheckRouterStatus(WizardContext& dlg) {
    const RouterProtocols protocols = CurrentProtocols();
    dlg.SetStatusText(kCheckingText);
    const std::uint64_t start = GetTickCount64();
    const int probe = protocols.probe(dlg);
    PadTo(start, kMinimumCheckMs);
    ShowTarget(dlg);
    if (probe == 1) {
        dlg.SetProgressPos(kFullBar);
        Sleep(kFinalPauseMs);
        dlg.SetPage(PAGE_ROUTER_OK);
        return;
    }
    if (StopRequested()) {
        dlg.SetPage(PAGE_FAILED);
        return;
    }
    RemoveConflictingSettings(dlg);
    RunRecovery(dlg);
}

void RunRecovery(WizardContext& dlg) {
    const RouterProtocols protocols = CurrentProtocols();
    dlg.SetStatusText(kConfiguringText);
    const RunAddresses addresses{inet_addr(kRouterAddress), inet_addr(kTemporaryAddress),
                                 inet_addr(kTemporaryMask)};
    int lastResolverResult = 0;

    IP_ADAPTER_INFO* list = GetAdapterList(dlg);
    int ethernetCount = 0;
    for (const IP_ADAPTER_INFO* adapter = list; adapter; adapter = adapter->Next)
        if (adapter->Type == MIB_IF_TYPE_ETHERNET) ++ethernetCount;

    if (ethernetCount == 0) {
        dlg.RaiseProgressTarget(kFullBar);
        Sleep(kFinalPauseMs);
    }
    if (list) {
        if (ethernetCount > 0) {
            const ProgressPlan plan =
                MakeProgressPlan(dlg.m_nProgressTarget.load(), ethernetCount, dlg.m_nRebootTimeout);
            dlg.SetTimer1(plan.stepInterval);
            for (const IP_ADAPTER_INFO* adapter = list; adapter; adapter = adapter->Next) {
                if (adapter->Type != MIB_IF_TYPE_ETHERNET) continue;
                if (StopRequested()) break;
                if (TryAdapter(dlg, *adapter, plan, addresses, protocols, lastResolverResult) !=
                    Attempt::Failed)
                    break;
            }
        }
        HeapFree(list);
    }

    // Stopped: the failed page at once, from which the wizard puts the settings back.
    if (StopRequested() && lastResolverResult != 1) {
        dlg.SetPage(PAGE_FAILED);
        return;
    }
    dlg.SetProgressPos(kFullBar);
    Sleep(kFinalPauseMs);
    dlg.SetPage(lastResolverResult == 1 ? PAGE_SUCCESS : PAGE_FAILED);
}

unsigned StatusCheckThread(void* dialog) {
    auto& dlg = *static_cast<WizardContext*>(dialog);
    CheckRouterStatus(dlg);
    EndWorker(dlg);
    return 0;
}

unsigned RecoveryThread(void* dialog) {
    auto& dlg = *static_cast<WizardContext*>(dialog);
    RunRecovery(dlg);
    EndWorker(dlg);
    return 0;
}

}  // namespace kestrel
