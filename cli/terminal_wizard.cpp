// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/terminal_wizard.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "cli/terminal.h"
#include "engine/pages.h"
#include "ipc/quit_signals.h"
#include "netcfg/netcfg.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/threads.h"

namespace kestrel {
namespace {

constexpr int kProgressUpper = 1000;
constexpr int kProgressStep = 2;
constexpr int kBarWidth = 20;
// Timer 1 may be re-armed by the worker at any time: look at least this often.
constexpr int kLongestWaitMs = 50;

std::string TimeStamp() {
    const std::time_t now = std::time(nullptr);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
    return text;
}

}  // namespace

TerminalWizard::TerminalWizard(int in, std::FILE* out, std::FILE* err, ThreadEntry statusCheckEntry,
                               ThreadEntry recoveryEntry)
    : m_in(in),
      m_out(out),
      m_err(err),
      m_bLive(IsTerminal(fileno(out))),
      m_statusCheckEntry(statusCheckEntry),
      m_recoveryEntry(recoveryEntry),
      m_exitProcess([](int status) { std::_Exit(status); }),
      m_quitSignalFd(InstallQuitSignalPipe()) {}

TerminalWizard::~TerminalWizard() {
    while (m_bWorkerActive) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    DiscardSavedSettings(*this);
    CloseFirmwareImage(m_hFirmwareFile);
}

int TerminalWizard::Run(bool openLoginPage) {
    SetPage(PAGE_WELCOME);
    bool started = RunJob(100, 100, m_statusCheckEntry);
    while (started && !m_nQuitSignal && m_nPage == PAGE_FAILED && AskRetry())
        started = RunJob(0, 25, m_recoveryEntry);
    if (!started) MessageBox("Create thread failed", "Failed");
    if (started && !m_nQuitSignal && m_nPage == PAGE_SUCCESS) {
        {
            std::lock_guard<std::mutex> lock(m_screenLock);
            Say(kSetupPageUrl);
        }
        if (openLoginPage) OpenUrlInBrowser(kSetupPageUrl);
    }
    // Leaving from the failed page, however: the settings go back first, as Quit there does.
    if (m_nPage == PAGE_FAILED) RestoreNetworkSettings(*this);
    return ExitStatus(m_nPage, m_nQuitSignal);
}

bool TerminalWizard::RunJob(int target, unsigned tickMs, ThreadEntry entry) {
    {
        std::lock_guard<std::mutex> lock(m_screenLock);
        m_nPos = 0;
        m_jobStart = GetTickCount64();
        ShowPage(PAGE_WORKING);
        m_nProgressTarget = target;
        m_nTimerMs = tickMs;
        m_nextTick = m_jobStart + tickMs;
    }
    bool started = false;
    {
        // Decided here, not from m_bWorkerActive afterwards: a job that ends at once clears that
        // itself before this thread looks.
        std::lock_guard<std::mutex> lock(m_workerLock);
        m_workerEntry = entry;
        m_bWorkerActive = true;
        m_hWorker = BeginThread(&TerminalWizard::WorkerMain, this);
        started = m_hWorker != nullptr;
        if (!started) m_bWorkerActive = false;
    }
    if (!started) {
        std::lock_guard<std::mutex> lock(m_screenLock);
        EndLiveLine();
        return false;
    }
    while (m_bWorkerActive) {
        if (WaitForInputOrQuit(-1, m_quitSignalFd, TimerWaitMs()) == Waited::QuitSignal)
            OnQuitSignal();
        OnTimer();
    }
    return true;
}

unsigned TerminalWizard::WorkerMain(void* wizard) {
    auto* self = static_cast<TerminalWizard*>(wizard);
    self->m_workerEntry(static_cast<WizardContext*>(self));
    // The worker's last touch of this object.
    self->m_bWorkerActive = false;
    return 0;
}

bool TerminalWizard::AskRetry() {
    if (!m_bLive || !IsTerminal(m_in)) return false;
    {
        std::lock_guard<std::mutex> lock(m_screenLock);
        std::fputs("Retry? [y/N] ", m_out);
        std::fflush(m_out);
    }
    Waited waited;
    while ((waited = WaitForInputOrQuit(m_in, m_quitSignalFd, -1)) == Waited::Timeout) {
    }
    std::string answer;
    if (waited == Waited::QuitSignal) {
        int signal = 0;
        if (DrainQuitSignalPipe(m_quitSignalFd, signal) > 0) m_nQuitSignal = signal;
    } else if (ReadLine(m_in, answer)) {
        return answer == "y" || answer == "Y" || answer == "yes";
    }
    std::fputc('\n', m_out);
    return false;
}

void TerminalWizard::OnQuitSignal() {
    int signal = 0;
    const int count = DrainQuitSignalPipe(m_quitSignalFd, signal);
    if (count == 0) return;
    std::lock_guard<std::mutex> lock(m_screenLock);
    // A second signal: leave at once. The helper puts the PC's settings back when its input
    // ends.
    if (m_nQuitSignal || count > 1) {
        EndLiveLine();
        m_exitProcess(128 + signal);
        return;
    }
    m_nQuitSignal = signal;
    m_strStatus = kStoppingText;
    ShowStatus();
    // The job stops at its next step boundary and ends on the failed page.
    RequestStop();
}

int TerminalWizard::TimerWaitMs() {
    std::lock_guard<std::mutex> lock(m_screenLock);
    if (!m_nTimerMs) return kLongestWaitMs;
    const std::uint64_t now = GetTickCount64();
    return m_nextTick <= now
               ? 0
               : static_cast<int>(std::min<std::uint64_t>(m_nextTick - now, kLongestWaitMs));
}

void TerminalWizard::OnTimer() {
    std::lock_guard<std::mutex> lock(m_screenLock);
    const std::uint64_t now = GetTickCount64();
    if (m_nTimerMs && now >= m_nextTick) {
        // Up to one step past the target. The window's bar starts again from nothing past its
        // end and is hidden a second later; here the last line stays on screen, so it stays full.
        if (m_nPos <= m_nProgressTarget.load())
            m_nPos = std::min(m_nPos + kProgressStep, kProgressUpper);
        m_nextTick = now + m_nTimerMs;
    }
    Redraw();  // the elapsed time moves on too
}

void TerminalWizard::SetPage(int page) {
    std::lock_guard<std::mutex> lock(m_screenLock);
    ShowPage(page);
}

void TerminalWizard::SetStatusText(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_screenLock);
    // Stopping says so until the end; a log gets a line only for a change.
    if (m_nQuitSignal || text == m_strStatus) return;
    m_strStatus = text;
    ShowStatus();
}

