// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Scalar types and result codes of the platform services that the recovery code was written
// against. The names are the contract between the algorithms and platform/: keep them.
#pragma once

#include <cstdint>

#ifdef _WIN32
// On Windows the names are the system's own: its types, and its result codes (macros).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winsock2.h>

namespace kestrel {
using ::BOOL;
using ::BYTE;
using ::DWORD;
using ::UINT;
using ::ULONG;
using ::WORD;
using IPAddr = std::uint32_t;  // network byte order, as inet_addr gives it
using IPMask = std::uint32_t;
}  // namespace kestrel
#else

namespace kestrel {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using UINT = std::uint32_t;
using BOOL = int;
using IPAddr = std::uint32_t;  // network byte order, as inet_addr gives it
using IPMask = std::uint32_t;

inline constexpr BOOL FALSE = 0;
inline constexpr BOOL TRUE = 1;

inline constexpr DWORD NO_ERROR = 0;
inline constexpr DWORD ERROR_WRITE_FAULT = 29;
inline constexpr DWORD ERROR_GEN_FAILURE = 31;
inline constexpr DWORD ERROR_NOT_SUPPORTED = 50;
inline constexpr DWORD ERROR_BAD_NET_NAME = 67;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_BUFFER_OVERFLOW = 111;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_NO_DATA = 232;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_NOT_FOUND = 1168;
inline constexpr DWORD ERROR_CANCELLED = 1223;
inline constexpr DWORD ERROR_TIMEOUT = 1460;
inline constexpr DWORD ERROR_OBJECT_ALREADY_EXISTS = 5010;

}  // namespace kestrel
#endif
