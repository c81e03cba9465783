// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// How a front end gets its network changes made without holding any rights itself: it starts
// the privileged helper (where the program would otherwise ask to be elevated) and, when it was
// started as root on a user's behalf, becomes that user before it opens a window.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ipc/privileged_helper.h"
#include "platform/linux/helper_client.h"

namespace kestrel {

// True when the program was started with elevated rights by its file: setuid, setgid or file
// capabilities (AT_SECURE). The front ends refuse to run so: they need no rights, and Qt would
// load plugins that the caller names.
bool RunsWithSecureExec();

// The helper this front end uses: the one built beside it when it runs from its build tree,
// else the installed one, which the package's polkit action names.
std::string HelperPath();

// Why Start failed when polkit refused; any other reason is the helper's or the system's.
inline constexpr char kRightsNotGranted[] =
    "the rights to change the network settings were not granted";

}  // namespace kestrel
