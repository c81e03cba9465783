// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The wizard's flow, whichever front end shows it: the job that Next starts on each page, the
// worker that runs it, what Quit does, and how quit signals stop the wizard. A front end derives
// from it, shows what the WizardContext calls ask for, ends when EndWizard says so, and hands the
// worker's last word to its UI thread.
#pragma once

#include <atomic>

#include "engine/engine.h"
#include "engine/pages.h"
#include "platform/process.h"
#include "platform/quit_signals.h"
#include "platform/threads.h"
#include "platform/wizard.h"

namespace kestrel {

class WizardFlow : public WizardContext {
public:
    // The thread entries receive the WizardContext; tests pass scripted jobs.
    explicit WizardFlow(ThreadEntry statusCheckEntry = StatusCheckThread,
                        ThreadEntry recoveryEntry = RecoveryThread);

    // Next (IDOK) on m_nPage: the welcome page starts the status check, the failed page the
    // recovery (Retry); the success page ends the wizard and then opens the login page; any
    // other page ends it. False only when no worker could be started: the working page then
    // stays up with timer 1 running and nothing else is undone.
    bool Next();
    // Quit (IDCANCEL): ends the wizard, the PC's settings put back first on the failed page.
    void Quit();
    // Quit once the job is known to be over, without asking whether one runs.
    void Leave();
    // From the start of a job to its worker's last word, and while the working page is up. The
    // buttons are hidden then, but keys still arrive: Next and Quit do nothing.
    bool JobRunning();

    // Installs the quit-signal pipe and returns its read end (-1: none); the front end calls
    // OnQuitSignal on its UI thread when it is readable.
    int ListenForQuitSignals();
    void OnQuitSignal();
    // On the UI thread, once the worker's last word (PostWorkerEnded) has arrived there.
    void OnWorkerEnded();

    int PageOnScreen() const { return m_nPageOnScreen; }
    // The quit signal that ended the wizard, 0 if none: the program then ends with 128 + it.
    int QuitSignal() const { return m_nQuitSignal; }
    // The program's exit status once the wizard has ended.
    int ExitStatus() const { return kestrel::ExitStatus(m_nPage, m_nQuitSignal); }

protected:
    // How the front end ends: accepted by Next, rejected by Quit or a quit signal.
    virtual void EndWizard(bool accepted) = 0;
    // After Next on the success page has ended the wizard.
    virtual void OpenLoginPage() = 0;
    // From the worker, its last touch of this object: the front end has its UI thread call
    // OnWorkerEnded.
    virtual void PostWorkerEnded() = 0;
    // The first quit signal: the status line reads kStoppingText from now to the end.
    virtual void ShowStopping() = 0;
    // A second quit signal: the process ends at once with `status`. The helper puts the PC's
    // settings back when its input ends.
    virtual void ExitNow(int status) = 0;

    // A front end calls it as it shows `page`: m_nPage follows every page but PAGE_WORKING.
    void PageShown(int page);
    bool WorkerActive() const { return m_bWorkerActive; }
    int QuitSignalFd() const { return m_quitSignalFd; }

    std::atomic<int> m_nQuitSignal{0};  // the first quit signal; from then on the wizard stops

private:
    bool StartJob(int target, unsigned tickMs, ThreadEntry entry);
    static unsigned WorkerMain(void* flow);

    const ThreadEntry m_statusCheckEntry;
    const ThreadEntry m_recoveryEntry;
    ThreadEntry m_workerEntry = nullptr;  // the job the worker about to start runs
    std::atomic<bool> m_bWorkerActive{false};
    std::atomic<int> m_nPageOnScreen{PAGE_WELCOME};
    int m_quitSignalFd = -1;
};

}  // namespace kestrel
