// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ipc/hex.h"

namespace kestrel {
namespace {

int Digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string HexText(const std::uint8_t* bytes, std::size_t length, char separator) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 3);
    for (std::size_t i = 0; i < length; ++i) {
        if (separator && i > 0) text += separator;
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

bool HexBytes(std::string_view text, char separator, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    if (text.empty()) return true;
    const std::size_t step = separator ? 3 : 2;
    if ((text.size() + (separator ? 1 : 0)) % step != 0) return false;
    for (std::size_t i = 0; i < text.size(); i += step) {
        if (i > 0 && separator && text[i - 1] != separator) return false;
        const int high = Digit(text[i]);
        const int low = Digit(text[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return true;
}

}  // namespace kestrel
