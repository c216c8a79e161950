#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "driver/Matcher.h"

namespace kv::driver {
namespace {

constexpr std::uint32_t kReadOnly = 0x1E7830;
constexpr std::uint32_t kOpen = 0x4, kRename = 0x10, kRead = 0x40, kWrite = 0x80, kList = 0x200;

struct Case {
    const char* what;
    Entry entry;
    std::uint32_t operation;
    const char* path;
    const char* process;
    bool refused;
};

Entry E(std::uint32_t mask, const char* fileMask, const char* exclude = "ExcludeFiles",
        const char* processes = "*", const char* excludeProc = "ExProc") {
    return Entry{mask, fileMask, exclude, processes, excludeProc};
}

void ExpectCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        const MatchIndex index({c.entry});
        const Decision indexed = index.Decide(c.operation, c.path, c.process);
        EXPECT_EQ(indexed.refused, c.refused) << c.what;
        EXPECT_EQ(indexed, index.DecideLinear(c.operation, c.path, c.process)) << c.what;
        if (c.refused) {
            EXPECT_EQ(indexed.entry, 0u) << c.what;
        }
    }
}

TEST(MatcherTest, StarMatchesAnyRunAcrossSeparators) {
    ExpectCases({
        {"folder pattern, file deep inside", E(kReadOnly, "/home/a/Work/*"), kRename,
         "/home/a/Work/x/y/z.txt", "vim", true},
        {"folder pattern, empty run", E(kReadOnly, "/home/a/Work/*"), kRename, "/home/a/Work/",
         "vim", true},
        {"folder pattern, a sibling", E(kReadOnly, "/home/a/Work/*"), kRename, "/home/a/Workshop/x",
         "vim", false},
        {"a pattern without separator covers a sibling prefix", E(0x400, "/home/a/Work*"), kRename,
         "/home/a/Workshop", "vim", true},
        {"single file, same path", E(kReadOnly, "/home/a/f.txt"), kRename, "/home/a/f.txt", "vim",
         true},
        {"single file, longer path", E(kReadOnly, "/home/a/f.txt"), kRename, "/home/a/f.txt.bak",
         "vim", false},
        {"stars inside", E(kReadOnly, "/home/*/secret/*.txt"), kRename, "/home/b/c/secret/d/e.txt",
         "vim", true},
        {"stars inside, wrong tail", E(kReadOnly, "/home/*/secret/*.txt"), kRename,
         "/home/b/secret/e.txt.bak", "vim", false},
        {"overlapping pieces", E(kReadOnly, "*ab*ab"), kRename, "/xabab", "vim", true},
        {"pieces must not overlap", E(kReadOnly, "*aba*aba"), kRename, "/aba", "vim", false},
        {"leading star with tail", E(kReadOnly, "*kv.dat"), kRename, "/opt/kestrava/kv.dat", "vim",
         true},
        {"leading star, tail shorter than path end", E(kReadOnly, "*kv.dat"), kRename,
         "/opt/kestrava/kv.dat2", "vim", false},
        {"lone star", E(kReadOnly, "*"), kRename, "/anything/at/all", "vim", true},
        {"question mark is literal", E(kReadOnly, "/a/?"), kRename, "/a/b", "vim", false},
        {"paths are case-sensitive", E(kReadOnly, "/home/a/Work/*"), kRename, "/home/a/work/x",
         "vim", false},
        {"relative pattern", E(kReadOnly, "notes*"), kRename, "notes.txt", "vim", true},
    });
}

