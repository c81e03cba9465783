# SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
# SPDX-License-Identifier: GPL-3.0-or-later
include(GoogleTest)

add_executable(kernel_test ${CMAKE_CURRENT_LIST_DIR}/kernel_test.cpp)
target_link_libraries(kernel_test
    PRIVATE kestrel_platform_linux kestrel_helper_linux PkgConfig::LIBCAP GTest::gtest_main)
target_compile_definitions(kernel_test PRIVATE KESTREL_DEFAULT_SYSTEM_DIR="${KESTREL_SYSTEM_DIR}")
gtest_discover_tests(kernel_test TEST_PREFIX "kernel." TEST_FILTER "-NetworkAdminRights.*"
    PROPERTIES LABELS unit)
# Root only: it checks the rights that root has and loses.
add_test(NAME kernel_root_rights COMMAND kernel_test --gtest_filter=NetworkAdminRights.*)
set_tests_properties(kernel_root_rights PROPERTIES LABELS root)
