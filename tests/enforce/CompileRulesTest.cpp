#include "enforce/CompileRules.h"

#include <gtest/gtest.h>

#include "driver/Matcher.h"
#include "enforce/AI.h"
#include "principals/PrincipalTree.h"
#include "settings/Encript.h"
#include "tests/enforce/EnforceFixture.h"

namespace kv {
namespace {

using driver::Entry;

constexpr std::uint32_t kRO = 0x1E7830;
constexpr std::uint32_t kFull = 0x400;

const Entry kSelf[] = {
    {kFull, "*kv.dat", "ExcludeFiles", "*", "kv"},
    {kRO, "*/kv", "ExcludeFiles", "*", "ExProc"},
    {kRO, "*/kvvxd", "ExcludeFiles", "*", "ExProc"},
};

std::string Show(const Entry& e) {
    return std::to_string(e.dwOperation) + " | " + e.FileMask + " | " + e.ExcludeFiles + " | " +
           e.Processes + " | " + e.ExcludeProc;
}

class Compile : public ::testing::Test {
protected:
    Compile()
        : store_(dir_.File("kv.dat"), true),
          interceptor_(service_.SocketPath()),
          compiler_(store_, interceptor_, tree_) {}

    /// The entries compiled for `prefix`, without the three of the program's own files.
    std::vector<Entry> Compiled(const std::string& prefix,
                                const PathStyle& style = PathStyle::Posix()) {
        TRuleCompiler compiler(store_, interceptor_, tree_, style);
        compiler.CompileRules(prefix);
        std::vector<Entry> entries = service_.Entries();
        EXPECT_GE(entries.size(), 3u);
        if (style.Separator() == '/') {
            for (int i = 0; i < 3; ++i) {
                EXPECT_EQ(Show(entries[entries.size() - 3 + i]), Show(kSelf[i]));
            }
        }
        entries.resize(entries.size() - 3);
        return entries;
    }

    void ExpectEntries(const std::vector<Entry>& actual, const std::vector<Entry>& expected) {
        ASSERT_EQ(actual.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(Show(actual[i]), Show(expected[i])) << "entry " << i;
        }
    }