TEST(MatcherTest, OperationBitsAndTheFullBit) {
    ExpectCases({
        {"ReadOnly refuses rename", E(kReadOnly, "/d/*"), kRename, "/d/f", "vim", true},
        {"ReadOnly allows read", E(kReadOnly, "/d/*"), kRead, "/d/f", "vim", false},
        {"ReadOnly allows write", E(kReadOnly, "/d/*"), kWrite, "/d/f", "vim", false},
        {"Full refuses read", E(0x400, "/d/*"), kRead, "/d/f", "vim", true},
        {"Full refuses open", E(0x400, "/d/*"), kOpen, "/d/f", "vim", true},
        {"Full refuses list", E(0x400, "/d/*"), kList, "/d/f", "vim", true},
        {"custom mask, its bit", E(kList | kWrite, "/d/*"), kList, "/d/f", "vim", true},
        {"custom mask, another bit", E(kList | kWrite, "/d/*"), kRead, "/d/f", "vim", false},
        {"empty mask", E(0, "/d/*"), kRead, "/d/f", "vim", false},
    });
}

TEST(MatcherTest, AFolderPatternCoversTheFolderItself) {
    constexpr std::uint32_t kAttrSet = 0x100000, kTimeSetM = 0x80000;
    ExpectCases({
        {"ReadOnly folder: attributes", E(kReadOnly, "/srv/ro/*"), kAttrSet, "/srv/ro", "chmod",
         true},
        {"ReadOnly folder: times", E(kReadOnly, "/srv/ro/*"), kTimeSetM, "/srv/ro", "touch", true},
        {"ReadOnly folder: reading the folder stays allowed", E(kReadOnly, "/srv/ro/*"), kList,
         "/srv/ro", "ls", false},
        {"Full folder cannot be listed", E(0x400, "/srv/full/*"), kList, "/srv/full", "ls", true},
        {"not its parent", E(0x400, "/srv/full/*"), kList, "/srv", "ls", false},
        {"not a folder whose name begins the same", E(0x400, "/srv/full/*"), kList, "/srv/fuller",
         "ls", false},
        {"nor one inside such a folder", E(0x400, "/srv/full/*"), kRead, "/srv/fuller/f", "cat",
         false},
        {"nor a shorter name", E(0x400, "/srv/full/*"), kList, "/srv/ful", "ls", false},
        {"a folder named with a star", E(kReadOnly, "/home/*/secret/*"), kRename, "/home/b/secret",
         "mv", true},
        {"a folder named with a star, another name", E(kReadOnly, "/home/*/secret/*"), kRename,
         "/home/b/secrets", "mv", false},
        {"the root folder", E(0x400, "/*"), kList, "/", "ls", true},
        {"the root folder's pattern does not cover the empty path", E(0x400, "/*"), kList, "", "ls",
         false},
        {"a pattern of some entries does not cover the folder", E(kReadOnly, "/d/*.c"), kRename,
         "/d", "mv", false},
        {"a file pattern covers no folder", E(kReadOnly, "/d/f"), kRename, "/d", "mv", false},
        {"the folder obeys the other conditions: processes", E(kReadOnly, "/d/*", "", "*", "kv"),
         kRename, "/d", "kv", false},
        {"the folder obeys the other conditions: path exclusions", E(kReadOnly, "/d/*", "/d"),
         kRename, "/d", "mv", false},
        {"an exclusion ending in /* does not exclude its folder", E(kReadOnly, "/d/*", "/d/x/*"),
         kRename, "/d/x", "mv", true},
        {"an exclusion ending in /* excludes inside its folder", E(kReadOnly, "/d/*", "/d/x/*"),
         kRename, "/d/x/y", "mv", false},
        {"subfolder exclusion leaves direct entries covered", E(kReadOnly, "/d/*", "/d/*/*"),
         kRename, "/d/sub", "mv", true},
    });
}

