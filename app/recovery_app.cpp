// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/recovery_app.h"

#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/recovery_dlg.h"
#include "platform/kernel.h"
#include "platform/privileges.h"

namespace kestrel {
namespace {

constexpr char kProgram[] = "kestrel-recovery";

void PrintUsage() {
    std::printf(
        "Usage: %s [DEBUG] [TIME=seconds] FW=image\n"
        "       %s [DEBUG] [TIME=seconds] WWFW=image NAFW=image\n"
        "\n"
        "Brings a router whose firmware is damaged back to life: the router's boot loader gets\n"
        "the image by TFTP at 192.168.1.1 over a wired Ethernet adapter of this PC.\n"
        "\n"
        "  FW=image     the firmware image, a file name in %s/KESTREL/\n"
        "  WWFW=image   the image for the rest of the world\n"
        "  NAFW=image   the image for the United States, Canada and Mexico\n"
        "  TIME=seconds how long to wait for the router to restart (default 120)\n"
        "  DEBUG        show a message box for every failure and detail\n"
        "\n"
        "It runs as you and asks once, through polkit, for the administrator rights that\n"
        "changing the network settings needs.\n",
        kProgram, kProgram, GetSystemDirectoryW().c_str());
}

void PrintFailure(const std::string& line) {
    std::fprintf(stderr, "%s: %s\n", kProgram, line.c_str());
}

QtMessageHandler g_qtMessages = nullptr;

// Qt aborts when no display can be reached; a program started outside a desktop session ends
// like at any other start-up failure instead. Nothing has been changed yet.
void EndWhenNoDisplay(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg) {
        if (g_qtMessages) g_qtMessages(type, context, text);
        return;
    }
    PrintFailure("cannot open a window: no display (is DISPLAY or WAYLAND_DISPLAY set?)");
    std::_Exit(1);
}

}  // namespace

CKSTLDevRecoveryApp::CKSTLDevRecoveryApp(int& argc, char** argv) : m_argc(argc), m_argv(argv) {}

CKSTLDevRecoveryApp::~CKSTLDevRecoveryApp() = default;

int CKSTLDevRecoveryApp::Run() {
    // Before anything can load a plugin: with setuid or file capabilities, whoever starts the
    // program could make Qt load code of their choosing with those rights.
    if (RunsWithSecureExec()) {
        PrintFailure(
            "refuses to run with setuid or file capabilities: it needs no rights of its own and "
            "asks for them through polkit");
        return 1;
    }
    SetCommandLine(m_argc, m_argv);
    for (int i = 1; i < m_argc; ++i) {
        if (std::strcmp(m_argv[i], "--help") == 0 || std::strcmp(m_argv[i], "-h") == 0) {
            PrintUsage();
            return 0;
        }
    }
    // Where the program asks to be elevated: the helper starts, and a front end started as
    // root becomes the invoking user before Qt is loaded.
    m_helper = PrivilegedHelper::Start(m_strHelperFailure);
    g_qtMessages = qInstallMessageHandler(EndWhenNoDisplay);
    m_app = std::make_unique<QApplication>(m_argc, m_argv);
    qInstallMessageHandler(g_qtMessages);
    QApplication::setApplicationName(QString::fromLatin1(kProgram));
    InitInstance();
    // A clean end: the helper puts back whatever the dialog left changed.
    m_helper.reset();
    return m_nExitStatus;
}

BOOL CKSTLDevRecoveryApp::InitInstance() {
    if (!m_helper) {
        PrintFailure(m_strHelperFailure);
        QMessageBox::critical(
            nullptr, QApplication::applicationName(),
            QString::fromLatin1("KESTREL Device Recovery needs administrator rights to change the "
                                "network settings of this PC.\n\n") +
                QString::fromLocal8Bit(m_strHelperFailure.c_str()) + QLatin1Char('.'));
        m_nExitStatus = 1;
        return FALSE;
    }

    CKSTLDevRecoveryDlg dlg;
    if (dlg.OnInitDialog()) {
        dlg.exec();
    } else if (!dlg.QuitSignal()) {
        PrintFailure(dlg.StartupFailure());
        m_nExitStatus = 1;
    }
    // Ended by a quit signal: the status a shell expects of a program that signal ended.
    if (dlg.QuitSignal()) m_nExitStatus = 128 + dlg.QuitSignal();
    return FALSE;
}

}  // namespace kestrel
