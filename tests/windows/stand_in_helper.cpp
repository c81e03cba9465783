// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// A child for the launcher's tests, in place of the helper: `echo` answers every line with
// itself, `silent` reads and never answers, `exit` ends at once. `echo NOTE` writes "input
// closed" to the file NOTE when its input ends; `leak HANDLE` first writes to that handle
// value, which it must not have inherited.
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

void Write(HANDLE to, const std::string& text) {
    DWORD wrote = 0;
    ::WriteFile(to, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "exit") return 0;
    if (mode == "leak" && argc > 2)
        Write(reinterpret_cast<HANDLE>(std::strtoull(argv[2], nullptr, 10)), "leaked");
    const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    std::string pending;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(in, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        pending.append(buffer, got);
        for (std::size_t newline; (newline = pending.find('\n')) != std::string::npos;) {
            if (mode != "silent") Write(out, pending.substr(0, newline + 1));
            pending.erase(0, newline + 1);
        }
    }
    if (mode == "echo" && argc > 2) {
        const HANDLE note = ::CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        Write(note, "input closed");
        ::CloseHandle(note);
    }
    return 0;
}