TEST(MatcherTest, ExclusionsWithoutALeadingSlashAreRelativeToTheEntrysFolder) {
    ExpectCases({
        {"a file's name in the folder", E(kReadOnly, "/r/*", "own.txt"), kRename, "/r/own.txt",
         "mv", false},
        {"not the same name in a subfolder (the window marks it protected)",
         E(kReadOnly, "/r/*", "own.txt"), kRename, "/r/sub/own.txt", "mv", true},
        {"a longer name", E(kReadOnly, "/r/*", "own.txt"), kRename, "/r/own.txt.bak", "mv", true},
        {"a name that only ends the same", E(kReadOnly, "/r/*", "own.txt"), kRename, "/r/town.txt",
         "mv", true},
        {"what lies below an excluded folder", E(kReadOnly, "/r/*", "own"), kRename,
         "/r/own/inner/f", "mv", false},
        {"a folder part, relative as IncludeFiles is", E(kReadOnly, "/r/*", "Build/*"), kRename,
         "/r/Build/out.o", "mv", false},
        {"a folder part names no deeper namesake", E(kReadOnly, "/r/*", "Build/*"), kRename,
         "/r/src/Build/out.o", "mv", true},
        {"a name pattern reaches as far as its star", E(kReadOnly, "/r/*", "*.log"), kRename,
         "/r/a/b.log", "mv", false},
        {"a name pattern, another name", E(kReadOnly, "/r/*", "*.log"), kRename, "/r/a/b.txt", "mv",
         true},
        {"names are case-sensitive", E(kReadOnly, "/r/*", "own.txt"), kRename, "/r/Own.txt", "mv",
         true},
        {"a name beside a path in one list", E(kReadOnly, "/r/*", "/r/*/*;keep"), kRename,
         "/r/keep", "mv", false},
        {"a lone star excludes every item inside", E(kReadOnly, "/r/*", "*"), kRename, "/r/f", "mv",
         false},
        {"but not the covered folder itself", E(kReadOnly, "/r/*", "*"), kRename, "/r", "mv", true},
        {"nor the folder by its own name", E(kReadOnly, "/r/*", "r"), kRename, "/r", "mv", true},
        {"a Custom pattern's folder", E(kReadOnly, "/c/*.c", "gen.c"), kRename, "/c/gen.c", "mv",
         false},
        {"a Custom pattern's deeper namesake", E(kReadOnly, "/c/*.c", "gen.c"), kRename,
         "/c/x/gen.c", "mv", true},
        {"below the root folder", E(kReadOnly, "/*", "tmp"), kRename, "/tmp/x", "mv", false},
        {"an entry naming no folder matches names", E(kReadOnly, "*.dat", "kv.dat"), kRename,
         "/opt/kv.dat", "mv", false},
        {"a placeholder is no name", E(kReadOnly, "/r/*", "ExcludeFiles"), kRename,
         "/r/ExcludeFiles", "mv", true},
        {"ExProc is no name either", E(kReadOnly, "/r/*", "ExProc;ExcludeProc"), kRename,
         "/r/ExProc", "mv", true},
        {"empty items are no names", E(kReadOnly, "/r/*", ";"), kRename, "/r/", "mv", true},
    });
}

TEST(MatcherTest, HideAndRetrieveAttributesAreAboutWhatIsInsideAFolder) {
    constexpr std::uint32_t kHide = 0x200, kAttrSet = 0x100000;
    ExpectCases({
        {"an item inside", E(kHide, "/h/*"), kList, "/h/f", "ls", true},
        {"the folder itself stays reachable", E(kHide, "/h/*"), kList, "/h", "ls", false},
        {"other bits still cover the folder", E(kHide | kAttrSet, "/h/*"), kAttrSet, "/h", "chmod",
         true},
        {"Full still covers it", E(0x400, "/h/*"), kList, "/h", "ls", true},
        {"Retrieve attributes is about what is inside too", E(0x100, "/h/*"), 0x100, "/h", "ls",
         false},
        {"Retrieve attributes of an item inside", E(0x100, "/h/*"), 0x100, "/h/f", "stat", true},
    });
}

