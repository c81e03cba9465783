// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ipc/fd_io.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix.h"

namespace kestrel {

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        // Windows' write takes an unsigned count: at most a gigabyte at a time everywhere.
        const unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(text.size(), 1u << 30));
        const ssize_t wrote = ::write(fd, text.data(), chunk);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        text.remove_prefix(static_cast<std::size_t>(wrote));
    }
    return true;
}

}  // namespace kestrel
