// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Which DNS servers the probe asks when the resolver configuration names local stubs.
#include "platform/netparams.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrel {
namespace {

using Texts = std::vector<std::string>;

TEST(LocalStubs, TheServersBehindThemAreAskedInstead) {
    struct Case {
        const char* what;
        Texts configured;
        std::string resolvedList;  // /run/systemd/resolve/resolv.conf
        std::string managerList;   // /run/NetworkManager/no-stub-resolv.conf
        Texts asked;
    };
    const std::string resolved = "# generated\nnameserver 192.168.1.1\nnameserver 10.0.0.53\n";
    const std::string manager = "search lan\nnameserver 172.16.0.1 # dhcp\n";
    const Case cases[] = {
        {"real servers stay as they are",
         {"192.168.1.1", "10.0.0.53"},
         resolved,
         manager,
         {"192.168.1.1", "10.0.0.53"}},
        {"systemd-resolved's stub",
         {"127.0.0.53"},
         resolved,
         manager,
         {"192.168.1.1", "10.0.0.53"}},
        {"NetworkManager's dnsmasq", {"127.0.1.1"}, resolved, manager, {"172.16.0.1"}},
        {"a stub beside one of its servers: each once, in order",
         {"10.0.0.53", "127.0.0.53"},
         resolved,
         manager,
         {"10.0.0.53", "192.168.1.1"}},
        {"a stub whose list is missing is left out",
         {"127.0.0.53", "172.16.0.9"},
         "",
         manager,
         {"172.16.0.9"}},
        {"a list naming a stub again", {"127.0.1.1"}, resolved, "nameserver 127.0.0.53\n", {}},
        {"any other local resolver is left out",
         {"127.0.0.1", "192.168.1.1"},
         resolved,
         manager,
         {"192.168.1.1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<IPAddr> configured;
        for (const std::string& server : c.configured)
            configured.push_back(inet_addr(server.c_str()));
        const auto servers = ServersPastLocalStubs(configured, [&](const char* path) {
            const std::string file = path;
            if (file == "/run/systemd/resolve/resolv.conf") return c.resolvedList;
            if (file == "/run/NetworkManager/no-stub-resolv.conf") return c.managerList;
            return std::string();
        });
        Texts asked;
        for (IPAddr server : servers) asked.push_back(inet_ntoa(in_addr{server}));
        EXPECT_EQ(asked, c.asked);
    }
}

}  // namespace
}  // namespace kestrel
