// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// GetNetworkParams over Linux: the DNS servers of the resolver configuration. Needs no rights,
// so the front end answers it itself.
#pragma once

#include "platform/iphlpapi.h"

namespace kestrel {

DWORD LinuxGetNetworkParams(FIXED_INFO* fixedInfo, ULONG* outBufLen);

}  // namespace kestrel
