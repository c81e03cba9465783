// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/recording_wizard.h"

#include <atomic>

#include "platform/clock.h"
#include "platform/threads.h"

namespace kestrel::testing {
namespace {

std::vector<ScriptedJob> scriptedJobs;
std::atomic<int> jobsStarted{0};

}  // namespace

void ScriptJobs(std::vector<ScriptedJob> jobs) {
    scriptedJobs = std::move(jobs);
    jobsStarted = 0;
}

int JobsStarted() {
    return jobsStarted;
}

unsigned ScriptedEntry(void* argument) {
    auto& wizard = *static_cast<WizardContext*>(argument);
    const auto next = static_cast<std::size_t>(jobsStarted++);
    if (next < scriptedJobs.size()) scriptedJobs[next](wizard);
    {
        std::lock_guard<std::mutex> guard(wizard.m_workerLock);
        CloseHandle(wizard.m_hWorker);
        wizard.m_hWorker = nullptr;
    }
    wizard.KillTimer1();
    return 0;
}

void RecordingWizard::Record(WizardEvent event) {
    event.target = m_nProgressTarget.load();
    event.tick = GetTickCount64();
    std::lock_guard<std::mutex> guard(lock_);
    events_.push_back(std::move(event));
}

void RecordingWizard::SetPage(int page) {
    if (page != PAGE_WORKING) m_nPage = page;
    currentPage = page;
    Record({WizardEvent::Page, {}, {}, page});
}

void RecordingWizard::SetStatusText(const std::string& text) {
    Record({WizardEvent::Status, text, {}, 0});
}

void RecordingWizard::SetProgressPos(int position) {
    Record({WizardEvent::Position, {}, {}, position});
}

void RecordingWizard::SetTimer1(unsigned intervalMs) {
    Record({WizardEvent::Timer, {}, {}, static_cast<int>(intervalMs)});
}

void RecordingWizard::KillTimer1() {
    Record({WizardEvent::KillTimer, {}, {}, 0});
}

void RecordingWizard::MessageBox(const std::string& text, const std::string& caption) {
    Record({WizardEvent::Box, text, caption, 0});
}

std::vector<WizardEvent> RecordingWizard::Events() const {
    std::lock_guard<std::mutex> guard(lock_);
    return events_;
}

std::vector<WizardEvent> RecordingWizard::EventsOf(WizardEvent::Kind kind) const {
    std::vector<WizardEvent> out;
    for (const auto& event : Events())
        if (event.kind == kind) out.push_back(event);
    return out;
}

std::vector<std::string> RecordingWizard::Boxes() const {
    std::vector<std::string> out;
    for (const auto& event : EventsOf(WizardEvent::Box))
        out.push_back(event.caption + ": " + event.text);
    return out;
}

}  // namespace kestrel::testing
