# SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
# SPDX-License-Identifier: GPL-3.0-or-later
# The helper's kernel layer against the real kernel, the unit tests' model of the kernel against
# both, and the DNS client's choice of link. The binary runs in the lab's "pc" namespace (ARP and
# DNS need the router); each case that makes kernel objects moves into a network namespace of its
# own.
add_executable(netkernel_lab_tests ${CMAKE_CURRENT_LIST_DIR}/netkernel_lab_test.cpp)
target_link_libraries(netkernel_lab_tests
    PRIVATE kestrel_helper_linux kestrel_test_support kestrel_linux_test_main)
add_test(NAME netkernel_lab
    COMMAND ${PROJECT_SOURCE_DIR}/tests/support/lab/lab.sh run --
            sh -c "exec ip netns exec \"$LAB_PC\" \"$0\"" $<TARGET_FILE:netkernel_lab_tests>)
set_tests_properties(netkernel_lab PROPERTIES
    LABELS lab TIMEOUT 120 ENVIRONMENT "LAB_NAME=netkernel_;LAB_TIMEOUT=110")
