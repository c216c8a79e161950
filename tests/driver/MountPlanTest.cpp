// Which folders get a protection mount, and reading the kernel's mount list.
#include <gtest/gtest.h>

#include "driver/EntryTable.h"
#include "driver/Policy.h"
#include "driver/mounts/MountInfo.h"
#include "driver/mounts/MountSet.h"

namespace kv::driver::mounts {
namespace {

NotMounted AllExist(const std::string&) {
    return NotMounted::kMounted;
}

TEST(MountPlanTest, NestedFoldersShareTheOuterMountAndSystemFoldersGetNone) {
    const MountPlan plan = PlanMounts(
        {"/srv/data/a/b", "/srv/data", "/srv/data2", "/srv/data", "/", "/usr/share/x", "/etc",
         "/var", "/var/www", "/home", "/home/ann", "/proc/1", "relative", "/bad\nname"},
        {}, AllExist);
    EXPECT_EQ(plan.folders,
              (std::vector<std::string>{"/home/ann", "/srv/data", "/srv/data2", "/var/www"}))
        << "a folder whose name merely begins like another's gets its own mount";
    EXPECT_EQ(plan.skipped.at("/srv/data/a/b"), NotMounted::kInside);
    for (const char* system : {"/", "/usr/share/x", "/etc", "/var", "/home", "/proc/1"})
        EXPECT_EQ(plan.skipped.at(system), NotMounted::kSystemFolder) << system;
    EXPECT_EQ(plan.skipped.at("relative"), NotMounted::kNotCanonical);
    EXPECT_EQ(plan.skipped.at("/bad\nname"), NotMounted::kNotCanonical);
}

TEST(MountPlanTest, TheServicesOwnFoldersAndEveryFolderAboveThemAreLeftAlone) {
    const MountPlan plan = PlanMounts({"/opt/kestrava", "/work/tree", "/work/tree/build/driver",
                                       "/work/tree/src", "/work/treeish"},
                                      {"/work/tree/build/driver"}, [](const std::string& folder) {
                                          return folder == "/work/tree/src" ? NotMounted::kMissing
                                                                            : NotMounted::kMounted;
                                      });
    EXPECT_EQ(plan.folders, (std::vector<std::string>{"/opt/kestrava", "/work/treeish"}));
    EXPECT_EQ(plan.skipped.at("/work/tree"), NotMounted::kReserved);
    EXPECT_EQ(plan.skipped.at("/work/tree/build/driver"), NotMounted::kReserved);
    EXPECT_EQ(plan.skipped.at("/work/tree/src"), NotMounted::kMissing);
}

TEST(MountPlanTest, EntriesNameTheFolderOfTheirLiteralPart) {
    EXPECT_EQ(EntryFolder("/srv/ro/*"), "/srv/ro");
    EXPECT_EQ(EntryFolder("/srv/ro/f.txt"), "/srv/ro");
    EXPECT_EQ(EntryFolder("/srv/ro/a*/b"), "/srv/ro");
    EXPECT_EQ(EntryFolder("/*"), "/");
    EXPECT_EQ(EntryFolder("*kv.dat"), "");
    EXPECT_EQ(EntryFolder("C:\\Work\\*"), "") << "no folder of this system";
}

TEST(MountPlanTest, MovingAFolderIsRefusedWhenItHoldsAFolderOfTheCallersEntries) {
    UserRules rules;
    rules.folders = {{"/srv/a/b", 4}, {"/srv/a/b", 7}, {"/srv/c", 2}};
    EXPECT_EQ(rules.ProtectedBelow("/srv/a"), 4u) << "the first entry naming a folder below";
    EXPECT_EQ(rules.ProtectedBelow("/srv/a/b"), 4u);
    EXPECT_EQ(rules.ProtectedBelow("/srv"), 2u);
    EXPECT_EQ(rules.ProtectedBelow("/"), 2u);
    EXPECT_EQ(rules.ProtectedBelow("/srv/a/bb"), kAllowed) << "a name that merely begins alike";
    EXPECT_EQ(rules.ProtectedBelow("/srv/a/b/c"), kAllowed)
        << "inside the folder: its own bits decide";
    EXPECT_EQ(rules.ProtectedBelow("/sr"), kAllowed);
    EXPECT_EQ(UserRules().ProtectedBelow("/"), kAllowed);
}

TEST(MountPlanTest, EntriesThatForbidNothingNameNoFolderAndHoldNothing) {
    TableSet tables("");
    std::string error;
    EntryTable& table = tables.Of(1000);
    ASSERT_TRUE(table.Add({0, "/srv/zero/*", "ExcludeFiles", "*", "kv"}, &error));
    ASSERT_TRUE(table.Add({0x10, "/srv/ro/*", "ExcludeFiles", "*", "kv"}, &error));
    table.SetActive(true);
    const auto policy = BuildPolicy(tables, 1);
    EXPECT_EQ(policy->Folders(), std::vector<std::string>{"/srv/ro"}) << "no mount for mask 0";
    EXPECT_EQ(policy->For(1000)->ProtectedBelow("/srv/zero"), kAllowed);
    EXPECT_EQ(policy->For(1000)->ProtectedBelow("/srv"), 1u);
}

TEST(MountInfoTest, LinesAreReadWithTheirEscapesAndOptionalFields) {
    const std::string text =
        "22 1 0:21 / /proc rw,nosuid shared:5 - proc proc rw\n"
        "45 27 0:40 / /tmp/a\\040b rw,relatime shared:1 master:2 - fuse.kestrava kestrava rw\n"
        "garbage line\n"
        "46 27 0:41 / /tmp/a\\040b rw - fuse.kestrava kestrava rw\n";
    const std::vector<MountLine> mounts = ParseMountInfo(text);
    ASSERT_EQ(mounts.size(), 3u);
    EXPECT_EQ(mounts[1].mountPoint, "/tmp/a b");
    EXPECT_EQ(mounts[1].fsType, "fuse.kestrava");
    EXPECT_EQ(mounts[1].device, "0:40");
    EXPECT_EQ(TopMountAt(mounts, "/tmp/a b")->device, "0:41") << "the last one is on top";
    EXPECT_EQ(FindMount(mounts, "0:40")->mountPoint, "/tmp/a b");
    EXPECT_EQ(FindMount(mounts, "0:21"), nullptr) << "only protection mounts are ours";

    // A mount put beneath another is listed after the one it lies under.
    const std::vector<MountLine> beneath = ParseMountInfo(
        "47 48 0:50 / /srv/c rw - fuse.kestrava kestrava rw\n"
        "48 27 0:51 / /srv/c rw - fuse.kestrava kestrava rw\n");
    EXPECT_EQ(TopMountAt(beneath, "/srv/c")->device, "0:50");
}

}  // namespace
}  // namespace kv::driver::mounts
