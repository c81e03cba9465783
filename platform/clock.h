// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Tick count and sleep behind a seam, so that unit tests run the jobs on a fake clock, and the
// process-wide stop request that cuts the jobs short.
#pragma once

#include <cstdint>

#include "platform/wintypes.h"

namespace kestrel {

class Clock {
public:
    virtual ~Clock() = default;
    virtual std::uint64_t GetTickCount64() = 0;  // milliseconds, monotonic
    // Returns early, at once, when a stop is or becomes requested.
    virtual void Sleep(DWORD milliseconds) = 0;
};

// The clock in use: the system's monotonic clock unless a test installed its own.
Clock& CurrentClock();
// Installs `clock` for the whole process; nullptr puts the system clock back.
void SetClock(Clock* clock);

inline std::uint64_t GetTickCount64() {
    return CurrentClock().GetTickCount64();
}
inline void Sleep(DWORD milliseconds) {
    CurrentClock().Sleep(milliseconds);
}

// Stopping: a quit signal asks the running job to stop. From then on every Sleep returns at
// once, and the jobs, the probe, the upload and the DNS client look at StopRequested after each
// of their waits and give up there; no wait of theirs lasts more than 6 s. The request holds
// for the rest of the process (the program ends after a stop). Not for signal handlers.
void RequestStop();
bool StopRequested();
// Withdraws the request: for tests, which run many jobs in one process.
void ClearStopRequest();

}  // namespace kestrel