    test::TempDir dir_;
    test::ServiceRunner service_;
    TEncriptor store_;
    TPrincipalTree tree_;
    TDodiInterceptor interceptor_;
    TRuleCompiler compiler_;
};

TEST_F(Compile, WorkedExampleInWindowsPaths) {
    store_.WriteInteger("u_GUEST_P_C:\\Work", 1);
    ExpectEntries(Compiled("u_GUEST", PathStyle::Windows()),
                  {{kRO, "C:\\Work\\*", "ExcludeFiles", "*", "kv"}});
    store_.WriteBool("SubFolders_1", false);
    ExpectEntries(Compiled("u_GUEST", PathStyle::Windows()),
                  {{kRO, "C:\\Work\\*", "C:\\Work\\*\\*", "*", "kv"}});
    store_.WriteInteger("u_GUEST_P_C:\\Work", 2);
    ExpectEntries(Compiled("u_GUEST", PathStyle::Windows()),
                  {{kFull, "C:\\Work\\*", "ExcludeFiles", "*", "kv"}});
    store_.WriteInteger("u_GUEST_P_C:\\Work", 1);
    store_.WriteInteger("u_GUEST_P_C:\\", 1);  // a drive root gets no second "\"
    store_.WriteBool("SubFolders_1", true);
    ExpectEntries(Compiled("u_GUEST", PathStyle::Windows()),
                  {{kRO, "C:\\Work\\*", "ExcludeFiles", "*", "kv"},
                   {kRO, "C:\\*", "ExcludeFiles", "*", "kv"}});
}

TEST_F(Compile, EveryKindWithoutOptionsOrDefaults) {
    store_.WriteInteger("u_BOB_P_/home/bob/docs", 1);
    store_.WriteInteger("u_BOB_P_/srv/secret", 2);
    store_.WriteInteger("u_BOB_P_/work", 3);
    store_.WriteInteger("u_BOB_P_/work/a.txt", 5);
    store_.WriteInteger("u_BOB_P_/work/b.txt", 6);
    store_.WriteInteger("u_BOB_P_/work/c.txt", 7);
    store_.WriteInteger("u_BOB_P_/", 2);
    ExpectEntries(Compiled("u_BOB"),
                  {
                      {kRO, "/home/bob/docs/*", "ExcludeFiles", "*", "kv"},
                      {kFull, "/srv/secret/*", "ExcludeFiles", "*", "kv"},
                      {0, "/work/*", "ExcludeFiles", "*", "kv"},
                      {kRO, "/work/a.txt", "ExcludeFiles", "*", "kv"},
                      {kFull, "/work/b.txt", "ExcludeFiles", "*", "ExcludeProc;kv"},
                      {0, "/work/c.txt", "ExcludeFiles", "*", "kv"},
                      {kFull, "/*", "ExcludeFiles", "*", "kv"},
                  });
}

TEST_F(Compile, KindDefaultsApplyWhereItemsHaveNoOptions) {
    store_.WriteString("IncludeFiles_1", "*.doc");
    store_.WriteBool("SubFolders_1", false);
    store_.WriteString("ExcludeFiles_1", "keep.doc");
    store_.WriteString("Processes_1", "bash;vim");
    store_.WriteString("ExcludeProc_1", "backup");
    store_.WriteString("Processes_2", "cat");
    store_.WriteString("ExcludeProc_2", "root");
    store_.WriteInteger("dwOperation_3", 0x44);
    store_.WriteString("IncludeFiles_3", "*.c");
    store_.WriteBool("SubFolders_3", false);
    store_.WriteString("ExcludeFiles_3", "*.o");
    store_.WriteString("Processes_3", "gcc");
    store_.WriteString("ExcludeProc_3", "make");
    store_.WriteInteger("u_BOB_P_/d", 1);
    store_.WriteString("u_BOB_P_/d_IncludeFiles", "*.txt");  // ignored for ReadOnly
    store_.WriteInteger("u_BOB_P_/f", 2);
    store_.WriteInteger("u_BOB_P_/c", 3);
    store_.WriteInteger("u_BOB_P_/c/x", 6);
    store_.WriteInteger("u_BOB_P_/c/y", 7);
    ExpectEntries(Compiled("u_BOB"),
                  {
                      {kRO, "/d/*.doc", "/d/*/*;keep.doc", "bash;vim", "backup;kv"},
                      {kFull, "/f/*", "ExcludeFiles", "cat", "root;kv"},
                      {0x44, "/c/*.c", "/c/*/*;*.o", "gcc", "make;kv"},
                      {kFull, "/c/x", "ExcludeFiles", "cat", "root;kv"},
                      {0x44, "/c/y", "ExcludeFiles", "gcc", "make;kv"},
                  });
}

TEST_F(Compile, ItemOptionsWinOverDefaults) {
    store_.WriteInteger("dwOperation_3", 0x44);
    store_.WriteInteger("u_BOB_P_/c", 3);
    store_.WriteInteger("u_BOB_P_/c_dwOperation", 0x80);
    store_.WriteString("u_BOB_P_/c_IncludeFiles", "");  // empty: every entry
    store_.WriteBool("u_BOB_P_/c_SubFolders", false);
    store_.WriteString("u_BOB_P_/c_ExcludeFiles", "tmp");
    store_.WriteString("u_BOB_P_/c_Processes", "cc");
    store_.WriteString("u_BOB_P_/c_ExcludeProc", "");
    store_.WriteInteger("u_BOB_P_/r", 1);
    store_.WriteString("u_BOB_P_/r_ExcludeFiles", "own.txt;own.txt");
    store_.WriteInteger("u_BOB_P_/r/own.txt", 7);
    store_.WriteInteger("u_BOB_P_/r/own.txt_dwOperation", 0x20);
    store_.WriteString("u_BOB_P_/r/own.txt_Processes", "rm");
    ExpectEntries(Compiled("u_BOB"), {
                                         {0x80, "/c/*", "/c/*/*;tmp", "cc", "kv"},
                                         {kRO, "/r/*", "own.txt;own.txt", "*", "kv"},
                                         {0x20, "/r/own.txt", "ExcludeFiles", "rm", "kv"},
                                     });
}

TEST_F(Compile, AFullFolderReachesOnlyItsOwnEntries) {
    store_.WriteInteger("u_BOB_P_/srv/full", 2);
    store_.WriteInteger("u_BOB_P_/", 2);
    ExpectEntries(Compiled("u_BOB"), {{kFull, "/srv/full/*", "ExcludeFiles", "*", "kv"},
                                      {kFull, "/*", "ExcludeFiles", "*", "kv"}});
    store_.DeleteKey("u_BOB_P_/srv/full");
    store_.DeleteKey("u_BOB_P_/");
    store_.WriteInteger("u_BOB_P_D:\\Data", 2);
    store_.WriteInteger("u_BOB_P_D:\\", 2);
    ExpectEntries(Compiled("u_BOB", PathStyle::Windows()),
                  {{kFull, "D:\\Data\\*", "ExcludeFiles", "*", "kv"},
                   {kFull, "D:\\*", "ExcludeFiles", "*", "kv"}});
}

TEST_F(Compile, AnEmptyReadOnlyIncludePatternCoversEveryEntry) {
    store_.WriteString("IncludeFiles_1", "");
    store_.WriteString("IncludeFiles_3", "");
    store_.WriteInteger("u_BOB_P_/ro", 1);
    store_.WriteInteger("u_BOB_P_/", 1);
    store_.WriteInteger("u_BOB_P_/c", 3);
    ExpectEntries(Compiled("u_BOB"), {{kRO, "/ro/*", "ExcludeFiles", "*", "kv"},
                                      {kRO, "/*", "ExcludeFiles", "*", "kv"},
                                      {0, "/c/*", "ExcludeFiles", "*", "kv"}});
}

/// The compiled table as the service decides with it.
TEST_F(Compile, CompiledFoldersRefuseWhereTheirSettingsSay) {
    constexpr std::uint32_t kList = 0x200, kRename = 0x10, kAttrSet = 0x100000;
    store_.WriteInteger("u_BOB_P_/srv/full", 2);
    store_.WriteInteger("u_BOB_P_/srv/ro", 1);
    store_.WriteString("u_BOB_P_/srv/ro_ExcludeFiles", "own.txt");  // as the file commands write
    store_.WriteInteger("u_BOB_P_/srv/ro/own.txt", 7);
    const driver::MatchIndex index(Compiled("u_BOB"));
    const std::pair<std::uint32_t, const char*> refused[] = {{kList, "/srv/full"},
                                                             {kList, "/srv/full/a"},
                                                             {kAttrSet, "/srv/ro"},
                                                             {kRename, "/srv/ro/a"},
                                                             {kRename, "/srv/ro/b/c"}};
    for (const auto& [operation, path] : refused)
        EXPECT_TRUE(index.Decide(operation, path, "mv").refused) << path;
    const std::pair<std::uint32_t, const char*> allowed[] = {{kList, "/srv/fuller"},
                                                             {kList, "/srv/fuller/a"},
                                                             {kList, "/srv"},
                                                             {kRename, "/srv/ro/own.txt"},
                                                             {kRename, "/srv/rox"}};
    for (const auto& [operation, path] : allowed)
        EXPECT_FALSE(index.Decide(operation, path, "mv").refused) << path;
}

TEST_F(Compile, OnlyThePrincipalsValidKindsAreCompiled) {
    store_.WriteInteger("u_BOB_P_/a", 1);
    store_.WriteInteger("g_BOB_P_/group", 1);    // another principal
    store_.WriteInteger("u_BOBBY_P_/bobby", 1);  // a principal whose name begins the same
    store_.WriteString("u_BOB_P_/bad", "one");   // not an integer: skipped alone
    store_.WriteInteger("u_BOB_P_/four", 4);
    store_.WriteInteger("u_BOB_P_/eight", 8);
    store_.WriteInteger("u_BOB_P_/neg", -1);
    store_.WriteInteger("u_BOB_P_/a_SubFolders", 1);          // never compiled
    store_.WriteInteger("u_BOB_P_/a_dwOperation", 0x1E7830);  // a mask is never a kind
    store_.WriteString("u_BOB_P_/a_Processes", "x");
    store_.WriteInteger("u_BOB_P_/z", 2);
    ExpectEntries(Compiled("u_BOB"), {
                                         {kRO, "/a/*", "ExcludeFiles", "*", "kv"},
                                         {kFull, "/z/*", "ExcludeFiles", "*", "kv"},
                                     });
}

TEST_F(Compile, RootsGetNoDoubledSeparatorWhenSubfoldersAreLeftOut) {
    store_.WriteBool("SubFolders_1", false);
    store_.WriteInteger("u_BOB_P_/", 1);
    ExpectEntries(Compiled("u_BOB"), {{kRO, "/*", "/*/*", "*", "kv"}});
    store_.DeleteKey("u_BOB_P_/");
    store_.WriteInteger("u_BOB_P_C:\\", 1);
    ExpectEntries(Compiled("u_BOB", PathStyle::Windows()), {{kRO, "C:\\*", "C:\\*\\*", "*", "kv"}});
}

TEST_F(Compile, AFolderNamedLikeAnOptionIsStillProtected) {
    store_.WriteInteger("u_BOB_P_/data", 3);
    store_.WriteBool("u_BOB_P_/data_SubFolders", true);  // the option of /data: skipped
    store_.WriteInteger("u_BOB_P_/data/x_SubFolders", 2);
    store_.WriteInteger("u_BOB_P_/y_SubFolders/z", 2);
    ExpectEntries(Compiled("u_BOB"), {{0, "/data/*", "ExcludeFiles", "*", "kv"},
                                      {kFull, "/data/x_SubFolders/*", "ExcludeFiles", "*", "kv"},
                                      {kFull, "/y_SubFolders/z/*", "ExcludeFiles", "*", "kv"}});
}

TEST_F(Compile, AnOptionWhoseValueReadsAsAKindIsNoEntry) {
    store_.WriteInteger("u_BOB_P_/srv/num", 1);
    // A file named "5" given its own protection inside /srv/num.
    store_.WriteString("u_BOB_P_/srv/num_ExcludeFiles", "5");
    store_.WriteInteger("u_BOB_P_/srv/num/5", 5);
    // Options that outlived their item's key still name no item.
    store_.WriteString("u_BOB_P_/srv/gone_Processes", "6");
    store_.WriteString("u_BOB_P_/srv/gone_ExcludeFiles", "7");
    ExpectEntries(Compiled("u_BOB"), {{kRO, "/srv/num/*", "5", "*", "kv"},
                                      {kRO, "/srv/num/5", "ExcludeFiles", "*", "kv"}});
}

TEST_F(Compile, FilesWithTheirOwnProtectionBelowAFolderAreLeftToTheirOwnEntry) {
    store_.WriteInteger("u_BOB_P_/srv/ro", 1);
    store_.WriteString("u_BOB_P_/srv/ro_ExcludeFiles", "a.txt");  // as the file commands write
    store_.WriteInteger("u_BOB_P_/srv/ro/a.txt", 7);
    store_.WriteInteger("u_BOB_P_/srv/ro/sub/b.txt", 7);  // no exclusion written one level down
    store_.WriteInteger("u_BOB_P_/srv/rox/c.txt", 5);     // beside it, not below
    const std::vector<Entry> entries = Compiled("u_BOB");
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(Show(entries[0]), Show({kRO, "/srv/ro/*", "a.txt;/srv/ro/sub/b.txt", "*", "kv"}));

    constexpr std::uint32_t kRename = 0x10;
    const driver::MatchIndex index(entries);
    EXPECT_FALSE(index.Decide(kRename, "/srv/ro/a.txt", "mv").refused) << "its own Custom rule";
    EXPECT_FALSE(index.Decide(kRename, "/srv/ro/sub/b.txt", "mv").refused) << "its own Custom rule";
    EXPECT_TRUE(index.Decide(kRename, "/srv/ro/sub/a.txt", "mv").refused)
        << "a namesake one level down stays covered by the folder, as the window marks it";
    EXPECT_TRUE(index.Decide(kRename, "/srv/ro/sub/c.txt", "mv").refused);
}

TEST_F(Compile, KeyPrefixInsideANameIsStillCutByItsLength) {
    store_.WriteInteger("xu_BOB_P_/y", 2);
    ExpectEntries(Compiled("u_BOB"), {{kFull, "_/y/*", "ExcludeFiles", "*", "kv"}});
}

TEST_F(Compile, PrincipalWithoutKeysLoadsTheProgramsOwnEntries) {
    store_.WriteInteger("u_OTHER_P_/a", 1);
    compiler_.CompileRules("u_NOBODY");
    EXPECT_EQ(service_.Count(), 3u);
}

TEST_F(Compile, EmptyPrefixCompilesTheSelectedPrincipal) {
    auto* staff = tree_.AppendTop("Staff", PrincipalKind::Group);
    tree_.AppendTop("Staff", PrincipalKind::User);
    store_.WriteInteger("g_Staff_P_/shared", 1);
    store_.WriteInteger("u_Staff_P_/mine", 1);
    tree_.Select(staff);
    ExpectEntries(Compiled(""), {{kRO, "/shared/*", "ExcludeFiles", "*", "kv"}});
    tree_.Select(tree_.TopLevel()[1].get());
    ExpectEntries(Compiled(""), {{kRO, "/mine/*", "ExcludeFiles", "*", "kv"}});
}

TEST_F(Compile, CompilationReplacesWhatTheServiceHeld) {
    store_.WriteInteger("u_BOB_P_/a", 1);
    compiler_.CompileRules("u_BOB");
    compiler_.CompileRules("u_BOB");
    EXPECT_EQ(service_.Count(), 4u);
    EXPECT_FALSE(service_.Active());
}

}  // namespace
}  // namespace kv
