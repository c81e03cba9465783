// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Bytes as hex text: the hardware addresses in the helper's replies ("00:1b:21:0a:0b:0c") and
// the kernel's messages in its journal (no separator).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// Two lower-case digits a byte, with `separator` between bytes (0: none).
std::string HexText(const std::uint8_t* bytes, std::size_t length, char separator = 0);
// The bytes of such a text (either case); false for anything else.
bool HexBytes(std::string_view text, char separator, std::vector<std::uint8_t>& bytes);

}  // namespace kestrel
