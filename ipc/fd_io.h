// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

namespace kestrel {

// Writes all of `text` to `fd`, through short writes and interrupted calls; false when the
// descriptor fails (a closed pipe, a full disk).
bool WriteAll(int fd, std::string_view text);

}  // namespace kestrel
