#include "principals/UserDirectory.h"

#include <gtest/gtest.h>

#include "principals/GroupCommands.h"
#include "tests/support/FakeRegistry.h"
#include "tests/support/ScriptedGroupDialog.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/TempDir.h"

namespace kv {
namespace {

using platform::Hive;

// Text of the tree in display order: children indented, kind after a colon.
std::string Dump(const TPrincipalTree& tree) {
    std::string out;
    for (const auto* node : tree.DisplayOrder()) {
        out += (node->parent ? "  " : "") + node->text + ":" +
               std::to_string(static_cast<int>(node->kind)) + "\n";
    }
    return out;
}

class Directory : public ::testing::Test {
protected:
    Directory()
        : store_(dir_.File("kv.dat"), true), directory_(store_, registry_, tree_, modified_) {}

    void Restart() {
        store_.Flush(true);
        storeAgain_ = std::make_unique<TEncriptor>(dir_.File("kv.dat"), true);
        treeAgain_ = std::make_unique<TPrincipalTree>();
        again_ = std::make_unique<TUserDirectory>(*storeAgain_, registry_, *treeAgain_, modified_);
        again_->LoadCurrentUser();
        again_->LoadUserGroups();
    }

    test::TempDir dir_;
    test::FakeRegistry registry_;
    TEncriptor store_;
    TPrincipalTree tree_;
    TModifiedFlag modified_;
    TUserDirectory directory_;
    std::unique_ptr<TEncriptor> storeAgain_;
    std::unique_ptr<TPrincipalTree> treeAgain_;
    std::unique_ptr<TUserDirectory> again_;
};

TEST_F(Directory, CurrentUserIsKnownOnlyWhenRecordedAsKnown) {
    registry_.SetProfiles({"ALICE", "BOB"});
    registry_.SetCurrentUser("BOB");
    std::string shown;
    directory_.OnCurrentUserShown([&shown](const std::string& n) { shown = n; });
    directory_.LoadCurrentUser();
    EXPECT_EQ(directory_.CurrentUserName(), "Unknown User");  // never recorded
    EXPECT_EQ(shown, "Unknown User");

    directory_.SaveKnownUsers();
    EXPECT_EQ(store_.ReadString("CurUsers_ALICE", ""), "1");
    directory_.LoadCurrentUser();
    EXPECT_EQ(directory_.CurrentUserName(), "BOB");
    EXPECT_EQ(shown, "BOB");

    // Other letter case: the registry ignores it, but user names are case-exact
    // here, and so are the store's names: "bob" was never recorded.
    registry_.SetCurrentUser("bob");
    directory_.LoadCurrentUser();
    EXPECT_EQ(directory_.CurrentUserName(), "Unknown User");
    {
        // A store that folds names (the Windows path style) identifies "bob".
        TEncriptor folded(dir_.File("folded.dat"), true, NameCase::Folded);
        TPrincipalTree tree;
        TUserDirectory directory(folded, registry_, tree, modified_);
        directory.SaveKnownUsers();
        directory.LoadCurrentUser();
        EXPECT_EQ(directory.CurrentUserName(), "bob");
    }
    registry_.SetCurrentUser("CAROL");  // no profile
    directory_.LoadCurrentUser();
    EXPECT_EQ(directory_.CurrentUserName(), "Unknown User");
    registry_.SetCurrentUser("");
    directory_.LoadCurrentUser();
    EXPECT_EQ(directory_.CurrentUserName(), "Unknown User");
}

TEST_F(Directory, MissingProfileListIsCreatedEmpty) {
    registry_.SetCurrentUser("BOB");
    store_.WriteBool("CurUsers_BOB", true);
    directory_.LoadCurrentUser();
    EXPECT_EQ(directory_.CurrentUserName(), "Unknown User");
    EXPECT_TRUE(registry_.KeyExists(Hive::LocalMachine, platform::kProfileListKey));
    directory_.LoadUserGroups();
    EXPECT_EQ(Dump(tree_), "Unknown User:6\n");
}

TEST_F(Directory, TreeOrderFromStoredGroupsAndProfiles) {
    registry_.SetProfiles({"ALICE", "BOB", "CAROL", "DAVE"});
    store_.WriteInteger("GroupCount", 3);
    store_.WriteString("1_Group", "Staff");
    store_.WriteString("3_Group", "Guests");  // 2_Group missing: named by its number
    store_.WriteString("CAROL_GroupName", "Staff");
    store_.WriteString("ALICE_GroupName", "Staff");
    store_.WriteString("DAVE_GroupName", "Gone");  // no such group: top level
    store_.WriteString("Unknown User_GroupName", "Staff");
    directory_.LoadCurrentUser();
    directory_.LoadUserGroups();
    EXPECT_EQ(Dump(tree_),
              "Staff:0\n  ALICE:1\n  CAROL:1\n  Unknown User:6\n2:0\nGuests:0\nBOB:1\nDAVE:1\n");
    // The current user is unknown: the entry that protects it is selected.
    EXPECT_EQ(tree_.SelectedNode(), tree_.FindNodeByText("Unknown User"));
    EXPECT_EQ(directory_.CaptionText(),
              "Kestrava - Protection settings for the user \"Unknown User\"");
}

TEST_F(Directory, AMembershipNamingAUserLeavesTheUserAtTheTop) {
    registry_.SetProfiles({"ALICE", "BOB", "CAROL"});
    store_.WriteInteger("GroupCount", 2);
    store_.WriteString("1_Group", "Staff");
    store_.WriteString("2_Group", "Guests");
    store_.WriteString("ALICE_GroupName", "Staff");
    store_.WriteString("BOB_GroupName", "ALICE");  // a user, inside a group
    store_.WriteString("CAROL_GroupName", "BOB");  // a user at the top
    store_.WriteString("Unknown User_GroupName", "CAROL");
    directory_.LoadCurrentUser();
    directory_.LoadUserGroups();
    EXPECT_EQ(Dump(tree_), "Staff:0\n  ALICE:1\nGuests:0\nBOB:1\nCAROL:1\nUnknown User:6\n");

    // Moving ALICE to another group keeps every other user.
    test::ScriptedPrompts prompts;
    test::ScriptedGroupDialog dialog;
    TGroupCommands commands(tree_, modified_, prompts, dialog);
    tree_.Select(tree_.FindNodeByText("ALICE"));
    dialog.answers = {std::string("Guests")};
    commands.cmdMoveUserExecute(directory_.ProfileNames());
    EXPECT_EQ(Dump(tree_), "Staff:0\nGuests:0\n  ALICE:1\nBOB:1\nCAROL:1\nUnknown User:6\n");
}

TEST_F(Directory, CurrentUsersNodeIsSelectedOnlyWhenTheNameMatchesExactly) {
    registry_.SetProfiles({"ALICE", "BOB"});
    registry_.SetCurrentUser("BOB");
    directory_.SaveKnownUsers();
    directory_.LoadCurrentUser();
    directory_.LoadUserGroups();
    ASSERT_NE(tree_.SelectedNode(), nullptr);
    EXPECT_EQ(tree_.SelectedNode()->text, "BOB");
    EXPECT_EQ(directory_.CaptionText(), "Kestrava - Protection settings for the user \"BOB\"");

    registry_.SetCurrentUser("bob");
    directory_.LoadCurrentUser();
    directory_.LoadUserGroups();
    EXPECT_EQ(tree_.SelectedNode()->text, "Unknown User");
    tree_.Select(nullptr);
    EXPECT_EQ(directory_.CaptionText(), "Kestrava");
}

TEST_F(Directory, SaveWritesTheGroupKeysAndTheyComeBackAfterARestart) {
    registry_.SetProfiles({"ALICE", "BOB", "CAROL"});
    store_.WriteInteger("GroupCount", 3);
    for (int n = 1; n <= 3; ++n)
        store_.WriteString(std::to_string(n) + "_Group", "Old");
    store_.WriteString("BOB_GroupName", "Old");
    store_.WriteString("GHOST_GroupName", "Old");  // profile gone: left untouched
    directory_.LoadUserGroups();

    tree_.Clear();
    auto* staff = tree_.AppendTop("Staff", PrincipalKind::Group);
    tree_.InsertFirstTop("Admins", PrincipalKind::Group);
    tree_.AppendChild(staff, "BOB", PrincipalKind::User);
    tree_.AppendChild(staff, "Unknown User", PrincipalKind::UnknownUser);
    tree_.AppendTop("ALICE", PrincipalKind::User);
    tree_.AppendTop("CAROL", PrincipalKind::User);
    modified_.Set();
    std::string error;
    ASSERT_TRUE(directory_.cmdSaveExecute(&error)) << error;
    EXPECT_FALSE(modified_.Get());

    EXPECT_EQ(store_.ReadString("GroupCount", ""), "2");
    EXPECT_EQ(store_.ReadString("1_Group", ""), "Admins");
    EXPECT_EQ(store_.ReadString("2_Group", ""), "Staff");
    EXPECT_EQ(store_.ReadString("3_Group", "gone"), "gone");
    EXPECT_EQ(store_.ReadString("BOB_GroupName", ""), "Staff");
    EXPECT_EQ(store_.ReadString("Unknown User_GroupName", ""), "Staff");
    EXPECT_EQ(store_.ReadString("ALICE_GroupName", "none"), "none");
    EXPECT_EQ(store_.ReadString("GHOST_GroupName", ""), "Old");
    EXPECT_EQ(store_.ReadString("CurUsers_CAROL", ""), "1");

    Restart();
    EXPECT_EQ(Dump(*treeAgain_),
              "Admins:0\nStaff:0\n  BOB:1\n  Unknown User:6\nALICE:1\nCAROL:1\n");
}

TEST_F(Directory, KnownUsersAreReplacedNotMerged) {
    registry_.SetProfiles({"ALICE"});
    store_.WriteBool("CurUsers_OLD", true);
    store_.WriteBool("X_CurUsers_Y", true);
    directory_.SaveKnownUsers();
    EXPECT_EQ(store_.ReadString("CurUsers_OLD", "gone"), "gone");
    EXPECT_EQ(store_.ReadString("X_CurUsers_Y", ""), "1");
    EXPECT_EQ(store_.ReadString("CurUsers_ALICE", ""), "1");
}

TEST_F(Directory, DamagedGroupCountLoadsNoGroupsInsteadOfFailing) {
    registry_.SetProfiles({"ALICE"});
    store_.WriteString("GroupCount", "many");
    directory_.LoadUserGroups();
    EXPECT_EQ(Dump(tree_), "ALICE:1\nUnknown User:6\n");
    directory_.SaveUserGroups();
    EXPECT_EQ(store_.ReadString("GroupCount", ""), "0");
}

TEST_F(Directory, FailedSaveKeepsTheModifiedFlagAndSaysWhy) {
    registry_.SetProfiles({"ALICE"});
    directory_.LoadUserGroups();
    modified_.Set();
    std::filesystem::remove_all(dir_.Path());
    std::string error;
    EXPECT_FALSE(directory_.cmdSaveExecute(&error));
    EXPECT_TRUE(modified_.Get());
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace kv
