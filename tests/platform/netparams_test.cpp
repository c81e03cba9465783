// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Which DNS servers the probe asks when the resolver configuration names local stubs.
#include "platform/linux/netparams.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace kestrel {
namespace {

const char kResolved[] = "# generated\nnameserver 192.168.1.1\nnameserver 10.0.0.53\n";
const char kManager[] = "search lan\nnameserver 172.16.0.1 # dhcp\n";

TEST(LocalStubs, TheServersBehindThemAreAskedInstead) {
    // The servers configured, those asked, and the lists behind systemd-resolved's stub
    // (/run/systemd/resolve/resolv.conf) and NetworkManager's (no-stub-resolv.conf).
    const std::tuple<const char*, const char*, const char*, const char*> cases[] = {
        {"127.0.1.1", "172.16.0.1 ", kResolved, kManager},
        {"10.0.0.53 127.0.0.53", "10.0.0.53 192.168.1.1 ", kResolved, kManager},  // each once
        {"127.0.0.53 172.16.0.9", "172.16.0.9 ", "", kManager},   // a stub without its list
        {"127.0.1.1", "", kResolved, "nameserver 127.0.0.53\n"},  // a list naming a stub again
        {"127.0.0.1 192.168.1.1", "192.168.1.1 ", kResolved, kManager},  // another local one
    };
    for (const auto& [given, asked, resolvedList, managerList] : cases) {
        std::vector<IPAddr> configured;
        std::istringstream in(given);
        for (std::string server; in >> server;) configured.push_back(inet_addr(server.c_str()));
        const auto servers = ServersPastLocalStubs(configured, [&](const char* path) {
            const std::string file = path;
            return std::string(file == "/run/systemd/resolve/resolv.conf"          ? resolvedList
                               : file == "/run/NetworkManager/no-stub-resolv.conf" ? managerList
                                                                                   : "");
        });
        std::string texts;
        for (IPAddr server : servers) texts += std::string(inet_ntoa(in_addr{server})) + " ";
        EXPECT_EQ(texts, asked) << given;
    }
}

}  // namespace
}  // namespace kestrel
