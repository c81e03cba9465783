// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// kestrel-recovery-cli.exe: the recovery for a console or a script on Windows. The same
// switches, output, jobs and exit statuses as elsewhere; no window.
#include <clocale>
#include <cstdio>
#include <memory>
#include <string>

#include "cli/terminal_wizard.h"
#include "engine/command_line.h"
#include "engine/pages.h"
#include "platform/process.h"
#include "platform/windows/helper_process.h"
#include "platform/windows/network.h"

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
        "steps, for a console or a script.\n"
        "\n"
        "%s"
        "  --open        after a success, also open the router's login page in the browser\n"
        "  --version     print the version\n"
        "\n"
        "It needs administrator rights for the network settings: start it from a command\n"
        "prompt opened with \"Run as administrator\" (elsewhere Windows asks for them and runs\n"
        "it in a console of its own). On a failure a console is asked whether to retry.\n"
        "Ctrl+C stops it and puts the settings back; a second Ctrl+C ends it at once.\n"
        "Exit status: 0 the router works, 1 the recovery did not start, 2 it failed, 128+N\n"
        "ended by signal N; the PC's settings are put back. 3: the recovery ended, but some\n"
        "settings could not be put back.\n",
        kProgram, kProgram, SwitchesUsage().c_str());
}

void PrintFailure(const std::string& line) {
    std::fprintf(stderr, "%s: %s\n", kProgram, line.c_str());
}

int Run(int argc, char** argv) {
    // The image's name is written in the ANSI code page: the user's, not C's.
    std::setlocale(LC_ALL, "");
    bool open = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h" || option == "/?") {
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

    SetCommandLine(argc, argv);  // the system's own command line, as the switches read it

    // What needs no helper is checked before one is started: the image first.
    TerminalWizard wizard(_fileno(stdin), stdout, stderr);
    const CommandLineSettings settings =
        ReadCommandLine(GetCommandLineW(), PlatformCommandLineEnvironment());
    ApplyCommandLine(settings, wizard);
    for (const DiagnosticBox& box : settings.boxes) wizard.MessageBox(box.text, box.caption);
    if (!settings.ok) {
        PrintFailure(settings.failure);
        return EXIT_NOT_STARTED;
    }
    // The helper is this process's child over pipes: however this process ends, the helper's
    // input ends and it puts back what is still changed.
    std::string why;
    std::unique_ptr<PrivilegedHelper> helper = PrivilegedHelper::Start(why);
    if (!helper) {
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
    kestrel::InstallWindowsServices();
    return kestrel::Run(argc, argv);
}
