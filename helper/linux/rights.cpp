// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "helper/rights.h"

#include <sys/capability.h>

#include <memory>

namespace kestrel {

bool HasNetworkAdminRights() {
    std::unique_ptr<struct _cap_struct, int (*)(void*)> caps(cap_get_proc(), cap_free);
    if (!caps) return false;
    for (cap_value_t needed : {CAP_NET_ADMIN, CAP_NET_RAW}) {
        cap_flag_value_t value = CAP_CLEAR;
        if (cap_get_flag(caps.get(), needed, CAP_EFFECTIVE, &value) != 0 || value != CAP_SET)
            return false;
    }
    return true;
}

}  // namespace kestrel
