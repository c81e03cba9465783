// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The two jobs of the wizard, run on its worker thread: the router status check, and the
// recovery that tries each Ethernet adapter in turn.
#pragma once

#include <functional>

#include "engine/progress_plan.h"
#include "platform/wizard.h"

namespace kestrel {

void CheckRouterStatus(WizardContext& dlg);
void RunRecovery(WizardContext& dlg);

// Thread entries; the argument is the WizardContext (pass the dialog as its WizardContext
// base). Each runs its job, then closes and clears m_hWorker under m_workerLock and kills
// timer 1.
unsigned StatusCheckThread(void* dialog);
unsigned RecoveryThread(void* dialog);
// How every thread entry ends, after its job: m_hWorker closed and cleared, then timer 1 killed.
void EndWorker(WizardContext& dlg);

// The two router protocols the jobs use. They open real sockets towards the router, so unit
// tests replace them with scripted results.
struct RouterProtocols {
    std::function<int(WizardContext&)> probe;   // ProbeRouterDns: 1 when a router answered
    std::function<int(WizardContext&)> upload;  // TftpUploadFirmware: TFTP_OK or a code
};

// ProbeRouterDns and TftpUploadFirmware.
RouterProtocols RealRouterProtocols();
// Installs `protocols` for the whole process; install before a worker starts. An empty
// member falls back to the real protocol.
void SetRouterProtocols(RouterProtocols protocols);

}  // namespace kestrel
