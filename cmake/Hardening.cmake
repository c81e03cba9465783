# SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
# SPDX-License-Identifier: GPL-3.0-or-later
# The hardening Debian builds with (dpkg-buildflags with hardening=+all), for optimised builds.
# Ours go in front of CXXFLAGS and LDFLAGS, so a distribution's own flags, which come later on
# the command line, still decide.
option(KESTREL_HARDENING "Harden optimised builds as Debian does" ON)

include(CheckPIESupported)
check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

if(KESTREL_HARDENING AND CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$")
    set(kestrel_hardening -fstack-protector-strong -fstack-clash-protection
                          -Wformat -Werror=format-security)
    # A second definition of the macro would be a redefinition warning: leave it to the caller's.
    if(NOT CMAKE_CXX_FLAGS MATCHES "_FORTIFY_SOURCE")
        list(PREPEND kestrel_hardening -D_FORTIFY_SOURCE=2)
    endif()
    if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
        list(APPEND kestrel_hardening -fcf-protection)
    endif()
    list(JOIN kestrel_hardening " " kestrel_hardening)
    set(CMAKE_CXX_FLAGS "${kestrel_hardening} ${CMAKE_CXX_FLAGS}")
    set(CMAKE_EXE_LINKER_FLAGS "-Wl,-z,relro -Wl,-z,now ${CMAKE_EXE_LINKER_FLAGS}")
    set(CMAKE_SHARED_LINKER_FLAGS "-Wl,-z,relro -Wl,-z,now ${CMAKE_SHARED_LINKER_FLAGS}")
endif()
