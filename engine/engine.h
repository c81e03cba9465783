// The two jobs of the wizard, run on its worker thread: the router status check, and the
// recovery that tries each Ethernet adapter in turn.
#pragma once

#include "platform/wizard.h"

namespace kestrel {

void CheckRouterStatus(WizardContext& dlg);
void RunRecovery(WizardContext& dlg);

// Thread entries; the argument is the WizardContext. Each runs its job, then closes and clears
// m_hWorker and kills timer 1.
unsigned StatusCheckThread(void* dialog);
unsigned RecoveryThread(void* dialog);

}  // namespace kestrel
