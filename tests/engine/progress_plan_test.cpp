// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/progress_plan.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace kestrel {
namespace {

struct Expected {
    int target, adapters, timeout;
    int S, U, A, B, F, D;
    unsigned step, wait;
};

// Keeps ctest's listing readable: the case name already says which plan this is.
void PrintTo(const Expected& e, std::ostream* out) {
    *out << "target " << e.target << ", " << e.adapters << " adapters, " << e.timeout << " ms";
}

class KnownPlans : public ::testing::TestWithParam<Expected> {};

TEST_P(KnownPlans, MatchTheWorkedFigures) {
    const Expected& e = GetParam();
    const ProgressPlan plan = MakeProgressPlan(e.target, e.adapters, e.timeout);
    EXPECT_EQ(plan.S, e.S);
    EXPECT_EQ(plan.U, e.U);
    EXPECT_EQ(plan.A, e.A);
    EXPECT_EQ(plan.B, e.B);
    EXPECT_EQ(plan.F, e.F);
    EXPECT_EQ(plan.D, e.D);
    EXPECT_EQ(plan.stepInterval, e.step);
    EXPECT_EQ(plan.waitInterval, e.wait);
}

INSTANTIATE_TEST_SUITE_P(Recovery, KnownPlans,
                         ::testing::Values(
                             // One adapter, entered from the status check.
                             Expected{100, 1, 120000, 900, 9, 77, 102, 257, 362, 78, 662},
                             // One adapter after Retry.
                             Expected{0, 1, 120000, 1000, 10, 85, 114, 285, 402, 70, 597},
                             // Two adapters from the status check.
                             Expected{100, 2, 120000, 450, 4, 34, 45, 114, 212, 176, 1132},
                             // A short reboot wait only makes the bar crawl faster through it.
                             Expected{100, 1, 20000, 900, 9, 77, 102, 257, 362, 78, 110},
                             // Ten adapters keep the proportions of the timed steps.
                             Expected{100, 10, 120000, 90, 0, 7, 10, 25, 38, 807, 6315}),
                         [](const ::testing::TestParamInfo<Expected>& param) {
                             const Expected& e = param.param;
                             return "From" + std::to_string(e.target) + "_" +
                                    std::to_string(e.adapters) + "Adapters_" +
                                    std::to_string(e.timeout) + "ms";
                         });

TEST(ProgressPlan, ManyAdaptersStillShareTheBarWithoutDividingByZero) {
    for (int adapters : {9, 10, 11, 12, 50, 900, 901, 5000}) {
        for (int start : {0, 100}) {
            SCOPED_TRACE(::testing::Message() << adapters << " adapters from " << start);
            const ProgressPlan plan = MakeProgressPlan(start, adapters, 120000);
            EXPECT_EQ(plan.S, (1000 - start) / adapters);
            EXPECT_GE(plan.A, 0);
            EXPECT_GE(plan.B, 0);
            EXPECT_GE(plan.F, 0);
            EXPECT_GE(plan.D, 0);
            // Every attempt raises the target by exactly S, so all of them fit in the bar.
            EXPECT_EQ(plan.A + 2 * plan.B + plan.F + plan.D, plan.S);
            EXPECT_LE(start + adapters * plan.S, 1000);
            EXPECT_GE(plan.stepInterval, 1u);
            EXPECT_GE(plan.waitInterval, 1u);
        }
    }
}

}  // namespace
}  // namespace kestrel
