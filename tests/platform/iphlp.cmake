# SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
# SPDX-License-Identifier: GPL-3.0-or-later
# The Linux IP Helper and DNS client, run in the lab's "pc" namespace: lab.sh builds the lab,
# runs the binary there and removes the lab afterwards, also on failure.
add_executable(iphlp_lab_tests ${CMAKE_CURRENT_LIST_DIR}/iphlp_lab_test.cpp)
target_link_libraries(iphlp_lab_tests PRIVATE kestrel_netcfg kestrel_test_support GTest::gtest_main)
add_test(NAME iphlp_lab
    COMMAND ${PROJECT_SOURCE_DIR}/tests/lab/lab.sh run --
            sh -c "exec ip netns exec \"$LAB_PC\" \"$0\"" $<TARGET_FILE:iphlp_lab_tests>)
set_tests_properties(iphlp_lab PROPERTIES
    RESOURCE_LOCK lab LABELS lab TIMEOUT 120 ENVIRONMENT LAB_TIMEOUT=110)
