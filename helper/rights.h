// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace kestrel {

// Whether this process may change the network configuration and send raw packets: both
// CAP_NET_ADMIN and CAP_NET_RAW effective (root, or file capabilities on the binary).
bool HasNetworkAdminRights();

}  // namespace kestrel
