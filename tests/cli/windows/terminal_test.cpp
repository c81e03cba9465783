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
#include <vector>

namespace kestrel {
namespace {

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() { EXPECT_EQ(_pipe(&read, 4096, _O_BINARY), 0); }
    ~Pipe() {
        if (read >= 0) _close(read);
        CloseWrite();
    }
    void Put(const std::string& bytes) {
        ASSERT_EQ(_write(write, bytes.data(), static_cast<unsigned>(bytes.size())),
                  static_cast<int>(bytes.size()));
    }
    void CloseWrite() {
        if (write >= 0) _close(write);
        write = -1;
    }
};

// An input nobody waits for: the quit pipe alone.
constexpr char kNoInput[] = "none";

const struct {
    const char* scenario;
    const char* input;  // nullptr: the input's writer is gone
    const char* quit;   // bytes in the quit pipe
    int timeoutMs;
    Waited expected;
} kWaits[] = {
    {"nothing comes: the time runs out", "", "", 50, Waited::Timeout},
    {"a line on the input", "y\r\n", "", 2000, Waited::Input},
    {"a quit signal", "", "\x02", 2000, Waited::QuitSignal},
    {"a quit signal wins over input", "y\r\n", "\x02", 2000, Waited::QuitSignal},
    {"the input's end counts as input", nullptr, "", 2000, Waited::Input},
    {"no input: the time runs out", kNoInput, "", 30, Waited::Timeout},
    {"no input, a quit signal", kNoInput, "\x02", 2000, Waited::QuitSignal},
};

TEST(WindowsTerminal, WaitsForInputQuitOrTime) {
    for (const auto& row : kWaits) {
        SCOPED_TRACE(row.scenario);
        Pipe input, quit;
        if (row.input)
            input.Put(row.input == kNoInput ? "" : row.input);
        else
            input.CloseWrite();
        quit.Put(row.quit);
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(
            WaitForInputOrQuit(row.input == kNoInput ? -1 : input.read, quit.read, row.timeoutMs),
            row.expected);
        // Neither waits out its time when something is there, nor returns early without.
        const ULONGLONG waited = GetTickCount64() - start;
        if (row.expected == Waited::Timeout)
            EXPECT_GE(waited, static_cast<ULONGLONG>(row.timeoutMs) - 16);
        else
            EXPECT_LT(waited, static_cast<ULONGLONG>(row.timeoutMs));
    }
}

TEST(WindowsTerminal, ReadsLinesWithoutTheConsolesCarriageReturn) {
    Pipe input;
    input.Put("yes\r\nno\nlast");
    input.CloseWrite();
    std::vector<std::string> lines;
    for (std::string line; lines.size() < 4 && ReadLine(input.read, line);) lines.push_back(line);
    EXPECT_EQ(lines, (std::vector<std::string>{"yes", "no", "last"}));
}

}  // namespace
}  // namespace kestrel
