// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace kestrel {

// Takes the helper out of its caller's hands, so that nobody but root can stop it half-way: a
// session of its own (no terminal's job control or hangup), resource limits of its own, the
// signals a caller could still raise ignored, and of root's rights only CAP_NET_ADMIN and
// CAP_NET_RAW, for good. `keepStderr` leaves standard error where it is (an administrator's
// --restore); otherwise it stops going to a terminal left behind, and the system log has it all.
// False, with the reason, when the helper must not go on.
bool HardenHelper(bool keepStderr, std::string& why);

}  // namespace kestrel
