// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The wizard on a terminal: the same jobs through their WizardContext, with the pages as short
// messages. On a terminal the status is one live line with the bar, redrawn in place; anywhere
// else (a pipe, a log) it is one timestamped line per change.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#include "engine/engine.h"
#include "platform/wizard.h"

namespace kestrel {

class TerminalWizard final : public WizardContext {
public:
    using ProcessExit = std::function<void(int status)>;

    // Reads answers from `in`, writes pages and status to `out` and diagnostics to `err`. The
    // thread entries receive the WizardContext; tests pass scripted jobs.
    TerminalWizard(int in, std::FILE* out, std::FILE* err,
                   ThreadEntry statusCheckEntry = StatusCheckThread,
                   ThreadEntry recoveryEntry = RecoveryThread);
    // Waits for a worker still running; frees unapplied records and closes the image.
    ~TerminalWizard() override;
    TerminalWizard(const TerminalWizard&) = delete;
    TerminalWizard& operator=(const TerminalWizard&) = delete;

    // From the welcome page to the end, as the wizard's buttons would go: the status check,
    // then on a failure Retry while a terminal says so. The settings are back before it
    // returns. Returns the exit status.
    int Run(bool openLoginPage);

    int QuitSignal() const { return m_nQuitSignal; }
    void SetProcessExit(ProcessExit exit) { m_exitProcess = std::move(exit); }

    // WizardContext: callable from the worker. There is no UI thread to hand over to: each call
    // takes effect and is drawn under one lock before it returns.
    void SetPage(int page) override;
    void SetStatusText(const std::string& text) override;
    void SetProgressPos(int position) override;
    void SetTimer1(unsigned intervalMs) override;
    void KillTimer1() override;
    void MessageBox(const std::string& text, const std::string& caption) override;

private:
    // Starts a job as Next and Retry do and runs timer 1 until the worker's last word. False
    // when no worker could be started.
    bool RunJob(int target, unsigned tickMs, ThreadEntry entry);
    static unsigned WorkerMain(void* wizard);
    bool AskRetry();
    void OnQuitSignal();
    int TimerWaitMs();
    void OnTimer();

    // Under m_screenLock.
    void ShowPage(int page);
    void ShowStatus();
    void Say(const std::string& text);
    void Redraw();
    void ClearLiveLine();
    void EndLiveLine();
    std::string LiveLine() const;

    const int m_in;
    std::FILE* const m_out;
    std::FILE* const m_err;
    const bool m_bLive;
    const ThreadEntry m_statusCheckEntry;
    const ThreadEntry m_recoveryEntry;
    ThreadEntry m_workerEntry = nullptr;
    ProcessExit m_exitProcess;
    int m_quitSignalFd = -1;
    std::atomic<bool> m_bWorkerActive{false};
    std::atomic<int> m_nQuitSignal{0};

    std::mutex m_screenLock;
    int m_nPageOnScreen = PAGE_WELCOME;
    int m_nPos = 0;  // the bar, 0 to 1000
    std::string m_strStatus;
    unsigned m_nTimerMs = 0;  // 0: timer 1 is not running
    std::uint64_t m_nextTick = 0;
    std::uint64_t m_jobStart = 0;
    std::string m_drawnLine;  // the live line as it stands on the terminal
};

}  // namespace kestrel
