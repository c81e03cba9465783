// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The status check and the recovery on a PC whose helper runs in this process over a model of
// the kernel, with a clock whose sleeps are instant; the progress plan the recovery follows; and
// the wizard's flow over the recording wizard with scripted jobs: what Next and Quit do on each
// page, and quit signals.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <map>
#include <regex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/engine.h"
#include "netcfg/netcfg.h"
#include "platform/clock.h"
#include "proto/proto.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_dns_client.h"
#include "tests/support/helper_pc.h"
#include "tests/support/recording_wizard.h"

namespace kestrel {
namespace {

using testing::RecordingWizard;
using testing::WizardEvent;

constexpr int kDeadEnd = 2;  // cabled to nothing
constexpr int kCabled = 3;   // cabled to the router

// The lab's PC: a dead-end link with a clashing 192.168.0.0/16 and a clashing route, the
// router's link with 192.168.1.100/24, its default route and a route through the router (both
// dropped by the kernel with the address), and a wireless link.
constexpr char kLabPc[] = R"(
    link 2 eth0
    link 3 eth1
    link 4 wlan0 wireless
    address 192.168.0.5/16 dev 2
    address 10.20.0.5/16 dev 2
    address 192.168.1.100/24 dev 3
    address 172.20.0.9/16 dev 4
    route 192.168.1.0/24 via 10.20.0.254 dev 2 metric 10
    route default via 192.168.1.1 dev 3 metric 100
    route 10.9.0.0/16 via 192.168.1.1 dev 3)";

// What a job did to the window, in order: statuses in short (any other text in full), bar
// positions, timer 1's intervals, boxes and pages, each after how far the clock moved on before it.
std::string Timeline(const RecordingWizard& wizard, std::uint64_t since) {
    const std::map<std::string, std::string> statuses = {
        {"checking router status...", "checking"},
        {"configuring PC network settings...", "configuring"},
        {"uploading firmware to the router...", "uploading"},
        {"restoring PC network settings...", "restoring"},
        {"updating router firmware and rebooting router...", "updating"}};
    const char* pages[] = {"welcome", "working", "router-ok", "success", "failed"};
    std::string out;
    for (const WizardEvent& e : wizard.Events()) {
        if (e.tick != since) out += " +" + std::to_string(e.tick - since);
        since = e.tick;
        if (e.kind == WizardEvent::Status)
            out += " " + (statuses.contains(e.text) ? statuses.at(e.text) : e.text);
        else if (e.kind == WizardEvent::Box)
            out += " [" + e.text + "]";
        else if (e.kind == WizardEvent::Page)
            out += std::string(" page ") + pages[e.value];
        else
            out += (e.kind == WizardEvent::Timer ? " timer " : " ") + std::to_string(e.value);
    }
    return out.empty() ? out : out.substr(1);
}

// From Next on the welcome page to the last page, with a 9 s reboot wait and DNS queries that take
// 10 ms each. The check lasts at least a second, an ARP step too, a poll that fails at once is
// padded to a second and one that cannot be made (no adapter to ask through) pauses two. The first
// upload that gets through ends the run; a failed add, ARP, upload or wait ends only that adapter's
// attempt, which deletes no more than its own temporary address; nothing is tried on the wireless
// link. The PC's clashing settings go off first and come back after the temporary address has
// gone: after the success, or on Quit from the failed page.
//
// A stop requested during a phase ends the run on the failed page within the step: nothing begins
// (an ARP, upload, poll, or an address added) and nothing is slept after it, and no other adapter
// is tried. It comes with the probe, the upload, the first poll or the first request of a kind.
TEST(Jobs, FromTheStatusCheckToTheLastPage) {
    enum Stop { Never, AtProbe, AtUpload, AtPoll };
    struct Row {
        const char* what;
        const char* pc = kLabPc;
        std::uint64_t answerMs = 0;  // the probe's: the router works (0: no answer)
        std::vector<int> arpOn = {kDeadEnd, kCabled};
        std::vector<DNS_STATUS> polls = {0};  // each poll's answer in turn, the last from then on
        std::vector<int> uploads = {};
        std::vector<std::pair<testing::KernelCall, int>> fails = {};
        bool unreadableAfterUpload = false;
        BOOL debug = FALSE;
        Stop stop = Never;
        HelperOp stopOp = HelperOp::End;  // or with the first request of this kind (End: none)
        std::string timeline;
        std::string changes = "";  // the PC's own settings off and back, the temporary address
    };
    const std::string check = "checking +1000 100 configuring timer 176 configuring ";
    const std::string eth0Silent = "+4000 145 +1000 179 550 ";
    const std::string eth0Uploads = "+4000 145 +1000 179 uploading +3000 293 ";
    const std::string eth1Works =
        "configuring +4000 595 +1000 629 uploading +3000 743 restoring "
        "+4000 788 updating timer 84 ";
    const std::string silent = "off; add dev 2 = 0; arp dev 2 = -ETIMEDOUT; delete dev 2 = 0; ";
    const std::string fine = "off; add dev 2 = 0; arp dev 2 = 0; delete dev 2 = 0; ";
    const std::string then = "add dev 3 = 0; arp dev 3 = 0; delete dev 3 = 0; back; ";
    const std::string end = "1000 timer 176 1000 +1000 page ";
    // clang-format off
    const Row rows[] = {
        {.what = "a working router, quickly", .answerMs = 200,
         .timeline = "checking +1000 100 1000 +1000 page router-ok"},
        {.what = "no Ethernet adapter", .pc = "link 7 ppp0 other",
         .timeline = "checking +1000 100 configuring +1000 1000 +1000 page failed"},
        {.what = "the first answer", .timeline = check + eth0Uploads + "restoring +4000 338 "
         "updating timer 84 +10 550 timer 176 1000 +1000 page success", .changes = fine + "back; "},
        {.what = "diagnostic mode, silent on the dead end, a failed poll", .arpOn = {kCabled},
         .polls = {DNS_ERROR_RCODE_SERVER_FAILURE, 0}, .debug = TRUE,
         .timeline = "checking +1000 100 [Delete IP: 192.168.1.100 Mask: 255.255.255.0 from "
         "Adapter: eth1] [Delete Route: 192.168.1.0/255.255.255.0-> 10.20.0.254] configuring "
         "timer 176 [Try eth0] configuring " + eth0Silent + "[Try eth1] " + eth1Works + "+1010 " +
         end + "success", .changes = silent + then},
        {.what = "a failed upload", .uploads = {TFTP_ERR_TIMEOUT, TFTP_OK},
         .timeline = check + eth0Uploads + "550 " + eth1Works + "+10 " + end + "success",
         .changes = fine + then},
        {.what = "a failed add", .fails = {{testing::KernelCall::kAddAddress, -EPERM}},
         .timeline = check + eth0Silent + eth1Works + "+10 " + end + "success",
         .changes = "off; add dev 2 = -EPERM; " + then},
        {.what = "a silent router everywhere", .polls = {DNS_ERROR_RCODE_REFUSED},
         .timeline = check + eth0Uploads + "restoring +4000 338 updating timer 84 +9000 550 timer "
         "176 " + eth1Works + "+9000 " + end + "failed", .changes = fine + "back; off; " + then +
         "off; "},
        {.what = "unreadable after the upload", .arpOn = {kCabled}, .unreadableAfterUpload = true,
         .timeline = check + eth0Silent + eth1Works + "+10000 " + end + "failed",
         .changes = silent + then},
        {.what = "a stop in the probe", .stop = AtProbe, .timeline = "checking 100 page failed"},
        {.what = "a stop in the settle pause", .stopOp = HelperOp::AddAddress,
         .timeline = check + "145 page failed",
         .changes = "off; add dev 2 = 0; delete dev 2 = 0; "},
        {.what = "a stop in the ARP", .stopOp = HelperOp::Arp,
         .timeline = check + "+4000 145 179 page failed", .changes = fine},
        {.what = "a stop in the upload", .stop = AtUpload,
         .timeline = check + eth0Uploads + "page failed", .changes = fine},
        {.what = "a stop in the restore pause", .stopOp = HelperOp::CreateRoute,
         .timeline = check + eth0Uploads + "restoring 338 page failed", .changes = fine + "back; "},
        {.what = "a stop in the poll", .polls = {DNS_ERROR_RCODE_REFUSED}, .stop = AtPoll,
         .timeline = check + eth0Uploads + "restoring +4000 338 updating timer 84 +10 page failed",
         .changes = fine + "back; "},
    };
    // clang-format on
    testing::FakeClock clock;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::size_t uploads = 0;
        SetRouterProtocols({[&](WizardContext&) {
                                clock.Advance(row.answerMs);
                                if (row.stop == AtProbe) RequestStop();
                                return row.answerMs ? 1 : 0;
                            },
                            [&](WizardContext&) {
                                clock.Advance(3000);
                                if (row.stop == AtUpload) RequestStop();
                                const std::size_t n = uploads++;
                                return n < row.uploads.size() ? row.uploads[n] : int{TFTP_OK};
                            }});
        testing::HelperPc pc(row.pc);
        const std::vector<std::string> before = pc.World();
        pc.RouterAnswersArpOn(row.arpOn);
        for (const auto& [call, error] : row.fails) pc.kernel.Fail(call, error);
        pc.SetRequestHook([&](const HelperRequest& request) {
            if (request.op == row.stopOp) RequestStop();
            const bool unreadable = row.unreadableAfterUpload && uploads > 0;
            return DWORD(unreadable && request.op == HelperOp::Adapters ? ERROR_GEN_FAILURE
                                                                        : NO_ERROR);
        });
        testing::FakeDnsClient dns(row.polls.back());
        for (std::size_t i = 0; i + 1 < row.polls.size(); ++i) dns.ScriptStatus(row.polls[i]);
        dns.SetQueryHook([&] {
            clock.Advance(10);
            if (row.stop == AtPoll) RequestStop();
        });
        RecordingWizard w;
        w.m_bDebug = row.debug;
        w.m_nRebootTimeout = 9000;
        w.m_nProgressTarget = 100;
        const std::uint64_t start = clock.GetTickCount64();
        CheckRouterStatus(w);

        std::string changes;
        const std::regex words(
            "address 192.168.1.141/24 |192.168.1.1 from 192.168.1.141 | brd \\S+");
        for (const std::string& line : pc.kernel.Log()) {
            const bool own = line.find("192.168.1.141") == std::string::npos;
            const std::string said = !own ? std::regex_replace(line, words, "")
                                     : line.starts_with("delete") ? "off"
                                     : line.starts_with("add")    ? "back"
                                                                  : "";
            if (!said.empty() && !(own && changes.ends_with(said + "; "))) changes += said + "; ";
        }
        EXPECT_EQ(std::tuple(Timeline(w, start), changes), std::tie(row.timeline, row.changes));
        RestoreNetworkSettings(w);  // Quit on the last page
        EXPECT_EQ(pc.World(), before);
        ClearStopRequest();
    }
    SetRouterProtocols({});
}

