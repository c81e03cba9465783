// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// What the helper's main() needs from its system, one implementation per system
// (helper/linux/program.cpp, helper/windows/program.cpp): the log, the process's setup, where
// the journal lives, the kernel layer, and the wait for the front end's next request.
#pragma once

#include <memory>
#include <string>

#include "helper/netkernel.h"

namespace kestrel {

// Why the helper will not run without its rights, for its caller.
extern const char kRightsNeeded[];

// Before anything else: the log, private files, binary standard streams, and a front end that
// went away showing as a failed write rather than as this process's end.
void StartProgram(const char* program);
// A change or an event, for the administrator: the system log (Linux), standard error (Windows).
void Log(const std::string& line);
// A failure: standard error too.
void LogFailure(const std::string& line);

// Where the journals live.
std::string JournalFolderPath();
std::unique_ptr<NetKernel> MakeNetKernel();

enum class Wake {
    Ready,        // `input` has data or its end, or `quit` a signal
    Interrupted,  // look again
    Failed,
};
// Waits until the front end's `input` can be read or a quit signal reaches `quit`.
Wake WaitForInput(int input, int quit);

}  // namespace kestrel
