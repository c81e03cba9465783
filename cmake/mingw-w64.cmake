# SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Cross-builds the Windows programs on Debian with mingw-w64. The posix flavour of the compiler:
# std::thread and std::mutex need winpthread, which is linked in statically with libstdc++ so
# that the programs run on a bare Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(kestrel_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${kestrel_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${kestrel_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${kestrel_mingw}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${kestrel_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Tests run under Wine on the build machine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
