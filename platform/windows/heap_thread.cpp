// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include <process.h>

#include <atomic>
#include <new>

#include "platform/heap.h"
#include "platform/threads.h"

namespace kestrel {
namespace {

std::atomic<HeapFailureHook> failureHook{nullptr};

}  // namespace

void* HeapAlloc(std::size_t bytes, bool zeroFill) {
    HeapFailureHook hook = failureHook.load();
    if (hook && hook(bytes)) return nullptr;
    return ::HeapAlloc(::GetProcessHeap(), zeroFill ? HEAP_ZERO_MEMORY : 0, bytes ? bytes : 1);
}

void HeapFree(void* block) {
    if (block) ::HeapFree(::GetProcessHeap(), 0, block);
}

void SetHeapFailureHook(HeapFailureHook hook) {
    failureHook.store(hook);
}

struct ThreadObject {
    ::HANDLE thread = nullptr;
};

namespace {

struct StartBlock {
    ThreadEntry entry;
    void* argument;
};

unsigned __stdcall Trampoline(void* raw) {
    StartBlock start = *static_cast<StartBlock*>(raw);
    delete static_cast<StartBlock*>(raw);
    return start.entry(start.argument);
}

}  // namespace

// _beginthreadex, not CreateThread: the worker uses the C runtime.
HANDLE BeginThread(ThreadEntry entry, void* argument) {
    auto* handle = new (std::nothrow) ThreadObject;
    auto* start = new (std::nothrow) StartBlock{entry, argument};
    const std::uintptr_t thread =
        handle && start ? ::_beginthreadex(nullptr, 0, Trampoline, start, 0, nullptr) : 0;
    if (thread == 0) {
        delete handle;
        delete start;
        return nullptr;
    }
    handle->thread = reinterpret_cast<::HANDLE>(thread);
    return handle;
}

BOOL CloseHandle(HANDLE handle) {
    if (!handle) return FALSE;
    ::CloseHandle(handle->thread);
    delete handle;
    return TRUE;
}

}  // namespace kestrel
