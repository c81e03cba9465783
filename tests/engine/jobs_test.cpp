// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The status check and the recovery on a PC whose helper runs in this process over a model of
// the kernel, with a clock whose sleeps are instant; the progress plan the recovery follows; and
// the wizard's flow over the recording wizard with scripted jobs: what Next and Quit do on each
// page, and quit signals.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "engine/engine.h"
#include "engine/wizard_flow.h"
#include "netcfg/netcfg.h"
#include "platform/clock.h"
#include "proto/proto.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_dns_client.h"
#include "tests/support/helper_pc.h"
#include "tests/support/recording_wizard.h"

namespace kestrel {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::RecordingWizard;
using testing::WizardEvent;

constexpr int kDeadEnd = 2;  // cabled to nothing
constexpr int kCabled = 3;   // cabled to the router

const std::string kChecking = "checking router status...";
const std::string kConfiguring = "configuring PC network settings...";
const std::string kUploading = "uploading firmware to the router...";
const std::string kRestoring = "restoring PC network settings...";
const std::string kRebooting = "updating router firmware and rebooting router...";

class Jobs : public ::testing::Test {
protected:
    void SetUp() override {
        wizard.m_nRebootTimeout = 10000;
        pc.RouterAnswersArpOn({kCabled});
        SetRouterProtocols({[this](WizardContext&) {
                                clock.Advance(probeMs);
                                if (afterProbe) afterProbe();
                                return probeResult;
                            },
                            [this](WizardContext&) {
                                ++uploads;
                                clock.Advance(3000);
                                if (afterUpload) afterUpload();
                                if (uploadResults.empty()) return int{TFTP_OK};
                                const int result = uploadResults.front();
                                uploadResults.erase(uploadResults.begin());
                                return result;
                            }});
    }
    void TearDown() override {
        DiscardSavedSettings(wizard);
        SetRouterProtocols({});
        ClearStopRequest();
    }

    static std::vector<int> Values(const RecordingWizard& w, WizardEvent::Kind kind) {
        std::vector<int> out;
        for (const auto& e : w.EventsOf(kind)) out.push_back(e.value);
        return out;
    }
    std::vector<int> Positions() const { return Values(wizard, WizardEvent::Position); }
    std::vector<int> Timers() const { return Values(wizard, WizardEvent::Timer); }
    std::vector<int> Pages() const { return Values(wizard, WizardEvent::Page); }
    std::vector<std::string> Statuses() const {
        std::vector<std::string> out;
        for (const auto& e : wizard.EventsOf(WizardEvent::Status)) out.push_back(e.text);
        return out;
    }
    std::uint64_t PageTick() const { return wizard.EventsOf(WizardEvent::Page).at(0).tick; }
    std::vector<std::string> Changes() const {
        std::vector<std::string> out;
        for (const auto& line : pc.kernel.Log())
            if (line.rfind("add", 0) == 0 || line.rfind("delete", 0) == 0) out.push_back(line);
        return out;
    }
    bool ListsEmpty() const {
        return wizard.m_pSavedAddresses == nullptr && wizard.m_pSavedRoutes == nullptr;
    }
    void StartFromStatusCheck() {
        wizard.m_nProgressTarget = 100;
        CheckRouterStatus(wizard);
    }

