// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "helper/journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string_view>

#include "ipc/fd_io.h"
#include "ipc/hex.h"

namespace kestrel {
namespace {

using Json = nlohmann::json;

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    return HexText(bytes.data(), bytes.size());
}

std::vector<std::uint8_t> Bytes(const std::string& hex) {
    std::vector<std::uint8_t> bytes;
    if (!HexBytes(hex, 0, bytes)) throw std::runtime_error("bad hex");
    return bytes;
}

Json AddressJson(const KernelAddress& a) {
    return {{"ifindex", a.ifIndex},     {"local", a.local},
            {"prefix", a.prefix},       {"broadcast", a.broadcast},
            {"flags", a.flags},         {"scope", a.scope},
            {"metric", a.metric},       {"label", a.label},
            {"valid", a.validLifetime}, {"preferred", a.preferredLifetime},
            {"raw", Hex(a.raw)}};
}

KernelAddress AddressOf(const Json& j) {
    KernelAddress a;
    a.ifIndex = j.at("ifindex").get<int>();
    a.local = j.at("local").get<IPAddr>();
    a.prefix = j.at("prefix").get<int>();
    a.broadcast = j.at("broadcast").get<IPAddr>();
    a.flags = j.at("flags").get<std::uint32_t>();
    a.scope = j.at("scope").get<std::uint8_t>();
    a.metric = j.at("metric").get<std::uint32_t>();
    a.label = j.at("label").get<std::string>();
    a.validLifetime = j.at("valid").get<std::uint32_t>();
    a.preferredLifetime = j.at("preferred").get<std::uint32_t>();
    a.raw = Bytes(j.at("raw").get<std::string>());
    return a;
}

Json RouteJson(const KernelRoute& r) {
    return {{"table", r.table},       {"dst", r.dst},           {"prefix", r.prefix},
            {"tos", r.tos},           {"protocol", r.protocol}, {"scope", r.scope},
            {"type", r.type},         {"priority", r.priority}, {"prefsrc", r.prefsrc},
            {"gateway", r.gateway},   {"oif", r.oif},           {"onlink", r.onlink},
            {"nexthops", r.nexthops}, {"raw", Hex(r.raw)}};
}

KernelRoute RouteOf(const Json& j) {
    KernelRoute r;
    r.table = j.at("table").get<std::uint32_t>();
    r.dst = j.at("dst").get<IPAddr>();
    r.prefix = j.at("prefix").get<int>();
    r.tos = j.at("tos").get<std::uint8_t>();
    r.protocol = j.at("protocol").get<std::uint8_t>();
    r.scope = j.at("scope").get<std::uint8_t>();
    r.type = j.at("type").get<std::uint8_t>();
    r.priority = j.at("priority").get<std::uint32_t>();
    r.prefsrc = j.at("prefsrc").get<IPAddr>();
    r.gateway = j.at("gateway").get<IPAddr>();
    r.oif = j.at("oif").get<int>();
    r.onlink = j.at("onlink").get<bool>();
    r.nexthops = j.at("nexthops").get<int>();
    r.raw = Bytes(j.at("raw").get<std::string>());
    return r;
}

Json EntryJson(const JournalEntry& e) {
    Json j = {{"seq", e.seq},          {"kind", static_cast<int>(e.kind)},
              {"ifindex", e.ifIndex},  {"link", e.linkName},
              {"mac", Hex(e.linkMac)}, {"dropped_with", e.droppedWith},
              {"read_at", e.readAtMs}};
    if (e.kind == JournalEntry::Kind::RemovedRoute)
        j["route"] = RouteJson(e.route);
    else
        j["address"] = AddressJson(e.address);
    return j;
}

JournalEntry EntryOf(const Json& j) {
    JournalEntry e;
    e.seq = j.at("seq").get<std::uint64_t>();
    const int kind = j.at("kind").get<int>();
    if (kind < 0 || kind > static_cast<int>(JournalEntry::Kind::LinkUp))
        throw std::runtime_error("unknown entry");
    e.kind = static_cast<JournalEntry::Kind>(kind);
    e.ifIndex = j.at("ifindex").get<int>();
    e.linkName = j.at("link").get<std::string>();
    e.linkMac = Bytes(j.at("mac").get<std::string>());
    e.droppedWith = j.at("dropped_with").get<std::uint64_t>();
    e.readAtMs = j.at("read_at").get<std::uint64_t>();
    if (e.kind == JournalEntry::Kind::RemovedRoute)
        e.route = RouteOf(j.at("route"));
    else
        e.address = AddressOf(j.at("address"));
    return e;
}

// The folder must be ours alone: a directory, not a link, owned by us, writable by nobody else.
int OpenSafeFolder(const std::string& folder, std::string& why) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        why = folder + ": " + std::strerror(errno);
        return -1;
    }
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || info.st_uid != ::geteuid() ||
        (info.st_mode & 077) != 0) {
        why = folder + " is not a folder that only this user can write";
        if (fd >= 0) ::close(fd);
        return -1;
    }
    return fd;
}

