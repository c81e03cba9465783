// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Kernel services of the platform: command line, folders, locale, heap and threads.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/wintypes.h"

namespace kestrel {

// The whole command line: argv joined by single spaces. Recorded once from main().
void SetCommandLine(int argc, char** argv);
void SetCommandLine(const std::vector<std::string>& argv);
const std::string& GetCommandLineW();

// Folder under which "KESTREL/" holds the images: KESTREL_SYSTEM_DIR when set (read with
// secure_getenv, so it is ignored in set-id programs), else the build-time default.
std::string GetSystemDirectoryW();

// Opens the firmware image for reading, once, at start-up. Never blocks (a FIFO with no writer
// would hang the upload) and keeps only a regular file: a directory, FIFO or device is refused
// like a missing image. The descriptor (close-on-exec), or -1.
int OpenFirmwareImage(const std::string& path);
void CloseFirmwareImage(int file);  // -1 is ignored

// Nation id of the user's location, from the territory of the locale (LC_ALL, then LC_ADDRESS,
// then LANG): United States 244, Canada 39, Mexico 166; any other territory gives 0.
inline constexpr int GEOID_UNITED_STATES = 244;
inline constexpr int GEOID_CANADA = 39;
inline constexpr int GEOID_MEXICO = 166;
int GetUserGeoID();

// Converts `text` (as read from the command line) into the locale's character set
// (nl_langinfo(CODESET)). Returns false when it cannot be represented there.
bool WideCharToMultiByte(const std::string& text, std::string& out);

// Process heap. HeapAlloc returns nullptr on failure; tests can make it fail on purpose.
void* HeapAlloc(std::size_t bytes, bool zeroFill = false);
void HeapFree(void* block);
using HeapFailureHook = bool (*)(std::size_t bytes);  // true: fail this allocation
void SetHeapFailureHook(HeapFailureHook hook);

// Worker threads, started at once; CloseHandle detaches and releases the handle.
struct ThreadObject;
using HANDLE = ThreadObject*;
using ThreadEntry = unsigned (*)(void* argument);
HANDLE BeginThread(ThreadEntry entry, void* argument);
BOOL CloseHandle(HANDLE handle);

// Whether this process may change the network configuration and send raw packets: both
// CAP_NET_ADMIN and CAP_NET_RAW effective (root, or file capabilities on the binary).
bool HasNetworkAdminRights();

// SIGINT, SIGTERM and SIGHUP each write one byte into a pipe, so that the UI thread can finish
// what it does and put the PC's settings back instead of dying. Returns the read end (the same
// one on every call), or -1 when the pipe or the handlers cannot be set up.
int InstallQuitSignalPipe();
// Empties the pipe after the read end became readable; returns how many signals it held and
// sets `first` to the number of the first of them.
int DrainQuitSignalPipe(int readEnd, int& first);

}  // namespace kestrel