    testing::FakeClock clock;
    // The lab's PC: a dead-end link with a clashing 192.168.0.0/16 and a clashing route, the
    // router's link with 192.168.1.100/24, its default route and a route through the router
    // (both dropped by the kernel with the address), and a wireless link.
    testing::HelperPc pc{R"(
        link 2 eth0
        link 3 eth1
        link 4 wlan0 wireless
        address 192.168.0.5/16 dev 2
        address 10.20.0.5/16 dev 2
        address 192.168.1.100/24 dev 3
        address 172.20.0.9/16 dev 4
        route 192.168.1.0/24 via 10.20.0.254 dev 2 metric 10
        route default via 192.168.1.1 dev 3 metric 100
        route 10.9.0.0/16 via 192.168.1.1 dev 3)"};
    const std::vector<std::string> before = pc.World();
    testing::FakeDnsClient dns;
    RecordingWizard wizard;
    int probeResult = 0;
    std::uint64_t probeMs = 0;
    std::vector<int> uploadResults;
    std::atomic<int> uploads{0};
    std::function<void()> afterProbe, afterUpload;
};

TEST_F(Jobs, WorkingRouterEndsOnRouterOkAfterAtLeastOneSecondWithNothingTouched) {
    probeResult = 1;
    // A quick probe is padded to the full second; a slow one is not padded further.
    for (const auto& [probe, check] : {std::pair{200u, 1000u}, std::pair{3500u, 3500u}}) {
        SCOPED_TRACE(probe);
        RecordingWizard w;
        probeMs = probe;
        const std::uint64_t start = clock.GetTickCount64();
        w.m_nProgressTarget = 100;
        CheckRouterStatus(w);
        EXPECT_THAT(Values(w, WizardEvent::Position), ElementsAre(100, 1000));
        EXPECT_THAT(Values(w, WizardEvent::Page), ElementsAre(PAGE_ROUTER_OK));
        const auto positions = w.EventsOf(WizardEvent::Position);
        EXPECT_EQ(positions[0].tick - start, check);
        EXPECT_EQ(w.EventsOf(WizardEvent::Page)[0].tick - positions[1].tick, 1000u);
        EXPECT_THAT(w.EventsOf(WizardEvent::Status),
                    ElementsAre(::testing::Field(&WizardEvent::text, kChecking)));
        EXPECT_THAT(Changes(), IsEmpty());
        EXPECT_TRUE(w.m_pSavedAddresses == nullptr && w.m_pSavedRoutes == nullptr);
    }
}

TEST_F(Jobs, RecoveredOnTheSecondAdapterAfterTheFirstFailsArpWithEverythingBack) {
    dns.ScriptStatus(DNS_ERROR_RCODE_SERVER_FAILURE);
    dns.SetDefaultStatus(0);
    wizard.m_bDebug = TRUE;
    const std::uint64_t start = clock.GetTickCount64();
    StartFromStatusCheck();

    // In diagnostic mode a box names each Ethernet adapter before its attempt.
    std::vector<std::string> tries;
    const auto events = wizard.Events();
    for (std::size_t i = 0; i + 1 < events.size(); ++i)
        if (events[i].kind == WizardEvent::Box && events[i].text.rfind("Try ", 0) == 0) {
            tries.push_back(events[i].text);
            EXPECT_EQ(events[i + 1].text, kConfiguring);
        }
    EXPECT_THAT(tries, ElementsAre("Try eth0", "Try eth1"));
    // The first adapter's share is handed out at once: 179 jumps to 550.
    EXPECT_THAT(Positions(), ElementsAre(100, 145, 179, 550, 595, 629, 743, 788, 1000, 1000));
    EXPECT_THAT(Timers(), ElementsAre(176, 94, 176));
    EXPECT_THAT(Statuses(), ElementsAre(kChecking, kConfiguring, kConfiguring, kConfiguring,
                                        kUploading, kRestoring, kRebooting));
    EXPECT_THAT(Pages(), ElementsAre(PAGE_SUCCESS));
    EXPECT_EQ(uploads, 1);
    EXPECT_TRUE(ListsEmpty());
    EXPECT_EQ(pc.World(), before);
    // The clashing settings go first, the temporary address before the PC's own come back, and
    // nothing is tried on the wireless link.
    const auto changes = Changes();
    ASSERT_GE(changes.size(), 10u);
    EXPECT_THAT(changes[0], HasSubstr("delete address 192.168.1.100/24 dev 3"));
    EXPECT_THAT(changes[1], HasSubstr("delete route 192.168.1.0/24 via 10.20.0.254 dev 2"));
    EXPECT_THAT(pc.LogWith("192.168.1.141"),
                ElementsAre(HasSubstr("add address 192.168.1.141/24 dev 2"),
                            "arp 192.168.1.1 from 192.168.1.141 dev 2 = -ETIMEDOUT",
                            HasSubstr("delete address 192.168.1.141/24 dev 2"),
                            HasSubstr("add address 192.168.1.141/24 dev 3"),
                            "arp 192.168.1.1 from 192.168.1.141 dev 3 = 0",
                            HasSubstr("delete address 192.168.1.141/24 dev 3")));
    EXPECT_THAT(changes[5], HasSubstr("delete address 192.168.1.141/24 dev 3"));
    EXPECT_THAT(changes[6], HasSubstr("add address 192.168.1.100/24 dev 3"));
    EXPECT_THAT(pc.LogWith("dev 4"), IsEmpty());
    // The router is asked through its own link, at that link's gateway.
    EXPECT_THAT(dns.Calls()[0], HasSubstr("servers [192.168.1.1] via 3"));
    // The ARP step lasts its second even when the answer is instant.
    const auto positions = wizard.EventsOf(WizardEvent::Position);
    EXPECT_EQ(positions[1].tick - wizard.EventsOf(WizardEvent::Status)[1].tick, 4000u);
    EXPECT_EQ(positions[2].tick - positions[1].tick, 1000u);
    // 1 s check, 2 x (4 s settle + 1 s ARP), 3 s upload, 4 s restore, one failed and one
    // answered poll, 1 s final pause.
    EXPECT_EQ(PageTick() - start, 1000u + 10000 + 3000 + 4000 + 1000 + 1000);
}

// The plan from the status check (target 100) or after Retry (0), for one, two and ten adapters;
// ten leave each less than a hundredth of the bar, shared in the same proportions.
TEST(ProgressPlan, SharesTheBarAmongTheAdaptersAndPacesTimer1) {
    const std::tuple<int, int, int, std::vector<int>> rows[] = {
        {100, 1, 120000, {900, 9, 77, 102, 257, 362, 78, 662}},
        {0, 1, 120000, {1000, 10, 85, 114, 285, 402, 70, 597}},
        {100, 2, 120000, {450, 4, 34, 45, 114, 212, 176, 1132}},
        {100, 10, 10000, {90, 0, 7, 10, 25, 38, 807, 526}},
    };
    for (const auto& [target, adapters, rebootMs, expected] : rows) {
        const ProgressPlan p = MakeProgressPlan(target, adapters, rebootMs);
        EXPECT_EQ(std::vector<int>(
                      {p.S, p.U, p.A, p.B, p.F, p.D, int(p.stepInterval), int(p.waitInterval)}),
                  expected);
    }
}

// With the router answering on both adapters: the first upload that gets through ends the run,
// and a failed add or upload ends only that adapter's attempt, which deletes no more than its
// own temporary address. The PC's settings come back once, after the last attempt.
TEST_F(Jobs, AnAttemptThatFailsMovesOnAndTheFirstThatWorksEndsTheRun) {
    struct Row {
        const char* what;
        std::vector<int> uploadResults;
        bool addFails;
        DWORD rebootMs;
        std::vector<int> positions;
        const char* temporary;  // the temporary address's log, in short
    };
    // clang-format off
    const Row rows[] = {
        {"the first answer", {}, false, 120000, {100, 145, 179, 293, 338, 550, 1000},
         "add dev 2 = 0; arp dev 2 = 0; delete dev 2 = 0; "},
        {"a failed upload", {TFTP_ERR_TIMEOUT, TFTP_OK}, false, 10000,
         {100, 145, 179, 293, 550, 595, 629, 743, 788, 1000, 1000},
         "add dev 2 = 0; arp dev 2 = 0; delete dev 2 = 0; "
         "add dev 3 = 0; arp dev 3 = 0; delete dev 3 = 0; "},
        {"a failed add", {}, true, 10000, {100, 145, 179, 550, 595, 629, 743, 788, 1000, 1000},
         "add dev 2 = -EPERM; add dev 3 = 0; arp dev 3 = 0; delete dev 3 = 0; "},
    };
    // clang-format on
    pc.RouterAnswersArpOn({kDeadEnd, kCabled});
    dns.SetDefaultStatus(0);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        pc.kernel.ClearLog();
        uploads = 0;
        uploadResults = row.uploadResults;
        if (row.addFails) pc.kernel.Fail(testing::KernelCall::kAddAddress, -EPERM);
        RecordingWizard w;
        w.m_nRebootTimeout = row.rebootMs;
        w.m_nProgressTarget = 100;
        CheckRouterStatus(w);
        EXPECT_THAT(Values(w, WizardEvent::Position), ::testing::ElementsAreArray(row.positions));
        EXPECT_THAT(Values(w, WizardEvent::Page), ElementsAre(PAGE_SUCCESS));
        EXPECT_EQ(uploads, std::max<int>(1, static_cast<int>(row.uploadResults.size())));
        EXPECT_THAT(w.Boxes(), IsEmpty());  // outside diagnostic mode
        std::string temporary;
        for (std::string line : pc.LogWith("192.168.1.141")) {
            for (const char* part : {"address 192.168.1.141/24 ", "192.168.1.1 from 192.168.1.141 ",
                                     " brd 192.168.1.255"})
                if (const auto at = line.find(part); at != std::string::npos)
                    line.erase(at, std::strlen(part));
            temporary += line + "; ";
        }
        EXPECT_EQ(temporary, row.temporary);
        // The last change of the temporary address comes before the PC's own come back.
        const auto changes = Changes();
        const auto last = std::find_if(changes.rbegin(), changes.rend(), [](const auto& line) {
            return line.find("192.168.1.141") != std::string::npos;
        });
        ASSERT_NE(last, changes.rbegin());
        EXPECT_THAT(last[-1], HasSubstr("add address 192.168.1.100/24 dev 3"));
        EXPECT_EQ(pc.World(), before);
        DiscardSavedSettings(w);
    }
    EXPECT_EQ(dns.Calls().size(), 6u);  // one answered query a row, and its DnsFree
}

