// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The status check and the recovery on a scripted PC and a clock whose sleeps are instant.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "netcfg/netcfg.h"
#include "platform/clock.h"
#include "platform/kernel.h"
#include "proto/proto.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_dns_client.h"
#include "tests/support/fake_ip_helper.h"
#include "tests/support/network_isolation.h"
#include "tests/support/recording_wizard.h"

namespace kestrel {
namespace {

using ::testing::ElementsAre;
using testing::FakeClock;
using ::testing::IsEmpty;
using testing::RecordingWizard;
using testing::WizardEvent;

// The scripted PC of these tests over the shared fakes: which links reach the router's boot
// loader, and what the DNS client answers.
class ScriptedPc {
public:
    void AddAdapter(DWORD index, UINT type, const std::string& description,
                    const std::string& gateway = "") {
        ip.AddAdapter(index, description, type);
        if (!gateway.empty()) ip.AddGateway(index, gateway);
    }
    void GiveAddress(DWORD index, const std::string& address, const std::string& mask) {
        ip.AddAddress(index, address, mask);
    }
    void AddRoute(const std::string& dest, const std::string& mask, const std::string& hop,
                  DWORD index) {
        ip.AddRoute(testing::MakeRoute(dest, mask, hop, index, 10));
    }
    // The boot loader answers ARP on the far end of these links.
    void RouterAnswersArpOn(DWORD index) {
        arpLinks_.push_back(index);
        ip.SetArpResponder([this](IPAddr, IPAddr) {
            for (const auto& address : ip.AddressTexts())
                for (DWORD link : arpLinks_)
                    if (address == "192.168.1.141/255.255.255.0 on " + std::to_string(link))
                        return NO_ERROR;
            return ERROR_BAD_NET_NAME;
        });
    }
    void FailAddingAddresses() {
        for (int i = 0; i < 50; ++i) ip.ScriptResult("AddIPAddress", ERROR_INVALID_PARAMETER);
    }
    void SetNoAdapterList() {
        for (int i = 0; i < 10; ++i) ip.ScriptResult("GetAdaptersInfo", ERROR_NO_DATA);
    }
    // One status per query; the last one repeats.
    void ScriptDns(const std::vector<DNS_STATUS>& statuses) {
        for (std::size_t i = 0; i + 1 < statuses.size(); ++i) dns.ScriptStatus(statuses[i]);
        dns.SetDefaultStatus(statuses.back());
    }

    // The calls that change the PC or ask the router, in order.
    std::vector<std::string> Log() const {
        std::vector<std::string> out;
        for (const auto& call : ip.Calls())
            if (call.rfind("Get", 0) != 0) out.push_back(call);
        return out;
    }
    std::vector<std::string> AddressState() const { return Sorted(ip.AddressTexts()); }
    std::vector<std::string> RouteState() const { return Sorted(ip.RouteTexts()); }
    int DnsQueries() const {
        const auto calls = dns.Calls();
        return static_cast<int>(std::count_if(calls.begin(), calls.end(), [](const std::string& c) {
            return c.rfind("DnsQuery_A", 0) == 0;
        }));
    }

    testing::FakeIpHelper ip;
    testing::FakeDnsClient dns;

private:
    static std::vector<std::string> Sorted(std::vector<std::string> texts) {
        std::sort(texts.begin(), texts.end());
        return texts;
    }
    std::vector<DWORD> arpLinks_;
};

constexpr DWORD kDeadEnd = 2;  // cabled to nothing
constexpr DWORD kCabled = 3;   // cabled to the router
constexpr DWORD kWireless = 4;

class Jobs : public ::testing::Test {
protected:
    void SetUp() override {
        wizard.m_nRebootTimeout = 10000;
        SetRouterProtocols({[this](WizardContext&) {
                                clock.Advance(probeMs);
                                if (afterProbe) afterProbe();
                                return probeResult;
                            },
                            [this](WizardContext&) {
                                ++uploads;
                                clock.Advance(3000);
                                if (afterUpload) afterUpload();
                                return uploadResults.empty() ? TFTP_OK : NextUpload();
                            }});
    }
    void TearDown() override {
        DiscardSavedSettings(wizard);
        SetRouterProtocols({});
        ClearStopRequest();
    }