// The namespace's identity: its cookie, never reused while the machine runs (an inode number
// is, once the namespace is gone), with the boot, after which cookies start again.
bool NetnsIdentity(std::string& cookie, std::string& boot, std::string& why) {
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
    cookie = std::to_string(value);
    std::ifstream file("/proc/sys/kernel/random/boot_id");
    if (!std::getline(file, boot) || boot.empty()) {
        why = "cannot read the boot id";
        return false;
    }
    return true;
}

// The process holding the lock on `lockFd` when it is another helper that someone stopped: it
// would hold the journal until it is let go, and the PC's settings with it. Nobody but root can
// stop a helper, and its journal guards everything it changed, so it may go as after a crash.
bool EndStoppedHolder(int lockFd) {
    struct stat lock {};
    if (::fstat(lockFd, &lock) != 0) return false;
    char inode[64];
    std::snprintf(inode, sizeof inode, "%02x:%02x:%llu", major(lock.st_dev), minor(lock.st_dev),
                  static_cast<unsigned long long>(lock.st_ino));
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        // "1: FLOCK  ADVISORY  WRITE 4242 00:1a:17 0 EOF"
        std::istringstream fields(line);
        std::string number, type, mode, access, file;
        pid_t holder = 0;
        if (!(fields >> number >> type >> mode >> access >> holder >> file) || type != "FLOCK" ||
            file != inode || holder <= 0 || holder == ::getpid())
            continue;
        const std::string proc = "/proc/" + std::to_string(holder);
        std::ifstream status(proc + "/stat");
        std::string text((std::istreambuf_iterator<char>(status)),
                         std::istreambuf_iterator<char>());
        const std::size_t state = text.rfind(") ");
        std::error_code error;
        const bool stopped = state != std::string::npos && state + 2 < text.size() &&
                             (text[state + 2] == 'T' || text[state + 2] == 't');
        const bool helper = std::filesystem::equivalent(proc + "/exe", "/proc/self/exe", error);
        if (!stopped || !helper || ::kill(holder, SIGKILL) != 0) return false;
        for (int wait = 0; wait < 100; ++wait) {
            if (::flock(lockFd, LOCK_EX | LOCK_NB) == 0) return true;
            ::usleep(20000);
        }
        return false;
    }
    return false;
}

}  // namespace

