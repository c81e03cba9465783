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
        "Needs administrator rights (CAP_NET_ADMIN and CAP_NET_RAW): run it with sudo.\n",
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
    SetCommandLine(m_argc, m_argv);
    for (int i = 1; i < m_argc; ++i) {
        if (std::strcmp(m_argv[i], "--help") == 0 || std::strcmp(m_argv[i], "-h") == 0) {
            PrintUsage();
            return 0;
        }
    }
    g_qtMessages = qInstallMessageHandler(EndWhenNoDisplay);
    m_app = std::make_unique<QApplication>(m_argc, m_argv);
    qInstallMessageHandler(g_qtMessages);
    QApplication::setApplicationName(QString::fromLatin1(kProgram));
    InitInstance();
    return m_nExitStatus;
}

BOOL CKSTLDevRecoveryApp::InitInstance() {
    // Changing the PC's addresses and routes and sending ARP needs these rights.
    if (!HasNetworkAdminRights()) {
        PrintFailure("needs CAP_NET_ADMIN and CAP_NET_RAW; run it with sudo");
        QMessageBox::critical(
            nullptr, QApplication::applicationName(),
            QString::fromLatin1("KESTREL Device Recovery needs administrator rights to change the "
                                "network settings of this PC.\n\nRun it with sudo, for example:\n"
                                "sudo kestrel-recovery FW=image.bin"));
        m_nExitStatus = 1;
        return FALSE;
    }

    CKSTLDevRecoveryDlg dlg;
    if (!dlg.OnInitDialog()) {
        PrintFailure(dlg.StartupFailure());
        m_nExitStatus = 1;
        return FALSE;
    }
    dlg.exec();
    return FALSE;
}

}  // namespace kestrel
