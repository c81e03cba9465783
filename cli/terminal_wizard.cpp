// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/terminal_wizard.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "cli/terminal.h"
#include "engine/pages.h"
#include "netcfg/netcfg.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/quit_signals.h"
#include "platform/threads.h"

namespace kestrel {
namespace {

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
    : WizardFlow(statusCheckEntry, recoveryEntry),
      m_in(in),
      m_out(out),
      m_err(err),
      m_bLive(IsTerminal(fileno(out))),
      m_exitProcess([](int status) { std::_Exit(status); }) {
    ListenForQuitSignals();
}

TerminalWizard::~TerminalWizard() {
    while (WorkerActive() && !m_bWorkerEnded)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    DiscardSavedSettings(*this);
    CloseFirmwareImage(m_hFirmwareFile);
}

int TerminalWizard::Run(bool openLoginPage) {
    m_bOpenLoginPage = openLoginPage;
    SetPage(PAGE_WELCOME);
    bool started = RunJob();
    while (started && !m_bEnded && m_nPage == PAGE_FAILED && AskRetry()) started = RunJob();
    if (!started) MessageBox(kNoWorkerText, kNoWorkerCaption);
    // The last page's way out unless a quit signal took it: Next on the success page, else
    // Quit, which puts the settings back on the failed page.
    if (!m_bEnded) {
        if (m_nPage == PAGE_SUCCESS)
            Next();
        else
            Leave();
    }
    return ExitStatus();
}

bool TerminalWizard::RunJob() {
    m_bWorkerEnded = false;
    if (!Next()) {
        std::lock_guard<std::mutex> lock(m_screenLock);
        EndLiveLine();
        return false;
    }
    while (WorkerActive() && !m_bWorkerEnded) {
        if (WaitForInputOrQuit(-1, QuitSignalFd(), TimerWaitMs()) == Waited::QuitSignal)
            OnQuitSignal();
        OnTimer();
    }
    if (m_bWorkerEnded) OnWorkerEnded();
    return true;
}

void TerminalWizard::PostWorkerEnded() {
    m_bWorkerEnded = true;
}

void TerminalWizard::EndWizard(bool) {
    m_bEnded = true;
}

void TerminalWizard::OpenLoginPage() {
    {
        std::lock_guard<std::mutex> lock(m_screenLock);
        Say(kSetupPageUrl);
    }
    if (m_bOpenLoginPage) OpenUrlInBrowser(kSetupPageUrl);
}

bool TerminalWizard::AskRetry() {
    if (!m_bLive || !IsTerminal(m_in)) return false;
    {
        std::lock_guard<std::mutex> lock(m_screenLock);
        std::fputs("Retry? [y/N] ", m_out);
        std::fflush(m_out);
    }
    Waited waited;
    while ((waited = WaitForInputOrQuit(m_in, QuitSignalFd(), -1)) == Waited::Timeout) {
    }
    std::string answer;
    if (waited == Waited::QuitSignal) {
        int signal = 0;
        // The question is answered no; the settings go back as Quit puts them back.
        if (DrainQuitSignalPipe(QuitSignalFd(), signal) > 0) m_nQuitSignal = signal;
    } else if (ReadLine(m_in, answer)) {
        return answer == "y" || answer == "Y" || answer == "yes";
    }
    std::fputc('\n', m_out);
    return false;
}

void TerminalWizard::ShowStopping() {
    std::lock_guard<std::mutex> lock(m_screenLock);
    m_strStatus = kStoppingText;
    ShowStatus();
}

void TerminalWizard::ExitNow(int status) {
    std::lock_guard<std::mutex> lock(m_screenLock);
    EndLiveLine();
    m_exitProcess(status);
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
        if (TimerSteps(m_nPos, m_nProgressTarget.load()))
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
    std::fprintf(m_err, "%s: %s\n", caption.c_str(), Printable(text).c_str());
    std::fflush(m_err);
    Redraw();
}

void TerminalWizard::ShowPage(int page) {
    PageShown(page);
    if (page == PAGE_WORKING) {
        m_jobStart = GetTickCount64();
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
    if (!m_bLive || PageOnScreen() != PAGE_WORKING) return;
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