    int NextUpload() {
        const int result = uploadResults.front();
        uploadResults.erase(uploadResults.begin());
        return result;
    }

    // The lab's PC: a dead-end link with a clashing 192.168.0.0/16 and a clashing route, the
    // router's link with 192.168.1.100/24 and the default route, and a wireless adapter.
    void BuildPc(bool withWireless = true) {
        net.AddAdapter(kDeadEnd, MIB_IF_TYPE_ETHERNET, "Wired dead end");
        net.GiveAddress(kDeadEnd, "192.168.0.5", "255.255.0.0");
        net.GiveAddress(kDeadEnd, "10.20.0.5", "255.255.0.0");
        net.AddAdapter(kCabled, MIB_IF_TYPE_ETHERNET, "Wired to router", "192.168.1.1");
        net.GiveAddress(kCabled, "192.168.1.100", "255.255.255.0");
        if (withWireless) {
            net.AddAdapter(kWireless, IF_TYPE_IEEE80211, "Wireless");
            net.GiveAddress(kWireless, "172.20.0.9", "255.255.0.0");
        }
        // Gateways that stay reachable while the clashing addresses are off: what the kernel
        // drops with an address is the network code's concern, not the jobs'.
        net.AddRoute("192.168.1.0", "255.255.255.0", "10.20.0.254", kDeadEnd);
        net.AddRoute("172.16.0.0", "255.240.0.0", "10.20.0.1", kDeadEnd);
        net.AddRoute("0.0.0.0", "0.0.0.0", "10.20.0.1", kDeadEnd);
        net.RouterAnswersArpOn(kCabled);
        addressesBefore = net.AddressState();
        routesBefore = net.RouteState();
    }

    static std::vector<int> Values(const RecordingWizard& w, WizardEvent::Kind kind) {
        std::vector<int> out;
        for (const auto& e : w.EventsOf(kind)) out.push_back(e.value);
        return out;
    }
    std::vector<int> Positions() const { return Values(wizard, WizardEvent::Position); }
    std::vector<int> Timers() const { return Values(wizard, WizardEvent::Timer); }
    std::vector<int> Pages() const { return Values(wizard, WizardEvent::Page); }
    static std::vector<std::string> Texts(const RecordingWizard& w) {
        std::vector<std::string> out;
        for (const auto& e : w.EventsOf(WizardEvent::Status)) out.push_back(e.text);
        return out;
    }
    std::vector<std::string> Statuses() const { return Texts(wizard); }
    std::uint64_t PageTick() const { return wizard.EventsOf(WizardEvent::Page).at(0).tick; }
    std::vector<std::string> LogWith(const std::string& part) const {
        std::vector<std::string> out;
        for (const auto& line : net.Log())
            if (line.find(part) != std::string::npos) out.push_back(line);
        return out;
    }
    bool ListsEmpty() const {
        return wizard.m_pSavedAddresses == nullptr && wizard.m_pSavedRoutes == nullptr;
    }
    void StartFromStatusCheck() {
        wizard.m_nProgressTarget = 100;
        CheckRouterStatus(wizard);
    }
    void StartFromRetry() {
        wizard.m_nProgressTarget = 0;
        RunRecovery(wizard);
    }
    void ExpectRetryFailsAfterTwoSecondsTouchingNothing() {
        const std::uint64_t start = clock.GetTickCount64();
        StartFromRetry();
        EXPECT_THAT(Positions(), ElementsAre(1000));
        EXPECT_THAT(Timers(), IsEmpty());
        EXPECT_THAT(Pages(), ElementsAre(PAGE_FAILED));
        EXPECT_EQ(PageTick() - start, 2000u);
        EXPECT_THAT(net.Log(), IsEmpty());
    }

