// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for the wizard dialog that records, in order, everything a job and the wizard's flow
// do to the window, and scripted jobs that a front end under test runs in place of the real ones.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/wizard_flow.h"

namespace kestrel::testing {

struct WizardEvent {
    enum Kind {
        Page,
        Status,
        Position,
        Timer,
        KillTimer,
        Box,
        End,
        LoginPage,
        Stopping,
        Exit
    } kind;
    std::string text;        // status text, box text
    std::string caption;     // box caption
    int value = 0;           // page, position, timer interval, accepted, exit status
    int target = 0;          // m_nProgressTarget at the time of the call
    std::uint64_t tick = 0;  // GetTickCount64() at the time of the call

    bool operator==(const WizardEvent&) const = default;
};

// Without a UI thread: AwaitWorker stands in for the event loop that gets the worker's end.
class RecordingWizard : public WizardFlow {
public:
    using WizardFlow::QuitSignalFd;
    using WizardFlow::WizardFlow;

    void SetPage(int page) override;
    void SetStatusText(const std::string& text) override;
    void SetProgressPos(int position) override;
    void SetTimer1(unsigned intervalMs) override;
    void KillTimer1() override;
    void MessageBox(const std::string& text, const std::string& caption) override;

    std::vector<WizardEvent> Events() const;
    std::vector<WizardEvent> EventsOf(WizardEvent::Kind kind) const;
    // "caption: text" of every box, in order.
    std::vector<std::string> Boxes() const;
    // Waits for the worker's last word, then calls OnWorkerEnded as the UI thread does.
    void AwaitWorker();

private:
    void EndWizard(bool accepted) override;
    void OpenLoginPage() override;
    void PostWorkerEnded() override;
    void ShowStopping() override;
    void ExitNow(int status) override;
    void Record(WizardEvent event);
    std::atomic<bool> workerEnded_{false};
    mutable std::mutex lock_;
    std::vector<WizardEvent> events_;
};

// The jobs the next workers run, one each in turn; a worker past the last runs nothing.
using ScriptedJob = std::function<void(WizardContext&)>;
void ScriptJobs(std::vector<ScriptedJob> jobs);
// How many workers have started since ScriptJobs.
int JobsStarted();
// A thread entry for the front end's constructor: runs the next job, then ends as the real
// entries end (EndWorker).
unsigned ScriptedEntry(void* wizard);

}  // namespace kestrel::testing
