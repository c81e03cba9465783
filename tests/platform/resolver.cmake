# SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
# SPDX-License-Identifier: GPL-3.0-or-later
# The resolver check over the Linux DNS client, in the lab's "pc" namespace: lab.sh builds the
# lab, runs the binary there and removes the lab afterwards, also on failure.
if(NOT TARGET kestrel-recovery-helper)
    return()
endif()
add_executable(resolver_lab_tests ${CMAKE_CURRENT_LIST_DIR}/resolver_lab_test.cpp)
target_link_libraries(resolver_lab_tests PRIVATE kestrel_netcfg kestrel_test_support GTest::gtest_main)
target_compile_definitions(resolver_lab_tests
    PRIVATE KESTREL_HELPER_PATH="$<TARGET_FILE:kestrel-recovery-helper>")
add_dependencies(resolver_lab_tests kestrel-recovery-helper)
add_test(NAME resolver_lab
    COMMAND ${PROJECT_SOURCE_DIR}/tests/support/lab/lab.sh run --
            sh -c "exec ip netns exec \"$LAB_PC\" \"$0\"" $<TARGET_FILE:resolver_lab_tests>)
set_tests_properties(resolver_lab PROPERTIES
    RESOURCE_LOCK lab LABELS lab TIMEOUT 120 ENVIRONMENT LAB_TIMEOUT=110)
