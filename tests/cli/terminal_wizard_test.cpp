// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The terminal front end with scripted jobs: the live line on a pseudo-terminal read back as a
// screen, the log lines anywhere else, the way it ends and the stop on quit signals.
#include "cli/terminal_wizard.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "netcfg/netcfg.h"
#include "platform/clock.h"
#include "tests/support/fake_ip_helper.h"

namespace kestrel {
namespace {

using namespace std::chrono_literals;

using Job = std::function<void(WizardContext&)>;
std::vector<Job> jobs;  // run in turn, one per worker
int jobsRun = 0;

unsigned ScriptedEntry(void* argument) {
    auto& wizard = *static_cast<WizardContext*>(argument);
    jobs.at(static_cast<std::size_t>(jobsRun++))(wizard);
    {
        std::lock_guard<std::mutex> lock(wizard.m_workerLock);
        CloseHandle(wizard.m_hWorker);
        wizard.m_hWorker = nullptr;
    }
    wizard.KillTimer1();
    return 0;
}

// The lines a terminal shows for `bytes`: a carriage return goes back to the line's start.
std::vector<std::string> Screen(const std::string& bytes) {
    std::vector<std::string> lines{""};
    std::size_t column = 0;
    for (char c : bytes) {
        if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            lines.emplace_back();
            column = 0;
        } else {
            std::string& line = lines.back();
            if (line.size() <= column) line.resize(column + 1, ' ');
            line[column++] = c;
        }
    }
    for (std::string& line : lines) line.erase(line.find_last_not_of(' ') + 1);
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

// A terminal of 60 columns, or a pipe, for the wizard's output; its answers come from `answers`.
class Console {
public:
    Console(bool terminal, const std::string& answers) {
        if (terminal) {
            winsize size{};
            size.ws_row = 24;
            size.ws_col = 60;
            EXPECT_EQ(openpty(&reader_, &writer_, nullptr, nullptr, &size), 0);
            in_ = writer_;
            EXPECT_EQ(write(reader_, answers.data(), answers.size()),
                      static_cast<ssize_t>(answers.size()));
        } else {
            int ends[2];
            EXPECT_EQ(pipe(ends), 0);
            reader_ = ends[0];
            writer_ = ends[1];
            in_ = open("/dev/null", O_RDONLY);
        }
        out_ = fdopen(writer_, "w");
        drain_ = std::thread([this] {
            char buffer[4096];
            ssize_t got;
            while ((got = read(reader_, buffer, sizeof buffer)) > 0) bytes_.append(buffer, got);
        });
    }
    // Everything written, once the wizard is gone.
    std::string Close() {
        std::fclose(out_);
        if (in_ != writer_) close(in_);
        drain_.join();
        close(reader_);
        return bytes_;
    }
    int in() const { return in_; }
    std::FILE* out() const { return out_; }

private:
    int reader_ = -1, writer_ = -1, in_ = -1;
    std::FILE* out_ = nullptr;
    std::thread drain_;
    std::string bytes_;
};

class Terminal : public ::testing::Test {
protected:
    void TearDown() override { ClearStopRequest(); }

    // Runs the wizard from its start with `script` as its jobs on a PC with one adapter;
    // returns the exit status.
    int Run(bool terminal, std::vector<Job> script, const std::string& answers = "") {
        world_.emplace();
        world_->AddAdapter(3, "eth0");
        jobs = std::move(script);
        jobsRun = 0;
        Console console(terminal, answers);
        int status = -1;
        {
            TerminalWizard wizard(console.in(), console.out(), stderr, ScriptedEntry,
                                  ScriptedEntry);
            wizard.SetProcessExit([this](int code) { exited_ = code; });
            status = wizard.Run(false);
        }
        output_ = console.Close();
        return status;
    }