    FakeClock clock;
    ScriptedPc net;
    RecordingWizard wizard;
    int probeResult = 0;
    std::uint64_t probeMs = 0;
    std::vector<int> uploadResults;
    std::atomic<int> uploads{0};
    std::function<void()> afterProbe, afterUpload;
    std::vector<std::string> addressesBefore, routesBefore;
};

const std::string kChecking = "checking router status...";
const std::string kConfiguring = "configuring PC network settings...";
const std::string kUploading = "uploading firmware to the router...";
const std::string kRestoring = "restoring PC network settings...";
const std::string kRebooting = "updating router firmware and rebooting router...";

TEST_F(Jobs, WorkingRouterEndsOnRouterOkAfterAtLeastOneSecondWithNothingTouched) {
    BuildPc();
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
        EXPECT_THAT(Texts(w), ElementsAre(kChecking));
        EXPECT_THAT(net.Log(), IsEmpty());
        EXPECT_TRUE(w.m_pSavedAddresses == nullptr && w.m_pSavedRoutes == nullptr);
    }
}

TEST_F(Jobs, ProbeFailingAtOnceStillWaitsASecondThenRemovesAndRecovers) {
    BuildPc();
    probeResult = 0;
    probeMs = 0;
    net.ScriptDns({0});
    const std::uint64_t start = clock.GetTickCount64();
    StartFromStatusCheck();

    const auto events = wizard.Events();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[1].kind, WizardEvent::Position);
    EXPECT_EQ(events[1].value, 100);
    EXPECT_EQ(events[1].tick - start, 1000u);
    // The clashing settings go before the recovery says anything.
    EXPECT_EQ(events[2].kind, WizardEvent::Status);
    EXPECT_EQ(events[2].text, kConfiguring);
    EXPECT_EQ(events[2].target, 100);
    const auto log = net.Log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0], "DeleteIPAddress(192.168.0.5/255.255.0.0 on 2) = 0");
    EXPECT_EQ(log[1], "DeleteIPAddress(192.168.1.100/255.255.255.0 on 3) = 0");
    EXPECT_EQ(log[2],
              "DeleteIpForwardEntry(192.168.1.0/255.255.255.0 via 10.20.0.254 on 2 metric 10) = 0");
}

TEST_F(Jobs, FirstAnswerEndsTheRunAndLaterAdaptersAreNeverTouched) {
    BuildPc();
    net.RouterAnswersArpOn(kDeadEnd);
    net.ScriptDns({0});
    wizard.m_nRebootTimeout = 120000;
    StartFromStatusCheck();

    EXPECT_THAT(Positions(), ElementsAre(100, 145, 179, 293, 338, 550, 1000));
    EXPECT_THAT(Timers(), ElementsAre(176, 1132, 176));
    EXPECT_THAT(Pages(), ElementsAre(PAGE_SUCCESS));
    EXPECT_THAT(LogWith("192.168.1.141/255.255.255.0 on 3)"), IsEmpty());
    EXPECT_EQ(net.DnsQueries(), 1);
}

TEST_F(Jobs, SingleAdapterTargetsAndIntervalsFromStatusCheckAndFromRetry) {
    net.AddAdapter(kCabled, MIB_IF_TYPE_ETHERNET, "Wired to router", "192.168.1.1");
    net.GiveAddress(kCabled, "192.168.1.100", "255.255.255.0");
    net.RouterAnswersArpOn(kCabled);
    net.ScriptDns({0});
    wizard.m_nRebootTimeout = 120000;
    StartFromStatusCheck();
    EXPECT_THAT(Positions(), ElementsAre(100, 202, 279, 536, 638, 1000, 1000));
    EXPECT_THAT(Timers(), ElementsAre(78, 662, 78));
    EXPECT_THAT(Statuses(), ElementsAre(kChecking, kConfiguring, kConfiguring, kUploading,
                                        kRestoring, kRebooting));
    EXPECT_THAT(Pages(), ElementsAre(PAGE_SUCCESS));
    EXPECT_TRUE(ListsEmpty());
    EXPECT_THAT(net.AddressState(), ElementsAre("192.168.1.100/255.255.255.0 on 3"));

    RecordingWizard retried;
    retried.m_nRebootTimeout = 120000;
    retried.m_nProgressTarget = 0;
    RunRecovery(retried);
    EXPECT_THAT(Values(retried, WizardEvent::Position),
                ElementsAre(114, 199, 484, 598, 1000, 1000));
    EXPECT_THAT(Values(retried, WizardEvent::Timer), ElementsAre(70, 597, 70));
}