TEST(MatcherTest, WithoutItsSubfoldersAnEntryCoversNoSubfolderItem) {
    const MatchIndex index({E(kReadOnly, "/s/*", "/s/*/*"), E(kReadOnly, "/*", "/*/*")});
    EXPECT_FALSE(index.Decide(kRename, "/s/sub", "mv", {}, true).refused)
        << "a subfolder shows no marker, and can be renamed";
    EXPECT_TRUE(index.Decide(kRename, "/s/f", "mv", {}, false).refused) << "a file inside";
    EXPECT_TRUE(index.Decide(kRename, "/s", "mv", {}, true).refused) << "the folder itself";
    EXPECT_FALSE(index.Decide(kRename, "/s/sub/f", "mv").refused) << "what is below a subfolder";
    EXPECT_FALSE(index.Decide(kRename, "/top", "mv", {}, true).refused) << "below the root";
    const MatchIndex with({E(kReadOnly, "/s/*")});
    EXPECT_TRUE(with.Decide(kRename, "/s/sub", "mv", {}, true).refused) << "with its subfolders";
}

TEST(MatcherTest, ProgramNamesStandForTheExecutablesUsersCallByThem) {
    const ProgramId python{1, 11}, vim{1, 22}, copy{1, 33};
    const ProgramResolver programs = [&](std::string_view name) -> std::vector<ProgramId> {
        if (name == "python3" || name == "python3.11")
            return {python};
        if (name == "vim")
            return {vim};
        return {};
    };
    const MatchIndex index(
        {E(kRead, "/p/*", "ExcludeFiles", "python3"), E(kRead, "/v/*", "ExcludeFiles", "vim"),
         E(kRead, "/x/*", "ExcludeFiles", "*", "vim"),
         E(kRead, "/n/*", "ExcludeFiles", "nosuchprogram")},
        programs);
    EXPECT_TRUE(index.Decide(kRead, "/p/f", "/usr/bin/python3.11", python).refused)
        << "the name users call catches the resolved executable";
    EXPECT_TRUE(index.Decide(kRead, "/v/f", "/usr/bin/vim.basic", vim).refused);
    EXPECT_FALSE(index.Decide(kRead, "/v/f", "/home/u/vim", copy).refused)
        << "a file merely named vim is not vim";
    EXPECT_FALSE(index.Decide(kRead, "/v/f", "/usr/bin/vim.basic", ProgramId{}).refused)
        << "an executable of unknown identity is not the program";
    EXPECT_TRUE(index.Decide(kRead, "/x/f", "/home/u/vim", copy).refused)
        << "nor is it exempt as vim";
    EXPECT_FALSE(index.Decide(kRead, "/x/f", "/usr/bin/vim.basic", vim).refused);
    EXPECT_TRUE(index.Decide(kRead, "/n/f", "/opt/nosuchprogram", copy).refused)
        << "a name that resolves to nothing keeps the name match";
    EXPECT_EQ(index.Decide(kRead, "/v/f", "/usr/bin/vim.basic", vim),
              index.DecideLinear(kRead, "/v/f", "/usr/bin/vim.basic", vim));
}

TEST(MatcherTest, FileExclusionsAndTheirPlaceholder) {
    ExpectCases({
        {"subfolders excluded", E(kReadOnly, "/d/*", "/d/*/*"), kRename, "/d/sub/f", "vim", false},
        {"subfolders excluded, direct file", E(kReadOnly, "/d/*", "/d/*/*"), kRename, "/d/f", "vim",
         true},
        {"second list item", E(kReadOnly, "/d/*", "/d/*/*;*.log"), kRename, "/d/f.log", "vim",
         false},
        {"empty items are ignored", E(kReadOnly, "/d/*", ";;"), kRename, "/d/f", "vim", true},
        {"placeholder excludes nothing", E(kReadOnly, "*", "ExcludeFiles"), kRename, "ExcludeFiles",
         "vim", true},
        {"placeholder inside a list", E(kReadOnly, "/d/*", "ExcludeFiles;/d/x"), kRename, "/d/x",
         "vim", false},
        {"empty exclusion text", E(kReadOnly, "/d/*", ""), kRename, "/d/f", "vim", true},
    });
}

