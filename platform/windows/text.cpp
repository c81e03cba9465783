// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/windows/text.h"

#include "platform/wintypes.h"

namespace kestrel {

std::wstring Wide(const std::string& utf8) {
    const int length = static_cast<int>(utf8.size());
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), size);
    return wide;
}

std::string Utf8(const std::wstring& wide) {
    const int length = static_cast<int>(wide.size());
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, utf8.data(), size, nullptr, nullptr);
    return utf8;
}

bool AnsiOf(const std::wstring& wide, std::string& ansi) {
    if (wide.empty()) {
        ansi.clear();
        return true;
    }
    const int length = static_cast<int>(wide.size());
    BOOL defaulted = FALSE;
    const int size = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length,
                                           nullptr, 0, nullptr, &defaulted);
    if (size <= 0 || defaulted) return false;
    std::string result(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, result.data(), size,
                          nullptr, &defaulted);
    if (defaulted) return false;
    ansi = std::move(result);
    return true;
}

}  // namespace kestrel
