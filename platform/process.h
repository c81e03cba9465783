// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The process's command line.
#pragma once

#include <string>
#include <vector>

namespace kestrel {

// The whole command line: argv joined by single spaces. Recorded once from main().
void SetCommandLine(int argc, char** argv);
void SetCommandLine(const std::vector<std::string>& argv);
const std::string& GetCommandLineW();

}  // namespace kestrel
