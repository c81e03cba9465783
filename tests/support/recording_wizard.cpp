// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/recording_wizard.h"

#include "platform/clock.h"

namespace kestrel::testing {

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
