// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The journal's files through the C runtime over handles opened with every sharing mode, so
// that a file can be renamed over while open, as on Linux. Paths are UTF-8 and go to the wide
// functions.
#include "helper/host.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>

#include "platform/wintypes.h"

namespace kestrel {
namespace {

std::wstring Wide(const std::string& text) {
    const int size =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          size);
    return wide;
}

// errno for the log, from the last Win32 failure.
void SetErrno() {
    switch (::GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            errno = ENOENT;
            break;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            errno = EEXIST;
            break;
        case ERROR_ACCESS_DENIED:
            errno = EACCES;
            break;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            errno = EWOULDBLOCK;
            break;
        case ERROR_DISK_FULL:
            errno = ENOSPC;
            break;
        default:
            errno = EIO;
    }
}

int OpenHandle(const std::wstring& path, DWORD disposition, DWORD share) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                                      disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        SetErrno();
        return -1;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_BINARY);
    if (fd < 0) ::CloseHandle(file);
    return fd;
}

// Appended piece by piece: g++ 12 warns wrongly about `folder + "\\" + name`.
std::wstring InFolder(const std::string& folder, const std::string& name) {
    std::string path = folder;
    path.push_back('\\');
    path.append(name);
    return Wide(path);
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

// Who may change the folder is its access list's business, set where the helper creates it
// (the kernel layer's start-up); here it only has to be a folder and not a link.
std::unique_ptr<JournalFolder> JournalFolder::Open(const std::string& path, std::string& why) {
    const std::wstring wide = Wide(path);
    if (!::CreateDirectoryW(wide.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        SetErrno();
        why = path + ": cannot create it";
        return nullptr;
    }
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        why = path + " is not a folder of its own";
        return nullptr;
    }
    return std::unique_ptr<JournalFolder>(new JournalFolder(-1, path));
}

JournalFolder::~JournalFolder() {
    CloseFile(lockFd_);
}

bool JournalFolder::Lock(const std::string& name, std::string& why) {
    // Shared with nobody: a second helper's open fails for as long as this one lives.
    const int fd = OpenHandle(InFolder(path_, name), OPEN_ALWAYS, 0);
    if (fd < 0) {
        why = errno == EWOULDBLOCK ? "another recovery is running on this PC"
                                   : "cannot lock the journal: " + std::string(strerror(errno));
        return false;
    }
    lockFd_ = fd;
    return true;
}

int JournalFolder::OpenFile(const std::string& name, Mode mode) {
    const DWORD disposition = mode == Mode::Existing ? OPEN_EXISTING
                              : mode == Mode::New    ? CREATE_NEW
                                                     : CREATE_ALWAYS;
    return OpenHandle(InFolder(path_, name), disposition, kShareAll);
}

bool JournalFolder::Remove(const std::string& name) {
    if (::DeleteFileW(InFolder(path_, name).c_str())) return true;
    SetErrno();
    return errno == ENOENT;
}

bool JournalFolder::Replace(const std::string& from, const std::string& to) {
    if (::MoveFileExW(InFolder(path_, from).c_str(), InFolder(path_, to).c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    SetErrno();
    return false;
}

// NTFS journals its own entries, and the moves are written through.
bool JournalFolder::Sync() {
    return true;
}

bool SyncFile(int fd, bool) {
    return ::_commit(fd) == 0;
}

bool TruncateFile(int fd, std::int64_t size) {
    return ::_chsize_s(fd, size) == 0;
}

void ReadRest(int fd, std::string& text) {
    char buffer[65536];
    int got;
    while ((got = ::_read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(got));
}

void CloseFile(int fd) {
    if (fd >= 0) ::_close(fd);
}

// Windows runs one network stack: the machine's. The boot is told by a volatile registry key,
// which the system forgets when it restarts: the first helper of a boot writes the time into it.
bool NetworkIdentity(std::string& stack, std::string& boot, std::string& why) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\kestrel-recovery-boot", 0, nullptr,
                          REG_OPTION_VOLATILE, KEY_READ | KEY_WRITE, nullptr, &key,
                          &disposition) != ERROR_SUCCESS) {
        why = "cannot tell this boot from another";
        return false;
    }
    if (disposition == REG_CREATED_NEW_KEY) {
        FILETIME now{};
        ::GetSystemTimeAsFileTime(&now);
        const std::uint64_t value = std::uint64_t{now.dwHighDateTime} << 32 | now.dwLowDateTime;
        ::RegSetValueExW(key, L"Started", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&value),
                         sizeof value);
    }
    std::uint64_t value = 0;
    // Another helper may have made the key and not yet written it.
    for (int attempt = 0; attempt < 50 && value == 0; ++attempt) {
        DWORD size = sizeof value;
        if (::RegQueryValueExW(key, L"Started", nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                               &size) != ERROR_SUCCESS)
            ::Sleep(10);
    }
    ::RegCloseKey(key);
    if (value == 0) {
        why = "cannot tell this boot from another";
        return false;
    }
    stack.assign(1, '0');
    boot = std::to_string(value);
    return true;
}

std::uint64_t BootClockMs() {
    return ::GetTickCount64();
}

bool HasInput(int fd) {
    DWORD waiting = 0;
    const auto pipe = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    // A pipe whose writer has gone fails: that is input too, its end.
    if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr)) return true;
    return waiting > 0;
}

}  // namespace kestrel
