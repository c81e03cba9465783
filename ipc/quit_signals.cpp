// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/quit_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <mutex>

namespace kestrel {
namespace {

int pipeEnds[2] = {-1, -1};

extern "C" void OnQuitSignal(int signal) {
    int saved = errno;
    // The signal's number, so that the program can end with 128 + it.
    char byte = static_cast<char>(signal);
    // A full pipe already holds a request; losing this byte loses nothing.
    [[maybe_unused]] ssize_t written = write(pipeEnds[1], &byte, 1);
    errno = saved;
}

int SetUp() {
    if (pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
    struct sigaction action = {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        if (sigaction(signal, &action, nullptr) != 0) return -1;
    return pipeEnds[0];
}

}  // namespace

int InstallQuitSignalPipe() {
    static std::once_flag once;
    static int readEnd = -1;
    std::call_once(once, [] { readEnd = SetUp(); });
    return readEnd;
}

int DrainQuitSignalPipe(int readEnd, int& first) {
    int count = 0;
    char buffer[64];
    ssize_t got;
    while ((got = read(readEnd, buffer, sizeof buffer)) > 0) {
        if (count == 0) first = buffer[0];
        count += static_cast<int>(got);
    }
    return count;
}

}  // namespace kestrel
