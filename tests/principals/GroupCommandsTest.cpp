#include "principals/GroupCommands.h"

#include <gtest/gtest.h>

#include <deque>

#include "tests/support/ScriptedGroupDialog.h"
#include "tests/support/ScriptedPrompts.h"

namespace kv {
namespace {

using test::ScriptedGroupDialog;

std::string Dump(const TPrincipalTree& tree) {
    std::string out;
    for (const auto* node : tree.DisplayOrder()) {
        out += (node->parent ? "  " : "") + node->text + "\n";
    }
    return out;
}

class Groups : public ::testing::Test {
protected:
    Groups() : commands_(tree_, modified_, prompts_, dialog_) {
        staff_ = tree_.AppendTop("Staff", PrincipalKind::Group);
        guests_ = tree_.AppendTop("Guests", PrincipalKind::Group);
        tree_.AppendChild(staff_, "ANN", PrincipalKind::User);
        tree_.AppendChild(staff_, "BOB", PrincipalKind::User);
        tree_.AppendChild(staff_, "CID", PrincipalKind::User);
        tree_.AppendChild(guests_, "DEE", PrincipalKind::User);
        tree_.AppendTop("EVE", PrincipalKind::User);
        tree_.AppendTop("Unknown User", PrincipalKind::UnknownUser);
    }

    TPrincipalTree::Node* Node(const std::string& text) { return tree_.FindNodeByText(text); }