TEST(MatcherTest, ProcessesAndTheirExclusions) {
    ExpectCases({
        {"excluded process", E(kReadOnly, "/d/*", "", "*", "kv"), kRename, "/d/f", "kv", false},
        {"excluded process with extension", E(kReadOnly, "/d/*", "", "*", "kv"), kRename, "/d/f",
         "kv.exe", false},
        {"excluded process by path", E(kReadOnly, "/d/*", "", "*", "kv"), kRename, "/d/f",
         "/opt/kestrava/kv", false},
        {"exclusion given with extension", E(kReadOnly, "/d/*", "", "*", "kv.exe"), kRename, "/d/f",
         "kv", false},
        {"similar name is not excluded", E(kReadOnly, "/d/*", "", "*", "kv"), kRename, "/d/f",
         "kvx", true},
        {"process names are case-sensitive", E(kReadOnly, "/d/*", "", "*", "kv"), kRename, "/d/f",
         "KV", true},
        {"ExProc excludes nothing", E(kReadOnly, "/d/*", "", "*", "ExProc"), kRename, "/d/f",
         "ExProc", true},
        {"ExcludeProc;kv keeps kv out", E(kReadOnly, "/d/*", "", "*", "ExcludeProc;kv"), kRename,
         "/d/f", "kv", false},
        {"ExcludeProc;kv excludes nothing else", E(kReadOnly, "/d/*", "", "*", "ExcludeProc;kv"),
         kRename, "/d/f", "ExcludeProc", true},
        {"listed process", E(kReadOnly, "/d/*", "", "gcc;make", ""), kRename, "/d/f", "make.exe",
         true},
        {"unlisted process", E(kReadOnly, "/d/*", "", "gcc;make", ""), kRename, "/d/f", "vim",
         false},
        {"empty process list applies to nobody", E(kReadOnly, "/d/*", "", "", ""), kRename, "/d/f",
         "vim", false},
        {"process pattern", E(kReadOnly, "/d/*", "", "py*", ""), kRename, "/d/f", "python3.11",
         true},
        {"version numbers are no extension", E(kReadOnly, "/d/*", "", "python3", ""), kRename,
         "/d/f", "python3.11", false},
    });
}

TEST(MatcherTest, ProcessBaseNames) {
    const std::pair<const char*, const char*> cases[] = {
        {"kv", "kv"},           {"kv.exe", "kv"},   {"/opt/k/kv.exe", "kv"},
        {"kv.vxd", "kv"},       {"a.b.c", "a.b"},   {"python3.11", "python3.11"},
        {".bashrc", ".bashrc"}, {"name.", "name."}, {"x.toolong", "x.toolong"},
        {"dir.d/prog", "prog"}, {"*.exe", "*"},
    };
    for (const auto& [name, base] : cases)
        EXPECT_EQ(ProcessBaseName(name), base) << name;
}

TEST(MatcherTest, OperationNamesAreTheCheckBoxNames) {
    std::uint32_t seen = 0;
    for (const OperationName& op : kOperations) {
        EXPECT_EQ(OperationBit(op.name), op.bit);
        EXPECT_EQ(seen & op.bit, 0u) << op.name;
        seen |= op.bit;
    }
    EXPECT_EQ(seen, 0x1FFFFCu);
    EXPECT_EQ(OperationBit("Rename"), 0x10u);
    EXPECT_EQ(OperationBit("rename"), std::nullopt);
    EXPECT_EQ(OperationBit("Delete"), std::nullopt);
}

TEST(MatcherTest, TheFirstRefusingEntryIsReported) {
    const MatchIndex index({E(kRead, "/d/*"), E(kReadOnly, "*.txt"), E(0x400, "/d/f*")});
    EXPECT_EQ(index.Decide(kRename, "/d/f.txt", "vim"), (Decision{true, 1}));
    EXPECT_EQ(index.Decide(kRead, "/d/f.txt", "vim"), (Decision{true, 0}));
    EXPECT_EQ(index.Decide(kWrite, "/d/f.txt", "vim"), (Decision{true, 2}));
    EXPECT_EQ(index.Decide(kWrite, "/d/g.doc", "vim"), Decision{});
}

