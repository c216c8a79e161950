#include "ViewsFixture.h"

namespace kv::test {
namespace {

using Keys = std::map<std::string, std::string>;

Keys EntriesOf(const TEncriptor& store, const std::string& prefix) {
    Keys result;
    for (int i = 0; i < store.EntryCount(); ++i) {
        const std::string name = store.EntryName(i);
        if (name.compare(0, prefix.size(), prefix) == 0)
            result[name] = store.ReadString(name, "");
    }
    return result;
}

class ProtectionScenarioTest : public ViewsFixture {
protected:
    void SetUp() override {
        Make({"Docs/Letters/", "Docs/Photos/Summer/", "Docs/Work/", "Music/", "Docs/a.txt",
              "Docs/b.txt", "Docs/Photos/p.jpg", "top.txt"});
        Start();
        controller->UserGroupsChange();
    }
    Keys Keys_() const { return EntriesOf(store, "u_Bob_P_"); }

    /// Every loaded node shows `expected` (by path below the root), all others none.
    void ExpectTreeMarkers(const std::map<std::string, int>& expected) {
        for (const auto& [path, marker] : LoadedMarkers()) {
            int want = -1;
            for (const auto& [relative, m] : expected)
                if (P(relative) == path)
                    want = m;
            EXPECT_EQ(marker, want) << path;
        }
    }
};

TEST_F(ProtectionScenarioTest, ScriptedSequenceGivesTheKeysAndMarkersOfTheRules) {
    // 1. ReadOnly on Docs from the tree.
    FocusTree("Docs");
    ASSERT_TRUE(controller->ProtectionActionsEnabled());
    controller->cmdReadOnlyExecute(1);
    EXPECT_EQ(Keys_(), (Keys{{K("Docs"), "1"}}));
    // The list shows Docs: parent entry, subfolders in tree order, files.
    ASSERT_EQ(dirView->Count(), 6);
    EXPECT_EQ(dirView->Caption(0), "..");
    EXPECT_EQ(dirView->Caption(1), "Letters");
    EXPECT_EQ(dirView->Caption(4), "a.txt");
    EXPECT_EQ(ListMarker("Letters"), 1);
    EXPECT_EQ(ListMarker("Photos"), 1);
    EXPECT_EQ(ListMarker("a.txt"), -1);

    // Load Photos' subfolders, then give Photos Full protection from the list.
    Item(P("Docs/Photos"))->setExpanded(true);
    EXPECT_EQ(TreeMarker("Docs/Photos/Summer"), 1);
    FocusTree("Docs");
    FocusList({"Photos"});
    controller->cmdReadOnlyExecute(2);
    EXPECT_EQ(Keys_(),
              (Keys{{K("Docs/Letters"), "1"}, {K("Docs/Photos"), "2"}, {K("Docs/Work"), "1"}}));
    ExpectTreeMarkers(
        {{"Docs/Letters", 1}, {"Docs/Photos", 2}, {"Docs/Photos/Summer", 2}, {"Docs/Work", 1}});
    EXPECT_EQ(ListMarker("Photos"), 2);

    // 3. Custom on a.txt, confirmed with options of its own.
    dialog.Queue([&](const OptionsDialogState& s, OptionsFields* r) {
        EXPECT_EQ(s.mode, 7);
        EXPECT_EQ(s.caption, "Custom Protection Options for \"" + P("Docs/a.txt") + "\"");
        r->proc = "edit";
        r->mask = 0x40 | 0x80;
        return true;
    });
    FocusList({"a.txt"});
    controller->cmdReadOnlyExecute(3);
    // 4. Custom on b.txt, cancelled: it is reset at once.
    dialog.QueueCancel();
    FocusList({"b.txt"});
    controller->cmdReadOnlyExecute(3);
    EXPECT_EQ(dialog.shown.size(), 2u);
    EXPECT_EQ(ListMarker("a.txt"), 3);
    EXPECT_EQ(ListMarker("b.txt"), -1);

    // 5. Reset of Work, a sibling of Photos, from the tree.
    FocusTree("Docs/Work");
    controller->cmdReadOnlyExecute(-1);

    const Keys expected{{K("Docs/Letters"), "1"},
                        {K("Docs/Photos"), "2"},
                        {K("Docs/a.txt"), "7"},
                        {K("Docs/a.txt") + "_Processes", "edit"},
                        {K("Docs/a.txt") + "_ExcludeProc", ""},
                        {K("Docs/a.txt") + "_dwOperation", "192"}};
    EXPECT_EQ(Keys_(), expected);
    const std::map<std::string, int> markers{
        {"Docs/Letters", 1}, {"Docs/Photos", 2}, {"Docs/Photos/Summer", 2}};
    ExpectTreeMarkers(markers);
    EXPECT_TRUE(modified.Get());

    // Back in Docs, the refilled list shows the same protection.
    FocusTree("Docs");
    EXPECT_EQ(ListMarker(".."), -1);
    EXPECT_EQ(ListMarker("Letters"), 1);
    EXPECT_EQ(ListMarker("Photos"), 2);
    EXPECT_EQ(ListMarker("Work"), -1);
    EXPECT_EQ(ListMarker("a.txt"), 3);
    EXPECT_EQ(ListMarker("b.txt"), -1);

    // Markers computed afresh from the keys agree with what the commands set.
    controller->UserGroupsChange();
    ExpectTreeMarkers(markers);
    EXPECT_EQ(ListMarker("a.txt"), 3);
    EXPECT_EQ(Keys_(), expected);
}

TEST_F(ProtectionScenarioTest, FileInAFullFolderGetsTheMessageAndNoKey) {
    FocusTree("Music");
    controller->cmdReadOnlyExecute(2);
    Make({"Music/song.ogg"});
    dirView->Refill();
    FocusList({"song.ogg"});
    controller->cmdReadOnlyExecute(1);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(prompts.shown[0].text, "The parent folder must have ReadOnly or Custom Protection !");
    EXPECT_EQ(Keys_(), (Keys{{K("Music"), "2"}}));
    EXPECT_EQ(ListMarker("song.ogg"), -1);
}

TEST_F(ProtectionScenarioTest, AnotherPrincipalShowsItsOwnMarkersAtOnce) {
    store.WriteInteger("g_Staff_P_" + P("Docs/Work"), 3);
    FocusTree("Docs");
    controller->cmdReadOnlyExecute(1);
    principals.Group("Staff");
    controller->UserGroupsChange();
    ExpectTreeMarkers({{"Docs/Work", 3}});
    EXPECT_EQ(ListMarker("Work"), 3);
    EXPECT_EQ(ListMarker("Letters"), -1);
}

TEST_F(ProtectionScenarioTest, ProtectionActionsFollowTheFocusedViewsSelection) {
    FocusTree("Docs");
    EXPECT_TRUE(controller->ProtectionActionsEnabled());
    dirView->SelectPositions({});
    dirView->FocusList();
    EXPECT_FALSE(controller->ProtectionActionsEnabled());
    FocusList({"a.txt"});
    EXPECT_TRUE(controller->ProtectionActionsEnabled());
}

}  // namespace
}  // namespace kv::test
