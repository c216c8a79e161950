// Decisions per caller: the process it runs, its uid, and what it may do
// without any rule.
#include <sys/stat.h>

#include "tests/protection/ProtectionFixture.h"

namespace kv::protection_test {
namespace {

using CallerDecisions = ProtectionTest;

TEST_F(CallerDecisions, ProcessListsNameTheExecutableNotWhatTheProcessCallsItself) {
    const std::string only = Work("only-cat");
    const std::string except = Work("except-head");
    MakeFolder(only, {"f"});
    MakeFolder(except, {"f"});
    Load(kUser, {Rule(0x40, only + "/*", "cat"), Rule(0x40, except + "/*", "*", "head;kv")});

    EXPECT_TRUE(RunAs(kUser, "cat " + only + "/f").Denied());
    EXPECT_EQ(RunAs(kUser, "head " + only + "/f").exit, 0) << "the rule names cat only";
    EXPECT_TRUE(RunAs(kUser, "bash -c 'exec -a head cat " + only + "/f'").Denied())
        << "a process named otherwise by its starter is still cat";
    EXPECT_TRUE(RunAs(kUser,
                      "python3 -c \"import ctypes; ctypes.CDLL(None).prctl(15, b'cat'); "
                      "open('" +
                          except + "/f').read()\"")
                    .Denied())
        << "python renaming itself to an excluded name is still python";

    EXPECT_TRUE(RunAs(kUser, "cat " + except + "/f").Denied());
    EXPECT_EQ(RunAs(kUser, "head " + except + "/f").exit, 0) << "head is excluded";
}

TEST_F(CallerDecisions, AProgramRuleHoldsWhoeverTheServiceLastActedFor) {
    const std::string folder = Work("only-cat");
    MakeFolder(folder, {"f"});
    Load(kUser, {Rule(0x40, folder + "/*", "cat")});
    for (int round = 0; round < 4; ++round) {
        // Another user's requests leave the serving threads acting as that user.
        EXPECT_EQ(RunAs(kOther, "for i in 1 2 3 4 5 6 7 8; do cat " + folder + "/f; done").exit, 0);
        EXPECT_TRUE(RunAs(kUser, "cat " + folder + "/f").Denied()) << "round " << round;
    }
}

TEST_F(CallerDecisions, AHiddenItemStaysHiddenForItsUidAndVisibleForAnotherInTurn) {
    const std::string folder = Work("hidden");
    MakeFolder(folder, {"secret", "plain"});
    Load(kUser, {Rule(0x200, folder + "/secret")});
    for (int round = 0; round < 4; ++round) {
        const Outcome other = RunAs(kOther, "ls " + folder + " && cat " + folder + "/secret");
        EXPECT_EQ(other.exit, 0) << other.output;
        EXPECT_NE(other.output.find("secret"), std::string::npos);
        const Outcome mine = RunAs(kUser, "ls " + folder);
        EXPECT_EQ(mine.exit, 0);
        EXPECT_EQ(mine.output, "plain\n") << "left out of the listing, round " << round;
        EXPECT_TRUE(RunAs(kUser, "cat " + folder + "/secret").Absent()) << "round " << round;
        EXPECT_TRUE(RunAs(kUser, "touch " + folder + "/secret").Denied() ||
                    RunAs(kUser, "test -e " + folder + "/secret").exit != 0);
    }
}

TEST_F(CallerDecisions, OperationsRunWithTheCallersOwnRights) {
    const std::string folder = Work("rights");
    MakeFolder(folder, {});
    const std::string privateFile = folder + "/root-only";
    RunAs(0, "echo x > " + privateFile + " && chmod 600 " + privateFile);
    Load(kUser, {Rule(0x20, folder + "/keep")});  // a rule elsewhere in the folder

    EXPECT_TRUE(RunAs(kUser, "cat " + privateFile).Denied()) << "no read right, rule or not";
    ASSERT_EQ(RunAs(kUser, "echo mine > " + folder + "/made").exit, 0);
    struct stat st;
    ASSERT_EQ(::stat((folder + "/made").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kUser) << "a file made inside belongs to its maker";
    EXPECT_EQ(st.st_gid, kUser);
    EXPECT_TRUE(RunAs(kOther, "rm -f " + folder + "/sticky-test; chmod 600 " + folder + "/made")
                    .output.find("Operation not permitted") != std::string::npos)
        << "another uid may not change the maker's file";
}

TEST_F(CallerDecisions, AProgramNameMeansTheProgramUsersCallByIt) {
    const std::string folder = Work("names");
    const std::string exempt = Work("exempt");
    const std::string copies = Work("copies");
    MakeFolder(folder, {"f"});
    MakeFolder(exempt, {"f"});
    MakeFolder(copies, {});
    // A copy of cat that its owner named like the exempt program.
    ASSERT_EQ(
        RunAs(kUser, "cp /bin/cat " + copies + "/python3 && chmod 755 " + copies + "/python3").exit,
        0);
    Load(kUser,
         {Rule(0x40, folder + "/*", "python3"), Rule(0x40, exempt + "/*", "*", "python3;kv")});
    const std::string read = "python3 -c \"open('" + folder + "/f').read()\"";
    EXPECT_TRUE(RunAs(kUser, read).Denied()) << "python3 runs /usr/bin/python3.11";
    EXPECT_TRUE(RunAs(kUser, "/usr/bin/python3 -c \"open('" + folder + "/f').read()\"").Denied());
    EXPECT_EQ(RunAs(kUser, "cat " + folder + "/f").exit, 0) << "other programs read";
    EXPECT_EQ(RunAs(kUser, "python3 -c \"open('" + exempt + "/f').read()\"").exit, 0)
        << "the exempt program reads";
    EXPECT_TRUE(RunAs(kUser, copies + "/python3 " + exempt + "/f").Denied())
        << "a file merely named like the exempt program is not that program";
}

TEST_F(CallerDecisions, AFolderWithoutItsSubfoldersLeavesTheSubfolderItemsAlone) {
    // As compiled with SubFolders off: the window marks no subfolder.
    const std::string folder = Work("nosub");
    MakeFolder(folder, {"f"});
    MakeFolder(folder + "/sub", {"inner"});
    MakeFolder(folder + "/empty", {});
    Load(kUser, {Rule(0x1E7830 | 0x200, folder + "/*", "*", "kv", folder + "/*/*")});
    EXPECT_TRUE(RunAs(kUser, "rm " + folder + "/f").Absent()) << "files inside stay hidden";
    EXPECT_EQ(RunAs(kUser, "ls " + folder + " | grep -qx sub").exit, 0) << "subfolders are listed";
    const Outcome moved = RunAs(kUser, "mv " + folder + "/sub " + folder + "/sub2 && mv " + folder +
                                           "/sub2 " + folder + "/sub && rm " + folder +
                                           "/sub/inner && rmdir " + folder + "/empty");
    EXPECT_EQ(moved.exit, 0) << moved.output;
    EXPECT_NE(RunAs(kUser, "mkdir " + folder + "/new").exit, 0) << "the folder's own content";
}

TEST_F(CallerDecisions, MovingAFolderThatHoldsProtectedItemsIsRefused) {
    // The outer folder has a rule of its own, so the mount sits on it and
    // the protected folder is inside the mount.
    const std::string box = Work("box");
    const std::string outer = box + "/outer";
    MakeFolder(box, {});
    MakeFolder(outer, {});
    MakeFolder(outer + "/a", {});
    MakeFolder(outer + "/a/b", {"f"});
    Load(kUser, {Rule(0x4000, outer + "/*"), Rule(0x1E7830, outer + "/a/b/*")});
    ASSERT_EQ(MountsUnder(work_), std::vector<std::string>{outer}) << "nested folders share";
    EXPECT_TRUE(RunAs(kUser, "mv " + outer + "/a " + outer + "/x").Denied());
    const Outcome logged =
        RunAs(0, std::string(KVCTL_PATH) + " --device " + socket_ + " --uid 65534 log");
    EXPECT_NE(logged.output.find(outer + "/a"), std::string::npos)
        << "the refused move is logged like every refusal: " << logged.output;
    EXPECT_EQ(RunAs(kOther, "mv " + outer + "/a " + outer + "/x").exit, 0)
        << "the rule binds the uids whose entries protect the inner folder only";
    ASSERT_EQ(RunAs(0, "mv " + outer + "/x " + outer + "/a").exit, 0) << "nor root";
    EXPECT_TRUE(RunAs(kUser, "rm " + outer + "/a/b/f").Denied());

    // The mounted folder itself cannot be moved; a folder above it can, and
    // takes the mount along.
    EXPECT_NE(RunAs(kUser, "mv " + outer + " " + Work("elsewhere")).exit, 0);
    const std::string moved = Work("moved");
    ASSERT_EQ(RunAs(kUser, "mv " + box + " " + moved).exit, 0);
    EXPECT_TRUE(RunAs(kUser, "rm " + moved + "/outer/a/b/f").Denied()) << "still protected";
    EXPECT_TRUE(RunAs(kUser, "mkdir " + moved + "/outer/new").Denied());
    Load(kOther, {});  // the mounts follow a policy change, and keep this one
    EXPECT_TRUE(RunAs(kUser, "rm " + moved + "/outer/a/b/f").Denied()) << "after a policy change";
}

}  // namespace
}  // namespace kv::protection_test
