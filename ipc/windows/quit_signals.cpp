// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Windows has no quit signals: the console's control events play their part. The system calls
// the handler on a thread of its own, which writes the matching signal's number into the pipe.
#include "platform/quit_signals.h"

#include <fcntl.h>
#include <io.h>

#include <mutex>

#include "platform/wintypes.h"

namespace kestrel {
namespace {

int pipeEnds[2] = {-1, -1};

// The numbers a Linux program would see, so that both end with the same status.
constexpr char kInterrupt = 2;   // SIGINT
constexpr char kHangUp = 1;      // SIGHUP: the console window closes
constexpr char kTerminate = 15;  // SIGTERM: the user logs off, the system shuts down

BOOL WINAPI OnControlEvent(DWORD event) {
    char byte = kInterrupt;
    if (event == CTRL_CLOSE_EVENT) byte = kHangUp;
    if (event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) byte = kTerminate;
    // A full pipe already holds a request; losing this byte loses nothing.
    [[maybe_unused]] int written = ::_write(pipeEnds[1], &byte, 1);
    // For these the process ends as soon as the handler returns: waiting here gives the program
    // its time to put the settings back. It ends when main returns, or when the system's grace
    // time runs out.
    if (byte != kInterrupt) ::Sleep(INFINITE);
    return TRUE;
}

int SetUp() {
    // Big enough that the handler's write never waits for a reader.
    if (::_pipe(pipeEnds, 4096, _O_BINARY | _O_NOINHERIT) != 0) return -1;
    if (!::SetConsoleCtrlHandler(OnControlEvent, TRUE)) return -1;
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
    // A CRT pipe cannot be made non-blocking: read only what is there.
    const auto pipe = reinterpret_cast<HANDLE>(::_get_osfhandle(readEnd));
    int count = 0;
    DWORD waiting = 0;
    char buffer[64];
    while (::PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0) {
        const int got = ::_read(readEnd, buffer, waiting < sizeof buffer ? waiting : sizeof buffer);
        if (got <= 0) break;
        if (count == 0) first = buffer[0];
        count += got;
    }
    return count;
}

}  // namespace kestrel