// The plan from the status check (100) for ten adapters (two: above): each gets less than a
// hundredth of the bar, shared in the same proportions.
TEST(ProgressPlan, TenAdaptersShareTheBarInTheSameProportionsAndPaceTimer1) {
    const ProgressPlan p = MakeProgressPlan(100, 10, 10000);
    EXPECT_EQ(
        std::vector<int>({p.S, p.U, p.A, p.B, p.F, p.D, int(p.stepInterval), int(p.waitInterval)}),
        std::vector<int>({90, 0, 7, 10, 25, 38, 807, 526}));
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

// Next on the welcome page starts the status check, Retry on the failed page the recovery: the
// bar from nothing towards the job's first target at its tick, m_nPage kept and Next and Quit
// ignored while the job runs. Otherwise Next and Quit end the wizard; only leaving the failed page
// puts the settings back. The exit status tells the last page. A first quit signal says it stops
// and asks the job to stop at its next step; once the job has ended on the failed page the
// settings go back and the wizard ends with 128 + the signal (with no job at once: the program
// tests). A second signal, or two at once, leave at once, with the first one's status.
TEST(Flow, KeysAndQuitSignalsOnEachPage) {
    // The keys: n(ext), q(uit), SIGTERM (t) or SIGINT (i) raised, s (the wizard sees its quit
    // signals), w (the job has ended). With a signal the job waits for a stop.
    const std::tuple<int, const char*, const char*, int, bool> rows[] = {
        {PAGE_WELCOME, "n", "pos 0@0 page 1@0 timer 100@100 page 4@100 kill 0@100", 2, false},
        {PAGE_FAILED, "n", "pos 0@0 page 1@0 timer 25@0 page 4@0 kill 0@0", 2, false},
        {PAGE_WELCOME, "q", "end 0@0", EXIT_NOT_STARTED, false},
        {PAGE_SUCCESS, "q", "end 0@0", EXIT_ROUTER_WORKS, false},
#ifndef _WIN32  // Windows' quit requests are console control events: no raise() reaches them
        {PAGE_WELCOME, "ntswis",
         "pos 0@0 page 1@0 timer 100@100 stop 0@100 page 4@100 kill 0@100 end 0@100 exit 130@100",
         128 + SIGTERM, true},
        {PAGE_WELCOME, "tis", "exit 143@0", EXIT_NOT_STARTED, false},
#endif
    };
    for (const auto& [page, keys, seen, status, restored] : rows) {
        SCOPED_TRACE(::testing::Message() << "page " << page << ", keys " << keys);
        testing::HelperPc pc("link 3 eth0\naddress 192.168.1.100/24 dev 3");
        RecordingWizard wizard(testing::ScriptedEntry, testing::ScriptedEntry);
        RemoveConflictingSettings(wizard);
        wizard.ListenForQuitSignals();
        int pageDuringJob = -1;
        testing::ScriptJobs({[&, waits = std::strchr(keys, 't') != nullptr](WizardContext& job) {
            pageDuringJob = wizard.m_nPage;
            wizard.Next();  // the keys still arrive, from this thread here
            wizard.Quit();
            if (waits) Sleep(60000);  // a pause that only a stop cuts short
            job.SetPage(PAGE_FAILED);
        }});
        wizard.m_nPage = page;
        for (const char* key = keys; *key; ++key) {
            if (*key == 'n') wizard.Next();
            if (*key == 'q') wizard.Quit();
            if (*key == 't' || *key == 'i') raise(*key == 't' ? SIGTERM : SIGINT);
            if (*key == 's') wizard.OnQuitSignal();
            if (*key == 'w') wizard.AwaitWorker();
        }
        if (wizard.JobRunning()) wizard.AwaitWorker();
        EXPECT_EQ(Seen(wizard), seen);
        EXPECT_EQ(StopRequested(), std::string(seen).find("stop") != std::string::npos);
        EXPECT_EQ(testing::JobsStarted(), pageDuringJob == page);  // one job, m_nPage kept
        EXPECT_EQ(wizard.ExitStatus(), status);
        EXPECT_EQ(!pc.kernel.AddressTexts().empty(), restored);
        DiscardSavedSettings(wizard);  // what no row put back
        ClearStopRequest();
    }
}

}  // namespace
}  // namespace kestrel
