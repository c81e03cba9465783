// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The resolver check over the Linux DNS client in the lab's "pc" namespace (tests/support/lab/lab.sh),
// with the adapters read through the real helper. Run only through ctest, which builds the lab
// around this binary and removes it afterwards.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "netcfg/netcfg.h"
#include "platform/helper_client.h"
#include "platform/windns.h"
#include "tests/support/recording_wizard.h"

namespace kestrel {
namespace {

using testing::RecordingWizard;

std::string Shell(const std::string& command) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    char buffer[512];
    while (pipe && fgets(buffer, sizeof buffer, pipe.get())) out += buffer;
    return out;
}

std::string InRouter(const std::string& command) {
    return "ip netns exec \"$LAB_ROUTER\" " + command;
}

// The helper this process reads its adapters through, for the whole run.
class WithHelper : public ::testing::Environment {
public:
    void SetUp() override {
        std::string why;
        process_ = HelperProcess::Start({KESTREL_HELPER_PATH}, why);
        ASSERT_TRUE(process_) << why;
        client_ = std::make_unique<HelperIpHelper>(*process_);
        ASSERT_TRUE(client_->Hello(why)) << why;
        SetIpHelper(client_.get());
    }
    void TearDown() override {
        SetIpHelper(nullptr);
        client_->End();
    }

private:
    std::unique_ptr<HelperProcess> process_;
    std::unique_ptr<HelperIpHelper> client_;
};
::testing::Environment* const kWithHelper = ::testing::AddGlobalTestEnvironment(new WithHelper);

// dnsmasq at the router's address, for as long as the object lives.
class RouterDns {
public:
    RouterDns() {
        pid_ = fork();
        if (pid_ == 0) {
            const char* router = std::getenv("LAB_ROUTER");
            execlp("ip", "ip", "netns", "exec", router, "dnsmasq", "--no-daemon", "--no-resolv",
                   "--no-hosts", "--conf-file=/dev/null",
                   "--pid-file=", "--host-record=router.kestrel.home,192.168.1.1",
                   "--listen-address=192.168.1.1", "--bind-interfaces", nullptr);
            _exit(127);
        }
        for (int i = 0; i < 50; ++i) {  // up to 5 s for it to listen
            if (Shell(InRouter("ss -lun")).find("192.168.1.1:53") != std::string::npos) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    ~RouterDns() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }

private:
    pid_t pid_ = -1;
};

TEST(LinuxResolver, AsksTheGatewayThroughItsOwnLink) {
    RecordingWizard dlg;
    const ULONG eth1 = if_nametoindex("eth1");
    EXPECT_EQ(CheckResolver(dlg, eth1), 0);  // nobody answers yet
    {
        RouterDns dns;
        // A host route and a better default route via the same gateway address on the other
        // link: neither the routes nor the gateway's address may pick the link for the query.
        Shell("ip route add 192.168.1.1/32 via 192.168.0.254 dev eth0");
        Shell("ip route add default via 192.168.1.1 dev eth0 onlink metric 50");
        EXPECT_EQ(CheckResolver(dlg, eth1), 1);
        Shell("ip route del default via 192.168.1.1 dev eth0 onlink metric 50");
        Shell("ip route del 192.168.1.1/32 via 192.168.0.254 dev eth0");
        EXPECT_EQ(CheckResolver(dlg, if_nametoindex("eth0")), 0);  // gateway 0.0.0.0

        IP4_ARRAY servers{1, {inet_addr("192.168.1.1")}};
        DNS_RECORDA* records = nullptr;
        EXPECT_EQ(DnsQuery_A(kSetupHostName, DNS_TYPE_A, DNS_QUERY_BYPASS_CACHE, &servers, &records,
                             nullptr, if_nametoindex("eth0")),
                  ERROR_TIMEOUT);  // bound to the dead end
        ASSERT_EQ(DnsQuery_A(kSetupHostName, DNS_TYPE_A, DNS_QUERY_BYPASS_CACHE, &servers, &records,
                             nullptr, eth1),
                  0);
        ASSERT_NE(records, nullptr);
        EXPECT_EQ(records->Data.A.IpAddress, inet_addr("192.168.1.1"));
        DnsFree(records, DnsFreeRecordList);
    }
    EXPECT_TRUE(dlg.Boxes().empty());
}

}  // namespace
}  // namespace kestrel
