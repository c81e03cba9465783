// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The privileged helper's launcher over Linux. The front end itself runs with no rights at all;
// name queries and UDP need none.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "ipc/helper_client.h"

namespace kestrel {

// The helper as a child process, over pipes to its standard input and output.
class HelperProcess final : public HelperChannel {
public:
    // Starts `argv` (the helper, or pkexec and the helper) in the front end's process group:
    // pkexec may ask for a password on the terminal, which only the foreground group may read.
    // The helper then leaves that group itself.
    static std::unique_ptr<HelperProcess> Start(const std::vector<std::string>& argv,
                                                std::string& why);
    // Closes the helper's input, which makes it put back whatever is still changed and end,
    // and waits a while for it.
    ~HelperProcess() override;
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    // False, too, when no reply comes within the time limit: a stopped helper must not hold
    // up the front end, nor a stop.
    bool Exchange(const std::string& request, std::string& reply) override;
    pid_t Pid() const { return pid_; }
    // Until set, a reply may take any time: pkexec may be asking for a password.
    void SetTimeLimit(std::chrono::milliseconds limit) { limit_ = limit; }

private:
    HelperProcess(pid_t pid, int toHelper, int fromHelper);

    pid_t pid_;
    int toHelper_;
    int fromHelper_;
    std::string buffered_;
    std::chrono::milliseconds limit_{-1};
    bool silent_ = false;  // it let a time limit pass: not worth waiting for at the end
};

}  // namespace kestrel
