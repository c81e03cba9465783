// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Conversions between the program's UTF-8 and the system's wide and ANSI strings.
#pragma once

#include <string>

namespace kestrel {

std::wstring Wide(const std::string& utf8);  // invalid sequences become U+FFFD
std::string Utf8(const std::wstring& wide);
// Into the ANSI code page (CP_ACP). False when a character has no exact counterpart there: no
// default character and no best-fit look-alike stands in for it.
bool AnsiOf(const std::wstring& wide, std::string& ansi);

}  // namespace kestrel
