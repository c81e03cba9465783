// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's texts are bytes; the window's are UTF-16.
#pragma once

#include <string>

#include "platform/wintypes.h"

namespace kestrel {

// UTF-8 when the bytes are valid UTF-8, else the ANSI code page (the firmware name is held in
// it, and so may be what a job says about it).
inline std::wstring Widen(const std::string& text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    UINT codePage = CP_UTF8;
    int count =
        ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (count == 0) {
        codePage = CP_ACP;
        count = ::MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    }
    std::wstring wide(static_cast<std::size_t>(count), L'\0');
    ::MultiByteToWideChar(codePage, codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0, text.data(),
                          length, wide.data(), count);
    return wide;
}

inline std::string ToUtf8(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int length = static_cast<int>(wide.size());
    const int count =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(count), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, text.data(), count, nullptr, nullptr);
    return text;
}

// A static control breaks lines at CR LF; the page texts use LF alone.
inline std::wstring WithCrLf(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        if (c == L'\n') out += L'\r';
        out += c;
    }
    return out;
}

}  // namespace kestrel