TEST_F(Jobs, RecoveredOnTheSecondAdapterAfterTheFirstFailsArp) {
    BuildPc();
    net.ScriptDns({DNS_ERROR_RCODE_SERVER_FAILURE, 0});
    const std::uint64_t start = clock.GetTickCount64();
    StartFromStatusCheck();

    // The first adapter's share is handed out at once: 179 jumps to 550.
    EXPECT_THAT(Positions(), ElementsAre(100, 145, 179, 550, 595, 629, 743, 788, 1000, 1000));
    EXPECT_THAT(Pages(), ElementsAre(PAGE_SUCCESS));
    EXPECT_EQ(uploads, 1);
    EXPECT_TRUE(ListsEmpty());
    EXPECT_EQ(net.AddressState(), addressesBefore);
    EXPECT_EQ(net.RouteState(), routesBefore);
    // The temporary address is gone before the PC's own come back.
    EXPECT_THAT(LogWith("192.168.1.141"),
                ElementsAre("AddIPAddress(192.168.1.141/255.255.255.0 on 2) = 0",
                            "SendARP(192.168.1.1 from 192.168.1.141) = 67",
                            "DeleteIPAddress(192.168.1.141/255.255.255.0 on 2) = 0",
                            "AddIPAddress(192.168.1.141/255.255.255.0 on 3) = 0",
                            "SendARP(192.168.1.1 from 192.168.1.141) = 0",
                            "DeleteIPAddress(192.168.1.141/255.255.255.0 on 3) = 0"));
    const auto log = net.Log();
    const auto tempGone =
        std::find(log.begin(), log.end(), "DeleteIPAddress(192.168.1.141/255.255.255.0 on 3) = 0");
    const auto restored =
        std::find(log.begin(), log.end(), "AddIPAddress(192.168.0.5/255.255.0.0 on 2) = 0");
    EXPECT_LT(tempGone, restored);
    // Nothing is tried on the wireless adapter.
    EXPECT_THAT(LogWith(" on 4)"), IsEmpty());
    // 1 s check, 2 x (4 s settle + 1 s ARP), 3 s upload, 4 s restore, one failed and one
    // answered poll, 1 s final pause.
    EXPECT_EQ(PageTick() - start, 1000u + 10000 + 3000 + 4000 + 1000 + 1000);
}

TEST_F(Jobs, ArpPhaseLastsOneSecondEvenWhenTheReplyIsInstant) {
    BuildPc();
    net.ScriptDns({0});
    StartFromStatusCheck();
    const auto positions = wizard.EventsOf(WizardEvent::Position);
    ASSERT_GE(positions.size(), 3u);
    EXPECT_EQ(positions[1].tick - wizard.EventsOf(WizardEvent::Status)[1].tick, 4000u);
    EXPECT_EQ(positions[2].tick - positions[1].tick, 1000u);
}

TEST_F(Jobs, FailedUploadDeletesTheTemporaryAddressRestoresNothingAndMovesOn) {
    BuildPc();
    net.RouterAnswersArpOn(kDeadEnd);
    uploadResults = {TFTP_ERR_TIMEOUT, TFTP_OK};
    net.ScriptDns({0});
    StartFromStatusCheck();

    EXPECT_THAT(Positions(), ElementsAre(100, 145, 179, 293, 550, 595, 629, 743, 788, 1000, 1000));
    EXPECT_EQ(uploads, 2);
    EXPECT_THAT(Pages(), ElementsAre(PAGE_SUCCESS));
    const auto log = net.Log();
    // Between the first upload's failure and the second adapter, nothing of the PC comes back.
    const auto firstDelete =
        std::find(log.begin(), log.end(), "DeleteIPAddress(192.168.1.141/255.255.255.0 on 2) = 0");
    const auto secondAdd =
        std::find(log.begin(), log.end(), "AddIPAddress(192.168.1.141/255.255.255.0 on 3) = 0");
    ASSERT_NE(firstDelete, log.end());
    EXPECT_EQ(firstDelete + 1, secondAdd);
}

