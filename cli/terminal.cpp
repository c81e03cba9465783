// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/terminal.h"

#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

extern char** environ;

namespace kestrel {

std::string Printable(const std::string& text) {
    std::string shown;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        // C0, DEL, and C1 in UTF-8 (U+0080 to U+009F), which some terminals obey as well.
        const bool c1 = byte == 0xc2 && next >= 0x80 && next <= 0x9f;
        if (byte >= 0x20 && byte != 0x7f && !c1) {
            shown += text[i];
            continue;
        }
        char escaped[9];
        if (c1)
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned>(next)), ++i;
        else
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned>(byte));
        shown += escaped;
    }
    return shown;
}

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
