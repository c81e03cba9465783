// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Kernel services that read the process's surroundings: the image folder, the user's location,
// the DNS servers behind the resolver configuration's local stubs, and the rights check.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/capability.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "helper/rights.h"
#include "platform/files.h"
#include "platform/linux/netparams.h"
#include "platform/locale.h"

namespace kestrel {
namespace {

TEST(SystemDirectory, BuildDefaultUnlessTheEnvironmentNamesAnother) {
    for (const char* value : {static_cast<const char*>(nullptr), "", "/tmp/images"}) {
        value ? setenv("KESTREL_SYSTEM_DIR", value, 1) : unsetenv("KESTREL_SYSTEM_DIR");
        EXPECT_EQ(GetSystemDirectoryW(), value && *value ? value : KESTREL_DEFAULT_SYSTEM_DIR);
    }
}

TEST(UserGeoId, TerritoryOfTheFirstLocaleVariableSet) {
    // LC_ALL, LC_ADDRESS and LANG (nullptr: unset; empty counts as unset), and the territory's id.
    const std::tuple<const char*, const char*, const char*, int> cases[] = {
        {"en_US.UTF-8", "", "", GEOID_UNITED_STATES},
        {nullptr, "fr_CA.UTF-8", "de_DE.UTF-8", GEOID_CANADA},
        {"", nullptr, "es_MX.ISO-8859-1@latin", GEOID_MEXICO},
        {"de_DE.UTF-8", "en_US.UTF-8", "en_US.UTF-8", 0},  // LC_ALL wins
        {"en_USA.UTF-8", "", "", 0},
        {nullptr, nullptr, nullptr, 0},
    };
    for (const auto& [all, address, lang, territory] : cases) {
        const std::pair<const char*, const char*> variables[] = {
            {"LC_ALL", all}, {"LC_ADDRESS", address}, {"LANG", lang}};
        for (const auto& [name, value] : variables) value ? setenv(name, value, 1) : unsetenv(name);
        EXPECT_EQ(GetUserGeoID(), territory) << all << "|" << address << "|" << lang;
    }
}

TEST(LocalStubs, TheServersBehindThemAreAskedInstead) {
    const char resolved[] = "# generated\nnameserver 192.168.1.1\nnameserver 10.0.0.53\n";
    const char manager[] = "search lan\nnameserver 172.16.0.1 # dhcp\n";
    // The servers configured, those asked, and the lists behind systemd-resolved's stub
    // (/run/systemd/resolve/resolv.conf) and NetworkManager's (no-stub-resolv.conf).
    const std::tuple<const char*, const char*, const char*, const char*> cases[] = {
        {"127.0.1.1", "172.16.0.1 ", resolved, manager},
        {"10.0.0.53 127.0.0.53", "10.0.0.53 192.168.1.1 ", resolved, manager},  // each once
        {"127.0.0.53 172.16.0.9", "172.16.0.9 ", "", manager},         // a stub without its list
        {"127.0.1.1", "", resolved, "nameserver 127.0.0.53\n"},        // a list naming a stub again
        {"127.0.0.1 192.168.1.1", "192.168.1.1 ", resolved, manager},  // another local one
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

// Root only (its own ctest entry): what it reads is whether the rights are there.
TEST(NetworkAdminRights, RootHasThemAndLosesThemWithOneCapability) {
    cap_t caps = cap_get_proc();
    for (cap_value_t dropped : {CAP_NET_ADMIN, CAP_NET_RAW}) {
        for (cap_flag_value_t value : {CAP_CLEAR, CAP_SET}) {
            cap_set_flag(caps, CAP_EFFECTIVE, 1, &dropped, value);
            ASSERT_EQ(cap_set_proc(caps), 0);
            EXPECT_EQ(HasNetworkAdminRights(), value == CAP_SET) << "capability " << dropped;
        }
    }
    cap_free(caps);
}

}  // namespace
}  // namespace kestrel
