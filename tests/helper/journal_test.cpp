// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The journal's file in a temporary folder, as an ordinary user: what a helper that died leaves
// is what the next one finds, and a write that cannot be made is refused, not half made.
#include "helper/journal.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace kestrel {
namespace {

class JournalTest : public testing::Test {
protected:
    void SetUp() override {
        const std::string name = "kestrel-journal-" + std::to_string(std::random_device{}());
        folder_ = (std::filesystem::temp_directory_path() / name).string();
        ASSERT_TRUE(std::filesystem::create_directory(folder_));
        // The journal takes only a folder nobody else may write to.
        std::filesystem::permissions(folder_, std::filesystem::perms::owner_all);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::unique_ptr<Journal> Open() {
        std::string why;
        auto journal = Journal::Open(folder_, why);
        EXPECT_TRUE(journal) << why;
        return journal;
    }
    static JournalEntry Route(std::uint32_t metric) {
        JournalEntry entry;
        entry.kind = JournalEntry::Kind::RemovedRoute;
        entry.route.priority = metric;
        return entry;
    }
    static std::vector<std::uint64_t> Seqs(const Journal& journal) {
        std::vector<std::uint64_t> seqs;
        for (const JournalEntry& entry : journal.Entries()) seqs.push_back(entry.seq);
        return seqs;
    }

    std::string folder_;
};

// A helper killed in the middle of a write leaves a record cut anywhere: the records before it
// are replayed, and the next helper's records follow them intact.
TEST_F(JournalTest, AReplayIgnoresARecordThatACrashCutShort) {
    std::string path;
    std::ostringstream file;
    {
        auto journal = Open();
        ASSERT_TRUE(journal->Append({Route(1), Route(2)}));  // seqs 1, 2
        ASSERT_TRUE(journal->Append({Route(3)}));
        ASSERT_TRUE(journal->Remove({1}));
        path = journal->Path();
        file << std::ifstream(path, std::ios::binary).rdbuf();  // as written: closing compacts it
    }
    const std::string written = file.str();
    const std::size_t del = written.rfind("{\"del\""), lastAdd = written.rfind("{\"add\"");
    // What is replayed, then what the next helper's record adds to it.
    const struct {
        std::size_t keep;
        std::vector<std::uint64_t> replayed, appended;
    } cuts[] = {
        {written.size(), {2, 3}, {2, 3, 4}},            // whole
        {written.size() - 1, {1, 2, 3}, {1, 2, 3, 4}},  // the removal's newline missing
        {del + 3, {1, 2, 3}, {1, 2, 3, 4}},
        {lastAdd + 5, {1, 2}, {1, 2, 3}},  // seq 3's record torn: its change was never made
    };
    for (const auto& cut : cuts) {
        SCOPED_TRACE(cut.keep);
        std::ofstream(path, std::ios::trunc | std::ios::binary) << written.substr(0, cut.keep);
        auto journal = Open();
        ASSERT_TRUE(journal);
        EXPECT_EQ(Seqs(*journal), cut.replayed);
        ASSERT_TRUE(journal->Append({Route(9)}));
        journal.reset();
        journal = Open();
        ASSERT_TRUE(journal);
        EXPECT_EQ(Seqs(*journal), cut.appended);
    }
}

#ifndef _WIN32  // a file size limit is Linux's way to fill the disk for one process
// A full /run: nothing is journaled that was not written, and entries done with leave the
// journal all the same, so that a restore moves on.
TEST_F(JournalTest, AFileThatCannotGrowRefusesChangesButLetsARestoreFinish) {
    auto journal = Open();
    ASSERT_TRUE(journal->Append({Route(1), Route(2)}));
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const rlimit full{std::filesystem::file_size(journal->Path()), saved.rlim_max};
    const sighandler_t xfsz = ::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);

    EXPECT_FALSE(journal->Append({Route(3)}));
    EXPECT_NE(journal->Failure().find("File too large"), std::string::npos) << journal->Failure();
    EXPECT_FALSE(journal->Remove({1}));
    EXPECT_EQ(Seqs(*journal), std::vector<std::uint64_t>{2});
    EXPECT_EQ(std::filesystem::file_size(journal->Path()), full.rlim_cur)
        << "a half record was left";
    EXPECT_TRUE(journal->Remove({2}));  // empty: the file goes, which needs no room

    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    ::signal(SIGXFSZ, xfsz);
    EXPECT_FALSE(std::filesystem::exists(journal->Path()));
    EXPECT_TRUE(journal->Append({Route(4)}));
}
#endif

}  // namespace
}  // namespace kestrel