TEST_F(Jobs, SilentRouterOnEveryAdapterEndsFailedWithTheSettingsOffAndRecorded) {
    BuildPc();
    net.RouterAnswersArpOn(kDeadEnd);
    net.ScriptDns({DNS_ERROR_RCODE_NAME_ERROR});
    StartFromStatusCheck();

    EXPECT_THAT(Pages(), ElementsAre(PAGE_FAILED));
    EXPECT_EQ(uploads, 2);
    EXPECT_FALSE(ListsEmpty());
    // Only the clashing settings are off; the temporary address is gone.
    EXPECT_THAT(net.AddressState(),
                ElementsAre("10.20.0.5/255.255.0.0 on 2", "172.20.0.9/255.255.0.0 on 4"));
    EXPECT_THAT(net.RouteState(),
                ElementsAre("0.0.0.0/0.0.0.0 via 10.20.0.1 on 2 metric 10",
                            "172.16.0.0/255.240.0.0 via 10.20.0.1 on 2 metric 10"));
    // After the wait on the first adapter the status goes back to configuring for the second.
    EXPECT_THAT(Statuses(),
                ElementsAre(kChecking, kConfiguring, kConfiguring, kUploading, kRestoring,
                            kRebooting, kConfiguring, kUploading, kRestoring, kRebooting));
    // Quit from the failure page puts them all back.
    RestoreNetworkSettings(wizard);
    EXPECT_TRUE(ListsEmpty());
    EXPECT_EQ(net.AddressState(), addressesBefore);
    EXPECT_EQ(net.RouteState(), routesBefore);
}

TEST_F(Jobs, PollsThatFailAtOnceAreSpacedOneSecondApart) {
    BuildPc();
    net.ScriptDns({DNS_ERROR_RCODE_REFUSED});
    // Each refusal comes back after 10 ms.
    net.dns.SetQueryHook([this] { clock.Advance(10); });
    wizard.m_nRebootTimeout = 10000;
    StartFromStatusCheck();
    // One poll a second for the ten seconds of the wait, on the one adapter that got that far.
    EXPECT_EQ(net.DnsQueries(), 10);
    const auto timers = wizard.EventsOf(WizardEvent::Timer);
    const auto positions = wizard.EventsOf(WizardEvent::Position);
    const auto waitStart = timers[1].tick;
    const auto afterWait = std::find_if(positions.begin(), positions.end(),
                                        [&](const WizardEvent& e) { return e.tick > waitStart; });
    ASSERT_NE(afterWait, positions.end());
    EXPECT_EQ(afterWait->tick - waitStart, 10000u);
}

TEST_F(Jobs, PollsThatCannotBeMadePauseTwoSecondsEach) {
    net.AddAdapter(kCabled, MIB_IF_TYPE_ETHERNET, "Wired to router", "not-an-address");
    net.GiveAddress(kCabled, "192.168.1.100", "255.255.255.0");
    net.RouterAnswersArpOn(kCabled);
    wizard.m_nRebootTimeout = 9000;
    StartFromStatusCheck();
    EXPECT_EQ(net.DnsQueries(), 0);
    const auto waitStart = wizard.EventsOf(WizardEvent::Timer)[1].tick;
    const auto lastPositions = wizard.EventsOf(WizardEvent::Position);
    // Polls at 0, 2, 4, 6 and 8 s; the check after the fifth pause finds 10 s gone.
    EXPECT_EQ(lastPositions[lastPositions.size() - 2].tick - waitStart, 10000u);
    EXPECT_THAT(Pages(), ElementsAre(PAGE_FAILED));
}

TEST_F(Jobs, WithoutEthernetAdapterTheRunFailsAfterTwoSecondsTouchingNothing) {
    net.AddAdapter(kWireless, IF_TYPE_IEEE80211, "Wireless");
    net.AddAdapter(7, MIB_IF_TYPE_PPP, "Dial-up");
    net.AddAdapter(1, MIB_IF_TYPE_LOOPBACK, "Loopback");
    ExpectRetryFailsAfterTwoSecondsTouchingNothing();
}

