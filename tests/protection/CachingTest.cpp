// What the kernel keeps of a protection mount's names and attributes never
// lets one caller's answer serve another.
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "tests/protection/ProtectionFixture.h"

namespace kv::protection_test {
namespace {

constexpr std::uint32_t kHide = 0x200;
constexpr std::uint32_t kFull = 0x400;
constexpr std::uint32_t kAttrGet = 0x100;
constexpr std::uint32_t kTimeGetM = 0x10000;

using Caching = ProtectionTest;

TEST_F(Caching, TwoUsersInOneFolderNeverSeeEachOthersAnswers) {
    const std::string folder = Work("shared");
    MakeFolder(folder, {"hidden", "full", "attrs", "times", "plain"});
    Load(kUser, {Rule(kHide, folder + "/hidden"), Rule(kFull, folder + "/full"),
                 Rule(kAttrGet, folder + "/attrs"), Rule(kTimeGetM, folder + "/times"),
                 Rule(0x20, folder + "/plain")});
    const std::string stat = "stat --cached=always -c '%n %s %Y' ";
    for (int round = 0; round < 3; ++round) {
        // The other user looks first, so that whatever the kernel keeps is theirs.
        const Outcome other =
            RunAs(kOther, "cd " + folder + " && ls && " + stat +
                              "hidden full attrs times plain && ls -l >/dev/null");
        EXPECT_EQ(other.exit, 0) << other.output;
        EXPECT_NE(other.output.find("hidden\n"), std::string::npos) << other.output;
        EXPECT_TRUE(RunAs(kUser, stat + folder + "/hidden").Absent());
        EXPECT_EQ(RunAs(kUser, "ls " + folder + " | grep -c hidden").output, "0\n");
        EXPECT_TRUE(RunAs(kUser, stat + folder + "/full").Denied());
        EXPECT_TRUE(RunAs(kUser, "stat " + folder + "/attrs").Denied());
        EXPECT_EQ(RunAs(kUser, "stat -c %Y " + folder + "/times").output, "0\n");
        EXPECT_EQ(RunAs(kUser, "cat " + folder + "/plain").output, "content of plain\n");
        // And the protected user first, then the other again.
        RunAs(kUser, "ls -l " + folder + "; " + stat + folder + "/*");
        const Outcome again = RunAs(kOther, stat + folder + "/hidden " + folder + "/times");
        EXPECT_EQ(again.exit, 0) << again.output;
        EXPECT_EQ(again.output.find(" 0\n"), std::string::npos) << again.output;
    }
}

TEST_F(Caching, ARuleThatMakesAKeptItemCallerDependentHoldsForTheNextOperation) {
    const std::string folder = Work("shared");
    MakeFolder(folder, {"f", "g"});
    Load(kUser, {Rule(0x20, folder + "/g")});
    ASSERT_EQ(RunAs(kUser, "stat --cached=always " + folder + "/f").exit, 0);
    ASSERT_EQ(RunAs(kOther, "stat --cached=always " + folder + "/f").exit, 0);
    Load(kUser, {Rule(0x20, folder + "/g"), Rule(kHide, folder + "/f")});
    EXPECT_TRUE(RunAs(kUser, "stat --cached=always " + folder + "/f").Absent());
    EXPECT_EQ(RunAs(kOther, "stat --cached=always " + folder + "/f").exit, 0);
    Load(kUser, {Rule(0x20, folder + "/g")});
    EXPECT_EQ(RunAs(kUser, "stat --cached=always " + folder + "/f").exit, 0)
        << "and visible again once the rule goes";
}

TEST_F(Caching, TheCallersOwnRightsOnFoldersStillDecide) {
    const std::string folder = Work("shared");
    MakeFolder(folder, {});
    Load(kUser, {Rule(0x20, folder + "/never")});
    // A folder only its owner may search.
    ASSERT_EQ(RunAs(kOther, "mkdir -m 700 " + folder + "/own && echo x > " + folder +
                                "/own/f && stat " + folder + "/own/f >/dev/null")
                  .exit,
              0);
    EXPECT_TRUE(RunAs(kUser, "stat " + folder + "/own/f").Denied());
    // A folder open to all, closed by its owner after its names were kept.
    ASSERT_EQ(RunAs(kOther, "mkdir -m 755 " + folder + "/open && echo x > " + folder +
                                "/open/f && stat " + folder + "/open/f >/dev/null")
                  .exit,
              0);
    ASSERT_EQ(RunAs(kUser, "cat " + folder + "/open/f").output, "x\n");
    ASSERT_EQ(RunAs(kOther, "chmod 700 " + folder + "/open").exit, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(RunAs(kUser, "cat " + folder + "/open/f").Denied());
    // An ACL that refuses one user.
    ASSERT_EQ(RunAs(kOther, "mkdir -m 777 " + folder + "/acl && echo x > " + folder +
                                "/acl/f && setfacl -m u:" + std::to_string(kUser) + ":--- " +
                                folder + "/acl && cat " + folder + "/acl/f")
                  .output,
              "x\n");
    EXPECT_TRUE(RunAs(kUser, "cat " + folder + "/acl/f").Denied());
}

TEST_F(Caching, AFileReadThroughTheMountShowsItsContentOfNowHoweverItChanged) {
    const std::string folder = Work("shared");
    const std::string outside = Work("outside");
    MakeFolder(folder, {"f"});
    MakeFolder(outside, {});
    // Another name outside the mount: a route to the file that bypasses it.
    ASSERT_EQ(::link((folder + "/f").c_str(), (outside + "/f").c_str()), 0);
    auto overwriteOutside = [&](const std::string& text) {
        std::fstream file(outside + "/f", std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(0);
        file << text;
    };
    Load(kUser, {Rule(0x20, folder + "/never")});
    const std::string cat = "cat " + folder + "/f";
    ASSERT_EQ(RunAs(kUser, cat).output, "content of f\n");
    ASSERT_EQ(RunAs(kOther, cat).output, "content of f\n");
    // The same size, changed in place: only the times tell.
    overwriteOutside("CONTENT");
    EXPECT_EQ(RunAs(kUser, cat).output, "CONTENT of f\n");
    // Written through the mount by one user, read by the other; then changed
    // outside once more, between the mount's own writes.
    ASSERT_EQ(RunAs(kOther, "echo more >> " + folder + "/f").exit, 0);
    EXPECT_EQ(RunAs(kUser, cat).output, "CONTENT of f\nmore\n");
    overwriteOutside("cOnTeNt");
    ASSERT_EQ(RunAs(kOther, "echo last >> " + folder + "/f").exit, 0);
    EXPECT_EQ(RunAs(kUser, cat).output, "cOnTeNt of f\nmore\nlast\n");
    EXPECT_EQ(RunAs(kOther, cat).output, "cOnTeNt of f\nmore\nlast\n");
    // Cut short through the mount, then read.
    ASSERT_EQ(RunAs(kOther, "truncate -s 7 " + folder + "/f").exit, 0);
    EXPECT_EQ(RunAs(kUser, cat).output, "cOnTeNt");
}

}  // namespace
}  // namespace kv::protection_test
