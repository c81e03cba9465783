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

class PrivilegedHelper {
public:
    // Starts the helper directly when this process is root, else through pkexec, and greets
    // it. Then, as root with an invoking user (SUDO_UID/SUDO_GID or PKEXEC_UID), becomes that
    // user. On success the IP Helper services go to the helper. Null, with a reason for the
    // user, when the helper could not be started or the rights were refused.
    static std::unique_ptr<PrivilegedHelper> Start(std::string& why);
    // Ends the conversation cleanly: the helper puts back whatever is still changed, and the
    // services in use before come back. When the helper went away during the run, a new one,
    // started the same way, has put back what the journal held.
    HelperAccount End();
    ~PrivilegedHelper();
    PrivilegedHelper(const PrivilegedHelper&) = delete;
    PrivilegedHelper& operator=(const PrivilegedHelper&) = delete;

private:
    explicit PrivilegedHelper(std::unique_ptr<HelperProcess> process);
    // A new helper replays the journal the lost one left, and is ended at once.
    void Replace();

    std::unique_ptr<HelperProcess> process_;
    HelperIpHelper ipHelper_;
    IpHelper* before_;  // the services in use before, put back at the end
    HelperAccount account_;
    bool ended_ = false;
};

}  // namespace kestrel
