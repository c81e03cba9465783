// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The process heap. HeapAlloc returns nullptr on failure; tests can make it fail on purpose.
#pragma once

#include <cstddef>

namespace kestrel {

void* HeapAlloc(std::size_t bytes, bool zeroFill = false);
void HeapFree(void* block);
using HeapFailureHook = bool (*)(std::size_t bytes);  // true: fail this allocation
void SetHeapFailureHook(HeapFailureHook hook);

}  // namespace kestrel
