// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// kestrel-recovery-cli: the recovery for a terminal, a script or a machine without a desktop.
// The same switches, start-up and jobs as the wizard; no window.
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <string>

#include "cli/terminal_wizard.h"
#include "engine/command_line.h"
#include "engine/pages.h"
#include "platform/linux/privileges.h"
#include "platform/linux/services.h"
#include "platform/process.h"

#ifndef KESTREL_VERSION
#define KESTREL_VERSION ""
#endif

namespace kestrel {
namespace {

constexpr char kProgram[] = "kestrel-recovery-cli";

void PrintUsage() {
    std::printf(
        "Usage: %s [--open] [DEBUG] [TIME=seconds] FW=image\n"
        "       %s [--open] [DEBUG] [TIME=seconds] WWFW=image NAFW=image\n"
        "\n"
        "Brings a router whose firmware is damaged back to life: the router's boot loader gets\n"
        "the image by TFTP at 192.168.1.1 over a wired Ethernet adapter of this PC. The wizard's\n"
        "steps, for a terminal, a script or a machine without a desktop.\n"
        "\n"
        "%s"
        "  --open        after a success, also open the router's login page in the browser\n"
        "  --version     print the version\n"
        "\n"
        "It runs as you and needs administrator rights for the network settings: start it with\n"
        "sudo, or it asks through polkit. On a failure a terminal is asked whether to retry.\n"
        "Exit status: 0 the router works, 1 the recovery did not start, 2 it failed, 128+N\n"
        "ended by signal N; the PC's settings are put back. 3: the recovery ended, but some\n"
        "settings could not be put back.\n",
        kProgram, kProgram, SwitchesUsage().c_str());
}

void PrintFailure(const std::string& line) {
    std::fprintf(stderr, "%s: %s\n", kProgram, line.c_str());
}

int Run(int argc, char** argv) {
    // The image's name is written in the locale's character set: the user's, not C's.
    std::setlocale(LC_ALL, "");
    if (RunsWithSecureExec()) {
        PrintFailure(
            "refuses to run with setuid or file capabilities: it needs no rights of its "
            "own and asks for them through polkit");
        return EXIT_NOT_STARTED;
    }
    bool open = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            PrintUsage();
            return 0;
        }
        if (option == "--version") {
            std::printf("%s %s\n", kProgram, KESTREL_VERSION);
            return 0;
        }
        if (option == "--open") {
            open = true;
        } else if (option.rfind('-', 0) == 0) {
            PrintFailure("unknown option " + option + "; see --help");
            return EXIT_NOT_STARTED;
        }
    }
    SetCommandLine(argc, argv);

    // What needs no rights is checked before they are asked for: as an ordinary user the image
    // comes before pkexec's password. As root on a user's behalf the helper starts first and
    // the program becomes that user before the image is opened: a path is read with the user's
    // own rights.
    const bool root = ::geteuid() == 0;
    std::string why;
    std::unique_ptr<PrivilegedHelper> helper;
    if (root && !(helper = PrivilegedHelper::Start(why))) {
        PrintFailure(why);
        return EXIT_NOT_STARTED;
    }
    TerminalWizard wizard(STDIN_FILENO, stdout, stderr);
    const CommandLineSettings settings =
        ReadCommandLine(GetCommandLineW(), PlatformCommandLineEnvironment());
    ApplyCommandLine(settings, wizard);
    for (const DiagnosticBox& box : settings.boxes) wizard.MessageBox(box.text, box.caption);
    if (!settings.ok) {
        PrintFailure(settings.failure);
        return EXIT_NOT_STARTED;
    }
    if (!root && !(helper = PrivilegedHelper::Start(why))) {
        PrintFailure(why);
        return EXIT_NOT_STARTED;
    }
    const int status = wizard.Run(open);
    const HelperAccount account = helper->End();
    for (const std::string& line : account.Lines()) PrintFailure(line);
    return account.AllBack() ? status : EXIT_NOT_RESTORED;
}

}  // namespace
}  // namespace kestrel

int main(int argc, char** argv) {
    kestrel::InstallLinuxServices();
    return kestrel::Run(argc, argv);
}
