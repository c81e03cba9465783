// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "helper/program.h"

#include <poll.h>
#include <sys/stat.h>
#include <syslog.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "helper/linux/linux_netkernel.h"

namespace kestrel {

const char kRightsNeeded[] =
    "needs CAP_NET_ADMIN and CAP_NET_RAW: it is started through pkexec or as root";

void StartProgram(const char* program) {
    ::umask(077);
    openlog(program, LOG_PID | LOG_NDELAY, LOG_DAEMON);
    std::signal(SIGPIPE, SIG_IGN);
}

void Log(const std::string& line) {
    syslog(LOG_NOTICE, "%s", line.c_str());
}

void LogFailure(const std::string& line) {
    std::fprintf(stderr, "kestrel-recovery-helper: %s\n", line.c_str());
    syslog(LOG_ERR, "%s", line.c_str());
}

std::string JournalFolderPath() {
    return "/run/kestrel-recovery";
}

std::unique_ptr<NetKernel> MakeNetKernel() {
    return std::make_unique<LinuxNetKernel>();
}

Wake WaitForInput(int input, int quit) {
    pollfd ready[2] = {{input, POLLIN, 0}, {quit, POLLIN, 0}};
    if (::poll(ready, 2, -1) < 0) return errno == EINTR ? Wake::Interrupted : Wake::Failed;
    return ready[0].revents & (POLLIN | POLLHUP | POLLERR) || ready[1].revents ? Wake::Ready
                                                                               : Wake::Interrupted;
}

}  // namespace kestrel