std::uint64_t Journal::NowMs() {
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

Journal::Journal(int folderFd, int lockFd, std::string name, std::string path)
    : folderFd_(folderFd), lockFd_(lockFd), name_(std::move(name)), path_(std::move(path)) {}

Journal::~Journal() {
    // Compacted at the end: what a replay needs and nothing more.
    if (fd_ >= 0 && records_ > 2) Rewrite();
    if (fd_ >= 0) ::close(fd_);
    ::close(lockFd_);
    ::close(folderFd_);
}

std::unique_ptr<Journal> Journal::Open(const std::string& folder, std::string& why) {
    std::string cookie, boot;
    if (!NetnsIdentity(cookie, boot, why)) return nullptr;
    const std::string name = "net-" + cookie;

    const int folderFd = OpenSafeFolder(folder, why);
    if (folderFd < 0) return nullptr;
    const int lockFd = ::openat(folderFd, (name + ".lock").c_str(),
                                O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    bool locked = lockFd >= 0 && ::flock(lockFd, LOCK_EX | LOCK_NB) == 0;
    if (!locked && lockFd >= 0 && errno == EWOULDBLOCK) {
        locked = EndStoppedHolder(lockFd);
        errno = EWOULDBLOCK;
    }
    if (!locked) {
        why = errno == EWOULDBLOCK
                  ? "another recovery is running in this network namespace"
                  : "cannot lock the journal: " + std::string(std::strerror(errno));
        if (lockFd >= 0) ::close(lockFd);
        ::close(folderFd);
        return nullptr;
    }
    std::unique_ptr<Journal> journal(
        new Journal(folderFd, lockFd, name + ".journal", folder + "/" + name + ".journal"));
    journal->header_ = Json{{"journal", 2}, {"netns", cookie}, {"boot", boot}}.dump();
    if (!journal->Load(why)) return nullptr;
    return journal;
}

bool Journal::Load(std::string& why) {
    fd_ = ::openat(folderFd_, name_.c_str(), O_RDWR | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0) {
        if (errno == ENOENT) return true;
        why = path_ + ": " + std::strerror(errno);
        return false;
    }
    std::string text;
    char buffer[65536];
    ssize_t got;
    while ((got = ::read(fd_, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(got));
    std::map<std::uint64_t, JournalEntry> live;
    std::size_t at = 0;
    try {
        for (std::size_t newline; (newline = text.find('\n', at)) != std::string::npos;
             at = newline + 1, ++records_) {
            const std::string_view line(text.data() + at, newline - at);
            if (records_ == 0) {
                // Another namespace's, or another boot's: none of its objects are ours.
                if (line != header_) return Drop() || (why = path_ + ": cannot remove it", false);
                continue;
            }
            const Json record = Json::parse(line);
            if (record.contains("add"))
                for (const Json& entry : record.at("add")) {
                    JournalEntry parsed = EntryOf(entry);
                    live[parsed.seq] = std::move(parsed);
                }
            else
                for (const Json& seq : record.at("del")) live.erase(seq.get<std::uint64_t>());
            end_ = static_cast<off_t>(newline + 1);
        }
    } catch (const std::exception& failure) {
        why = path_ + " cannot be read: " + failure.what();
        return false;
    }
    for (auto& [seq, entry] : live) {
        nextSeq_ = seq + 1;
        entries_.push_back(std::move(entry));
    }
    // The torn tail of a write that a crash cut short goes, or the next record would join it.
    if (static_cast<std::size_t>(end_) != text.size() && ::ftruncate(fd_, end_) != 0) {
        why = path_ + ": " + std::strerror(errno);
        return false;
    }
    if (entries_.empty()) return Drop() || (why = path_ + ": cannot remove it", false);
    return true;
}

bool Journal::Fail(const std::string& what) {
    failure_ = path_ + ": " + what + ": " + std::strerror(errno);
    return false;
}

bool Journal::Drop() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    end_ = 0;
    records_ = 0;
    if (::unlinkat(folderFd_, name_.c_str(), 0) != 0 && errno != ENOENT)
        return Fail("cannot remove it");
    return ::fsync(folderFd_) == 0 || Fail("cannot sync its folder");
}

bool Journal::WriteRecord(const std::string& line) {
    if (fd_ < 0) {
        fd_ = ::openat(folderFd_, name_.c_str(),
                       O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ < 0) return Fail("cannot create it");
        if (!WriteAll(fd_, header_ + "\n") || ::fsync(fd_) != 0 || ::fsync(folderFd_) != 0) {
            Fail("cannot write it");
            Drop();
            return false;
        }
        end_ = static_cast<off_t>(header_.size() + 1);
        records_ = 1;
    }
    if (!WriteAll(fd_, line + "\n") || ::fdatasync(fd_) != 0) {
        Fail("cannot write a record");
        // Nothing half-written may stay in front of the next record.
        if (::ftruncate(fd_, end_) != 0) {
            ::close(fd_);
            fd_ = -1;
            Rewrite();
        }
        return false;
    }
    end_ += static_cast<off_t>(line.size() + 1);
    ++records_;
    // Mostly done-with records: the live entries alone, written afresh.
    if (records_ > 4 * entries_.size() + 64) Rewrite();
    return true;
}

// The live entries in a new file, synced and renamed into place: the file on disk is always the
// old or the new one.
bool Journal::Rewrite() {
    if (entries_.empty()) return Drop();
    Json added = Json::array();
    for (const JournalEntry& entry : entries_) added.push_back(EntryJson(entry));
    const std::string text = header_ + "\n" + Json{{"add", std::move(added)}}.dump() + "\n";
    const std::string next = name_ + ".new";
    const int fd = ::openat(folderFd_, next.c_str(),
                            O_RDWR | O_APPEND | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return Fail("cannot compact it");
    if (!WriteAll(fd, text) || ::fsync(fd) != 0 ||
        ::renameat(folderFd_, next.c_str(), folderFd_, name_.c_str()) != 0 ||
        ::fsync(folderFd_) != 0) {
        Fail("cannot compact it");
        ::close(fd);
        ::unlinkat(folderFd_, next.c_str(), 0);
        return false;
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
    end_ = static_cast<off_t>(text.size());
    records_ = 2;
    return true;
}

const JournalEntry* Journal::Find(std::uint64_t seq) const {
    const auto it = std::lower_bound(
        entries_.begin(), entries_.end(), seq,
        [](const JournalEntry& entry, std::uint64_t wanted) { return entry.seq < wanted; });
    return it != entries_.end() && it->seq == seq ? &*it : nullptr;
}

bool Journal::Append(std::vector<JournalEntry> entries, std::vector<std::uint64_t>* seqs) {
    if (entries.empty()) return true;
    Json added = Json::array();
    std::uint64_t seq = nextSeq_;
    for (JournalEntry& entry : entries) {
        entry.seq = seq++;
        added.push_back(EntryJson(entry));
    }
    if (!WriteRecord(Json{{"add", std::move(added)}}.dump())) return false;
    nextSeq_ = seq;
    for (JournalEntry& entry : entries) {
        if (seqs) seqs->push_back(entry.seq);
        entries_.push_back(std::move(entry));
    }
    return true;
}

bool Journal::Remove(const std::vector<std::uint64_t>& seqs) {
    std::vector<std::uint64_t> gone;
    for (std::uint64_t seq : seqs)
        if (Find(seq)) gone.push_back(seq);
    if (gone.empty()) return true;
    std::sort(gone.begin(), gone.end());
    std::erase_if(entries_, [&gone](const JournalEntry& entry) {
        return std::binary_search(gone.begin(), gone.end(), entry.seq);
    });
    if (entries_.empty()) return Drop();
    return WriteRecord(Json{{"del", gone}}.dump());
}

}  // namespace kestrel
