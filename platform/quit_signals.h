// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Quit requests by signal, as bytes in a pipe: the front ends' UI thread and the helper's request
// loop both wait on its read end, finish what they do and put the PC's settings back instead of
// dying.
#pragma once

namespace kestrel {

// SIGINT, SIGTERM and SIGHUP each write their number as one byte into the pipe. Returns the read
// end (the same one on every call), or -1 when the pipe or the handlers cannot be set up.
int InstallQuitSignalPipe();
// Empties the pipe after the read end became readable; returns how many signals it held and
// sets `first` to the number of the first of them.
int DrainQuitSignalPipe(int readEnd, int& first);

}  // namespace kestrel
