// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "helper/program.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "helper/harden.h"
#include "helper/host.h"
#include "helper/windows/private_folder.h"
#include "helper/windows/system_ip_helper.h"
#include "helper/windows/windows_netkernel.h"
#include "platform/wintypes.h"

namespace kestrel {
namespace {

// Anonymous pipes have no wait that also watches the quit pipe: look, this often.
constexpr DWORD kInputPollMs = 10;

std::string Utf8(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size,
                          nullptr, nullptr);
    return text;
}

}  // namespace

const char kRightsNeeded[] =
    "needs an administrator's elevated rights: the recovery programs start it, elevated";

void StartProgram(const char*) {
    // The protocol is lines of bytes: no carriage returns added or taken.
    ::_setmode(0, _O_BINARY);
    ::_setmode(1, _O_BINARY);
    // No box may stop the helper half-way waiting for a click nobody sees.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
}

void Log(const std::string& line) {
    std::fprintf(stderr, "kestrel-recovery-helper: %s\n", line.c_str());
}

void LogFailure(const std::string& line) {
    Log(line);
}

std::string JournalFolderPath() {
    std::string why;
    const std::wstring folder = KnownJournalFolder(why);
    if (folder.empty()) LogFailure(why);
    return Utf8(folder);
}

std::unique_ptr<NetKernel> MakeNetKernel() {
    return std::make_unique<WindowsNetKernel>(SystemIpHelperApi());
}

Wake WaitForInput(int input, int quit) {
    while (!HasInput(input) && !HasInput(quit)) ::Sleep(kInputPollMs);
    return Wake::Ready;
}

// The front end owns the helper as its child: its end is the helper's input closing, which
// the helper answers by putting everything back. Nothing else needs shutting out here.
bool HardenHelper(bool, std::string&) {
    return true;
}

}  // namespace kestrel
