#include <gtest/gtest.h>
#include <sys/stat.h>

#include "driver/EntryTable.h"
#include "tests/support/TempDir.h"

namespace kv::driver {
namespace {

using kv::test::ReadFile;
using kv::test::TempDir;
using kv::test::WriteFile;

const std::vector<Entry> kEntries = {
    {0x1E7830, "/home/a/Work/*", "ExcludeFiles", "*", "kv"},
    {0x400, "/home/a b/line\nbreak*", "", "gcc;make", "ExcludeProc;kv"},
    {0, "", "", "", ""},
};

TEST(EntryTableTest, StateTextRoundTripsAnyTexts) {
    std::vector<Entry> back;
    bool active = false;
    std::string error;
    ASSERT_TRUE(EntryTable::Parse(EntryTable::Serialize(kEntries, true), &back, &active, &error))
        << error;
    EXPECT_EQ(back, kEntries);
    EXPECT_TRUE(active);
}

TEST(EntryTableTest, DamagedStateTextsAreRefused) {
    static const char kWithNul[] = "kvvxd-state 1\nactive 0\nentries 1\n0 1 0 0 0\n\0\nend\n";
    const std::string good = EntryTable::Serialize(kEntries, false);
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"other file", "hello\n"},
        {"cut in the middle", good.substr(0, good.size() / 2)},
        {"no end line", good.substr(0, good.size() - 4)},
        {"trailing bytes", good + "x"},
        {"count too high", "kvvxd-state 1\nactive 0\nentries 2\n0 1 0 0 0\na\nend\n"},
        {"size beyond the text", "kvvxd-state 1\nactive 0\nentries 1\n0 99 0 0 0\na\nend\n"},
        {"bad active line", "kvvxd-state 1\nactive 2\nentries 0\nend\n"},
        {"mask too wide", "kvvxd-state 1\nactive 0\nentries 1\n4294967296 1 0 0 0\na\nend\n"},
        {"text with NUL", std::string(kWithNul, sizeof kWithNul - 1)},
    };
    for (const auto& c : cases) {
        std::vector<Entry> back;
        bool active = false;
        std::string error;
        EXPECT_FALSE(EntryTable::Parse(c.text, &back, &active, &error)) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
        EXPECT_TRUE(back.empty()) << c.name;
    }
}

TEST(EntryTableTest, ChangesOfASmallTableAreWrittenAtOnceAndRestored) {
    TempDir dir;
    const std::string path = dir.File("state");
    std::string error;
    {
        EntryTable table(path);
        ASSERT_EQ(table.Load(&error), EntryTable::LoadOutcome::kLoaded)
            << "a missing file is an empty table";
        EXPECT_EQ(table.Count(), 0u);
        for (const Entry& e : kEntries)
            ASSERT_TRUE(table.Add(e, &error));
        table.SetActive(true);
        EXPECT_EQ(table.MillisecondsUntilSave(std::chrono::steady_clock::now()), 0);
        ASSERT_TRUE(table.SaveIfDue(std::chrono::steady_clock::now(), &error)) << error;
    }
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    EntryTable restored(path);
    ASSERT_EQ(restored.Load(&error), EntryTable::LoadOutcome::kLoaded) << error;
    EXPECT_EQ(restored.Entries(), kEntries);
    EXPECT_TRUE(restored.Active());
    EXPECT_EQ(restored.Index()->Decide(0x10, "/home/a/Work/x", "vim"), (Decision{true, 0}));
}

TEST(EntryTableTest, ADamagedFileIsKeptAsideAndTheTableStartsEmpty) {
    TempDir dir;
    const std::string path = dir.File("state");
    WriteFile(path, "kvvxd-state 1\nactive 1\nentries 5\n");
    EntryTable table(path);
    std::string error;
    EXPECT_EQ(table.Load(&error), EntryTable::LoadOutcome::kDamaged);
    EXPECT_NE(error.find("damaged"), std::string::npos) << error;
    EXPECT_EQ(table.Count(), 0u);
    EXPECT_FALSE(table.Active());
    EXPECT_EQ(ReadFile(path + ".damaged"), "kvvxd-state 1\nactive 1\nentries 5\n");
}

TEST(EntryTableTest, AnUnreadableFileIsLeftAlone) {
    TempDir dir;
    const std::string path = dir.File("state");
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);  // reading a folder fails
    EntryTable table(path);
    std::string error;
    EXPECT_EQ(table.Load(&error), EntryTable::LoadOutcome::kUnreadable);
    EXPECT_NE(error.find("cannot read"), std::string::npos) << error;
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST(EntryTableTest, ALargeTableIsWrittenLaterButClearIsWrittenAtOnce) {
    TempDir dir;
    const std::string path = dir.File("state");
    EntryTable table(path);
    std::string error;
    ASSERT_EQ(table.Load(&error), EntryTable::LoadOutcome::kLoaded);
    const std::string longMask = "/home/" + std::string(2000, 'x') + "/*";
    while (EntryTable::Serialize(table.Entries(), false).size() < EntryTable::kImmediateSaveBytes)
        ASSERT_TRUE(table.Add({0x10, longMask, "", "*", ""}, &error));
    ASSERT_TRUE(table.Flush(&error)) << error;
    const auto now = std::chrono::steady_clock::now();
    ASSERT_TRUE(table.Add({0x10, "/last", "", "*", ""}, &error));
    EXPECT_GT(table.MillisecondsUntilSave(now), 0);
    ASSERT_TRUE(table.SaveIfDue(now, &error));
    EXPECT_GT(table.MillisecondsUntilSave(now), 0) << "nothing written yet";
    ASSERT_TRUE(table.SaveIfDue(now + 2 * EntryTable::kDeferredSaveInterval, &error));
    EXPECT_EQ(table.MillisecondsUntilSave(now), -1);
    {
        EntryTable restored(path);
        ASSERT_EQ(restored.Load(&error), EntryTable::LoadOutcome::kLoaded);
        EXPECT_EQ(restored.Count(), table.Count());
        EXPECT_EQ(restored.Entries().back().FileMask, "/last");
    }
    table.Clear();
    EXPECT_EQ(table.MillisecondsUntilSave(now), 0);
    ASSERT_TRUE(table.SaveIfDue(now, &error));
    EntryTable cleared(path);
    ASSERT_EQ(cleared.Load(&error), EntryTable::LoadOutcome::kLoaded);
    EXPECT_EQ(cleared.Count(), 0u);
}

TEST(EntryTableTest, AFailedWriteIsReportedAndKeepsTheChangePending) {
    TempDir dir;
    EntryTable table(dir.File("missing-folder/state"));
    std::string error;
    ASSERT_EQ(table.Load(&error), EntryTable::LoadOutcome::kLoaded);
    table.SetActive(true);
    EXPECT_FALSE(table.SaveIfDue(std::chrono::steady_clock::now(), &error));
    EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
    EXPECT_GE(table.MillisecondsUntilSave(std::chrono::steady_clock::now()), 0);
}

}  // namespace
}  // namespace kv::driver
