// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/recovery_app.h"

#include <unistd.h>

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
        "did not start, 2 it failed, 128+N ended by signal N; the PC's settings are put back.\n"
        "3: the recovery ended, but some settings could not be put back.\n",
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
    // As root on a user's behalf the helper starts here, and the program becomes the invoking
    // user before Qt is loaded. An ordinary user is asked for rights only once the display and
    // the image are known to be there (InitInstance).
    m_bRoot = ::geteuid() == 0;
    if (m_bRoot) m_helper = PrivilegedHelper::Start(m_strHelperFailure);
    g_qtMessages = qInstallMessageHandler(EndWhenNoDisplay);
    m_app = std::make_unique<QApplication>(m_argc, m_argv);
    qInstallMessageHandler(g_qtMessages);
    SayHeldMessages();
    QApplication::setApplicationName(QString::fromLatin1(kProgram));
    InitInstance();
    m_helper.reset();
    return m_nExitStatus;
}

bool CKSTLDevRecoveryApp::HelperStarted() {
    if (!m_helper && !m_bRoot) m_helper = PrivilegedHelper::Start(m_strHelperFailure);
    if (m_helper) return true;
    PrintFailure(m_strHelperFailure);
    const QString why = QString::fromLocal8Bit(m_strHelperFailure.c_str()) + QLatin1Char('.');
    QMessageBox::critical(
        nullptr, QApplication::applicationName(),
        m_strHelperFailure == kRightsNotGranted
            ? QString::fromLatin1("KESTREL Device Recovery needs administrator rights to change "
                                  "the network settings of this PC, and they were not granted.")
            : why.left(1).toUpper() + why.mid(1));
    m_nExitStatus = EXIT_NOT_STARTED;
    return false;
}

BOOL CKSTLDevRecoveryApp::InitInstance() {
    if (m_bRoot && !HelperStarted()) return FALSE;
    CKSTLDevRecoveryDlg dlg;
    if (m_bChoose) dlg.ChooseImage(m_strImageArgument);
    if (!dlg.OnInitDialog()) {
        if (!dlg.QuitSignal()) PrintFailure(dlg.StartupFailure());
        m_nExitStatus = dlg.ExitStatus();
        return FALSE;
    }
    if (!HelperStarted()) return FALSE;
    dlg.exec();
    m_nExitStatus = dlg.ExitStatus();
    // A clean end: the helper puts back whatever the dialog left changed, and the user hears
    // what it could not.
    const HelperAccount account = m_helper->End();
    const std::vector<std::string> lines = account.Lines();
    QString text;
    for (const std::string& line : lines) {
        PrintFailure(line);
        text += QString::fromLocal8Bit(line.c_str()) + QLatin1Char('\n');
    }
    if (!lines.empty())
        QMessageBox::warning(nullptr, QApplication::applicationName(), text.trimmed());
    if (!account.AllBack()) m_nExitStatus = EXIT_NOT_RESTORED;
    return FALSE;
}

}  // namespace kestrel
