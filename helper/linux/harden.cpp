// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "helper/harden.h"

#include <fcntl.h>
#include <sys/capability.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>

namespace kestrel {
namespace {

bool Failed(std::string& why, const std::string& what) {
    why = what + ": " + std::strerror(errno);
    return false;
}

// pkexec hands the caller's limits on: a low one would kill the helper mid-change (SIGXFSZ at
// a journal write, SIGXCPU under a flood of requests) or starve it.
bool ResetLimits(std::string& why) {
    constexpr rlim_t kInfinite = RLIM_INFINITY;
    const struct {
        int resource;
        rlim_t value;
        const char* name;
    } limits[] = {
        {RLIMIT_FSIZE, kInfinite, "RLIMIT_FSIZE"},   {RLIMIT_CPU, kInfinite, "RLIMIT_CPU"},
        {RLIMIT_AS, kInfinite, "RLIMIT_AS"},         {RLIMIT_DATA, kInfinite, "RLIMIT_DATA"},
        {RLIMIT_STACK, 8u << 20, "RLIMIT_STACK"},    {RLIMIT_NOFILE, 1024, "RLIMIT_NOFILE"},
        {RLIMIT_RSS, kInfinite, "RLIMIT_RSS"},       {RLIMIT_CORE, 0, "RLIMIT_CORE"},
        {RLIMIT_RTTIME, kInfinite, "RLIMIT_RTTIME"},
    };
    for (const auto& limit : limits) {
        const rlimit value{limit.value, limit.value};
        if (::setrlimit(limit.resource, &value) != 0) return Failed(why, limit.name);
    }
    ::setpriority(PRIO_PROCESS, 0, 0);
    return true;
}

bool KeepOnlyNetworkRights(std::string& why) {
    // Out of the bounding set first: dropping needs CAP_SETPCAP, which goes next.
    for (cap_value_t cap = 0; cap <= CAP_LAST_CAP; ++cap)
        if (cap != CAP_NET_ADMIN && cap != CAP_NET_RAW && CAP_IS_SUPPORTED(cap) &&
            cap_drop_bound(cap) != 0)
            return Failed(why, "cannot drop a capability from the bounding set");
    std::unique_ptr<struct _cap_struct, int (*)(void*)> caps(cap_init(), cap_free);
    const cap_value_t kept[] = {CAP_NET_ADMIN, CAP_NET_RAW};
    if (!caps || cap_set_flag(caps.get(), CAP_PERMITTED, 2, kept, CAP_SET) != 0 ||
        cap_set_flag(caps.get(), CAP_EFFECTIVE, 2, kept, CAP_SET) != 0 ||
        cap_set_proc(caps.get()) != 0)
        return Failed(why, "cannot drop its other capabilities");
    if (cap_reset_ambient() != 0 && errno != EINVAL)
        return Failed(why, "cannot clear the ambient capabilities");
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return Failed(why, "no_new_privs");
    return true;
}

}  // namespace

bool HardenHelper(bool keepStderr, std::string& why) {
    // Not the terminal's: Ctrl+C, Ctrl+\ and Ctrl+Z, a hangup and tcsetpgrp are the caller's
    // business. A process group leader (started from a shell) cannot, and keeps its own group.
    if (::setsid() < 0) ::setpgid(0, 0);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);  // a caller's blocked SIGTERM is not ours
    for (int signal : {SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU, SIGXCPU, SIGXFSZ, SIGPIPE})
        std::signal(signal, SIG_IGN);
    if (!ResetLimits(why) || !KeepOnlyNetworkRights(why)) return false;
    if (!keepStderr && ::isatty(STDERR_FILENO)) {
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, STDERR_FILENO);
            ::close(null);
        }
    }
    return true;
}

}  // namespace kestrel
