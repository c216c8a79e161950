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

using Stored = TableSet::Stored;

std::map<uid_t, Stored> TwoUsers() {
    return {{0, Stored{kEntries, false, Origin::kEntries}},
            {65534, Stored{{kEntries[0]}, true, Origin::kBoot}}};
}

TEST(EntryTableTest, StateTextRoundTripsTheTablesOfSeveralUids) {
    std::map<uid_t, Stored> back;
    std::string error;
    ASSERT_TRUE(TableSet::Parse(TableSet::Serialize(TwoUsers()), &back, &error)) << error;
    EXPECT_EQ(back, TwoUsers());
}

TEST(EntryTableTest, EveryOriginRoundTripsAndAnOlderFileWithoutOneIsUnknown) {
    for (Origin origin : {Origin::kUnknown, Origin::kBoot, Origin::kSession, Origin::kStart,
                          Origin::kTest, Origin::kEntries}) {
        std::map<uid_t, Stored> back;
        std::string error;
        const std::map<uid_t, Stored> one = {{1000, Stored{{kEntries[0]}, true, origin}}};
        ASSERT_TRUE(TableSet::Parse(TableSet::Serialize(one), &back, &error)) << error;
        EXPECT_EQ(back, one) << OriginName(origin);
        EXPECT_EQ(OriginNamed(OriginName(origin)), origin);
        EXPECT_EQ(OriginOf(static_cast<std::uint32_t>(origin)), origin);
    }
    EXPECT_EQ(OriginOf(6), std::nullopt);
    EXPECT_EQ(OriginNamed("Boot"), std::nullopt) << "names compare exactly";

    const std::string before = "kvvxd-state 2\ntables 1\ntable 7 active 1 entries 0\nend\n";
    std::map<uid_t, Stored> back;
    std::string error;
    ASSERT_TRUE(TableSet::Parse(before, &back, &error)) << error;
    EXPECT_EQ(back[7].origin, Origin::kUnknown);
    EXPECT_TRUE(back[7].active);
}

TEST(EntryTableTest, AStateFileOfTheSingleTableFormIsReadAsRootsTable) {
    const std::string v1 = "kvvxd-state 1\nactive 1\nentries 1\n16 5 0 1 2\n/a/b**kv\nend\n";
    std::map<uid_t, Stored> back;
    std::string error;
    ASSERT_TRUE(TableSet::Parse(v1, &back, &error)) << error;
    ASSERT_EQ(back.size(), 1u);
    EXPECT_TRUE(back[0].active);
    EXPECT_EQ(back[0].entries, (std::vector<Entry>{{16, "/a/b*", "", "*", "kv"}}));
}

TEST(EntryTableTest, DamagedStateTextsAreRefused) {
    static const char kWithNul[] =
        "kvvxd-state 2\ntables 1\ntable 5 active 0 entries 1\n0 1 0 0 0\n\0\nend\n";
    const std::string good = TableSet::Serialize(TwoUsers());
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"other file", "hello\n"},
        {"unknown origin", "kvvxd-state 2\ntables 1\ntable 1 active 0 entries 0 origin x\nend\n"},
        {"origin without a name",
         "kvvxd-state 2\ntables 1\ntable 1 active 0 entries 0 origin\nend\n"},
        {"more after the origin",
         "kvvxd-state 2\ntables 1\ntable 1 active 0 entries 0 origin boot x\nend\n"},
        {"cut in the middle", good.substr(0, good.size() / 2)},
        {"no end line", good.substr(0, good.size() - 4)},
        {"trailing bytes", good + "x"},
        {"table count too high", "kvvxd-state 2\ntables 2\ntable 1 active 0 entries 0\nend\n"},
        {"entry count too high",
         "kvvxd-state 2\ntables 1\ntable 1 active 0 entries 2\n0 1 0 0 0\na\nend\n"},
        {"size beyond the text",
         "kvvxd-state 2\ntables 1\ntable 1 active 0 entries 1\n0 99 0 0 0\na\nend\n"},
        {"huge size",
         "kvvxd-state 2\ntables 1\ntable 1 active 0 entries 1\n0 "
         "18446744073709551615 1 0 0\na\nend\n"},
        {"bad active value", "kvvxd-state 2\ntables 1\ntable 1 active 2 entries 0\nend\n"},
        {"uid out of range", "kvvxd-state 2\ntables 1\ntable 4294967295 active 0 entries 0\nend\n"},
        {"one uid twice",
         "kvvxd-state 2\ntables 2\ntable 1 active 0 entries 0\ntable 1 active 1 entries 0\nend\n"},
        {"mask too wide",
         "kvvxd-state 2\ntables 1\ntable 1 active 0 entries 1\n4294967296 1 0 0 "
         "0\na\nend\n"},
        {"text with NUL", std::string(kWithNul, sizeof kWithNul - 1)},
        {"old form cut short", "kvvxd-state 1\nactive 0\nentries 1\n"},
    };
    for (const auto& c : cases) {
        std::map<uid_t, Stored> back;
        std::string error;
        EXPECT_FALSE(TableSet::Parse(c.text, &back, &error)) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
        EXPECT_TRUE(back.empty()) << c.name;
    }
}