    std::optional<testing::FakeIpHelper> world_;
    std::string output_;
    std::atomic<int> exited_{0};  // the status it would have left with at once
};

// The bar follows SetProgressPos and timer 1 up to one step past the target.
void UploadHalfway(WizardContext& wizard) {
    wizard.SetTimer1(10);
    wizard.SetProgressPos(480);
    wizard.RaiseProgressTarget(400);
    Sleep(400);
    wizard.SetStatusText("uploading firmware to the router...");
    wizard.SetPage(PAGE_SUCCESS);
}

TEST_F(Terminal, OneLiveLineOnATerminalAndOneTimestampedLinePerChangeElsewhere) {
    const std::string working =
        "Router recovering in progress, please wait. DO NOT turn off the power during this "
        "progress.";
    const std::vector<std::string> success = {
        "Congratulations!", "You Router is successfully recovered.",
        "Click Next to configure the router again.", "http://router.kestrel.home"};

    ASSERT_EQ(Run(true, {UploadHalfway}), 0);
    std::vector<std::string> screen = Screen(output_);
    // Redrawn in place, never wider than the terminal; the pages' paragraphs on their own lines.
    std::vector<std::string> expected = {
        working, "[##########..........]  50%  0:00  uploading firmware to th"};
    expected.insert(expected.end(), success.begin(), success.end());
    ASSERT_GE(screen.size(), expected.size());
    screen.erase(screen.begin(), screen.end() - static_cast<long>(expected.size()));
    EXPECT_EQ(screen, expected) << output_;

    ASSERT_EQ(Run(false, {UploadHalfway}), 0);
    expected = {working, "checking router status...", "uploading firmware to the router..."};
    expected.insert(expected.end(), success.begin(), success.end());
    std::vector<std::string> lines;
    const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d (.*))");
    for (const std::string& line : Screen(output_)) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, stamped)) << line;
        lines.push_back(match[1]);
    }
    lines.erase(lines.begin(), lines.begin() + 3);  // the welcome page's paragraphs
    EXPECT_EQ(lines, expected);
    for (char c : output_) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= ' ');
}

TEST_F(Terminal, EndsWithTheStatusOfItsOutcomeAndTheSettingsBack) {
    auto endsOn = [](int page) {
        return [page](WizardContext& wizard) {
            if (page == PAGE_FAILED) InsetIPEntry(wizard, "10.0.0.1", "255.0.0.0", 3);
            wizard.SetPage(page);
        };
    };
    struct Case {
        const char* title;
        bool terminal;
        std::vector<Job> jobs;
        std::string answers;
        int status;
        int jobsRun;
        int restores;  // the settings put back
        bool url;      // the login page's address printed last
    };
    const Case cases[] = {
        {"a working router", true, {endsOn(PAGE_ROUTER_OK)}, "", 0, 1, 0, false},
        {"recovered", false, {endsOn(PAGE_SUCCESS)}, "", 0, 1, 0, true},
        {"failed without a terminal: no retry", false, {endsOn(PAGE_FAILED)}, "", 2, 1, 1, false},
        {"failed, retried and failed again",
         true,
         {endsOn(PAGE_FAILED), endsOn(PAGE_FAILED)},
         "y\nn\n",
         2,
         2,
         1,
         false},
        {"failed, and the input ends", true, {endsOn(PAGE_FAILED)}, "\x04", 2, 1, 1, false},
        {"failed, retried and recovered",
         true,
         {endsOn(PAGE_FAILED),
          [](WizardContext& wizard) {
              RestoreNetworkSettings(wizard);
              wizard.SetPage(PAGE_SUCCESS);
          }},
         "yes\n",
         0,
         2,
         1,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        EXPECT_EQ(Run(c.terminal, c.jobs, c.answers), c.status);
        EXPECT_EQ(jobsRun, c.jobsRun);
        EXPECT_EQ(world_->AddressTexts().size(), static_cast<std::size_t>(c.restores));
        EXPECT_EQ(Screen(output_).back().ends_with("http://router.kestrel.home"), c.url);
    }
}

TEST_F(Terminal, AQuitSignalStopsTheJobAndPutsTheSettingsBackASecondLeavesAtOnce) {
    for (int signals : {1, 2}) {
        SCOPED_TRACE(signals);
        exited_ = 0;
        ClearStopRequest();
        const int status = Run(false, {[this, signals](WizardContext& wizard) {
                                   InsetIPEntry(wizard, "10.0.0.1", "255.0.0.0", 3);
                                   raise(SIGINT);
                                   Sleep(60000);  // a pause that only a stop cuts short
                                   if (signals == 2) {
                                       raise(SIGINT);  // while the job still winds down
                                       for (int i = 0; i < 500 && !exited_; ++i)
                                           std::this_thread::sleep_for(10ms);
                                   }
                                   wizard.SetStatusText("uploading firmware to the router...");
                                   wizard.SetPage(PAGE_FAILED);
                               }});
        const std::vector<std::string> screen = Screen(output_);
        EXPECT_NE(screen.back().find("stopping, restoring PC network settings..."),
                  std::string::npos);
        EXPECT_EQ(exited_, signals == 2 ? 128 + SIGINT : 0);
        EXPECT_EQ(status, 128 + SIGINT);
        EXPECT_EQ(world_->AddressTexts(), std::vector<std::string>{"10.0.0.1/255.0.0.0 on 3"});
    }
}

}  // namespace
}  // namespace kestrel
