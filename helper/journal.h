// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The helper's write-ahead journal: every change it is about to make to the PC's network
// settings, written and synced before the change, so that whatever happens to the helper or its
// front end the PC's own settings can be put back. One journal per network namespace, in a
// root-only folder under /run; a live helper holds it locked.
//
// The file is a header line, then one line per record, each synced before the change it guards:
//   {"journal":2,"netns":"<SO_NETNS_COOKIE>","boot":"<boot id>"}
//   {"add":[entry, ...]}     entries journaled together (a change and what it puts at risk)
//   {"del":[seq, ...]}       entries that are done with
// A last line without its newline was torn by a crash and never guarded a change: it is
// ignored. The file goes when the journal empties, and is rewritten compacted now and then.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "helper/netkernel.h"

namespace kestrel {

class JournalFolder;

struct JournalEntry {
    enum class Kind {
        RemovedAddress,  // one of the PC's addresses, taken off
        RemovedRoute,    // one of the PC's routes, taken off or dropped by the kernel
        AddedAddress,    // the temporary address
        LinkUp,          // a link that was down, brought up for its attempt
    };

    std::uint64_t seq = 0;
    Kind kind = Kind::RemovedAddress;
    // The link as it was, so that a replay never touches a link that only shares the index.
    int ifIndex = 0;
    std::string linkName;
    std::vector<std::uint8_t> linkMac;
    KernelAddress address;  // RemovedAddress, AddedAddress
    KernelRoute route;      // RemovedRoute
    // RemovedRoute: the seq of the RemovedAddress whose removal made the kernel drop it (0: the
    // route was taken off itself). Until that removal is confirmed, every route it put at risk
    // is kept here, so that a crash in between loses none.
    std::uint64_t droppedWith = 0;
    std::uint64_t readAtMs = 0;  // CLOCK_BOOTTIME when the object was read: lifetimes run on
};

class Journal {
public:
    // The journal of the caller's network namespace in `folder` (created root-only when
    // missing), locked for this process. Null, with the reason, when the folder is not safe or
    // another helper holds the journal.
    static std::unique_ptr<Journal> Open(const std::string& folder, std::string& why);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Oldest first. Entries found on opening were left by a helper that died.
    const std::vector<JournalEntry>& Entries() const { return entries_; }
    const JournalEntry* Find(std::uint64_t seq) const;
    // The seq the next appended entry gets.
    std::uint64_t NextSeq() const { return nextSeq_; }

    // Appends one synced record. False, with nothing journaled, when that failed: the change it
    // guards must then not be made.
    bool Append(std::vector<JournalEntry> entries, std::vector<std::uint64_t>* seqs = nullptr);
    // The entries leave the journal in memory whatever happens, so a restore always moves on;
    // false when their record could not be written (a replay then finds them done already).
    bool Remove(const std::vector<std::uint64_t>& seqs);
    // Why the last write failed, for the log.
    const std::string& Failure() const { return failure_; }

    const std::string& Path() const { return path_; }
    static std::uint64_t NowMs();  // CLOCK_BOOTTIME

private:
    Journal(std::unique_ptr<JournalFolder> folder, std::string name, std::string path);
    bool Load(std::string& why);
    bool WriteRecord(const std::string& line);
    bool Rewrite();
    bool Drop();
    bool Fail(const std::string& what);

    std::unique_ptr<JournalFolder> folder_;  // holds the lock while the journal is open
    int fd_ = -1;       // the file, open for appending; -1 when there is none yet
    std::string name_;  // the file's name in the folder
    std::string path_;
    std::string header_;    // names the namespace: its cookie and the boot
    std::int64_t end_ = 0;  // where the last whole record ends
    std::size_t records_ = 0;
    std::string failure_;
    std::uint64_t nextSeq_ = 1;
    std::vector<JournalEntry> entries_;  // by seq
};

}  // namespace kestrel
