// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/progress_plan.h"

#include <algorithm>
#include <cstdint>

namespace kestrel {
namespace {

// The four timed steps of an attempt (ARP 3 s, address 4 s, upload 10 s, restore 4 s) take
// 21 s in all and get 60 per cent of an adapter's share between them.
constexpr int kArpWeight = 180000;
constexpr int kAddressWeight = 240000;
constexpr int kUploadWeight = 600000;
constexpr int kTimedStepsMs = 21000;
constexpr int kTicksPerTimedSteps = 2 * kTimedStepsMs;  // two units per tick

}  // namespace

ProgressPlan MakeProgressPlan(int progressTarget, int ethernetCount, int rebootTimeoutMs) {
    ProgressPlan plan;
    plan.S = (1000 - progressTarget) / std::max(ethernetCount, 1);
    plan.U = plan.S / 100;
    if (plan.U > 0) {
        plan.A = (plan.U * kArpWeight) / kTimedStepsMs;
        plan.B = (plan.U * kAddressWeight) / kTimedStepsMs;
        plan.F = (plan.U * kUploadWeight) / kTimedStepsMs;
    } else {
        // Ten adapters or more leave less than a hundredth of the bar each: share S itself in
        // the same proportions, so the bar still moves and nothing divides by zero.
        plan.A = (plan.S * kArpWeight) / (kTimedStepsMs * 100);
        plan.B = (plan.S * kAddressWeight) / (kTimedStepsMs * 100);
        plan.F = (plan.S * kUploadWeight) / (kTimedStepsMs * 100);
    }
    plan.D = plan.S - plan.A - 2 * plan.B - plan.F;

    const int timedShare = std::max(plan.S - plan.D, 1);
    plan.stepInterval = static_cast<unsigned>(std::max(kTicksPerTimedSteps / timedShare, 1));
    const auto doubledTimeout =
        static_cast<std::uint32_t>(2u * static_cast<std::uint32_t>(rebootTimeoutMs));
    const auto waitShare = static_cast<std::uint32_t>(std::max(plan.D, 1));
    plan.waitInterval = std::max<std::uint32_t>(doubledTimeout / waitShare, 1u);
    return plan;
}

}  // namespace kestrel
