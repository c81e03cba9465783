// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Tick count and sleep behind a seam, so that unit tests run the jobs on a fake clock.
#pragma once

#include <cstdint>

#include "platform/wintypes.h"

namespace kestrel {

class Clock {
public:
    virtual ~Clock() = default;
    virtual std::uint64_t GetTickCount64() = 0;  // milliseconds, monotonic
    virtual void Sleep(DWORD milliseconds) = 0;
};

// The clock in use; CLOCK_MONOTONIC and nanosleep unless a test installed its own.
Clock& CurrentClock();
// Installs `clock` for the whole process; nullptr puts the system clock back.
void SetClock(Clock* clock);

inline std::uint64_t GetTickCount64() {
    return CurrentClock().GetTickCount64();
}
inline void Sleep(DWORD milliseconds) {
    CurrentClock().Sleep(milliseconds);
}

}  // namespace kestrel
