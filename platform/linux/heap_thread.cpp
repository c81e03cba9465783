// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
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
    return zeroFill ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
}

void HeapFree(void* block) {
    std::free(block);
}

void SetHeapFailureHook(HeapFailureHook hook) {
    failureHook.store(hook);
}

struct ThreadObject {
    pthread_t thread{};
};

namespace {

struct StartBlock {
    ThreadEntry entry;
    void* argument;
};

void* Trampoline(void* raw) {
    StartBlock start = *static_cast<StartBlock*>(raw);
    delete static_cast<StartBlock*>(raw);
    start.entry(start.argument);
    return nullptr;
}

}  // namespace

HANDLE BeginThread(ThreadEntry entry, void* argument) {
    auto* handle = new (std::nothrow) ThreadObject;
    auto* start = new (std::nothrow) StartBlock{entry, argument};
    if (!handle || !start || pthread_create(&handle->thread, nullptr, Trampoline, start) != 0) {
        delete handle;
        delete start;
        return nullptr;
    }
    return handle;
}

BOOL CloseHandle(HANDLE handle) {
    if (!handle) return FALSE;
    pthread_detach(handle->thread);
    delete handle;
    return TRUE;
}

}  // namespace kestrel
