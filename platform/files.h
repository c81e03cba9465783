// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The image folder and the firmware image.
#pragma once

#include <string>

namespace kestrel {

// The images' folder under the system folder, with the system's separators.
// A file name with any of the separators is a path: on Windows also "C:fw.bin".
#ifdef _WIN32
inline constexpr char kImageFolder[] = "\\KESTREL\\";
inline constexpr char kPathSeparators[] = "/\\:";
#else
inline constexpr char kImageFolder[] = "/KESTREL/";
inline constexpr char kPathSeparators[] = "/";
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
