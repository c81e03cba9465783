// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Worker threads, started at once; CloseHandle detaches and releases the handle.
#pragma once

#include "platform/wintypes.h"

namespace kestrel {

struct ThreadObject;
using HANDLE = ThreadObject*;
using ThreadEntry = unsigned (*)(void* argument);
HANDLE BeginThread(ThreadEntry entry, void* argument);
BOOL CloseHandle(HANDLE handle);

}  // namespace kestrel
