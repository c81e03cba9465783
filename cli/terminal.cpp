// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/terminal.h"

#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace kestrel {

bool IsTerminal(int fd) {
    return ::isatty(fd) == 1;
}

int TerminalColumns(int fd) {
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

Waited WaitForInputOrQuit(int fd, int quitFd, int timeoutMs) {
    pollfd ready[2] = {{quitFd, POLLIN, 0}, {fd, POLLIN, 0}};
    const int count = fd >= 0 ? 2 : 1;
    if (::poll(ready, count, timeoutMs) <= 0) return Waited::Timeout;  // EINTR: look again
    if (ready[0].revents & POLLIN) return Waited::QuitSignal;
    // The end of the input or a hang-up counts as input: the read then says so.
    if (count == 2 && ready[1].revents) return Waited::Input;
    return Waited::Timeout;
}

bool ReadLine(int fd, std::string& line) {
    line.clear();
    for (;;) {
        char c = 0;
        const ssize_t got = ::read(fd, &c, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return !line.empty();
        if (c == '\n') return true;
        line += c;
    }
}

bool OpenUrlInBrowser(const std::string& url) {
    const char* argv[] = {"xdg-open", url.c_str(), nullptr};
    pid_t pid = 0;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace kestrel
