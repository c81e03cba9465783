// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/recovery_app.h"

#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/recovery_dlg.h"
#include "engine/command_line.h"
#include "platform/linux/privileges.h"
#include "platform/process.h"

namespace kestrel {
namespace {

constexpr char kProgram[] = "kestrel-recovery";

void PrintUsage() {
    std::printf(
        "Usage: %s [DEBUG] [TIME=seconds] FW=image\n"
        "       %s [DEBUG] [TIME=seconds] WWFW=image NAFW=image\n"
        "       %s --choose [DEBUG] [TIME=seconds] [image-path]\n"
        "\n"
        "Brings a router whose firmware is damaged back to life: the router's boot loader gets\n"
        "the image by TFTP at 192.168.1.1 over a wired Ethernet adapter of this PC.\n"
        "\n"
        "%s"
        "  --choose      the image is the path given as an argument; without one, and without\n"
        "                a switch naming it, a file dialog asks for it\n"
        "\n"
        "It runs as you and asks once, through polkit, for the administrator rights that\n"
        "changing the network settings needs. Exit status: 0 the router works, 1 the recovery\n"
        "did not start, 2 it failed, 128+N ended by signal N; the PC's settings are put back.\n",
        kProgram, kProgram, kProgram, SwitchesUsage().c_str());
}

void PrintFailure(const std::string& line) {
    std::fprintf(stderr, "%s: %s\n", kProgram, line.c_str());
}

QtMessageHandler g_qtMessages = nullptr;

// What Qt says while it looks for a display: said after all once a window can open, and left
// unsaid when none can, where one line tells the user what is wrong.
struct HeldMessage {
    QtMsgType type;
    std::string category;
    QString text;
};
std::vector<HeldMessage> g_heldMessages;

// Qt aborts when no display can be reached; a program started outside a desktop session ends
// like at any other start-up failure instead. Nothing has been changed yet.
void EndWhenNoDisplay(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg) {
        g_heldMessages.push_back({type, context.category ? context.category : "", text});
        return;
    }
    PrintFailure("cannot open a window: no display (is DISPLAY or WAYLAND_DISPLAY set?)");
    std::_Exit(1);
}

void SayHeldMessages() {
    if (!g_qtMessages) return;
    for (const HeldMessage& message : g_heldMessages) {
        const QMessageLogContext context(nullptr, 0, nullptr, message.category.c_str());
        g_qtMessages(message.type, context, message.text);
    }
    g_heldMessages.clear();
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
    std::vector<std::string> arguments(m_argv, m_argv + m_argc);
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == "--help" || arguments[i] == "-h") {
            PrintUsage();
            return 0;
        }
        if (arguments[i] == "--version") {
            std::printf("%s %s\n", kProgram, KESTREL_VERSION);
            return 0;
        }
    }
    m_bChoose = TakeChooseOption(arguments, m_strImageArgument);
    SetCommandLine(arguments);
    // Where the program asks to be elevated: the helper starts, and a front end started as
    // root becomes the invoking user before Qt is loaded.
    m_helper = PrivilegedHelper::Start(m_strHelperFailure);
    g_qtMessages = qInstallMessageHandler(EndWhenNoDisplay);
    m_app = std::make_unique<QApplication>(m_argc, m_argv);
    qInstallMessageHandler(g_qtMessages);
    SayHeldMessages();
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
        m_nExitStatus = EXIT_NOT_STARTED;
        return FALSE;
    }

    CKSTLDevRecoveryDlg dlg;
    if (m_bChoose) dlg.ChooseImage(m_strImageArgument);
    if (dlg.OnInitDialog()) {
        dlg.exec();
    } else if (!dlg.QuitSignal()) {
        PrintFailure(dlg.StartupFailure());
    }
    m_nExitStatus = dlg.ExitStatus();
    return FALSE;
}

}  // namespace kestrel
