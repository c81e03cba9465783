// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The wizard's flow, as every front end runs it, over the recording wizard with scripted jobs on
// a PC whose clashing address is off: what Next and Quit do on each page, and quit signals.
#include "engine/wizard_flow.h"

#include <gtest/gtest.h>

#include <csignal>

#include "netcfg/netcfg.h"
#include "platform/clock.h"
#include "tests/support/helper_pc.h"
#include "tests/support/recording_wizard.h"

namespace kestrel {
namespace {

using testing::RecordingWizard;

// What the flow did to the window, in order, each with m_nProgressTarget at the time.
std::string Seen(const RecordingWizard& wizard) {
    const char* names[] = {"page", "status", "pos",   "timer", "kill",
                           "box",  "end",    "login", "stop",  "exit"};
    std::string out;
    for (const auto& e : wizard.Events())
        out += std::string(out.empty() ? "" : " ") + names[e.kind] + " " + std::to_string(e.value) +
               "@" + std::to_string(e.target);
    return out;
}

struct World {
    World() {
        RemoveConflictingSettings(wizard);
        wizard.ListenForQuitSignals();
    }
    ~World() {
        DiscardSavedSettings(wizard);  // what no row put back
        ClearStopRequest();
    }
    bool Restored() const { return !pc.kernel.AddressTexts().empty(); }

    testing::HelperPc pc{"link 3 eth0\naddress 192.168.1.100/24 dev 3"};
    RecordingWizard wizard{testing::ScriptedEntry, testing::ScriptedEntry};
};

// Next on the welcome page starts the status check, Retry on the failed page the recovery: the
// bar from nothing towards the job's first target at its tick, m_nPage kept and Next and Quit
// ignored while the job runs. Otherwise Next and Quit end the wizard; only leaving the failed page
// puts the settings back. The exit status tells the last page.
TEST(Flow, NextAndQuitOnEachPage) {
    const std::tuple<int, bool, const char*, int> rows[] = {
        {PAGE_WELCOME, true, "pos 0@0 page 1@0 timer 100@100 page 4@100 kill 0@100", 2},
        {PAGE_FAILED, true, "pos 0@0 page 1@0 timer 25@0 page 4@0 kill 0@0", 2},
        {PAGE_ROUTER_OK, true, "end 1@0", EXIT_ROUTER_WORKS},
        {PAGE_SUCCESS, true, "end 1@0 login 0@0", EXIT_ROUTER_WORKS},
        {PAGE_WELCOME, false, "end 0@0", EXIT_NOT_STARTED},
        {PAGE_ROUTER_OK, false, "end 0@0", EXIT_ROUTER_WORKS},
        {PAGE_SUCCESS, false, "end 0@0", EXIT_ROUTER_WORKS},
        {PAGE_FAILED, false, "end 0@0", EXIT_RECOVERY_FAILED},
    };
    for (const auto& [page, next, seen, status] : rows) {
        SCOPED_TRACE(::testing::Message() << "page " << page << (next ? " next" : " quit"));
        World world;
        RecordingWizard& wizard = world.wizard;
        int pageDuringJob = -1;
        testing::ScriptJobs({[&](WizardContext& job) {
            pageDuringJob = wizard.m_nPage;
            wizard.Next();  // the keys still arrive, from this thread here
            wizard.Quit();
            job.SetPage(PAGE_FAILED);
        }});
        wizard.m_nPage = page;
        if (next)
            wizard.Next();
        else
            wizard.Quit();
        if (wizard.JobRunning()) wizard.AwaitWorker();
        EXPECT_EQ(Seen(wizard), seen);
        EXPECT_EQ(testing::JobsStarted(), pageDuringJob == page);  // one job, m_nPage kept
        EXPECT_EQ(wizard.ExitStatus(), status);
        EXPECT_EQ(world.Restored(), page == PAGE_FAILED && !next);
    }
}

#ifndef _WIN32  // Windows' quit requests are console control events: no raise() reaches them
// A first quit signal says it stops and asks the job to stop at its next step; once the job has
// ended on the failed page the settings go back and the wizard ends with 128 + the signal. With no
// job it ends at once. A second signal, or two at once, leave at once.
TEST(Flow, AQuitSignalStopsTheJobThenLeavesASecondLeavesAtOnce) {
    World world;
    RecordingWizard& wizard = world.wizard;
    testing::ScriptJobs({[](WizardContext& job) {
        Sleep(60000);  // a pause that only a stop cuts short
        job.SetPage(PAGE_FAILED);
    }});
    wizard.Next();
    raise(SIGTERM);
    wizard.OnQuitSignal();
    EXPECT_TRUE(StopRequested());
    wizard.AwaitWorker();
    raise(SIGINT);
    wizard.OnQuitSignal();
    EXPECT_TRUE(Seen(wizard).ends_with("stop 0@100 page 4@100 kill 0@100 end 0@100 exit 130@100"));
    EXPECT_EQ(wizard.ExitStatus(), 128 + SIGTERM);
    EXPECT_TRUE(world.Restored());

    for (const auto& [signals, seen, status] :
         {std::tuple{1, "stop 0@0 end 0@0", 128 + SIGTERM}, {2, "exit 143@0", EXIT_NOT_STARTED}}) {
        World idle;
        for (int i = 0; i < signals; ++i) raise(SIGTERM);
        idle.wizard.OnQuitSignal();
        EXPECT_EQ(Seen(idle.wizard), seen);
        EXPECT_EQ(idle.wizard.ExitStatus(), status);
    }
}
#endif

}  // namespace
}  // namespace kestrel
