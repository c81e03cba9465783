# SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
# SPDX-License-Identifier: GPL-3.0-or-later
include(GoogleTest)

add_executable(netparams_test ${CMAKE_CURRENT_LIST_DIR}/netparams_test.cpp)
target_link_libraries(netparams_test PRIVATE kestrel_platform_linux GTest::gtest_main)
gtest_discover_tests(netparams_test TEST_PREFIX "netparams." PROPERTIES LABELS unit)
