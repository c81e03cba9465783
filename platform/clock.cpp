// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kestrel {
namespace {

std::mutex stopLock;
std::condition_variable stopChanged;
std::atomic<bool> stopRequested{false};

class SystemClock final : public Clock {
public:
    std::uint64_t GetTickCount64() override {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    }

    void Sleep(DWORD milliseconds) override {
        // Only a stop cuts a fixed pause short; signal handlers and spurious wake-ups do not.
        std::unique_lock<std::mutex> lock(stopLock);
        stopChanged.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [] { return stopRequested.load(); });
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

void RequestStop() {
    {
        std::lock_guard<std::mutex> lock(stopLock);
        stopRequested.store(true);
    }
    stopChanged.notify_all();
}

bool StopRequested() {
    return stopRequested.load();
}

void ClearStopRequest() {
    std::lock_guard<std::mutex> lock(stopLock);
    stopRequested.store(false);
}

}  // namespace kestrel
