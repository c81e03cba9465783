// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// How the recovery shares the main bar (0..1000) among the Ethernet adapters it tries, and how
// fast timer 1 steps it during the timed steps and during the reboot wait.
#pragma once

namespace kestrel {

struct ProgressPlan {
    int S = 0;                  // share of each adapter
    int U = 0;                  // S in hundredths of the bar
    int A = 0;                  // ARP step
    int B = 0;                  // address step, and again the restore step
    int F = 0;                  // upload step
    int D = 0;                  // reboot wait: the rest of S
    unsigned stepInterval = 0;  // ms per tick while A, B, F are covered in about 21 s
    unsigned waitInterval = 0;  // ms per tick while D is covered in the reboot timeout
};

// `progressTarget` is m_nProgressTarget when the run begins, `ethernetCount` (at least 1) the
// number of Ethernet adapters to try, `rebootTimeoutMs` m_nRebootTimeout.
ProgressPlan MakeProgressPlan(int progressTarget, int ethernetCount, int rebootTimeoutMs);

// The main bar's range and step.
inline constexpr int kProgressUpper = 1000;
inline constexpr int kProgressStep = 2;

// Whether a tick of timer 1 steps the bar: until it has passed the job's target, up to one step
// past it, but never at the top, where a step would start the bar again from nothing.
inline bool TimerSteps(int position, int target) {
    return position <= target && position < kProgressUpper;
}

}  // namespace kestrel