TEST_F(Jobs, WithoutAdapterListTheRunFailsAfterTwoSecondsTouchingNothing) {
    net.SetNoAdapterList();
    ExpectRetryFailsAfterTwoSecondsTouchingNothing();
}

TEST_F(Jobs, TryBoxesOnlyInDiagnosticModeOnePerEthernetAdapterBeforeItsAddress) {
    BuildPc();
    net.ScriptDns({DNS_ERROR_RCODE_SERVER_FAILURE});
    wizard.m_bDebug = TRUE;
    StartFromStatusCheck();
    std::vector<std::string> tries;
    for (const auto& box : wizard.Boxes())
        if (box.rfind("Information: Try ", 0) == 0) tries.push_back(box);
    EXPECT_THAT(tries,
                ElementsAre("Information: Try Wired dead end", "Information: Try Wired to router"));
    // Each box comes before that attempt's status text and bar target.
    const auto events = wizard.Events();
    for (std::size_t i = 0; i < events.size(); ++i)
        if (events[i].kind == WizardEvent::Box && events[i].text.rfind("Try ", 0) == 0) {
            ASSERT_LT(i + 1, events.size());
            EXPECT_EQ(events[i + 1].text, kConfiguring);
        }

    RecordingWizard quiet;
    quiet.m_nRebootTimeout = 10000;
    quiet.m_nProgressTarget = 0;
    RunRecovery(quiet);
    EXPECT_THAT(quiet.Boxes(), IsEmpty());
}

TEST_F(Jobs, AFailedAddDeletesNoAddressOfThePc) {
    BuildPc();
    net.FailAddingAddresses();
    StartFromStatusCheck();
    EXPECT_THAT(LogWith("DeleteIPAddress(#"), IsEmpty());
    EXPECT_THAT(LogWith("DeleteIPAddress(192.168.1.141"), IsEmpty());
    EXPECT_THAT(Pages(), ElementsAre(PAGE_FAILED));
    EXPECT_EQ(uploads, 0);
}

TEST_F(Jobs, RetryRecoversWithoutRemovingTheSettingsAgain) {
    BuildPc();
    net.ScriptDns({0});
    RemoveConflictingSettings(wizard);  // left off by the failed run before
    const auto removals = LogWith("Delete").size();
    StartFromRetry();
    EXPECT_THAT(Pages(), ElementsAre(PAGE_SUCCESS));
    // Only the temporary addresses were deleted during the run.
    EXPECT_EQ(LogWith("Delete").size(), removals + 2);
    EXPECT_EQ(net.AddressState(), addressesBefore);
    EXPECT_EQ(net.RouteState(), routesBefore);
    EXPECT_TRUE(ListsEmpty());
}

TEST_F(Jobs, TenAdaptersAreAllTriedAndTheBarEndsFull) {
    for (DWORD index = 10; index < 20; ++index)
        net.AddAdapter(index, MIB_IF_TYPE_ETHERNET, "Port " + std::to_string(index));
    StartFromStatusCheck();
    EXPECT_EQ(LogWith("AddIPAddress(192.168.1.141").size(), 10u);
    EXPECT_EQ(wizard.m_nProgressTarget.load(), 1000);
    EXPECT_THAT(Pages(), ElementsAre(PAGE_FAILED));
}

// A stop requested during one phase of the first adapter's attempt, which would otherwise go
// through every phase.
struct StopCase {
    const char* phase;
    enum Hook { Probe, IpCall, Upload, Poll } hook;
    const char* call;  // IpCall: the stop comes with the first call that starts so
    std::size_t temporaryAdds;
};

void PrintTo(const StopCase& c, std::ostream* out) {
    *out << c.phase;
}

