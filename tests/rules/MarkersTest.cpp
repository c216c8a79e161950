#include "StyleParam.h"

namespace kv::test {
namespace {

class MarkersTest : public StyledRulesTest {
protected:
    void SetUp() override {
        Add("A/B/C/D");
        Add("A/E");
        Add("F");
    }
};

TEST_P(MarkersTest, FolderUnderReadOnlyFolderInheritsWhileSubFoldersHolds) {
    f.store.WriteInteger(K("A"), 1);
    f.controller.UserGroupsChange();
    EXPECT_EQ(M(""), -1);
    EXPECT_EQ(M("A"), 1);
    EXPECT_EQ(M("A/B"), 1);
    EXPECT_EQ(M("A/B/C/D"), 1);
    EXPECT_EQ(M("F"), -1);

    f.store.WriteBool("SubFolders_1", false);
    f.controller.UserGroupsChange();
    EXPECT_EQ(M("A"), 1);
    EXPECT_EQ(M("A/B"), -1);
    EXPECT_EQ(M("A/E"), -1);
}

TEST_P(MarkersTest, OwnKindInsideReadOnlyFolderReachesEveryDepthBelowIt) {
    f.store.WriteInteger(K("A"), 1);
    f.store.WriteInteger(K("A/B"), 2);
    f.controller.UserGroupsChange();
    EXPECT_EQ(M("A"), 1);
    EXPECT_EQ(M("A/B"), 2);
    EXPECT_EQ(M("A/B/C"), 2);
    EXPECT_EQ(M("A/B/C/D"), 2);
    EXPECT_EQ(M("A/E"), 1);
}

TEST_P(MarkersTest, DriveRootMarkerIsItsOwnKind) {
    f.store.WriteInteger(K(""), 3);
    f.controller.UserGroupsChange();
    EXPECT_EQ(M(""), 3);
    EXPECT_EQ(M("A/B/C/D"), 3);
    EXPECT_EQ(M("F"), 3);
}

TEST_P(MarkersTest, CustomFolderPassesItsMarkerByTheKindDefaultNotItsOwnOption) {
    f.store.WriteInteger(K("A"), 3);
    f.store.WriteBool(K("A") + "_SubFolders", false);
    f.controller.UserGroupsChange();
    EXPECT_EQ(M("A/B"), 3);
    f.store.WriteBool("SubFolders_3", false);
    f.store.WriteBool(K("A") + "_SubFolders", true);
    f.controller.UserGroupsChange();
    EXPECT_EQ(M("A/B"), -1);
}

TEST_P(MarkersTest, PrincipalChangeRemarksEveryLoadedNode) {
    f.store.WriteInteger(K("A"), 1);
    f.store.WriteInteger("g_Staff_P_" + P("F"), 2);
    f.controller.UserGroupsChange();
    EXPECT_EQ(M("A/B/C"), 1);
    f.principals.Group("Staff");
    f.controller.UserGroupsChange();
    EXPECT_EQ(M("A"), -1);
    EXPECT_EQ(M("A/B/C"), -1);
    EXPECT_EQ(M("F"), 2);
    f.principals.selected.reset();
    f.controller.UserGroupsChange();
    EXPECT_EQ(M("F"), -1);
}

TEST_P(MarkersTest, ExpandingANodeMarksOnlyItsSubtreeFromItsCurrentMarker) {
    f.store.WriteInteger(K("A"), 1);
    f.tree.Find(P("A"))->marker = 2;  // as a command left it
    f.tree.Find(P("F"))->marker = 3;  // not below A: untouched
    f.controller.DriveView1Expanded(FakeTree::Ref(f.tree.Find(P("A"))));
    EXPECT_EQ(M("A/B"), 2);
    EXPECT_EQ(M("A/B/C/D"), 2);
    EXPECT_EQ(M("F"), 3);
}

TEST_P(MarkersTest, ListShowsSubfolderMarkersAndOnlyTheFilesOwnKinds) {
    f.store.WriteInteger(K("A"), 1);
    f.store.WriteInteger(K("A/x.txt"), 7);
    f.store.WriteInteger(K("A/y.txt"), 6);
    std::string status;
    f.controller.SetStatusText([&](const std::string& s) { status = s; });
    f.controller.UserGroupsChange();
    f.OpenInList(P("A"), {"x.txt", "y.txt", "z.txt"});
    ASSERT_EQ(f.list.Count(), 6);
    EXPECT_EQ(f.list.entries[0].caption, "..");
    EXPECT_EQ(f.list.entries[0].marker, -1);
    EXPECT_EQ(f.list.Marker(f.list.PositionOf("B")), 1);
    EXPECT_EQ(f.list.Marker(f.list.PositionOf("E")), 1);
    EXPECT_EQ(f.list.Marker(f.list.PositionOf("x.txt")), 3);
    EXPECT_EQ(f.list.Marker(f.list.PositionOf("y.txt")), 2);
    EXPECT_EQ(f.list.Marker(f.list.PositionOf("z.txt")), -1) << "no key of its own";
    EXPECT_EQ(status, P("A"));
}

TEST_P(MarkersTest, BelowTheRootThereIsNoParentEntryAndNoDoubledSeparator) {
    f.store.WriteInteger(K("F"), 2);
    f.store.WriteInteger(K("r.txt"), 5);
    f.OpenInList(P(""), {"r.txt"});
    ASSERT_EQ(f.list.Count(), 3);
    EXPECT_EQ(f.list.entries[0].caption, "A");
    EXPECT_EQ(f.list.Marker(1), 2);
    EXPECT_EQ(f.list.Marker(2), 1);
}

TEST_P(MarkersTest, FillingTheListExpandsTheSelectedFolderOnce) {
    f.tree.Find(P("A/B"))->marker = 2;  // as the last principal change left it
    f.tree.selected = f.tree.Find(P("A/B"));
    f.list.Fill({});
    EXPECT_EQ(f.tree.expandedEvents, 1);
    EXPECT_EQ(f.list.Marker(1), 2) << "child C inherits from B through the expanded event";
    f.list.Fill({});
    EXPECT_EQ(f.tree.expandedEvents, 1) << "already expanded: no second event";
}

TEST_P(MarkersTest, AFileKeyHoldingTextShowsNoMarker) {
    f.store.WriteString(K("A/odd"), "*");
    f.OpenInList(P("A"), {"odd"});
    EXPECT_EQ(f.list.Marker(f.list.PositionOf("odd")), -1);
}

KV_BOTH_STYLES(MarkersTest);

}  // namespace
}  // namespace kv::test

