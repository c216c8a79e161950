#include "StyleParam.h"

namespace kv::test {
namespace {

using Keys = std::map<std::string, std::string>;

class CommandsTest : public StyledRulesTest {
protected:
    void SetUp() override {
        Add("A/B/C");
        Add("A/B/H");
        Add("A/E");
        Add("A/G");
        Add("F");
    }
    void Remark() { f.controller.UserGroupsChange(); }
    void Tree(const std::string& relative, int tag) {
        f.SelectInTree(P(relative));
        f.controller.cmdReadOnlyExecute(tag);
    }
    /// Runs a command on entries of the list of a folder.
    void List(const std::string& folder, const std::vector<std::string>& files,
              std::initializer_list<std::string> selected, int tag) {
        f.OpenInList(P(folder), files);
        f.list.Select(selected);
        f.controller.cmdReadOnlyExecute(tag);
    }
};

// Folders whose names differ only in letter case are two folders here.
TEST(CaseExactPaths, FoldersDifferingOnlyInCaseKeepRulesOfTheirOwn) {
    RulesFixture f(PathStyle::Posix(), "/");
    f.tree.AddPath("x/Docs");
    f.tree.AddPath("x/docs");
    f.SelectInTree("/x/Docs");
    f.controller.cmdReadOnlyExecute(2);
    f.SelectInTree("/x/docs");
    f.controller.cmdReadOnlyExecute(1);
    EXPECT_EQ(f.Keys(), (Keys{{"u_Bob_P_/x/Docs", "2"}, {"u_Bob_P_/x/docs", "1"}}));
    f.controller.UserGroupsChange();
    EXPECT_EQ(f.MarkerOf("/x/Docs"), 2);
    EXPECT_EQ(f.MarkerOf("/x/docs"), 1);
    f.SelectInTree("/x/docs");
    f.controller.cmdReadOnlyExecute(-1);
    EXPECT_EQ(f.Keys(), (Keys{{"u_Bob_P_/x/Docs", "2"}}));
    f.controller.UserGroupsChange();
    EXPECT_EQ(f.MarkerOf("/x/Docs"), 2);
    EXPECT_EQ(f.MarkerOf("/x/docs"), -1);
}

TEST_P(CommandsTest, ReadOnlyOnSubfolderOfReadOnlyFolderKeepsTheFolderAbove) {
    f.store.WriteInteger(K("A"), 1);
    f.store.WriteInteger(K("A/B/C"), 2);
    Remark();
    Tree("A/B", 1);
    EXPECT_EQ(f.Keys(), (Keys{{K("A"), "1"}, {K("A/B"), "1"}}));
    EXPECT_EQ(M("A"), 1);
    EXPECT_EQ(M("A/B/C"), 1);
    EXPECT_TRUE(f.modified.Get());
}

TEST_P(CommandsTest, FullInsideReadOnlyBreaksUpEveryCoveringFolderBelowTheRoot) {
    f.store.WriteInteger(K("A"), 1);
    Remark();
    Tree("A/B/C", 2);
    EXPECT_EQ(f.Keys(),
              (Keys{{K("A/B/C"), "2"}, {K("A/B/H"), "1"}, {K("A/E"), "1"}, {K("A/G"), "1"}}));
    EXPECT_EQ(M(""), -1);
    EXPECT_EQ(M("A"), -1);
    EXPECT_EQ(M("A/B"), -1);
    EXPECT_EQ(M("A/B/C"), 2);
    EXPECT_EQ(M("A/B/H"), 1);
    EXPECT_EQ(M("A/E"), 1);
}

TEST_P(CommandsTest, TheDriveRootIsNeverBrokenUp) {
    f.store.WriteInteger(K(""), 1);
    Remark();
    Tree("A", 2);
    EXPECT_EQ(f.Keys(), (Keys{{K(""), "1"}, {K("A"), "2"}}));
    EXPECT_EQ(M(""), 1);
    EXPECT_EQ(M("F"), 1);
    EXPECT_EQ(M("A/B/C"), 2);
}

TEST_P(CommandsTest, ResetOfACoveredSubfolderPushesTheProtectionOntoItsSiblings) {
    f.store.WriteInteger(K("A"), 3);
    f.store.WriteString(K("A") + "_Processes", "x.exe");
    Remark();
    Tree("A/E", -1);
    EXPECT_EQ(f.Keys(), (Keys{{K("A/B"), "3"},
                              {K("A/B") + "_Processes", "x.exe"},
                              {K("A/G"), "3"},
                              {K("A/G") + "_Processes", "x.exe"}}));
    EXPECT_EQ(M("A"), -1);
    EXPECT_EQ(M("A/E"), -1);
    EXPECT_EQ(M("A/B/C"), 3);
}

TEST_P(CommandsTest, BrokenUpCustomFoldersHandTheirOptionsToTheSiblingsTheyCovered) {
    f.store.WriteInteger(K("A"), 3);
    f.store.WriteString(K("A") + "_Processes", "x.exe");
    f.store.WriteString(K("A") + "_IncludeFiles", "*.doc");
    f.store.WriteInteger(K("A") + "_dwOperation", 0x20);
    f.store.WriteInteger(K("A/G"), 3);  // Custom of its own, with its own options
    f.store.WriteString(K("A/G") + "_Processes", "own.exe");
    Remark();
    Tree("A/B/C", 2);
    Keys expected{{K("A/B/C"), "2"}, {K("A/G"), "3"}, {K("A/G") + "_Processes", "own.exe"}};
    for (const char* sibling : {"A/B/H", "A/E"}) {
        expected[K(sibling)] = "3";
        expected[K(sibling) + "_Processes"] = "x.exe";
        expected[K(sibling) + "_IncludeFiles"] = "*.doc";
        expected[K(sibling) + "_dwOperation"] = "32";
    }
    EXPECT_EQ(f.Keys(), expected);
    EXPECT_EQ(M("A/B/H"), 3);
    EXPECT_EQ(M("A/B/C"), 2);
}

TEST_P(CommandsTest, AFolderCoveredByACustomRootHandsOnTheRootsOptions) {
    f.store.WriteInteger(K(""), 3);
    f.store.WriteInteger(K("") + "_dwOperation", 0x20);
    Remark();
    Tree("A/E", 1);
    EXPECT_EQ(f.Keys(), (Keys{{K(""), "3"},
                              {K("") + "_dwOperation", "32"},
                              {K("A/B"), "3"},
                              {K("A/B") + "_dwOperation", "32"},
                              {K("A/E"), "1"},
                              {K("A/G"), "3"},
                              {K("A/G") + "_dwOperation", "32"}}));
}

TEST_P(CommandsTest, ResetOfARootRemovesEveryKeyOfThePrincipalBelowIt) {
    f.store.WriteInteger(K(""), 1);
    f.store.WriteInteger(K("A/B"), 2);
    f.store.WriteInteger(K("F/x.txt"), 5);
    f.store.WriteInteger("g_Bob_P_" + P("A"), 1);
    Remark();
    Tree("", -1);
    EXPECT_TRUE(f.Keys().empty());
    EXPECT_EQ(f.store.ReadInteger("g_Bob_P_" + P("A"), 0), 1);
    EXPECT_EQ(M("A/B/C"), -1);
}

TEST_P(CommandsTest, ResettingAFolderLeavesSiblingsWhoseNamesBeginWithItsName) {
    Add("Data");
    Add("Data2");
    Add("Data_old");
    f.store.WriteInteger(K("Data"), 1);
    f.store.WriteInteger(K("Data/f.txt"), 5);
    f.store.WriteInteger(K("Data2"), 2);
    f.store.WriteInteger(K("Data2/f.txt"), 6);
    f.store.WriteInteger(K("Data_old"), 3);
    f.store.WriteString(K("Data_old") + "_Processes", "a.exe");
    f.store.WriteInteger(K("Data_old/f.txt"), 5);
    Remark();
    Tree("Data", -1);
    EXPECT_EQ(f.Keys(), (Keys{{K("Data2"), "2"},
                              {K("Data2/f.txt"), "6"},
                              {K("Data_old"), "3"},
                              {K("Data_old") + "_Processes", "a.exe"},
                              {K("Data_old/f.txt"), "5"}}));
}

TEST_P(CommandsTest, WithoutSubFoldersOnlyTheNodesOwnKeyIsReplaced) {
    f.store.WriteBool("SubFolders_1", false);
    f.store.WriteInteger(K("A"), 3);
    f.store.WriteString(K("A") + "_Processes", "a.exe");
    f.store.WriteInteger(K("A/B"), 2);
    Remark();
    Tree("A", 1);
    EXPECT_EQ(f.Keys(), (Keys{{K("A"), "1"}, {K("A") + "_Processes", "a.exe"}, {K("A/B"), "2"}}));
    EXPECT_EQ(M("A/B"), 2);
    EXPECT_EQ(M("A/E"), 3) << "children keep their markers";
}

TEST_P(CommandsTest, CommandOnTheListedFolderAlsoMarksItsChildEntries) {
    Remark();
    f.OpenInList(P("A"), {"f.txt"});
    Tree("A", 2);
    EXPECT_EQ(f.list.Marker(f.list.PositionOf("B")), 2);
    EXPECT_EQ(f.list.Marker(f.list.PositionOf("G")), 2);
    EXPECT_EQ(f.list.Marker(f.list.PositionOf("f.txt")), -1);
    EXPECT_EQ(f.list.Marker(0), -1) << "parent entry untouched";
}

TEST_P(CommandsTest, FilesInAProtectedFolderAreListedAsItsExclusions) {
    f.store.WriteInteger(K("A"), 1);
    Remark();
    List("A", {"f.txt", "g.txt"}, {"f.txt"}, 1);
    List("A", {"f.txt", "g.txt"}, {"f.txt"}, 2);
    List("A", {"f.txt", "g.txt"}, {"g.txt"}, 1);
    EXPECT_EQ(f.Keys(), (Keys{{K("A"), "1"},
                              {K("A") + "_ExcludeFiles", "f.txt;f.txt;g.txt"},
                              {K("A/f.txt"), "6"},
                              {K("A/g.txt"), "5"}}));
    EXPECT_EQ(f.list.Marker(f.list.PositionOf("g.txt")), 1);

    List("A", {"f.txt", "g.txt"}, {"f.txt"}, -1);
    EXPECT_EQ(f.store.ReadString(K("A") + "_ExcludeFiles", ""), "g.txt");
    EXPECT_EQ(f.list.Marker(f.list.PositionOf("f.txt")), -1);
    List("A", {"f.txt", "g.txt"}, {"g.txt"}, -1);
    EXPECT_EQ(f.Keys(), (Keys{{K("A"), "1"}}));
}

TEST_P(CommandsTest, ResettingAFileLeavesFilesWhoseNamesBeginWithItsName) {
    f.dialog.QueueOk();
    List("A", {"f", "f_1", "fx"}, {"f", "f_1", "fx"}, 3);
    f.dialog.shown.clear();
    List("A", {"f", "f_1", "fx"}, {"f"}, -1);
    const Keys keys = f.Keys();
    EXPECT_EQ(keys.count(K("A/f")), 0u);
    EXPECT_EQ(keys.count(K("A/f") + "_Processes"), 0u);
    EXPECT_EQ(keys.at(K("A/f_1")), "7");
    EXPECT_EQ(keys.at(K("A/f_1") + "_Processes"), "*");
    EXPECT_EQ(keys.at(K("A/fx")), "7");
}

TEST_P(CommandsTest, FileInAFullFolderIsRefusedWithAMessageAndOthersStillProcessed) {
    f.store.WriteInteger(K(""), 2);
    Remark();
    List("", {"r.txt", "s.txt"}, {"A", "r.txt", "s.txt"}, 1);
    ASSERT_EQ(f.prompts.shown.size(), 2u);
    EXPECT_EQ(f.prompts.shown[0].text,
              "The parent folder must have ReadOnly or Custom Protection !");
    EXPECT_EQ(f.prompts.shown[0].buttons, Buttons::Ok);
    EXPECT_EQ(f.Keys(), (Keys{{K(""), "2"}, {K("A"), "1"}}));
    EXPECT_EQ(f.list.Marker(f.list.PositionOf("A")), 1);
    EXPECT_EQ(f.list.Marker(f.list.PositionOf("r.txt")), -1);
}

TEST_P(CommandsTest, CustomFolderConfirmedStoresTheDialogsOptions) {
    f.dialog.Queue([](const OptionsDialogState& s, OptionsFields* r) {
        EXPECT_EQ(s.mode, 4);
        r->proc = "a.exe";
        r->mask = 0x40;
        return true;
    });
    Tree("A/B", 3);
    ASSERT_EQ(f.dialog.shown.size(), 1u);
    EXPECT_EQ(f.dialog.shown[0].caption, "Custom Protection Options for \"" + P("A/B") + "\"");
    // An empty field is written as an empty entry (the store drops only an
    // existing entry that is emptied).
    EXPECT_EQ(f.Keys(), (Keys{{K("A/B"), "3"},
                              {K("A/B") + "_Processes", "a.exe"},
                              {K("A/B") + "_ExcludeProc", ""},
                              {K("A/B") + "_ExcludeFiles", ""},
                              {K("A/B") + "_IncludeFiles", "*"},
                              {K("A/B") + "_SubFolders", "1"},
                              {K("A/B") + "_dwOperation", "64"}}));
    EXPECT_EQ(M("A/B/C"), 3);
}

TEST_P(CommandsTest, CustomFolderCancelledIsResetAgain) {
    f.dialog.QueueCancel();
    Tree("A/B", 3);
    EXPECT_EQ(f.dialog.shown.size(), 1u);
    EXPECT_TRUE(f.Keys().empty());
    EXPECT_EQ(M("A/B"), -1);
    EXPECT_EQ(M("A/B/C"), -1);
}

TEST_P(CommandsTest, CustomOnAnAlreadyCustomFolderOnlyOpensTheDialog) {
    f.store.WriteInteger(K("A"), 3);
    f.store.WriteString(K("A") + "_Processes", "a.exe");
    Remark();
    const Keys before = f.Keys();
    f.dialog.QueueCancel();
    Tree("A", 3);
    EXPECT_EQ(f.dialog.shown.size(), 1u);
    EXPECT_EQ(f.dialog.shown[0].fields.proc, "a.exe");
    EXPECT_EQ(f.Keys(), before);
    EXPECT_EQ(M("A"), 3);
}

TEST_P(CommandsTest, CustomFileConfirmedAndCancelled) {
    f.store.WriteInteger(K("A"), 1);
    f.store.WriteString("Processes_3", "p.exe");
    f.store.WriteInteger("dwOperation_3", 0x80);
    Remark();
    f.dialog.Queue([](const OptionsDialogState& s, OptionsFields* r) {
        EXPECT_EQ(s.mode, 7);
        EXPECT_EQ(s.fields.proc, "p.exe");
        r->exProc = "q.exe";
        return true;
    });
    List("A", {"f.txt", "g.txt"}, {"f.txt"}, 3);
    EXPECT_EQ(f.dialog.shown.at(0).itemPath, P("A/f.txt"));
    EXPECT_EQ(f.Keys(), (Keys{{K("A"), "1"},
                              {K("A") + "_ExcludeFiles", "f.txt"},
                              {K("A/f.txt"), "7"},
                              {K("A/f.txt") + "_Processes", "p.exe"},
                              {K("A/f.txt") + "_ExcludeProc", "q.exe"},
                              {K("A/f.txt") + "_dwOperation", "128"}}));

    f.dialog.QueueCancel();
    List("A", {"f.txt", "g.txt"}, {"g.txt"}, 3);
    EXPECT_EQ(f.dialog.shown.size(), 2u);
    EXPECT_EQ(f.Keys().count(K("A/g.txt")), 0u);
    EXPECT_EQ(f.store.ReadString(K("A") + "_ExcludeFiles", ""), "f.txt");
    EXPECT_EQ(f.list.Marker(f.list.PositionOf("g.txt")), -1);
}

TEST_P(CommandsTest, TheParentEntryStandsForNoItemAndIsSkipped) {
    List("A", {"f.txt"}, {"..", "f.txt"}, 2);
    EXPECT_EQ(f.Keys(), (Keys{{K("A/f.txt"), "6"}}));
    EXPECT_EQ(f.list.Marker(0), -1);
    EXPECT_EQ(M(""), -1);
}

TEST_P(CommandsTest, WithoutAPrincipalKeysBeginWithTheInfix) {
    f.principals.selected.reset();
    Tree("F", 1);
    EXPECT_EQ(Entries(f.store, "_P_"), (Keys{{"_P_" + P("F"), "1"}}));
}

TEST_P(CommandsTest, ActionsAreEnabledWhenTheFocusedViewHasASelection) {
    EXPECT_FALSE(f.controller.ProtectionActionsEnabled());
    f.SelectInTree(P("A"));
    EXPECT_TRUE(f.controller.ProtectionActionsEnabled());
    f.tree.focus = false;
    EXPECT_FALSE(f.controller.ProtectionActionsEnabled());
    f.OpenInList(P("A"), {"x"});
    EXPECT_FALSE(f.controller.ProtectionActionsEnabled()) << "list focused, nothing selected";
    f.list.Select({"x"});
    EXPECT_TRUE(f.controller.ProtectionActionsEnabled());
}

KV_BOTH_STYLES(CommandsTest);

}  // namespace
}  // namespace kv::test
