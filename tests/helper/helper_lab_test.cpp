// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The real helper in the lab's pc namespace (tests/support/lab/lab.sh builds it around this binary): a
// helper that died leaves a journal, and the next one puts the PC's settings back. A killed
// front end is a row of the end-to-end table (tests/e2e/scenarios.table).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "netcfg/netcfg.h"
#include "platform/helper_client.h"
#include "tests/support/recording_wizard.h"

namespace kestrel {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

std::string Shell(const std::string& command) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    char buffer[512];
    while (pipe && fgets(buffer, sizeof buffer, pipe.get())) out += buffer;
    return out;
}

// Sorted: an address put back comes last in the kernel's list, which is no change.
std::string Settings() {
    return Shell("{ ip -4 -o addr; ip -4 route show table all; } | sort");
}

// A front end in a child process: it starts the helper, takes the clashing settings off
// through it, sends `lastWords` when there are any, reports the helper's pid, and waits to be
// killed.
pid_t StartFrontEnd(pid_t& helper, const std::string& lastWords = "") {
    int report[2];
    if (pipe(report) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        std::string why;
        auto process = HelperProcess::Start({KESTREL_HELPER_PATH}, why);
        if (!process) _exit(1);
        HelperIpHelper client(*process);
        if (!client.Hello(why)) _exit(1);
        SetIpHelper(&client);
        testing::RecordingWizard dlg;
        RemoveConflictingSettings(dlg);
        std::string reply;
        if (!lastWords.empty()) process->Exchange(lastWords, reply);
        const pid_t pid = process->Pid();
        [[maybe_unused]] const ssize_t wrote = write(report[1], &pid, sizeof pid);
        pause();
        _exit(0);
    }
    close(report[1]);
    if (read(report[0], &helper, sizeof helper) != sizeof helper) helper = -1;
    close(report[0]);
    return child;
}

// Kills a process that is not our child and waits until it is dead (gone, or a zombie).
void Kill(pid_t pid) {
    kill(pid, SIGKILL);
    const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
    for (;;) {
        std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(stat.c_str(), "r"), fclose);
        char state = 'Z';
        if (!file || fscanf(file.get(), "%*d (%*[^)]) %c", &state) != 1 || state == 'Z') return;
        std::this_thread::sleep_for(milliseconds(5));
    }
}

// A line that is no request ends the conversation: the settings are back within a second.
// (A killed front end is a row of the end-to-end table.)
TEST(HelperLab, AMalformedRequestPutsEverythingBackWithinASecond) {
    const std::string before = Settings();
    pid_t helper = -1;
    const pid_t frontEnd = StartFrontEnd(helper, "{\"v\":1,\"id\":9,\"op\":\"reboot\"}");
    ASSERT_GT(helper, 0);
    const auto start = steady_clock::now();
    while (Settings() != before && steady_clock::now() - start < std::chrono::seconds(5))
        std::this_thread::sleep_for(milliseconds(10));
    const auto took = std::chrono::duration_cast<milliseconds>(steady_clock::now() - start);
    EXPECT_EQ(Settings(), before);
    EXPECT_LT(took.count(), 1000);
    kill(frontEnd, SIGKILL);
    waitpid(frontEnd, nullptr, 0);
}

TEST(HelperLab, TheNextHelperPutsBackWhatAKilledHelperLeft) {
    const std::string before = Settings();
    pid_t helper = -1;
    const pid_t frontEnd = StartFrontEnd(helper);
    ASSERT_GT(helper, 0);
    Kill(helper);
    kill(frontEnd, SIGKILL);
    waitpid(frontEnd, nullptr, 0);
    const std::string left = Settings();
    ASSERT_NE(left, before) << "a killed helper cannot have put anything back";

    EXPECT_EQ(system(KESTREL_HELPER_PATH " --restore"), 0);
    EXPECT_EQ(Settings(), before);
}

}  // namespace
}  // namespace kestrel
