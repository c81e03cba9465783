// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Kernel services: the command line, the image folder, the user's location, the locale's
// character set, the rights check and the quit-signal pipe.
#include "platform/kernel.h"

#include <gtest/gtest.h>
#include <sys/capability.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <csignal>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace kestrel {
namespace {

// Sets environment variables for one test and puts the old values back.
class ScopedEnvironment {
public:
    void Set(const char* name, std::optional<std::string> value) {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name);
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~ScopedEnvironment() {
        for (auto& [name, value] : saved_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

TEST(CommandLine, JoinsEveryArgumentWithSingleSpaces) {
    std::string args[] = {"/usr/bin/kestrel-recovery", "FW=my", "image.bin", "", "DEBUG"};
    char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(), args[4].data()};
    SetCommandLine(5, argv);
    EXPECT_EQ(GetCommandLineW(), "/usr/bin/kestrel-recovery FW=my image.bin  DEBUG");
    SetCommandLine(1, argv);
    EXPECT_EQ(GetCommandLineW(), "/usr/bin/kestrel-recovery");
}

TEST(SystemDirectory, BuildDefaultUnlessTheEnvironmentNamesAnother) {
    ScopedEnvironment environment;
    environment.Set("KESTREL_SYSTEM_DIR", std::nullopt);
    EXPECT_EQ(GetSystemDirectoryW(), KESTREL_DEFAULT_SYSTEM_DIR);
    environment.Set("KESTREL_SYSTEM_DIR", "");
    EXPECT_EQ(GetSystemDirectoryW(), KESTREL_DEFAULT_SYSTEM_DIR);
    environment.Set("KESTREL_SYSTEM_DIR", "/tmp/images");
    EXPECT_EQ(GetSystemDirectoryW(), "/tmp/images");
}

TEST(UserGeoId, TerritoryOfTheFirstLocaleVariableSet) {
    struct Case {
        std::optional<std::string> all, address, lang;
        int expected;
    };
    const Case cases[] = {
        {"en_US.UTF-8", std::nullopt, std::nullopt, GEOID_UNITED_STATES},
        {std::nullopt, "fr_CA.UTF-8", "de_DE.UTF-8", GEOID_CANADA},
        {std::nullopt, std::nullopt, "es_MX.ISO-8859-1@latin", GEOID_MEXICO},
        {std::nullopt, std::nullopt, "es_MX", GEOID_MEXICO},
        {"de_DE.UTF-8", "en_US.UTF-8", "en_US.UTF-8", 0},  // LC_ALL wins
        {"", "en_CA", "de_DE", GEOID_CANADA},              // an empty variable counts as unset
        {"C.UTF-8", std::nullopt, "en_US.UTF-8", 0},
        {"POSIX", std::nullopt, std::nullopt, 0},
        {std::nullopt, std::nullopt, std::nullopt, 0},
        {"en_USA.UTF-8", std::nullopt, std::nullopt, 0},
    };
    for (const Case& c : cases) {
        ScopedEnvironment environment;
        environment.Set("LC_ALL", c.all);
        environment.Set("LC_ADDRESS", c.address);
        environment.Set("LANG", c.lang);
        EXPECT_EQ(GetUserGeoID(), c.expected)
            << c.all.value_or("-") << " " << c.address.value_or("-") << " " << c.lang.value_or("-");
    }
}

class LocaleCharacterSet : public ::testing::Test {
protected:
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

TEST_F(LocaleCharacterSet, KeepsWhatTheLocaleCanWriteAndRefusesTheRest) {
    struct Case {
        const char* locale;
        std::string name;
        bool ok;
    };
    const Case cases[] = {
        {"C.UTF-8", "image.bin", true},
        {"C.UTF-8", "caf\xC3\xA9.bin", true},
        {"C.UTF-8", "caf\xE9.bin", false},  // a Latin-1 byte is no UTF-8
        {"C.UTF-8", "", true},
        {"C", "caf\xC3\xA9.bin", false},
        {"C", "plain.bin", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.locale) + " " + c.name);
        ASSERT_NE(std::setlocale(LC_ALL, c.locale), nullptr);
        std::string out = "unchanged";
        EXPECT_EQ(WideCharToMultiByte(c.name, out), c.ok);
        EXPECT_EQ(out, c.ok ? c.name : "unchanged");
    }
}

TEST(NetworkAdminRights, RootHasThemAndLosesThemWithOneCapability) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    EXPECT_TRUE(HasNetworkAdminRights());
    for (cap_value_t dropped : {CAP_NET_ADMIN, CAP_NET_RAW}) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            cap_t caps = cap_get_proc();
            cap_set_flag(caps, CAP_EFFECTIVE, 1, &dropped, CAP_CLEAR);
            int status = cap_set_proc(caps) == 0 && !HasNetworkAdminRights() ? 0 : 1;
            cap_free(caps);
            _exit(status);
        }
        int status = -1;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "dropped " << dropped;
    }
}

TEST(QuitSignals, EachSignalLeavesOneByteInThePipeAndTheFirstIsNamed) {
    int readEnd = InstallQuitSignalPipe();
    ASSERT_GE(readEnd, 0);
    EXPECT_EQ(InstallQuitSignalPipe(), readEnd);
    int first = 0;
    DrainQuitSignalPipe(readEnd, first);
    EXPECT_EQ(DrainQuitSignalPipe(readEnd, first), 0);
    raise(SIGTERM);
    raise(SIGINT);
    raise(SIGHUP);
    EXPECT_EQ(DrainQuitSignalPipe(readEnd, first), 3);
    EXPECT_EQ(first, SIGTERM);
    EXPECT_EQ(DrainQuitSignalPipe(readEnd, first), 0);
}

}  // namespace
}  // namespace kestrel