    TPrincipalTree tree_;
    TModifiedFlag modified_;
    test::ScriptedPrompts prompts_;
    ScriptedGroupDialog dialog_;
    TGroupCommands commands_;
    TPrincipalTree::Node* staff_;
    TPrincipalTree::Node* guests_;
};

TEST_F(Groups, NewGroupGoesFirstAndNamesMustBeFree) {
    dialog_.answers = {std::string("  New  "), std::string("BOB"), std::nullopt, std::string("")};
    commands_.cmdNewGroupExecute();
    EXPECT_EQ(tree_.TopLevel().front()->text, "  New  ");
    EXPECT_TRUE(modified_.Get());
    EXPECT_FALSE(dialog_.requests[0].choose);
    EXPECT_EQ(dialog_.requests[0].caption, "New Users Group");
    EXPECT_EQ(dialog_.requests[0].label, "Enter New Group Name :");

    modified_.Clear();
    commands_.cmdNewGroupExecute();  // a user's name is taken
    ASSERT_EQ(prompts_.shown.size(), 1u);
    EXPECT_EQ(prompts_.shown[0].text, "You may not use the exists name !");
    EXPECT_EQ(prompts_.shown[0].title, "New User Group");
    EXPECT_FALSE(modified_.Get());

    commands_.cmdNewGroupExecute();  // cancelled
    EXPECT_EQ(tree_.CountGroups(), 3);
    commands_.cmdNewGroupExecute();  // an empty name is refused
    EXPECT_EQ(tree_.CountGroups(), 3);
    EXPECT_EQ(prompts_.shown.back().text, kEmptyGroupName);
}

TEST_F(Groups, NamesThatWouldBreakTheSettingsAreRefused) {
    const std::vector<std::pair<std::string, const char*>> bad = {
        {"a=b", kBadGroupName},
        {"two\nlines", kBadGroupName},
        {"cr\r", kBadGroupName},
        {std::string("nul\0x", 5), kBadGroupName},
        {"", kEmptyGroupName},
        {"   ", kEmptyGroupName},
        {"my_group", kUnderscoreGroupName}};
    for (const auto& [name, message] : bad) {
        dialog_.answers = {name};
        commands_.cmdNewGroupExecute();
        ASSERT_FALSE(prompts_.shown.empty());
        EXPECT_EQ(prompts_.shown.back().text, message) << name;
    }
    EXPECT_EQ(tree_.CountGroups(), 2);
    EXPECT_FALSE(modified_.Get());
    EXPECT_EQ(prompts_.shown.size(), bad.size());
}

TEST_F(Groups, DeletingAGroupKeepsItsMembersInOrderAtTheEnd) {
    tree_.Select(staff_);
    prompts_.Queue(Answer::No);
    commands_.cmdDelGroupExecute();
    EXPECT_EQ(tree_.CountGroups(), 2);
    EXPECT_EQ(prompts_.shown[0].text, "Are you sure to delete the group \"Staff\" ?");
    EXPECT_EQ(prompts_.shown[0].title, "Delete Users Group");
    EXPECT_EQ(prompts_.shown[0].buttons, Buttons::YesNo);

    prompts_.Queue(Answer::Yes);
    commands_.cmdDelGroupExecute();
    EXPECT_EQ(Dump(tree_), "Guests\n  DEE\nEVE\nUnknown User\nANN\nBOB\nCID\n");
    EXPECT_TRUE(modified_.Get());
    EXPECT_EQ(tree_.SelectedNode(), nullptr);
}

TEST_F(Groups, AddingAUserFromAnotherGroupMovesIt) {
    tree_.Select(staff_);
    dialog_.answers = {std::string("DEE")};
    commands_.cmdMoveUserExecute({"ANN", "BOB", "CID", "DEE", "EVE", "NEWBIE"});
    const GroupDialogRequest& r = dialog_.requests[0];
    EXPECT_TRUE(r.choose);
    EXPECT_EQ(r.caption, "Add an user to the group \"Staff\"");
    EXPECT_EQ(r.label, "Select user :");
    EXPECT_EQ(r.items, (std::vector<std::string>{"DEE", "EVE", "NEWBIE", "Unknown User"}));
    EXPECT_EQ(r.text, "DEE");
    EXPECT_EQ(Dump(tree_), "Staff\n  ANN\n  BOB\n  CID\n  DEE\nGuests\nEVE\nUnknown User\n");
    EXPECT_EQ(tree_.SelectedNode(), staff_);
    EXPECT_TRUE(modified_.Get());

    // A profile without a node, or a typed name that is no offered entry, changes nothing.
    modified_.Clear();
    dialog_.answers = {std::string("NEWBIE"), std::string("Guests")};
    commands_.cmdMoveUserExecute({"NEWBIE"});
    commands_.cmdMoveUserExecute({"NEWBIE"});
    EXPECT_FALSE(modified_.Get());
    EXPECT_EQ(tree_.CountGroups(), 2);
}

TEST_F(Groups, MovingAUserBetweenGroupsKeepsItsKind) {
    tree_.Select(Node("Unknown User"));
    dialog_.answers = {std::string("Guests")};
    commands_.cmdMoveUserExecute({});
    EXPECT_EQ(dialog_.requests[0].caption, "Move user \"Unknown User\" to a group");
    EXPECT_EQ(dialog_.requests[0].label, "Select group :");
    EXPECT_EQ(dialog_.requests[0].items, (std::vector<std::string>{"Staff", "Guests"}));
    auto* moved = Node("Unknown User");
    ASSERT_NE(moved, nullptr);
    EXPECT_EQ(moved->parent, guests_);
    EXPECT_EQ(moved->kind, PrincipalKind::UnknownUser);

    // Its only other choice is Staff; with a single group and the user in it, the list is
    // empty.
    tree_.Delete(staff_);
    tree_.Select(Node("DEE"));
    dialog_.answers = {std::string("")};
    modified_.Clear();
    commands_.cmdMoveUserExecute({});
    EXPECT_TRUE(dialog_.requests.back().items.empty());
    EXPECT_FALSE(modified_.Get());
}

TEST_F(Groups, ATypedGroupThatIsNotOfferedIsSaidAndChangesNothing) {
    tree_.Select(Node("EVE"));
    dialog_.answers = {std::string("Nosuch")};
    commands_.cmdMoveUserExecute({});
    ASSERT_EQ(prompts_.shown.size(), 1u);
    EXPECT_EQ(prompts_.shown[0].text, std::string("\"Nosuch\"") + kNotAGroupText);
    EXPECT_EQ(prompts_.shown[0].title, "Move user \"EVE\" to a group");
    EXPECT_EQ(Node("EVE")->parent, nullptr);
    EXPECT_FALSE(modified_.Get());
}

TEST_F(Groups, RemovingAUserAsksAndAppendsItAtTheEnd) {
    tree_.Select(Node("BOB"));
    prompts_.Queue(Answer::Yes);
    commands_.cmdRemUserExecute();
    EXPECT_EQ(prompts_.shown[0].text,
              "Are you sure to remove the user \"BOB\" from the group \"Staff\" ?");
    EXPECT_EQ(prompts_.shown[0].title, "Remove User");
    EXPECT_EQ(Dump(tree_), "Staff\n  ANN\n  CID\nGuests\n  DEE\nEVE\nUnknown User\nBOB\n");
    EXPECT_EQ(tree_.SelectedNode()->text, "BOB");
}

TEST_F(Groups, EnabledStatesFollowTheSelection) {
    tree_.Select(nullptr);
    EXPECT_FALSE(commands_.CanDeleteGroup());
    EXPECT_FALSE(commands_.CanRemoveUser());
    EXPECT_FALSE(commands_.CanMoveUser());
    tree_.Select(staff_);
    EXPECT_TRUE(commands_.CanDeleteGroup());
    EXPECT_FALSE(commands_.CanRemoveUser());
    EXPECT_TRUE(commands_.CanMoveUser());
    tree_.Select(Node("ANN"));
    EXPECT_FALSE(commands_.CanDeleteGroup());
    EXPECT_TRUE(commands_.CanRemoveUser());
    tree_.Select(Node("EVE"));
    EXPECT_FALSE(commands_.CanRemoveUser());
    EXPECT_TRUE(commands_.CanMoveUser());
    tree_.Delete(staff_);
    tree_.Delete(guests_);
    EXPECT_FALSE(commands_.CanMoveUser());
}

}  // namespace
}  // namespace kv
