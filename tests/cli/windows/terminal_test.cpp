// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// What the console front end waits for on Windows: a quit signal in its pipe, a line on its
// input, or the time running out; and the lines it reads.
#include "cli/terminal.h"

#include "platform/wintypes.h"
// After the Windows headers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace kestrel {
namespace {

// A pipe that holds `bytes`; its writer gone when `closed`.
struct Pipe {
    int ends[2] = {-1, -1};
    explicit Pipe(const std::string& bytes, bool closed = false) {
        EXPECT_EQ(_pipe(ends, 4096, _O_BINARY), 0);
        EXPECT_EQ(_write(ends[1], bytes.data(), static_cast<unsigned>(bytes.size())),
                  static_cast<int>(bytes.size()));
        if (closed) _close(std::exchange(ends[1], -1));
    }
    ~Pipe() {
        for (int end : ends)
            if (end >= 0) _close(end);
    }
};

// An input nobody waits for: the quit pipe alone.
constexpr char kNoInput[] = "none";

TEST(WindowsTerminal, WaitsForInputQuitOrTime) {
    // `input`: its bytes, nullptr when its writer is gone; `quit`: the bytes in the quit pipe.
    for (const auto& [scenario, input, quit, timeoutMs, expected] :
         std::vector<std::tuple<const char*, const char*, const char*, int, Waited>>{
             {"nothing comes: the time runs out", "", "", 50, Waited::Timeout},
             {"a line on the input", "y\r\n", "", 2000, Waited::Input},
             {"a quit signal", "", "\x02", 2000, Waited::QuitSignal},
             {"a quit signal wins over input", "y\r\n", "\x02", 2000, Waited::QuitSignal},
             {"the input's end counts as input", nullptr, "", 2000, Waited::Input},
             {"no input: the time runs out", kNoInput, "", 30, Waited::Timeout},
             {"no input, a quit signal", kNoInput, "\x02", 2000, Waited::QuitSignal}}) {
        SCOPED_TRACE(scenario);
        const Pipe in(input && input != kNoInput ? input : "", !input);
        const Pipe signals(quit);
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(
            WaitForInputOrQuit(input == kNoInput ? -1 : in.ends[0], signals.ends[0], timeoutMs),
            expected);
        // Neither waits out its time when something is there, nor returns early without.
        const ULONGLONG waited = GetTickCount64() - start;
        EXPECT_EQ(waited + 16 >= static_cast<ULONGLONG>(timeoutMs), expected == Waited::Timeout)
            << waited << " ms";
    }
}

TEST(WindowsTerminal, ReadsLinesWithoutTheConsolesCarriageReturn) {
    const Pipe input("yes\r\nno\nlast", true);
    std::vector<std::string> lines;
    for (std::string line; lines.size() < 4 && ReadLine(input.ends[0], line);)
        lines.push_back(line);
    EXPECT_EQ(lines, (std::vector<std::string>{"yes", "no", "last"}));
}

}  // namespace
}  // namespace kestrel