class StopDuring : public Jobs, public ::testing::WithParamInterface<StopCase> {
protected:
    void SetUp() override {
        Jobs::SetUp();
        const StopCase& c = GetParam();
        // A step has begun with its ARP, its upload, its poll, or an address it adds (the
        // temporary one, or one of the PC's put back).
        net.ip.SetCallHook([this, c](const std::string& call) {
            if (call.rfind("SendARP(", 0) == 0 || call.rfind("AddIPAddress(", 0) == 0) ++steps;
            if (c.hook == StopCase::IpCall && call.rfind(c.call, 0) == 0) StopNow();
        });
        net.dns.SetQueryHook([this, c] {
            ++steps;
            if (c.hook == StopCase::Poll) StopNow();
        });
        if (c.hook == StopCase::Probe) afterProbe = [this] { StopNow(); };
        if (c.hook == StopCase::Upload) afterUpload = [this] { StopNow(); };
    }
    int Steps() const { return steps + uploads; }
    void StopNow() {
        if (StopRequested()) return;
        stopTick = clock.GetTickCount64();
        stepsAtStop = Steps();
        RequestStop();
    }

    std::atomic<int> steps{0};
    int stepsAtStop = -1;
    std::uint64_t stopTick = 0;
};

TEST_P(StopDuring, TheRunEndsOnTheFailedPageWithinTheStepAndQuitPutsThePcBack) {
    BuildPc();
    net.RouterAnswersArpOn(kDeadEnd);
    net.ScriptDns({DNS_ERROR_RCODE_NAME_ERROR});
    StartFromStatusCheck();

    EXPECT_THAT(Pages(), ElementsAre(PAGE_FAILED));
    // Nothing began and nothing was slept after the stop; no other adapter was tried.
    EXPECT_EQ(Steps(), stepsAtStop);
    EXPECT_EQ(PageTick(), stopTick);
    EXPECT_EQ(LogWith("AddIPAddress(192.168.1.141").size(), GetParam().temporaryAdds);
    for (const std::string& address : net.AddressState())
        EXPECT_EQ(address.find("192.168.1.141"), std::string::npos);
    if (GetParam().hook == StopCase::Probe) {
        EXPECT_THAT(net.Log(), IsEmpty());
    }
    RestoreNetworkSettings(wizard);  // Quit on the failed page
    EXPECT_EQ(net.AddressState(), addressesBefore);
    EXPECT_EQ(net.RouteState(), routesBefore);
}

const StopCase kStopCases[] = {
    {"Probe", StopCase::Probe, nullptr, 0},
    {"SettlePause", StopCase::IpCall, "AddIPAddress(192.168.1.141", 1},
    {"Arp", StopCase::IpCall, "SendARP(", 1},
    {"Upload", StopCase::Upload, nullptr, 1},
    {"RestorePause", StopCase::IpCall, "CreateIpForwardEntry(", 1},
    {"Poll", StopCase::Poll, nullptr, 1},
};
INSTANTIATE_TEST_SUITE_P(Phases, StopDuring, ::testing::ValuesIn(kStopCases),
                         [](const auto& row) { return std::string(row.param.phase); });

TEST_F(Jobs, ThreadEntryRunsTheJobThenClearsItsHandleAndStopsTheTimer) {
    BuildPc();
    probeResult = 1;
    wizard.m_nProgressTarget = 100;
    {
        std::lock_guard<std::mutex> lock(wizard.m_workerLock);
        wizard.m_hWorker = BeginThread(StatusCheckThread, static_cast<WizardContext*>(&wizard));
        ASSERT_NE(wizard.m_hWorker, nullptr);
    }
    const auto waitUntil = [](const auto& condition) {
        for (int i = 0; i < 5000 && !condition(); ++i) {
            timespec pause{0, 1000000};
            nanosleep(&pause, nullptr);
        }
        return condition();
    };
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard<std::mutex> lock(wizard.m_workerLock);
        return wizard.m_hWorker == nullptr;
    }));
    // The handle is cleared before the timer dies; wait for that last call.
    waitUntil([&] { return wizard.Events().back().kind == WizardEvent::KillTimer; });
    const auto events = wizard.Events();
    EXPECT_EQ(events.back().kind, WizardEvent::KillTimer);
    EXPECT_THAT(Pages(), ElementsAre(PAGE_ROUTER_OK));
}

}  // namespace
}  // namespace kestrel
