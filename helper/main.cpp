// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// kestrel-recovery-helper: the privileged half of the recovery. A front end starts it (through
// pkexec, or directly when it runs as root; on Windows as its elevated child) and talks to it
// over its standard input and output; nothing else reaches it. Whenever that conversation ends
// without a clean end, it puts back everything it changed.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "helper/harden.h"
#include "helper/journal.h"
#include "helper/program.h"
#include "helper/rights.h"
#include "helper/session.h"
#include "ipc/fd_io.h"
#include "ipc/helper_protocol.h"
#include "platform/quit_signals.h"

namespace kestrel {
namespace {

constexpr char kProgram[] = "kestrel-recovery-helper";

// The reply to a line that ended the conversation: its id is not known.
std::string Refusal(const std::string& why) {
    HelperReply reply;
    reply.error = ERROR_INVALID_PARAMETER;
    reply.message = "refused: " + why;
    return EncodeReply(HelperOp::Hello, reply);
}

bool WriteLine(const std::string& line) {
    return WriteAll(STDOUT_FILENO, line + "\n");
}

// Serves requests until the front end ends the conversation or a quit signal on `quitFd` comes.
// The greeting carries `replayLeft`, what the replay at start could not put back. Returns the
// exit status.
int Serve(HelperSession& session, int quitFd, const std::vector<std::string>& replayLeft) {
    std::string pending;
    char buffer[4096];
    for (;;) {
        const std::size_t newline = pending.find('\n');
        if (newline == std::string::npos) {
            if (pending.size() > kMaxRequestLine) {
                Log("a request line was too long: putting everything back");
                WriteLine(Refusal("line too long"));
                session.RestoreAll();
                return 1;
            }
            const Wake wake = WaitForInput(STDIN_FILENO, quitFd);
            if (wake == Wake::Failed) return 1;
            if (int signal = 0; DrainQuitSignalPipe(quitFd, signal) > 0) {
                Log("ended by signal " + std::to_string(signal) + ": putting everything back");
                session.RestoreAll();
                return 128 + signal;
            }
            if (wake != Wake::Ready) continue;
            const auto got = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                // The front end crashed, was killed, lost its display or its session ended.
                Log("the front end went away without a clean end: putting everything back");
                session.RestoreAll();
                return 0;
            }
            pending.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        const std::string line = pending.substr(0, newline);
        pending.erase(0, newline + 1);

        HelperRequest request;
        std::string why;
        if (!DecodeRequest(line, request, why)) {
            Log("a malformed request (" + why + "): putting everything back");
            WriteLine(Refusal(why));
            session.RestoreAll();
            return 1;
        }
        HelperReply reply = session.Handle(request, STDIN_FILENO);
        if (request.op == HelperOp::Hello) reply.notRestored = replayLeft;
        if (!WriteLine(EncodeReply(request.op, reply))) {
            Log("the front end stopped listening: putting everything back");
            session.RestoreAll();
            return 0;
        }
        if (request.op == HelperOp::End) return reply.notRestored.empty() ? 0 : 1;
    }
}

void PrintUsage() {
    std::printf(
        "Usage: %s [--restore]\n"
        "\n"
        "The privileged helper of kestrel-recovery. The recovery programs start it themselves\n"
        "and talk to it over its standard input and output.\n"
        "\n"
        "  --restore   put back the network settings that a recovery which ended abruptly left\n"
        "              changed in this network namespace, then end\n",
        kProgram);
}

}  // namespace
}  // namespace kestrel

int main(int argc, char** argv) {
    using namespace kestrel;
    const std::string option = argc == 2 ? argv[1] : "";
    if (argc > 2 || (argc == 2 && option != "--restore")) {
        if (option == "--help" || option == "-h") {
            PrintUsage();
            return 0;
        }
        std::fprintf(stderr, "%s: unknown option; see --help\n", kProgram);
        return 2;
    }
    StartProgram(kProgram);
    if (!HasNetworkAdminRights()) {
        LogFailure(kRightsNeeded);
        return 1;
    }
    // pkexec has asked for the password by now: the terminal is the front end's from here on.
    if (std::string why; !HardenHelper(option == "--restore", why)) {
        LogFailure("cannot take itself out of its caller's hands: " + why);
        return 1;
    }
    const int quitFd = InstallQuitSignalPipe();
    if (quitFd < 0) {
        LogFailure("cannot set up its signal handling");
        return 1;
    }
    std::string why;
    std::unique_ptr<Journal> journal = Journal::Open(JournalFolderPath(), why);
    if (!journal) {
        LogFailure(why);
        // The front end tells its user why: another recovery may be running here.
        if (option != "--restore") {
            HelperReply reply;
            reply.error = ERROR_ACCESS_DENIED;
            reply.message = why;
            WriteLine(EncodeReply(HelperOp::Hello, reply));
        }
        return 1;
    }
    const std::unique_ptr<NetKernel> kernel = MakeNetKernel();
    HelperSession session(*kernel, *journal, Log);
    std::vector<std::string> replayLeft;
    if (!journal->Entries().empty()) {
        Log("journal replay: putting back " + std::to_string(journal->Entries().size()) +
            " changes that a recovery which ended abruptly left in " + journal->Path());
        replayLeft = session.RestoreAll();
    }
    if (option == "--restore") {
        for (const std::string& line : replayLeft) LogFailure("could not put back: " + line);
        return replayLeft.empty() ? 0 : 1;
    }
    return Serve(session, quitFd, replayLeft);
}
