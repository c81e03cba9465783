// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The application: checks its rights, runs the wizard dialog and ends when it closes.
#pragma once

#include <QApplication>
#include <memory>
#include <string>

#include "platform/linux/privileges.h"
#include "platform/wintypes.h"

namespace kestrel {

class CKSTLDevRecoveryApp {
public:
    CKSTLDevRecoveryApp(int& argc, char** argv);
    ~CKSTLDevRecoveryApp();

    // The whole program; returns the process's exit status.
    int Run();
    // Runs the wizard; always FALSE, as the application ends with the dialog.
    BOOL InitInstance();

private:
    // The helper started, or its refusal told; once.
    bool HelperStarted();

    int& m_argc;
    char** m_argv;
    std::unique_ptr<PrivilegedHelper> m_helper;
    std::string m_strHelperFailure;
    std::unique_ptr<QApplication> m_app;
    int m_nExitStatus = 0;
    bool m_bChoose = false;
    bool m_bRoot = false;
    std::string m_strImageArgument;  // --choose: the image's path, "" for none
};

}  // namespace kestrel
