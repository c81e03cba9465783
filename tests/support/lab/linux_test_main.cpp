// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "platform/linux/services.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    kestrel::InstallLinuxServices();
    return RUN_ALL_TESTS();
}
