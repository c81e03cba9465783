// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Unit tests send nothing. Should one reach a real send by mistake, it must go nowhere: before
// any case runs, the test process moves into a network namespace of its own with no link up.
// Included by every unit-test program that links the network code; never by the lab tests,
// which run inside the lab's namespaces on purpose.
#pragma once

#include <gtest/gtest.h>
#include <sched.h>

#include <cerrno>
#include <cstring>

namespace kestrel::testing {

class NetworkIsolation : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_EQ(unshare(CLONE_NEWNET), 0)
            << "unit tests take a network namespace of their own; run them as root: "
            << std::strerror(errno);
    }
};

// Registered once per program, however many files include this.
inline ::testing::Environment* const kNetworkIsolation =
    ::testing::AddGlobalTestEnvironment(new NetworkIsolation);

}  // namespace kestrel::testing
