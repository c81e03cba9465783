// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Kernel services that read the process's surroundings: the image folder, the user's location,
// the rights check and the quit-signal pipe.
#include <gtest/gtest.h>
#include <sys/capability.h>

#include <csignal>
#include <cstdlib>
#include <tuple>

#include "helper/rights.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/quit_signals.h"

namespace kestrel {
namespace {

TEST(SystemDirectory, BuildDefaultUnlessTheEnvironmentNamesAnother) {
    for (const char* value : {static_cast<const char*>(nullptr), "", "/tmp/images"}) {
        value ? setenv("KESTREL_SYSTEM_DIR", value, 1) : unsetenv("KESTREL_SYSTEM_DIR");
        EXPECT_EQ(GetSystemDirectoryW(), value && *value ? value : KESTREL_DEFAULT_SYSTEM_DIR);
    }
}

TEST(UserGeoId, TerritoryOfTheFirstLocaleVariableSet) {
    // LC_ALL, LC_ADDRESS and LANG (empty counts as unset), and the territory's id.
    const std::tuple<const char*, const char*, const char*, int> cases[] = {
        {"en_US.UTF-8", "", "", GEOID_UNITED_STATES},
        {"", "fr_CA.UTF-8", "de_DE.UTF-8", GEOID_CANADA},
        {"", "", "es_MX.ISO-8859-1@latin", GEOID_MEXICO},
        {"de_DE.UTF-8", "en_US.UTF-8", "en_US.UTF-8", 0},  // LC_ALL wins
        {"", "", "", 0},
        {"en_USA.UTF-8", "", "", 0},
    };
    for (const auto& [all, address, lang, territory] : cases) {
        setenv("LC_ALL", all, 1);
        setenv("LC_ADDRESS", address, 1);
        setenv("LANG", lang, 1);
        EXPECT_EQ(GetUserGeoID(), territory) << all << "|" << address << "|" << lang;
    }
    for (const char* name : {"LC_ALL", "LC_ADDRESS", "LANG"}) unsetenv(name);
    EXPECT_EQ(GetUserGeoID(), 0);
}

TEST(QuitSignals, EachSignalLeavesOneByteInThePipeAndTheFirstIsNamed) {
    const int readEnd = InstallQuitSignalPipe();
    ASSERT_GE(readEnd, 0);
    EXPECT_EQ(InstallQuitSignalPipe(), readEnd);
    int first = 0;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) raise(signal);
    EXPECT_EQ(DrainQuitSignalPipe(readEnd, first), 3);
    EXPECT_EQ(first, SIGTERM);
    EXPECT_EQ(DrainQuitSignalPipe(readEnd, first), 0);
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
