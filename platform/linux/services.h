// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The front end's Linux services, installed by each program's main() before anything runs.
#pragma once

namespace kestrel {

// The c-ares DNS client, the kernel's UDP sockets, and IP Helper services that read the network
// parameters and change nothing: before a front end has its privileged helper, nothing may
// change the PC's settings (PrivilegedHelper::Start installs the helper's).
void InstallLinuxServices();

}  // namespace kestrel
