// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The process's command line.
#pragma once

#include <string>
#include <vector>

namespace kestrel {

// The whole command line, recorded once from main(): on Linux argv joined by single spaces, on
// Windows the line as the system gave it. Each system defines this one (platform/<system>/).
void SetCommandLine(int argc, char** argv);
// Shared: argv joined by single spaces, and the line as it was recorded last.
void SetCommandLine(const std::vector<std::string>& argv);
void SetWholeCommandLine(std::string line);
const std::string& GetCommandLineW();

}  // namespace kestrel