TEST(EntryTableTest, ChangesOfSmallTablesAreWrittenAtOnceAndRestoredPerUid) {
    TempDir dir;
    const std::string path = dir.File("state");
    std::string error;
    {
        TableSet tables(path);
        ASSERT_EQ(tables.Load(&error), TableSet::LoadOutcome::kLoaded)
            << "a missing file is no tables";
        EXPECT_TRUE(tables.All().empty());
        for (const Entry& e : kEntries)
            ASSERT_TRUE(tables.Of(1000).Add(e, &error));
        tables.Of(1000).SetActive(true);
        ASSERT_TRUE(tables.Of(1001).Add(kEntries[1], &error));
        tables.Of(1002);  // an empty table is not written
        EXPECT_EQ(tables.MillisecondsUntilSave(std::chrono::steady_clock::now()), 0);
        ASSERT_TRUE(tables.SaveIfDue(std::chrono::steady_clock::now(), &error)) << error;
    }
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the tables of every user are the service's alone";

    TableSet restored(path);
    ASSERT_EQ(restored.Load(&error), TableSet::LoadOutcome::kLoaded) << error;
    ASSERT_EQ(restored.All().size(), 2u);
    EXPECT_EQ(restored.Of(1000).Entries(), kEntries);
    EXPECT_TRUE(restored.Of(1000).Active());
    EXPECT_FALSE(restored.Of(1001).Active());
    EXPECT_EQ(restored.Of(1000).Index()->Decide(0x10, "/home/a/Work/x", "vim"),
              (Decision{true, 0}));
}

TEST(EntryTableTest, ADamagedFileIsKeptAsideAndTheServiceStartsEmpty) {
    TempDir dir;
    const std::string path = dir.File("state");
    WriteFile(path, "kvvxd-state 2\ntables 5\n");
    TableSet tables(path);
    std::string error;
    EXPECT_EQ(tables.Load(&error), TableSet::LoadOutcome::kDamaged);
    EXPECT_NE(error.find("damaged"), std::string::npos) << error;
    EXPECT_TRUE(tables.All().empty());
    EXPECT_EQ(ReadFile(path + ".damaged"), "kvvxd-state 2\ntables 5\n");
}

TEST(EntryTableTest, AnUnreadableFileIsLeftAlone) {
    TempDir dir;
    const std::string path = dir.File("state");
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);  // reading a folder fails
    TableSet tables(path);
    std::string error;
    EXPECT_EQ(tables.Load(&error), TableSet::LoadOutcome::kUnreadable);
    EXPECT_NE(error.find("cannot read"), std::string::npos) << error;
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST(EntryTableTest, ALargeTableIsWrittenLaterButClearIsWrittenAtOnce) {
    TempDir dir;
    const std::string path = dir.File("state");
    TableSet tables(path);
    std::string error;
    ASSERT_EQ(tables.Load(&error), TableSet::LoadOutcome::kLoaded);
    EntryTable& table = tables.Of(7);
    const std::string longMask = "/home/" + std::string(2000, 'x') + "/*";
    while (table.Bytes() < TableSet::kImmediateSaveBytes)
        ASSERT_TRUE(table.Add({0x10, longMask, "", "*", ""}, &error));
    ASSERT_TRUE(tables.Flush(&error)) << error;
    const auto now = std::chrono::steady_clock::now();
    ASSERT_TRUE(table.Add({0x10, "/last", "", "*", ""}, &error));
    EXPECT_GT(tables.MillisecondsUntilSave(now), 0);
    ASSERT_TRUE(tables.SaveIfDue(now, &error));
    EXPECT_GT(tables.MillisecondsUntilSave(now), 0) << "nothing written yet";
    ASSERT_TRUE(tables.SaveIfDue(now + 2 * TableSet::kDeferredSaveInterval, &error));
    EXPECT_EQ(tables.MillisecondsUntilSave(now), -1);
    {
        TableSet restored(path);
        ASSERT_EQ(restored.Load(&error), TableSet::LoadOutcome::kLoaded);
        EXPECT_EQ(restored.Of(7).Count(), table.Count());
        EXPECT_EQ(restored.Of(7).Entries().back().FileMask, "/last");
    }
    table.Clear();
    EXPECT_EQ(tables.MillisecondsUntilSave(now), 0);
    ASSERT_TRUE(tables.SaveIfDue(now, &error));
    TableSet cleared(path);
    ASSERT_EQ(cleared.Load(&error), TableSet::LoadOutcome::kLoaded);
    EXPECT_EQ(cleared.Find(7), nullptr);
}

TEST(EntryTableTest, AFailedWriteIsReportedAndKeepsTheChangePending) {
    TempDir dir;
    TableSet tables(dir.File("missing-folder/state"));
    std::string error;
    ASSERT_EQ(tables.Load(&error), TableSet::LoadOutcome::kLoaded);
    tables.Of(0).SetActive(true);
    EXPECT_FALSE(tables.SaveIfDue(std::chrono::steady_clock::now(), &error));
    EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
    EXPECT_GE(tables.MillisecondsUntilSave(std::chrono::steady_clock::now()), 0);
}

}  // namespace
}  // namespace kv::driver
