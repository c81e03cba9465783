// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "helper/journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

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
    ::close(lockFd_);
    ::close(folderFd_);
}

std::unique_ptr<Journal> Journal::Open(const std::string& folder, std::string& why) {
    struct stat netns {};
    if (::stat("/proc/self/ns/net", &netns) != 0) {
        why = std::string("cannot tell the network namespace: ") + std::strerror(errno);
        return nullptr;
    }
    const std::string identity = std::to_string(netns.st_dev) + ":" + std::to_string(netns.st_ino);
    const std::string name = "net-" + std::to_string(netns.st_ino);

    const int folderFd = OpenSafeFolder(folder, why);
    if (folderFd < 0) return nullptr;
    const int lockFd = ::openat(folderFd, (name + ".lock").c_str(),
                                O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lockFd < 0 || ::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        why = errno == EWOULDBLOCK
                  ? "another recovery is running in this network namespace"
                  : "cannot lock the journal: " + std::string(std::strerror(errno));
        if (lockFd >= 0) ::close(lockFd);
        ::close(folderFd);
        return nullptr;
    }
    std::unique_ptr<Journal> journal(
        new Journal(folderFd, lockFd, name + ".journal", folder + "/" + name + ".journal"));
    journal->netns_ = identity;
    if (!journal->Load(why)) return nullptr;
    return journal;
}

bool Journal::Load(std::string& why) {
    const int fd = ::openat(folderFd_, name_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return true;
        why = path_ + ": " + std::strerror(errno);
        return false;
    }
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(got));
    ::close(fd);
    try {
        const Json journal = Json::parse(text);
        // A namespace's inode number can be reused once it is gone; that one's journal is moot.
        if (journal.at("netns").get<std::string>() != netns_) return true;
        for (const Json& entry : journal.at("entries")) entries_.push_back(EntryOf(entry));
    } catch (const std::exception& failure) {
        why = path_ + " cannot be read: " + failure.what();
        return false;
    }
    for (const JournalEntry& entry : entries_) nextSeq_ = std::max(nextSeq_, entry.seq + 1);
    return true;
}

bool Journal::Write() {
    if (entries_.empty()) {
        if (::unlinkat(folderFd_, name_.c_str(), 0) != 0 && errno != ENOENT) return false;
        return ::fsync(folderFd_) == 0;
    }
    Json journal = {{"netns", netns_}, {"entries", Json::array()}};
    for (const JournalEntry& entry : entries_) journal["entries"].push_back(EntryJson(entry));
    const std::string next = name_ + ".new";
    const int fd = ::openat(folderFd_, next.c_str(),
                            O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool written = WriteAll(fd, journal.dump() + "\n") && ::fsync(fd) == 0;
    ::close(fd);
    return written && ::renameat(folderFd_, next.c_str(), folderFd_, name_.c_str()) == 0 &&
           ::fsync(folderFd_) == 0;
}

const JournalEntry* Journal::Find(std::uint64_t seq) const {
    for (const JournalEntry& entry : entries_)
        if (entry.seq == seq) return &entry;
    return nullptr;
}

bool Journal::Append(std::vector<JournalEntry> entries, std::vector<std::uint64_t>* seqs) {
    const std::size_t before = entries_.size();
    const std::uint64_t firstSeq = nextSeq_;
    for (JournalEntry& entry : entries) {
        entry.seq = nextSeq_++;
        if (seqs) seqs->push_back(entry.seq);
        entries_.push_back(std::move(entry));
    }
    if (Write()) return true;
    entries_.resize(before);
    nextSeq_ = firstSeq;
    if (seqs) seqs->clear();
    return false;
}

bool Journal::Remove(const std::vector<std::uint64_t>& seqs) {
    const std::vector<JournalEntry> old = entries_;
    std::erase_if(entries_, [&seqs](const JournalEntry& entry) {
        return std::find(seqs.begin(), seqs.end(), entry.seq) != seqs.end();
    });
    if (entries_.size() == old.size() || Write()) return true;
    entries_ = old;
    return false;
}

}  // namespace kestrel
