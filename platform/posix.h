// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The byte-order and address calls (htonl, inet_addr, sockaddr_in) and the positioned read of the
// image that the shared code makes: the system's own on Linux, Winsock's and the C runtime's on
// Windows.
#pragma once

#ifdef _WIN32
#include <io.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>
#include <cstdio>

using ssize_t = long long;

// The image is read by one thread at a time, the upload's worker: seek and read are enough.
inline ssize_t pread(int fd, void* buffer, std::size_t size, long long offset) {
    if (::_lseeki64(fd, offset, SEEK_SET) < 0) return -1;
    return ::_read(fd, buffer, static_cast<unsigned>(size));
}
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>
#endif
