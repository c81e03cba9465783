// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "helper/windows/ip_helper_api.h"

namespace kestrel {

// The system's IP Helper (iphlpapi.dll).
IpHelperApi& SystemIpHelperApi();

}  // namespace kestrel
