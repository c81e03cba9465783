// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/process.h"

#include <utility>

namespace kestrel {
namespace {

std::string& StoredCommandLine() {
    static std::string commandLine;
    return commandLine;
}

}  // namespace

void SetCommandLine(const std::vector<std::string>& argv) {
    std::string joined;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        if (i > 0) joined += ' ';
        joined += argv[i];
    }
    SetWholeCommandLine(std::move(joined));
}

void SetWholeCommandLine(std::string line) {
    StoredCommandLine() = std::move(line);
}

const std::string& GetCommandLineW() {
    return StoredCommandLine();
}

}  // namespace kestrel
