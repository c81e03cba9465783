// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/recovery_app.h"
#include "platform/linux/services.h"

int main(int argc, char** argv) {
    kestrel::InstallLinuxServices();
    kestrel::CKSTLDevRecoveryApp app(argc, argv);
    return app.Run();
}