void TerminalWizard::SetProgressPos(int position) {
    std::lock_guard<std::mutex> lock(m_screenLock);
    m_nPos = std::clamp(position, 0, kProgressUpper);
    Redraw();
}

void TerminalWizard::SetTimer1(unsigned intervalMs) {
    std::lock_guard<std::mutex> lock(m_screenLock);
    m_nTimerMs = intervalMs;
    m_nextTick = GetTickCount64() + intervalMs;
}

void TerminalWizard::KillTimer1() {
    std::lock_guard<std::mutex> lock(m_screenLock);
    m_nTimerMs = 0;
}

void TerminalWizard::MessageBox(const std::string& text, const std::string& caption) {
    std::lock_guard<std::mutex> lock(m_screenLock);
    // A diagnostic holds nothing up here: it is printed and the job goes on.
    ClearLiveLine();
    std::fprintf(m_err, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(m_err);
    Redraw();
}

void TerminalWizard::ShowPage(int page) {
    if (page != PAGE_WORKING) m_nPage = page;
    m_nPageOnScreen = page;
    if (page == PAGE_WORKING) {
        Say(kPageTexts[PAGE_WORKING]);
        m_strStatus = kCheckingText;
        ShowStatus();
        return;
    }
    EndLiveLine();
    // A stop ends on the failed page, which then offers nothing.
    if (!m_nQuitSignal) Say(kPageTexts[page]);
}

void TerminalWizard::ShowStatus() {
    if (m_bLive)
        Redraw();
    else
        Say(m_strStatus);
}

// Each paragraph on a line of its own; without a terminal each line carries the time.
void TerminalWizard::Say(const std::string& text) {
    ClearLiveLine();
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) {
            const std::string line = text.substr(start, end - start);
            if (m_bLive)
                std::fprintf(m_out, "%s\n", line.c_str());
            else
                std::fprintf(m_out, "%s %s\n", TimeStamp().c_str(), line.c_str());
        }
        start = end + 1;
    }
    std::fflush(m_out);
    Redraw();
}

void TerminalWizard::Redraw() {
    if (!m_bLive || m_nPageOnScreen != PAGE_WORKING) return;
    const std::string line = LiveLine();
    if (line == m_drawnLine) return;
    // Blanks over what is left of a longer line: no terminal control sequences needed.
    const std::size_t blanks =
        m_drawnLine.size() > line.size() ? m_drawnLine.size() - line.size() : 0;
    std::fprintf(m_out, "\r%s%s", line.c_str(), std::string(blanks, ' ').c_str());
    std::fflush(m_out);
    m_drawnLine = line;
}

void TerminalWizard::ClearLiveLine() {
    if (m_drawnLine.empty()) return;
    std::fprintf(m_out, "\r%s\r", std::string(m_drawnLine.size(), ' ').c_str());
    m_drawnLine.clear();
}

// The live line stays on screen as the job left it.
void TerminalWizard::EndLiveLine() {
    if (m_drawnLine.empty()) return;
    std::fputc('\n', m_out);
    std::fflush(m_out);
    m_drawnLine.clear();
}

std::string TerminalWizard::LiveLine() const {
    const int filled = m_nPos * kBarWidth / kProgressUpper;
    const std::uint64_t seconds = (GetTickCount64() - m_jobStart) / 1000;
    char head[64] = {};
    std::snprintf(head, sizeof head, "[%s%s] %3d%%  %llu:%02llu  ",
                  std::string(static_cast<std::size_t>(filled), '#').c_str(),
                  std::string(static_cast<std::size_t>(kBarWidth - filled), '.').c_str(),
                  m_nPos / 10, static_cast<unsigned long long>(seconds / 60),
                  static_cast<unsigned long long>(seconds % 60));
    std::string line = head + m_strStatus;
    // Never wider than the terminal: a wrapped line could not be redrawn in place.
    const int columns = TerminalColumns(fileno(m_out));
    if (columns > 1 && line.size() >= static_cast<std::size_t>(columns))
        line.resize(static_cast<std::size_t>(columns - 1));
    return line;
}

}  // namespace kestrel