TEST_F(Jobs, SilentRouterEverywhereEndsFailedWithTheSettingsOffUntilQuitPutsThemBack) {
    pc.RouterAnswersArpOn({kDeadEnd, kCabled});
    dns.SetDefaultStatus(DNS_ERROR_RCODE_NAME_ERROR);
    StartFromStatusCheck();

    EXPECT_THAT(Pages(), ElementsAre(PAGE_FAILED));
    EXPECT_EQ(uploads, 2);
    EXPECT_FALSE(ListsEmpty());
    // After the wait on the first adapter the status goes back to configuring for the second.
    EXPECT_THAT(Statuses(),
                ElementsAre(kChecking, kConfiguring, kConfiguring, kUploading, kRestoring,
                            kRebooting, kConfiguring, kUploading, kRestoring, kRebooting));
    // 192.168.0.5/16 holds the router's address too, but cannot take its packets: it stays.
    for (const auto& line : pc.World()) EXPECT_THAT(line, ::testing::Not(HasSubstr("192.168.1.")));
    RestoreNetworkSettings(wizard);  // Quit on the failed page
    EXPECT_TRUE(ListsEmpty());
    EXPECT_EQ(pc.World(), before);
}

TEST_F(Jobs, PollsAreOneSecondApartOrTwoWhenTheyCannotBeMade) {
    // Polls that fail at once: one a second. Polls that cannot be made (the adapter cannot be
    // read after the upload): a 2 s pause each, at 0, 2, 4, 6 and 8 s of a 9 s wait.
    for (const bool canAsk : {true, false}) {
        SCOPED_TRACE(canAsk);
        testing::HelperPc own(
            "link 3 eth1\naddress 192.168.1.100/24 dev 3\nroute default via 192.168.1.1 dev 3");
        own.RouterAnswersArpOn({kCabled});
        bool uploaded = false;
        afterUpload = [&uploaded] { uploaded = true; };
        own.SetRequestHook([&](const HelperRequest& request) {
            return DWORD(!canAsk && uploaded && request.op == HelperOp::Adapters ? ERROR_GEN_FAILURE
                                                                                 : NO_ERROR);
        });
        testing::FakeDnsClient refusing(DNS_ERROR_RCODE_REFUSED);
        refusing.SetQueryHook([this] { clock.Advance(10); });  // each refusal takes 10 ms
        RecordingWizard w;
        w.m_nRebootTimeout = canAsk ? 10000 : 9000;
        w.m_nProgressTarget = 100;
        CheckRouterStatus(w);
        const auto calls = refusing.Calls();
        EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                                [](const auto& call) { return call.rfind("DnsQuery_A", 0) == 0; }),
                  canAsk ? 10 : 0);
        const auto waitStart = w.EventsOf(WizardEvent::Timer).at(1).tick;
        const auto positions = w.EventsOf(WizardEvent::Position);
        EXPECT_EQ(positions[positions.size() - 2].tick - waitStart, 10000u);
        EXPECT_THAT(Values(w, WizardEvent::Page), ElementsAre(PAGE_FAILED));
        DiscardSavedSettings(w);
    }
}

