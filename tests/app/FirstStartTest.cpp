#include <QAction>
#include <QLabel>
#include <QTreeWidgetItem>

#include "tests/app/WindowFixture.h"
#include "ui/PrincipalTreeView.h"

namespace kv {
namespace {

class FirstStart : public test::WindowFixture {
protected:
    FirstStart() : store_(dir_.File("kv.dat"), true) {}
    TEncriptor store_;
};

TEST_F(FirstStart, TheFirstStepsOpenOnceTheWindowShowsSoTheyStandInFront) {
    auto w = Make(store_);
    EXPECT_EQ(RunStartup(*w, StartSwitch::None), StartupOutcome::ShowWindow);
    // Opened before the window, they would end up behind it.
    EXPECT_TRUE(helpTopics_.empty());
    w->show();
    QTest::qWait(20);
    EXPECT_EQ(helpTopics_, std::vector<std::string>{kFirstStepsTopic});
    w->hide();
    w->show();
    QTest::qWait(20);
    EXPECT_EQ(helpTopics_.size(), 1u);
}

TEST_F(FirstStart, StatusBarCaptionAndSelectionNameTheSameUser) {
    // Nothing saved yet: the logon "BOB" is not a known user.
    auto w = Make(store_);
    RunStartup(*w, StartSwitch::None);
    EXPECT_EQ(w->CurrentUserName(), "Unknown User");
    EXPECT_EQ(w->StatusPanel(2)->text(), "Unknown User");
    ASSERT_NE(w->UserGroups()->currentItem(), nullptr);
    EXPECT_EQ(w->UserGroups()->currentItem()->text(0), "Unknown User");
    EXPECT_EQ(w->windowTitle(), "Kestrava - Protection settings for the user \"Unknown User\"");
}

TEST_F(FirstStart, SaveIsOfferedUntilTheUsersAreKnown) {
    auto w = Make(store_);
    RunStartup(*w, StartSwitch::None);
    w->ActionList1Update();
    EXPECT_TRUE(w->Action("cmdSave")->isEnabled());
    w->Action("cmdSave")->trigger();
    w->ActionList1Update();
    EXPECT_FALSE(w->Action("cmdSave")->isEnabled());
    EXPECT_EQ(store_.ReadString("CurUsers_BOB", ""), "1");
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

TEST_F(FirstStart, F5ListsAccountsMadeSinceTheStart) {
    auto w = Make(store_);
    ShowActive(*w);
    ASSERT_EQ(w->UserGroups()->topLevelItemCount(), 3);  // ALICE, BOB, Unknown User
    registry_.SetProfiles({"ALICE", "BOB", "CAROL"});
    w->UserGroups()->setFocus();
    w->ActionList1Update();
    QTest::keyClick(w->UserGroups(), Qt::Key_F5);
    EXPECT_EQ(w->UserGroups()->topLevelItemCount(), 4);
    EXPECT_NE(w->Principals().FindNodeByText("CAROL"), nullptr);
    // The selection stays where it was.
    ASSERT_NE(w->UserGroups()->currentItem(), nullptr);
    EXPECT_EQ(w->UserGroups()->currentItem()->text(0), "Unknown User");
}

}  // namespace
}  // namespace kv
