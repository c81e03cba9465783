// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The one place that deals with the process's privileges.
#include "platform/linux/privileges.h"

#include <grp.h>
#include <pwd.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/linux/netparams.h"

#ifndef KESTREL_HELPER_INSTALLED
#define KESTREL_HELPER_INSTALLED "/usr/libexec/kestrel-recovery/kestrel-recovery-helper"
#endif
#ifndef KESTREL_BUILD_TREE
#define KESTREL_BUILD_TREE ""
#endif
#ifndef KESTREL_HELPER_BUILT
#define KESTREL_HELPER_BUILT ""
#endif

namespace kestrel {
namespace {

constexpr char kPkexec[] = "/usr/bin/pkexec";
// Longer than the longest request the helper serves (ARP waits 3 s for the router).
constexpr std::chrono::seconds kRequestLimit(10);

// The invoking user of a root process: sudo's, or pkexec's. Nothing when root was not lent.
bool InvokingUser(uid_t& uid, gid_t& gid) {
    auto number = [](const char* name, unsigned long& value) {
        const char* text = std::getenv(name);
        char* end = nullptr;
        if (!text || !*text) return false;
        errno = 0;
        value = std::strtoul(text, &end, 10);
        return errno == 0 && *end == 0 && value > 0 && value < UINT_MAX;
    };
    unsigned long user = 0;
    unsigned long group = 0;
    if (number("SUDO_UID", user) && number("SUDO_GID", group)) {
        uid = static_cast<uid_t>(user);
        gid = static_cast<gid_t>(group);
        return true;
    }
    if (number("PKEXEC_UID", user)) {
        const passwd* entry = ::getpwuid(static_cast<uid_t>(user));
        if (!entry) return false;
        uid = entry->pw_uid;
        gid = entry->pw_gid;
        return true;
    }
    return false;
}

// Becomes `uid`/`gid` for good, with that user's groups and the environment a desktop program
// of theirs expects.
bool BecomeUser(uid_t uid, gid_t gid, std::string& why) {
    const passwd* entry = ::getpwuid(uid);
    const std::string name = entry ? entry->pw_name : std::to_string(uid);
    const std::string home = entry ? entry->pw_dir : "/";
    if ((entry ? ::initgroups(name.c_str(), gid) : ::setgroups(0, nullptr)) != 0 ||
        ::setresgid(gid, gid, gid) != 0 || ::setresuid(uid, uid, uid) != 0 || ::setuid(0) == 0) {
        why = std::string("cannot become the invoking user: ") + std::strerror(errno);
        return false;
    }
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("USER", name.c_str(), 1);
    ::setenv("LOGNAME", name.c_str(), 1);
    const std::string runtime = "/run/user/" + std::to_string(uid);
    struct stat info {};
    if (::stat(runtime.c_str(), &info) == 0 && info.st_uid == uid)
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
    return true;
}

}  // namespace

bool RunsWithSecureExec() {
    return ::getauxval(AT_SECURE) != 0;
}

namespace {

bool RunsFromBuildTree() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    const std::string tree = KESTREL_BUILD_TREE;
    return !error && !tree.empty() && self.string().rfind(tree + "/", 0) == 0;
}

// In its build tree a front end may be handed a stand-in helper to start directly, without
// pkexec: the tests' way to run it as an ordinary user. An installed one never looks.
const char* StandInHelper() {
    const char* standIn = RunsFromBuildTree() ? std::getenv("KESTREL_HELPER") : nullptr;
    return standIn && *standIn ? standIn : nullptr;
}

}  // namespace

std::string HelperPath() {
    if (const char* standIn = StandInHelper()) return standIn;
    if (RunsFromBuildTree() && ::access(KESTREL_HELPER_BUILT, X_OK) == 0)
        return KESTREL_HELPER_BUILT;
    return KESTREL_HELPER_INSTALLED;
}

namespace {

// The helper directly as root, else through pkexec; greeted. Null, with the reason: the
// helper's own when it gave one (another recovery runs here), else what failed.
std::unique_ptr<HelperProcess> Launch(std::string& why, std::vector<std::string>& left) {
    const bool root = ::geteuid() == 0;
    std::vector<std::string> argv;
    if (!root && !StandInHelper()) argv.push_back(kPkexec);
    argv.push_back(HelperPath());
    std::unique_ptr<HelperProcess> process = HelperProcess::Start(argv, why);
    if (!process) return nullptr;
    HelperIpHelper greeter(*process, LinuxGetNetworkParams);
    if (!greeter.Hello(why, left)) {
        if (why.empty())
            why = root ? "the privileged helper " + argv.back() + " did not start"
                       : kRightsNotGranted;
        return nullptr;
    }
    process->SetTimeLimit(kRequestLimit);
    return process;
}

}  // namespace

std::unique_ptr<PrivilegedHelper> PrivilegedHelper::Start(std::string& why) {
    // A helper that goes away shows as a failed write, not as this process's death.
    std::signal(SIGPIPE, SIG_IGN);
    const bool root = ::geteuid() == 0;
    std::vector<std::string> left;
    std::unique_ptr<HelperProcess> process = Launch(why, left);
    if (!process) return nullptr;
    std::unique_ptr<PrivilegedHelper> helper(
        new PrivilegedHelper(std::move(process), Launch, LinuxGetNetworkParams,
                             "sudo " + HelperPath() + " --restore", std::move(left)));
    uid_t uid = 0;
    gid_t gid = 0;
    if (root && InvokingUser(uid, gid) && !BecomeUser(uid, gid, why)) return nullptr;
    helper->Install();
    return helper;
}

}  // namespace kestrel
