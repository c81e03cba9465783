// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The application on Windows: common controls and Windows Sockets, the helper as a child, and
// the wizard dialog run modally; it ends when the dialog closes.
#pragma once

#include <string>

#include "platform/wintypes.h"

namespace kestrel {

class CKSTLDevRecoveryApp {
public:
    // The whole program; returns the process's exit status.
    int Run();
    // Runs the wizard; always FALSE, as the application ends with the dialog.
    BOOL InitInstance();

private:
    int m_nExitStatus = 0;
};

// The executable's base name, which captions the application's own message boxes.
std::wstring ApplicationName();

}  // namespace kestrel
