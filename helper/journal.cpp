// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "helper/journal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <string_view>

#include "helper/host.h"
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

}  // namespace

std::uint64_t Journal::NowMs() {
    return BootClockMs();
}

Journal::Journal(std::unique_ptr<JournalFolder> folder, std::string name, std::string path)
    : folder_(std::move(folder)), name_(std::move(name)), path_(std::move(path)) {}

Journal::~Journal() {
    // Compacted at the end: what a replay needs and nothing more.
    if (fd_ >= 0 && records_ > 2) Rewrite();
    CloseFile(fd_);
}

std::unique_ptr<Journal> Journal::Open(const std::string& folder, std::string& why) {
    std::string cookie, boot;
    if (!NetworkIdentity(cookie, boot, why)) return nullptr;
    const std::string name = "net-" + cookie;

    std::unique_ptr<JournalFolder> files = JournalFolder::Open(folder, why);
    if (!files || !files->Lock(name + ".lock", why)) return nullptr;
    std::unique_ptr<Journal> journal(
        new Journal(std::move(files), name + ".journal", folder + "/" + name + ".journal"));
    journal->header_ = Json{{"journal", 2}, {"netns", cookie}, {"boot", boot}}.dump();
    if (!journal->Load(why)) return nullptr;
    return journal;
}

bool Journal::Load(std::string& why) {
    fd_ = folder_->OpenFile(name_, JournalFolder::Mode::Existing);
    if (fd_ < 0) {
        if (errno == ENOENT) return true;
        why = path_ + ": " + std::strerror(errno);
        return false;
    }
    std::string text;
    ReadRest(fd_, text);
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
            end_ = static_cast<std::int64_t>(newline + 1);
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
    if (static_cast<std::size_t>(end_) != text.size() && !TruncateFile(fd_, end_)) {
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
    CloseFile(fd_);
    fd_ = -1;
    end_ = 0;
    records_ = 0;
    if (!folder_->Remove(name_)) return Fail("cannot remove it");
    return folder_->Sync() || Fail("cannot sync its folder");
}

bool Journal::WriteRecord(const std::string& line) {
    if (fd_ < 0) {
        fd_ = folder_->OpenFile(name_, JournalFolder::Mode::New);
        if (fd_ < 0) return Fail("cannot create it");
        if (!WriteAll(fd_, header_ + "\n") || !SyncFile(fd_, false) || !folder_->Sync()) {
            Fail("cannot write it");
            Drop();
            return false;
        }
        end_ = static_cast<std::int64_t>(header_.size() + 1);
        records_ = 1;
    }
    if (!WriteAll(fd_, line + "\n") || !SyncFile(fd_, true)) {
        Fail("cannot write a record");
        // Nothing half-written may stay in front of the next record.
        if (!TruncateFile(fd_, end_)) {
            CloseFile(fd_);
            fd_ = -1;
            Rewrite();
        }
        return false;
    }
    end_ += static_cast<std::int64_t>(line.size() + 1);
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
    const int fd = folder_->OpenFile(next, JournalFolder::Mode::Replace);
    if (fd < 0) return Fail("cannot compact it");
    // Windows replaces no file that is open: the old one closes first, and this one goes on.
    CloseFile(fd_);
    fd_ = -1;
    if (!WriteAll(fd, text) || !SyncFile(fd, false) || !folder_->Replace(next, name_) ||
        !folder_->Sync()) {
        Fail("cannot compact it");
        CloseFile(fd);
        folder_->Remove(next);
        // The file in place, old or new, takes the next records.
        fd_ = folder_->OpenFile(name_, JournalFolder::Mode::Existing);
        return false;
    }
    fd_ = fd;
    end_ = static_cast<std::int64_t>(text.size());
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
