// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "helper/rights.h"

#include <windows.h>

namespace kestrel {

// The IP Helper's changes need an elevated administrator: the front end asks for it in its
// manifest, and its child the helper inherits the token.
bool HasNetworkAdminRights() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool read =
        ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    ::CloseHandle(token);
    return read && elevation.TokenIsElevated;
}

}  // namespace kestrel
