// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/wizard_flow.h"

#include <mutex>

#include "netcfg/netcfg.h"
#include "platform/clock.h"

namespace kestrel {
namespace {

// The bar's target and timer 1's tick as each job starts; the recovery replaces the tick with
// its own as soon as it has planned the bar.
constexpr int kStatusCheckTarget = 100;
constexpr unsigned kStatusCheckTickMs = 100;
constexpr int kRecoveryTarget = 0;
constexpr unsigned kRecoveryTickMs = 25;

}  // namespace

WizardFlow::WizardFlow(ThreadEntry statusCheckEntry, ThreadEntry recoveryEntry)
    : m_statusCheckEntry(statusCheckEntry), m_recoveryEntry(recoveryEntry) {}

bool WizardFlow::Next() {
    if (JobRunning()) return true;
    switch (m_nPage) {
        case PAGE_WELCOME:
            return StartJob(kStatusCheckTarget, kStatusCheckTickMs, m_statusCheckEntry);
        case PAGE_FAILED:
            return StartJob(kRecoveryTarget, kRecoveryTickMs, m_recoveryEntry);
        case PAGE_SUCCESS:
            EndWizard(true);
            OpenLoginPage();
            return true;
        default:
            EndWizard(true);
            return true;
    }
}

void WizardFlow::Quit() {
    if (!JobRunning()) Leave();
}

void WizardFlow::Leave() {
    if (m_nPage == PAGE_FAILED) RestoreNetworkSettings(*this);
    EndWizard(false);
}

bool WizardFlow::JobRunning() {
    if (m_nPageOnScreen == PAGE_WORKING || m_bWorkerActive) return true;
    std::lock_guard<std::mutex> lock(m_workerLock);
    return m_hWorker != nullptr;
}

void WizardFlow::PageShown(int page) {
    if (page != PAGE_WORKING) m_nPage = page;
    m_nPageOnScreen = page;
}

bool WizardFlow::StartJob(int target, unsigned tickMs, ThreadEntry entry) {
    SetProgressPos(0);
    SetPage(PAGE_WORKING);
    m_nProgressTarget = target;
    SetTimer1(tickMs);
    // The worker takes the lock to close its handle: it never finds the handle not yet stored.
    std::lock_guard<std::mutex> lock(m_workerLock);
    m_workerEntry = entry;
    m_hWorker = BeginThread(&WizardFlow::WorkerMain, this);
    m_bWorkerActive = m_hWorker != nullptr;
    return m_bWorkerActive;
}

unsigned WizardFlow::WorkerMain(void* flow) {
    auto* self = static_cast<WizardFlow*>(flow);
    self->m_workerEntry(static_cast<WizardContext*>(self));
    self->PostWorkerEnded();  // from here on the UI thread may end the wizard
    return 0;
}

void WizardFlow::OnWorkerEnded() {
    m_bWorkerActive = false;
    // A stopped job ended on the failed page: the settings go back as Quit there puts them back.
    if (m_nQuitSignal) Leave();
}

int WizardFlow::ListenForQuitSignals() {
    m_quitSignalFd = InstallQuitSignalPipe();
    return m_quitSignalFd;
}

void WizardFlow::OnQuitSignal() {
    int signal = 0;
    const int count = DrainQuitSignalPipe(m_quitSignalFd, signal);
    if (count == 0) return;
    if (m_nQuitSignal || count > 1) {
        ExitNow(EXIT_SIGNAL_BASE + signal);
        return;
    }
    m_nQuitSignal = signal;
    ShowStopping();
    // The job stops at its next step boundary and ends on the failed page; OnWorkerEnded then
    // leaves.
    RequestStop();
    if (!m_bWorkerActive) Leave();
}

}  // namespace kestrel