/// Random small patterns over a tiny alphabet, so that anchors, tails,
/// overlaps and exclusions collide often; the index must agree with the scan.
TEST(MatcherTest, TheIndexAgreesWithALinearScan) {
    std::mt19937 random(7);
    const char alphabet[] = {'/', 'a', 'b', '*', '.'};
    auto text = [&](std::size_t maxLength, bool stars) {
        std::string s;
        const std::size_t length = random() % (maxLength + 1);
        for (std::size_t i = 0; i < length; ++i)
            s += alphabet[random() % (stars ? 5 : 3)];
        return s;
    };
    std::vector<std::string> folders;
    for (int round = 0; round < 40; ++round) {
        std::vector<Entry> entries;
        folders.clear();
        for (int i = 0; i < 30; ++i) {
            std::string fileMask = text(8, true);
            if (i % 3 == 0) {
                // A folder pattern; its folder is also asked about, as it is
                // and with more after it.
                folders.push_back(text(6, random() % 4 == 0));
                fileMask = folders.back() + "/*";
            }
            entries.push_back({static_cast<std::uint32_t>(random() % 2 ? kRename : 0x400), fileMask,
                               random() % 3 ? "ExcludeFiles" : text(6, true), "*",
                               random() % 4 ? "kv" : "ExProc"});
        }
        const MatchIndex index(entries);
        for (int q = 0; q < 300; ++q) {
            std::string path = text(10, false);
            if (q % 3 == 0) {
                path = folders[random() % folders.size()];
                for (char& c : path) {
                    if (c == '*')  // a run of path characters where the folder has a star
                        c = "/ab"[random() % 3];
                }
                if (q % 2 == 0)
                    path += text(3, false);
            }
            const char* process = random() % 3 ? "vim" : "kv";
            ASSERT_EQ(index.Decide(kRename, path, process),
                      index.DecideLinear(kRename, path, process))
                << "path " << path << " round " << round;
        }
    }
}

/// Two folders whose anchors fall on the same slot with the same tag in a
/// small table: the one placed second must still be found.
TEST(MatcherTest, AnchorsSharingASlotAndTagAreBothFound) {
    const MatchIndex index({E(kRename, "/d113778/*"), E(kRename, "/d120355/*")});
    EXPECT_EQ(index.Decide(kRename, "/d113778/f", "vim"), (Decision{true, 0}));
    EXPECT_EQ(index.Decide(kRename, "/d120355/f", "vim"), (Decision{true, 1}));
}

/// Readers decide while a writer swaps tables: each decision must come from
/// one whole snapshot. Table k has k entries, and only its last one refuses.
TEST(MatcherTest, AReloadWhileOtherThreadsDecideKeepsEachDecisionConsistent) {
    auto table = [](std::size_t size) {
        std::vector<Entry> entries(size - 1, E(kReadOnly, "/other/*"));
        entries.push_back(E(kReadOnly, "/d/*"));
        return std::make_shared<const MatchIndex>(entries);
    };
    PublishedIndex published;
    published.Publish(table(1));
    std::atomic<bool> stop{false};
    std::atomic<long> decisions{0};
    std::atomic<long> inconsistent{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 4; ++r) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                const auto index = published.Current();
                const Decision d = index->Decide(kRename, "/d/file", "vim");
                if (!d.refused || d.entry + 1 != index->Size())
                    ++inconsistent;
                ++decisions;
            }
        });
    }
    for (std::size_t k = 2; k < 400 || decisions.load() < 2000; ++k)
        published.Publish(table(k % 50 + 1));
    stop = true;
    for (std::thread& t : readers)
        t.join();
    EXPECT_EQ(inconsistent.load(), 0);
    EXPECT_GT(decisions.load(), 0);
}

}  // namespace
}  // namespace kv::driver
