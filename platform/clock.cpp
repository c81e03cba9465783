// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/clock.h"

#include <atomic>
#include <cerrno>
#include <ctime>

namespace kestrel {
namespace {

class SystemClock final : public Clock {
public:
    std::uint64_t GetTickCount64() override {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
               static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    }

    void Sleep(DWORD milliseconds) override {
        timespec left{static_cast<time_t>(milliseconds / 1000),
                      static_cast<long>(milliseconds % 1000) * 1000000L};
        // A signal handler must not cut a fixed pause short.
        while (nanosleep(&left, &left) == -1 && errno == EINTR) {
        }
    }
};

SystemClock systemClock;
std::atomic<Clock*> installed{nullptr};

}  // namespace

Clock& CurrentClock() {
    Clock* clock = installed.load();
    return clock ? *clock : systemClock;
}

void SetClock(Clock* clock) {
    installed.store(clock);
}

}  // namespace kestrel
