// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The privileged helper's launcher over Windows: kestrel-recovery-helper.exe from the front
// end's own folder, started as its child over two anonymous pipes. The front end runs elevated
// (its manifest requires the administrator), and the child inherits that token: no prompt of
// its own. When the front end ends, however it ends, the helper's input closes and the helper
// puts back what it changed.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "ipc/helper_client.h"
#include "ipc/privileged_helper.h"

namespace kestrel {

// kestrel-recovery-helper.exe in the folder of the running program.
std::wstring HelperPath();

class HelperProcess final : public HelperChannel {
public:
    // Starts `program` with `arguments` (none for the helper). The child inherits the two pipe
    // ends and nothing else; it gets no window of its own.
    static std::unique_ptr<HelperProcess> Start(const std::wstring& program,
                                                const std::wstring& arguments, std::string& why);
    // Closes the helper's input, which makes it put back whatever is still changed and end,
    // and waits a while for it.
    ~HelperProcess() override;
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    // False, too, when no reply comes within the time limit: a stopped helper must not hold
    // up the front end, nor a stop.
    bool Exchange(const std::string& request, std::string& reply) override;
    // Until set, a reply may take any time.
    void SetTimeLimit(std::chrono::milliseconds limit) { limit_ = limit; }
    HANDLE Process() const { return process_; }

private:
    HelperProcess(HANDLE process, HANDLE toHelper, HANDLE fromHelper)
        : process_(process), toHelper_(toHelper), fromHelper_(fromHelper) {}

    HANDLE process_;
    HANDLE toHelper_;
    HANDLE fromHelper_;
    std::string buffered_;
    std::chrono::milliseconds limit_{-1};
    bool silent_ = false;  // it let a time limit pass: not worth waiting for at the end
};

}  // namespace kestrel
