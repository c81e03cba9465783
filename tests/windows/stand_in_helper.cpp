// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// A child for the launcher's tests, in place of the helper: `echo` answers every line with
// itself, `silent` reads and never answers, `exit` ends at once; `leak HANDLE` first writes to
// that handle value, which it must not have inherited.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdlib>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "exit") return 0;
    DWORD wrote = 0;
    if (mode == "leak" && argc > 2)
        ::WriteFile(reinterpret_cast<HANDLE>(std::strtoull(argv[2], nullptr, 10)), "leaked", 6,
                    &wrote, nullptr);
    // Lines of bytes, as the helper's: no carriage returns added or taken.
    ::_setmode(0, _O_BINARY);
    ::_setmode(1, _O_BINARY);
    for (std::string line; std::getline(std::cin, line);)
        if (mode != "silent") std::cout << line << std::endl;
    return 0;
}
