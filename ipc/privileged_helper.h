// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The privileged helper for a whole run, as a front end keeps it: started and greeted by the
// system's launcher, it gets the IP Helper services until End, and a helper that goes away is
// replaced by a new one, which puts back what the journal held. Start is each system's own
// (platform/linux/privileges.cpp, platform/windows/helper_process.cpp); the rest is shared.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ipc/helper_client.h"

namespace kestrel {

class PrivilegedHelper {
public:
    // A greeted helper, or null with the reason; `left` is what its replay could not put back.
    using Launcher = std::function<std::unique_ptr<HelperChannel>(std::string& why,
                                                                  std::vector<std::string>& left)>;

    // Starts the system's helper and greets it; on success the IP Helper services go to it.
    // Null, with a reason for the user, when it could not be started or the rights were refused.
    static std::unique_ptr<PrivilegedHelper> Start(std::string& why);
    // Ends the conversation cleanly: the helper puts back whatever is still changed, and the
    // services in use before come back. When the helper went away during the run, a new one
    // has put back what the journal held.
    HelperAccount End();
    ~PrivilegedHelper();
    PrivilegedHelper(const PrivilegedHelper&) = delete;
    PrivilegedHelper& operator=(const PrivilegedHelper&) = delete;

private:
    // `restore`: the command that puts the settings back by hand.
    PrivilegedHelper(std::unique_ptr<HelperChannel> channel, Launcher launch,
                     NetworkParamsReader networkParams, std::string restore,
                     std::vector<std::string> left);
    // A new helper replays the journal the lost one left, and is ended at once.
    void Replace();
    void Install() { SetIpHelper(&ipHelper_); }

    const Launcher launch_;
    const NetworkParamsReader networkParams_;
    std::unique_ptr<HelperChannel> channel_;
    HelperIpHelper ipHelper_;
    IpHelper* before_;  // the services in use before, put back at the end
    HelperAccount account_;
    bool ended_ = false;
};

}  // namespace kestrel
