// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The user's location and character set.
#pragma once

#include <string>

namespace kestrel {

// Nation id of the user's location, from the territory of the locale (LC_ALL, then LC_ADDRESS,
// then LANG): United States 244, Canada 39, Mexico 166; any other territory gives 0.
inline constexpr int GEOID_UNITED_STATES = 244;
inline constexpr int GEOID_CANADA = 39;
inline constexpr int GEOID_MEXICO = 166;
int GetUserGeoID();

// Converts `text` (as read from the command line) into the locale's character set
// (nl_langinfo(CODESET)). Returns false when it cannot be represented there.
bool WideCharToMultiByte(const std::string& text, std::string& out);

}  // namespace kestrel
