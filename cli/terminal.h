// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The terminal of the front end without a window: what it is, waiting for its input or a quit
// signal, and the user's browser.
#pragma once

#include <string>

namespace kestrel {

// `text` with its control characters written as \xNN: text from the network (a boot loader's
// error message) must not move the cursor, set the title or overwrite what the user reads.
std::string Printable(const std::string& text);

bool IsTerminal(int fd);
// The terminal's width in characters; 0 when `fd` is no terminal or does not say.
int TerminalColumns(int fd);

enum class Waited { Input, QuitSignal, Timeout };
// Waits up to `timeoutMs` (-1: for good) until `fd` can be read (-1: not waited for) or the quit
// signal pipe `quitFd` holds a signal; a quit signal wins.
Waited WaitForInputOrQuit(int fd, int quitFd, int timeoutMs);
// One line from `fd` without its newline, read byte by byte so that nothing after it is taken.
// False at the end of the input with nothing read.
bool ReadLine(int fd, std::string& line);

// Asks the desktop to open `url` (xdg-open) and waits for it to hand over; true when it did.
bool OpenUrlInBrowser(const std::string& url);

}  // namespace kestrel
