// Placeholder jobs: replaced by the status check and the recovery procedure.
#include "engine/engine.h"

namespace kestrel {
namespace {

void EndWorker(WizardContext& dlg) {
    {
        std::lock_guard<std::mutex> lock(dlg.m_workerLock);
        CloseHandle(dlg.m_hWorker);
        dlg.m_hWorker = nullptr;
    }
    dlg.KillTimer1();
}

}  // namespace

void CheckRouterStatus(WizardContext&) {}
void RunRecovery(WizardContext&) {}

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
