// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/recording_wizard.h"

#include <thread>

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
    EndWorker(wizard);
    return 0;
}

void RecordingWizard::Record(WizardEvent event) {
    event.target = m_nProgressTarget.load();
    event.tick = GetTickCount64();
    std::lock_guard<std::mutex> guard(lock_);
    events_.push_back(std::move(event));
}

void RecordingWizard::SetPage(int page) {
    PageShown(page);
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

void RecordingWizard::EndWizard(bool accepted) {
    Record({WizardEvent::End, {}, {}, accepted});
}

void RecordingWizard::OpenLoginPage() {
    Record({WizardEvent::LoginPage, {}, {}, 0});
}

void RecordingWizard::ShowStopping() {
    Record({WizardEvent::Stopping, {}, {}, 0});
}

void RecordingWizard::ExitNow(int status) {
    Record({WizardEvent::Exit, {}, {}, status});
}

void RecordingWizard::PostWorkerEnded() {
    workerEnded_ = true;
}

void RecordingWizard::AwaitWorker() {
    while (!workerEnded_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    workerEnded_ = false;
    OnWorkerEnded();
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
