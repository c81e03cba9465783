#include "netcfg/netcfg.h"

namespace kestrel {

void DiscardSavedSettings(WizardContext& dlg) {
    while (SavedAddress* node = dlg.m_pSavedAddresses) {
        dlg.m_pSavedAddresses = node->Next;
        HeapFree(node);
    }
    while (SavedRoute* node = dlg.m_pSavedRoutes) {
        dlg.m_pSavedRoutes = node->Next;
        HeapFree(node);
    }
}

}  // namespace kestrel
