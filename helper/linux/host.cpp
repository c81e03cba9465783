// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "helper/host.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>

namespace kestrel {

// The folder must be ours alone: a directory, not a link, owned by us, writable by nobody else.
std::unique_ptr<JournalFolder> JournalFolder::Open(const std::string& path, std::string& why) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        why = path + ": " + std::strerror(errno);
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || info.st_uid != ::geteuid() ||
        (info.st_mode & 077) != 0) {
        why = path + " is not a folder that only this user can write";
        if (fd >= 0) ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<JournalFolder>(new JournalFolder(fd, path));
}

JournalFolder::~JournalFolder() {
    if (lockFd_ >= 0) ::close(lockFd_);
    ::close(fd_);
}

bool JournalFolder::Lock(const std::string& name, std::string& why) {
    const int fd = ::openat(fd_, name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        why = errno == EWOULDBLOCK
                  ? "another recovery is running in this network namespace"
                  : "cannot lock the journal: " + std::string(std::strerror(errno));
        if (fd >= 0) ::close(fd);
        return false;
    }
    lockFd_ = fd;
    return true;
}

int JournalFolder::OpenFile(const std::string& name, Mode mode) {
    int flags = O_RDWR | O_APPEND | O_NOFOLLOW | O_CLOEXEC;
    if (mode == Mode::New) flags |= O_CREAT | O_EXCL;
    if (mode == Mode::Replace) flags |= O_CREAT | O_TRUNC;
    return ::openat(fd_, name.c_str(), flags, 0600);
}

bool JournalFolder::Remove(const std::string& name) {
    return ::unlinkat(fd_, name.c_str(), 0) == 0 || errno == ENOENT;
}

bool JournalFolder::Replace(const std::string& from, const std::string& to) {
    return ::renameat(fd_, from.c_str(), fd_, to.c_str()) == 0;
}

bool JournalFolder::Sync() {
    return ::fsync(fd_) == 0;
}

bool SyncFile(int fd, bool dataOnly) {
    return (dataOnly ? ::fdatasync(fd) : ::fsync(fd)) == 0;
}

bool TruncateFile(int fd, std::int64_t size) {
    return ::ftruncate(fd, static_cast<off_t>(size)) == 0;
}

void ReadRest(int fd, std::string& text) {
    char buffer[65536];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(got));
}

void CloseFile(int fd) {
    if (fd >= 0) ::close(fd);
}

// The namespace's cookie, never reused while the machine runs (an inode number is, once the
// namespace is gone), with the boot, after which cookies start again.
bool NetworkIdentity(std::string& stack, std::string& boot, std::string& why) {
#ifndef SO_NETNS_COOKIE
    constexpr int SO_NETNS_COOKIE = 71;
#endif
    const int probe = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    std::uint64_t value = 0;
    socklen_t size = sizeof value;
    const bool got =
        probe >= 0 && ::getsockopt(probe, SOL_SOCKET, SO_NETNS_COOKIE, &value, &size) == 0;
    const int error = errno;
    if (probe >= 0) ::close(probe);
    if (!got) {
        why = std::string("cannot tell the network namespace (Linux 5.14 or later is needed): ") +
              std::strerror(error);
        return false;
    }
    stack = std::to_string(value);
    std::ifstream file("/proc/sys/kernel/random/boot_id");
    if (!std::getline(file, boot) || boot.empty()) {
        why = "cannot read the boot id";
        return false;
    }
    return true;
}

std::uint64_t BootClockMs() {
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

bool HasInput(int fd) {
    pollfd input{fd, POLLIN, 0};
    return ::poll(&input, 1, 0) > 0;
}

}  // namespace kestrel
