// PLACEHOLDER: replaced by the resolver-configuration implementation.
#include "platform/linux_iphlp.h"

namespace kestrel {

DWORD LinuxIpHelper::GetNetworkParams(FIXED_INFO*, ULONG*) {
    return ERROR_NOT_SUPPORTED;
}

}  // namespace kestrel
