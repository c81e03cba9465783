// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// A clock whose sleeps return at once and move time on, so that jobs full of fixed pauses run
// instantly in unit tests; once a stop is requested they move it no more, as the system clock's
// sleeps end then. Installs itself for the lifetime of the object.
#pragma once

#include <atomic>

#include "platform/clock.h"

namespace kestrel::testing {

class FakeClock final : public Clock {
public:
    explicit FakeClock(std::uint64_t start = 1'000'000) : now_(start) { SetClock(this); }
    ~FakeClock() override { SetClock(nullptr); }
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    std::uint64_t GetTickCount64() override { return now_.load(); }
    void Sleep(DWORD milliseconds) override {
        if (StopRequested()) return;
        now_ += milliseconds;
    }
    void Advance(std::uint64_t milliseconds) { now_ += milliseconds; }

private:
    std::atomic<std::uint64_t> now_;
};

}  // namespace kestrel::testing
