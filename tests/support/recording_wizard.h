// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for the wizard dialog that records, in order, everything a job does to the window,
// and scripted jobs that a front end under test runs in place of the real ones.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/wizard.h"

namespace kestrel::testing {

struct WizardEvent {
    enum Kind { Page, Status, Position, Timer, KillTimer, Box } kind;
    std::string text;        // status text, box text
    std::string caption;     // box caption
    int value = 0;           // page, position, timer interval
    int target = 0;          // m_nProgressTarget at the time of the call
    std::uint64_t tick = 0;  // GetTickCount64() at the time of the call

    bool operator==(const WizardEvent&) const = default;
};

class RecordingWizard : public WizardContext {
public:
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

    int currentPage = PAGE_WORKING;  // the page on screen

private:
    void Record(WizardEvent event);
    mutable std::mutex lock_;
    std::vector<WizardEvent> events_;
};

// The jobs the next workers run, one each in turn; a worker past the last runs nothing.
using ScriptedJob = std::function<void(WizardContext&)>;
void ScriptJobs(std::vector<ScriptedJob> jobs);
// How many workers have started since ScriptJobs.
int JobsStarted();
// A thread entry for the front end's constructor: runs the next job, then ends as the real
// entries end, its handle closed and cleared and timer 1 stopped.
unsigned ScriptedEntry(void* wizard);

}  // namespace kestrel::testing
