// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The image folder and the firmware image.
#pragma once

#include <string>

namespace kestrel {

// How a path names its folders, and the image folder under the system folder. On Windows a
// drive letter's colon makes a path too ("C:image.bin" is on drive C).
#ifdef _WIN32
inline constexpr char kPathSeparators[] = "\\/:";
inline constexpr char kImageFolder[] = "\\KESTREL\\";
#else
inline constexpr char kPathSeparators[] = "/";
inline constexpr char kImageFolder[] = "/KESTREL/";
#endif

// Folder under which "KESTREL/" holds the images: KESTREL_SYSTEM_DIR when set (read with
// secure_getenv, so it is ignored in set-id programs), else the build-time default.
std::string GetSystemDirectoryW();

// Opens the firmware image for reading, once, at start-up. Never blocks (a FIFO with no writer
// would hang the upload) and keeps only a regular file: a directory, FIFO or device is refused
// like a missing image. The descriptor (close-on-exec), or -1.
int OpenFirmwareImage(const std::string& path);
void CloseFirmwareImage(int file);  // -1 is ignored

}  // namespace kestrel
