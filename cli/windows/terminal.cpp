// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The terminal on Windows: the console, pipes and files behind the C runtime's descriptors.
#include "cli/terminal.h"

#include "platform/wintypes.h"
// After the Windows headers.
#include <io.h>
#include <shellapi.h>

#include <cerrno>
#include <string>

namespace kestrel {
namespace {

constexpr DWORD kSliceMs = 10;

HANDLE OsHandle(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// A pipe with bytes in it, or one whose writer is gone (the read then says so).
bool PipeReadable(HANDLE pipe) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return true;
    return available > 0;
}

// The quit signals' pipe holds a signal: only bytes count, never an error.
bool QuitPending(HANDLE pipe) {
    DWORD available = 0;
    return PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0;
}

// A console is signalled by every event, also a mouse move or a key let go: only a key pressed
// counts as input; the rest is taken out so that the wait does not spin on it.
bool ConsoleHasKey(HANDLE console) {
    for (;;) {
        INPUT_RECORD record;
        DWORD count = 0;
        if (!PeekConsoleInputW(console, &record, 1, &count) || count == 0) return false;
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return true;
        ReadConsoleInputW(console, &record, 1, &count);
    }
}

bool Readable(int fd) {
    HANDLE handle = OsHandle(fd);
    if (handle == INVALID_HANDLE_VALUE) return true;  // the read then fails
    switch (GetFileType(handle)) {
        case FILE_TYPE_PIPE:
            return PipeReadable(handle);
        case FILE_TYPE_CHAR: {
            DWORD mode = 0;
            if (!GetConsoleMode(handle, &mode)) return true;  // NUL and the like
            return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0 && ConsoleHasKey(handle);
        }
        default:
            return true;  // a file is always ready
    }
}

}  // namespace

bool IsTerminal(int fd) {
    // _isatty says yes for NUL too: only a console is one.
    DWORD mode = 0;
    return GetConsoleMode(OsHandle(fd), &mode) != 0;
}

int TerminalColumns(int fd) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(OsHandle(fd), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

Waited WaitForInputOrQuit(int fd, int quitFd, int timeoutMs) {
    // Neither a console nor a pipe can be waited for together with the other in one call that
    // means "readable": look in short slices.
    const ULONGLONG deadline = timeoutMs < 0 ? 0 : GetTickCount64() + timeoutMs;
    for (;;) {
        if (quitFd >= 0 && QuitPending(OsHandle(quitFd))) return Waited::QuitSignal;
        if (fd >= 0 && Readable(fd)) return Waited::Input;
        if (timeoutMs >= 0 && GetTickCount64() >= deadline) return Waited::Timeout;
        Sleep(kSliceMs);
    }
}

bool ReadLine(int fd, std::string& line) {
    line.clear();
    for (;;) {
        char c = 0;
        const int got = _read(fd, &c, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return !line.empty();
        if (c == '\n') return true;
        if (c != '\r') line += c;  // the console ends a line with CR LF
    }
}

bool OpenUrlInBrowser(const std::string& url) {
    const std::wstring wide(url.begin(), url.end());  // the login page's URL is ASCII
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
}

}  // namespace kestrel
