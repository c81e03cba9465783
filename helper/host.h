// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// What the helper's journal and session need from the operating system, each system's own
// (helper/linux/host.cpp, helper/windows/host.cpp). Failures leave errno set for the log.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kestrel {

// The journal's folder, ours alone, with its files addressed by name.
class JournalFolder {
public:
    // Creates the folder when missing. Null, with the reason, when it is not a folder that only
    // this user (Linux) or the administrators and the system (Windows) can change.
    static std::unique_ptr<JournalFolder> Open(const std::string& path, std::string& why);
    ~JournalFolder();
    JournalFolder(const JournalFolder&) = delete;
    JournalFolder& operator=(const JournalFolder&) = delete;

    // Holds the lock file `name` for this process until the folder is closed. False, with the
    // reason, when another process holds it.
    bool Lock(const std::string& name, std::string& why);

    enum class Mode {
        Existing,  // read and append; errno ENOENT when it is missing
        New,       // read and append, created; fails when it is there
        Replace,   // read and append, created or emptied
    };
    // A descriptor for reading and appending, or -1.
    int OpenFile(const std::string& name, Mode mode);
    bool Remove(const std::string& name);  // a missing file is removed already
    // Puts `from` in place of `to` in one step: `to` is always the old or the new file.
    bool Replace(const std::string& from, const std::string& to);
    // Makes the folder's entries (created, removed, replaced files) survive a crash.
    bool Sync();

private:
    JournalFolder(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    int fd_;  // the folder (Linux), or -1
    std::string path_;
    int lockFd_ = -1;
};

// The file's data (and, unless `dataOnly`, its size and times) on disk.
bool SyncFile(int fd, bool dataOnly);
bool TruncateFile(int fd, std::int64_t size);
// Appends the rest of the file from where `fd` stands, up to its end or a failed read.
void ReadRest(int fd, std::string& text);
void CloseFile(int fd);  // -1 is ignored

// The network stack the helper changes, told apart from every other one the machine runs now
// (`stack`), and the machine's boot (`boot`), after which such ids start again.
bool NetworkIdentity(std::string& stack, std::string& boot, std::string& why);
// Milliseconds on a clock that runs on while the machine sleeps.
std::uint64_t BootClockMs();

// True when `fd` can be read without waiting (data, or its writer gone).
bool HasInput(int fd);

}  // namespace kestrel