TEST_F(Jobs, WithNothingToTryTheRunFailsAfterTwoSecondsTouchingNothing) {
    for (const bool listFails : {false, true}) {
        SCOPED_TRACE(listFails);
        testing::HelperPc own(listFails ? "link 7 ppp0 other\nlink 3 eth1" : "link 7 ppp0 other");
        if (listFails) own.kernel.Fail(testing::KernelCall::kLinks, -ENOBUFS);
        RecordingWizard w;
        const std::uint64_t start = clock.GetTickCount64();
        w.m_nProgressTarget = 0;
        RunRecovery(w);
        EXPECT_THAT(Values(w, WizardEvent::Position), ElementsAre(1000));
        EXPECT_THAT(Values(w, WizardEvent::Timer), IsEmpty());
        EXPECT_THAT(Values(w, WizardEvent::Page), ElementsAre(PAGE_FAILED));
        EXPECT_EQ(w.EventsOf(WizardEvent::Page).at(0).tick - start, 2000u);
        EXPECT_THAT(own.kernel.Log(), ::testing::Each(::testing::Not(HasSubstr("add"))));
    }
}

// A stop requested during one phase of the first adapter's attempt, which would otherwise go
// through every phase: the run ends on the failed page within the step, nothing begins and
// nothing is slept after it, no other adapter is tried, and Quit puts the PC back. A step begins
// with its ARP, its upload, its poll, or an address it adds (the temporary one, or one of the
// PC's put back).
TEST_F(Jobs, AStopEndsTheRunWithinTheStepAndQuitPutsThePcBack) {
    enum Hook { Probe, Request, Upload, Poll };
    // The phase, where the stop comes (Request: with the first request of that kind), and how
    // often the temporary address was added.
    const std::tuple<const char*, Hook, HelperOp, std::size_t> phases[] = {
        {"probe", Probe, HelperOp::Hello, 0},
        {"settle pause", Request, HelperOp::AddAddress, 1},
        {"ARP", Request, HelperOp::Arp, 1},
        {"upload", Upload, HelperOp::Hello, 1},
        {"restore pause", Request, HelperOp::CreateRoute, 1},
        {"poll", Poll, HelperOp::Hello, 1},
    };
    pc.RouterAnswersArpOn({kDeadEnd, kCabled});
    dns.SetDefaultStatus(DNS_ERROR_RCODE_NAME_ERROR);
    for (const auto& [phase, hook, op, temporaryAdds] : phases) {
        SCOPED_TRACE(phase);
        std::atomic<int> steps{0};
        int stepsAtStop = -1;
        std::uint64_t stopTick = 0;
        uploads = 0;
        const std::function<void()> stopNow = [&] {
            if (StopRequested()) return;
            stopTick = clock.GetTickCount64();
            stepsAtStop = steps + uploads;
            RequestStop();
        };
        pc.SetRequestHook([&, hook = hook, op = op](const HelperRequest& request) {
            if (request.op == HelperOp::Arp || request.op == HelperOp::AddAddress) ++steps;
            if (hook == Request && request.op == op) stopNow();
            return DWORD{NO_ERROR};
        });
        dns.SetQueryHook([&, hook = hook] {
            ++steps;
            if (hook == Poll) stopNow();
        });
        afterProbe = hook == Probe ? stopNow : nullptr;
        afterUpload = hook == Upload ? stopNow : nullptr;
        pc.kernel.ClearLog();
        RecordingWizard w;
        w.m_nRebootTimeout = 10000;
        w.m_nProgressTarget = 100;
        CheckRouterStatus(w);

        EXPECT_THAT(Values(w, WizardEvent::Page), ElementsAre(PAGE_FAILED));
        EXPECT_EQ(steps + uploads, stepsAtStop);
        EXPECT_EQ(w.EventsOf(WizardEvent::Page).at(0).tick, stopTick);
        EXPECT_EQ(pc.LogWith("add address 192.168.1.141").size(), temporaryAdds);
        EXPECT_THAT(pc.World(), ::testing::Each(::testing::Not(HasSubstr("192.168.1.141"))));
        if (hook == Probe) {
            EXPECT_THAT(Changes(), IsEmpty());
        }
        RestoreNetworkSettings(w);  // Quit on the failed page
        EXPECT_EQ(pc.World(), before);
        ClearStopRequest();
    }
}

// ---- The wizard's flow, as every front end runs it, on a PC whose clashing address is off

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
