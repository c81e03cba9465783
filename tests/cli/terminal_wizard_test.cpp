// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The terminal front end with scripted jobs on a fake PC, which sends nothing: the live line on a
// pseudo-terminal read back as a screen, the log lines anywhere else, a router's words escaped,
// Retry on a terminal and the stop on quit signals.
#include "cli/terminal_wizard.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <csignal>
#include <regex>
#include <thread>

#include "engine/pages.h"
#include "netcfg/netcfg.h"
#include "platform/clock.h"
#include "tests/support/helper_pc.h"
#include "tests/support/recording_wizard.h"

namespace kestrel {
namespace {

// The lines a terminal shows for `bytes`: a carriage return goes back to the line's start.
std::vector<std::string> Screen(const std::string& bytes) {
    std::vector<std::string> lines{""};
    std::size_t column = 0;  // the characters left of the cursor
    for (char c : bytes) {
        if (c == '\n') lines.emplace_back();
        column = c == '\r' || c == '\n' ? 0 : column + 1;
        if (column == 0) continue;
        lines.back().resize(std::max(lines.back().size(), column), ' ');
        lines.back()[column - 1] = c;
    }
    for (std::string& line : lines) line.erase(line.find_last_not_of(' ') + 1);
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

class Terminal : public ::testing::Test {
protected:
    void TearDown() override { ClearStopRequest(); }

    // Runs the wizard with `jobs` on a PC with one adapter, on a terminal of 60 columns where
    // `typed` was typed ahead, or into a file (its boxes too); returns its status.
    int Run(bool terminal, std::vector<testing::ScriptedJob> jobs, const std::string& typed = "") {
        world_.emplace("link 3 eth0\naddress 192.168.1.100/24 dev 3");
        testing::ScriptJobs(std::move(jobs));
        winsize size{24, 60, 0, 0};
        int screen = -1, tty = -1;
        if (terminal) {
            EXPECT_EQ(openpty(&screen, &tty, nullptr, nullptr, &size), 0);
            EXPECT_EQ(write(screen, typed.data(), typed.size()), ssize_t(typed.size()));
        }
        std::FILE* out = terminal ? fdopen(tty, "w") : std::tmpfile();
        output_.clear();
        std::thread drain([&] {
            for (char c; read(screen, &c, 1) == 1;) output_ += c;
        });
        TerminalWizard wizard(fileno(out), out, out, testing::ScriptedEntry,
                              testing::ScriptedEntry);
        const int status = wizard.Run(false);
        std::rewind(out);
        for (int c; !terminal && (c = std::fgetc(out)) != EOF;) output_ += static_cast<char>(c);
        std::fclose(out);
        drain.join();
        if (terminal) close(screen);
        return status;
    }

    std::optional<testing::HelperPc> world_;
    std::string output_;
};

// The bar follows SetProgressPos and timer 1 up to one step past the target; a status set twice
// is said once. Then a boot loader's error text, which must neither set the window's title nor
// overwrite the failure with another word, and the job fails.
void UploadHalfwayAndFail(WizardContext& wizard) {
    wizard.SetTimer1(10);
    wizard.SetProgressPos(480);
    wizard.RaiseProgressTarget(400);
    Sleep(400);
    for (int i = 0; i < 2; ++i) wizard.SetStatusText("uploading firmware to the router...");
    wizard.MessageBox("\x1b]0;owned\x07\r\xc2\23332mcompl\xc3\xa9t\x7f", "TFTP");  // \233: C1's CSI
    wizard.SetPage(PAGE_FAILED);
}

TEST_F(Terminal, OneLiveLineAndRetryOnATerminalOneTimestampedLinePerChangeElsewhere) {
    ASSERT_EQ(Run(true, {UploadHalfwayAndFail}, "n\n"), 2);
    // The live line, redrawn in place and never wider than the terminal, stays above the failed
    // page's two paragraphs and the question, the box with its control characters escaped above.
    const std::vector<std::string> screen = Screen(output_);
    ASSERT_GE(screen.size(), 5u);
    EXPECT_EQ(screen.end()[-5], "TFTP: \\x1b]0;owned\\x07\\x0d\\x9b32mcompl\xc3\xa9t\\x7f");
    EXPECT_EQ(screen.end()[-4], "[##########..........]  50%  0:00  uploading firmware to th");
    EXPECT_EQ(screen.back(), "Retry? [y/N]");

    Run(false, {UploadHalfwayAndFail});  // its status: the end-to-end table's cli rows
    // The welcome page's three paragraphs, the working page's, the changes, the box, the failed
    // page's two; none with a control character.
    const std::string at = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )", line = R"([^\x00-\x1f\x7f]+\n)";
    EXPECT_TRUE(std::regex_match(
        output_, std::regex("(" + at + line + "){3}" + at + kPageTexts[PAGE_WORKING] + "\n" + at +
                            "checking router status...\n" + at +
                            "uploading firmware to the router...\nTFTP: " + line + "(" + at + line +
                            "){2}")))
        << output_;
    EXPECT_EQ(testing::JobsStarted(), 1);  // never asked to retry
}

TEST_F(Terminal, RetryOnATerminalRunsTheRecoveryAgainAndTheEndOfInputDeclines) {
    // Jobs that end at once: a worker that ended before the front end looked still started.
    const auto endOn = [](int page) -> testing::ScriptedJob {
        return [page](WizardContext& wizard) { wizard.SetPage(page); };
    };
    EXPECT_EQ(Run(true, {endOn(PAGE_FAILED), endOn(PAGE_SUCCESS)}, "yes\n"), 0);
    EXPECT_EQ(testing::JobsStarted(), 2);
    EXPECT_TRUE(Screen(output_).back().ends_with(kSetupPageUrl));  // the login page's address last
    EXPECT_EQ(Run(true, {endOn(PAGE_FAILED)}, "\x04"), 2);
    EXPECT_EQ(testing::JobsStarted(), 1);
}

// A quit signal during the job stops it, which ends on the failed page: the settings go back and
// the status line says so to the end.
TEST_F(Terminal, AQuitSignalStopsTheJobAndPutsTheSettingsBack) {
    EXPECT_EQ(Run(false, {[](WizardContext& wizard) {
                      RemoveConflictingSettings(wizard);
                      raise(SIGTERM);
                      Sleep(60000);  // a pause that only a stop cuts short
                      wizard.SetStatusText("uploading firmware to the router...");
                      wizard.SetPage(PAGE_FAILED);
                  }}),
              128 + SIGTERM);
    EXPECT_TRUE(Screen(output_).back().ends_with(kStoppingText)) << output_;
    EXPECT_THAT(world_->kernel.AddressTexts(),
                ::testing::ElementsAre(::testing::StartsWith("192.168.1.100/24 dev 3")));
}

}  // namespace
}  // namespace kestrel
