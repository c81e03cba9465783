// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// A child for the launcher's tests, in place of the helper: `echo` answers every line with
// itself, `silent` reads and never answers, `exit` ends at once; `leak HANDLE` first writes to
// that handle value, which it must not have inherited.
#include <windows.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "exit") return 0;
    DWORD wrote = 0;
    if (mode == "leak" && argc > 2)
        ::WriteFile(reinterpret_cast<HANDLE>(std::strtoull(argv[2], nullptr, 10)), "leaked", 6,
                    &wrote, nullptr);
    const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    std::string pending;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(in, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        pending.append(buffer, got);
        for (std::size_t newline; (newline = pending.find('\n')) != std::string::npos;) {
            if (mode != "silent")
                ::WriteFile(out, pending.data(), static_cast<DWORD>(newline + 1), &wrote, nullptr);
            pending.erase(0, newline + 1);
        }
    }
    return 0;
}
