// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/windows/recovery_app.h"
#include "platform/windows/network.h"
#include "platform/wintypes.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    kestrel::InstallWindowsServices();
    kestrel::CKSTLDevRecoveryApp app;
    return app.Run();
}