namespace kv::test {
namespace {

// The service's coverage answers, as the window asks them per folder.
class CoverageMarkersTest : public ::testing::Test {
protected:
    CoverageMarkersTest() : f(PathStyle::Posix(), "/") {
        for (const char* path : {"home/ann/docs", "srv/ro/sub", "srv/gone"})
            f.tree.AddPath(path);
        f.controller.Markers().SetCoverage([this](const std::string& folder) {
            asked.push_back(folder);
            return answer(folder);
        });
        f.controller.Markers().SetCoverageWarning([this](const std::string& w) { warning = w; });
    }
    std::string Note(const std::string& path) { return f.tree.Find(path)->note; }

    RulesFixture f;
    std::vector<std::string> asked;
    std::string warning;
    std::function<std::optional<std::string>(const std::string&)> answer =
        [](const std::string& folder) -> std::optional<std::string> {
        if (folder == "/home" || folder == "/srv/gone")
            return "not enforced: " + folder + " is shared";
        if (folder == "/")
            return std::string("open events (Open, Read)");
        if (folder.ends_with("_SubFolders"))
            return std::string("not enforced: folder does not exist");
        return "mount " + folder;
    };
};

TEST_F(CoverageMarkersTest, MarkedItemsThatNoEngineEnforcesCarryWhy) {
    f.store.WriteInteger("u_Bob_P_/home", 1);
    f.store.WriteInteger("u_Bob_P_/srv/ro", 2);
    f.store.WriteInteger("u_Bob_P_/srv/gone", 1);
    f.store.WriteInteger("u_Bob_P_/srv/ro/sub/f.txt", 5);
    f.store.WriteBool("u_Bob_P_/srv/ro_SubFolders", true);  // an option, no item
    f.controller.UserGroupsChange();
    EXPECT_EQ(Note("/home"), "not enforced: /home is shared");
    EXPECT_EQ(Note("/home/ann/docs"), "not enforced: /home is shared") << "inherited with it";
    EXPECT_EQ(Note("/srv/ro"), "") << "a mount enforces it";
    EXPECT_EQ(Note("/srv/ro/sub"), "");
    EXPECT_EQ(Note("/srv"), "") << "no marker, no note";
    EXPECT_EQ(warning,
              "2 protected items are not fully enforced (/home: not enforced: /home is "
              "shared)");
    EXPECT_EQ(std::count(asked.begin(), asked.end(), "/home"), 1) << "asked once per change";

    f.OpenInList("/srv/ro/sub", {"f.txt", "g.txt"});
    EXPECT_EQ(f.list.entries[f.list.PositionOf("f.txt")].note, "");
    f.OpenInList("/home/ann", {"x"});
    EXPECT_EQ(f.list.entries[f.list.PositionOf("docs")].note, "not enforced: /home is shared");
}

TEST_F(CoverageMarkersTest, TheRootIsOnlyPartlyEnforcedAndNoServiceEnforcesNothing) {
    f.store.WriteInteger("u_Bob_P_/", 3);
    f.controller.UserGroupsChange();
    EXPECT_EQ(Note("/srv/ro"), "only partly enforced: open events (Open, Read)");
    EXPECT_NE(warning, "");
    answer = [](const std::string&) { return std::nullopt; };
    f.controller.UserGroupsChange();
    EXPECT_EQ(Note("/"), "not enforced: no protection service answers");
    f.store.DeleteKey("u_Bob_P_/");
    f.controller.UserGroupsChange();
    EXPECT_EQ(Note("/srv/ro"), "");
    EXPECT_EQ(warning, "") << "nothing protected, nothing to warn about";
}

}  // namespace
}  // namespace kv::test
