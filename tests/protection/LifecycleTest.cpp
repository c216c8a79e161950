// The service's life: restarts, a crash, and a user's own logon start.
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "driver/Policy.h"
#include "settings/Encript.h"
#include "tests/protection/ProtectionFixture.h"

namespace kv::protection_test {
namespace {

using ServiceLife = ProtectionTest;

TEST_F(ServiceLife, ARestartedServiceEnforcesItsTablesAgain) {
    const std::string folder = Work("ro");
    MakeFolder(folder, {"f"});
    Load(kUser, {Rule(0x1E7830, folder + "/*")});
    EXPECT_TRUE(RunAs(kUser, "rm " + folder + "/f").Denied());
    StopService(SIGTERM);
    EXPECT_TRUE(WaitForNoMounts(0)) << "a stopped service takes its mounts down";
    ASSERT_TRUE(StartService());
    EXPECT_EQ(MountsUnder(work_), std::vector<std::string>{folder});
    const Outcome status = RunAs(0, std::string(KVCTL_PATH) + " --device " + socket_ + " --uid " +
                                        std::to_string(kUser) + " status");
    EXPECT_EQ(status.output,
              "uid: " + std::to_string(kUser) +
                  "\nentries: 1\nactive: yes\nprotection mounts: 1\n  " + folder +
                  "\nrefused since protection started: 0\nenforcement of the entries:\n  0 " +
                  folder + "/*: mount " + folder + driver::kNoCounterpartNote + "\n")
        << "the ReadOnly mask holds Change creation time, which has no counterpart here";
    EXPECT_TRUE(RunAs(kUser, "rm " + folder + "/f").Denied());
    EXPECT_TRUE(RunAs(kUser, "touch " + folder + "/g").Denied());
}

TEST_F(ServiceLife, AKilledServiceLetsNothingThroughAndItsSuccessorTakesOver) {
    const std::string ro = Work("ro");
    const std::string custom = Work("custom");
    MakeFolder(ro, {"f"});
    MakeFolder(custom, {"a.txt"});
    Load(kUser, {Rule(0x1E7830, ro + "/*"), Rule(0x80 | 0x800, custom + "/*")});
    ASSERT_EQ(MountsUnder(work_).size(), 2u);
    // A shell of another user keeps a file open in the folder.
    StopService(SIGKILL);
    const Outcome removed = RunAs(kUser, "rm -f " + ro + "/f");
    EXPECT_NE(removed.exit, 0) << "while no service answers, nothing passes";
    const Outcome written = RunAs(
        kUser, "echo x >> " + custom + "/a.txt; echo y > " + custom + "/new.txt; ls " + custom);
    EXPECT_NE(written.exit, 0) << written.output;
    EXPECT_EQ(RunAs(0, "cat " + ro + "/f").output.find("content"), std::string::npos)
        << "nor for root";
    struct stat st;
    EXPECT_EQ(::stat((custom + "/new.txt").c_str(), &st), -1);

    ASSERT_TRUE(StartService());
    EXPECT_EQ(MountsUnder(work_), (std::vector<std::string>{custom, ro}))
        << "one mount per folder: the dead ones were detached from beneath";
    EXPECT_TRUE(RunAs(kUser, "rm " + ro + "/f").Denied());
    EXPECT_EQ(RunAs(kUser, "cat " + ro + "/f").output, "content of f\n");
    EXPECT_EQ(RunAs(kUser, "cat " + custom + "/a.txt").output, "content of a.txt\n");
    EXPECT_TRUE(RunAs(kUser, "echo x >> " + custom + "/a.txt").Denied());
}

TEST_F(ServiceLife, AMovedFolderStaysProtectedAndStatusSaysWhereItIs) {
    const std::string parent = Work("home");
    MakeFolder(parent, {});
    const std::string folder = parent + "/work";
    MakeFolder(folder, {"f"});
    Load(kUser, {Rule(0x1E7830, folder + "/*")});
    ASSERT_EQ(RunAs(0, "mv " + parent + " " + Work("home.moved") + " && mkdir -p " + folder).exit,
              0);
    const std::string moved = Work("home.moved/work");
    EXPECT_TRUE(RunAs(kUser, "rm " + moved + "/f").Denied());
    const std::string status = RunAs(0, std::string(KVCTL_PATH) + " --device " + socket_ +
                                            " --uid " + std::to_string(kUser) + " status")
                                   .output;
    EXPECT_NE(status.find("  " + folder + " (now at " + moved + ")\n"), std::string::npos)
        << status;
    // Killed and started again: the moved folder is protected where it is.
    StopService(SIGKILL);
    ASSERT_TRUE(StartService());
    EXPECT_TRUE(RunAs(kUser, "rm " + moved + "/f").Denied());
    EXPECT_EQ(RunAs(kUser, "cat " + moved + "/f").output, "content of f\n");
    // Stopped and started cleanly: there too, and the new folder at the path as well.
    StopService(SIGTERM);
    EXPECT_TRUE(WaitForNoMounts(0));
    ASSERT_TRUE(StartService());
    EXPECT_TRUE(RunAs(kUser, "rm " + moved + "/f").Denied());
    EXPECT_TRUE(RunAs(kUser, "touch " + folder + "/g").Denied());
    EXPECT_EQ(MountsUnder(work_).size(), 2u);
}

TEST_F(ServiceLife, StoppingOneUsersProtectionBreaksNoOtherUsersOpenFile) {
    const std::string folder = Work("shared");
    MakeFolder(folder, {"log"});
    Load(kUser, {Rule(0x1E7830, folder + "/*")});
    // Another user appends to a file held open, from a shell whose working
    // folder is the protected one, while the protection is stopped and started.
    auto writer = std::async(std::launch::async, [&] {
        return RunAs(kOther, "cd " + folder +
                                 " && exec 3>>log && for i in $(seq 30); do echo $i >&3 || exit 1; "
                                 "sleep 0.05; done && ls >/dev/null && echo done");
    });
    for (int round = 0; round < 3; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        ASSERT_TRUE(Send(kUser, driver::code::kDeactivate));
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        ASSERT_TRUE(Send(kUser, driver::code::kActivate));
    }
    const Outcome written = writer.get();
    EXPECT_EQ(written.exit, 0) << written.output;
    EXPECT_EQ(written.output, "done\n");
    std::ifstream log(folder + "/log");
    std::string line;
    int lines = 0;
    while (std::getline(log, line))
        ++lines;
    EXPECT_EQ(lines, 31);
}

#ifdef KV_PATH
TEST_F(ServiceLife, AUsersLogonStartProtectsThatUsersOwnOperations) {
    // The program in a folder of its own, with settings that protect folders
    // for an account the program does not know ("Unknown User").
    const std::string program = dir_.File("program");
    ASSERT_EQ(::mkdir(program.c_str(), 0755), 0);
    std::filesystem::copy_file(KV_PATH, program + "/kv");
    const std::string ro = Work("ro");
    const std::string full = Work("full");
    const std::string custom = Work("custom");
    MakeFolder(ro, {"f"});
    MakeFolder(full, {"f"});
    MakeFolder(custom, {"a.txt", "b.log"});
    const std::string hide = Work("hide");
    MakeFolder(hide, {"hidden-plan", "visible"});
    {
        TEncriptor settings(program + "/kv.dat", true);
        settings.WriteInteger("u_Unknown User_P_" + ro, 1);
        settings.WriteInteger("u_Unknown User_P_" + full, 2);
        settings.WriteInteger("u_Unknown User_P_" + custom, 3);
        settings.WriteInteger("u_Unknown User_P_" + custom + "_dwOperation", 0x20 | 0x80);
        settings.WriteString("u_Unknown User_P_" + custom + "_Processes", "rm;sh;dash;bash");
        settings.WriteString("u_Unknown User_P_" + custom + "_ExcludeFiles", "b.log");
        settings.WriteInteger("u_Unknown User_P_" + hide, 3);
        settings.WriteInteger("u_Unknown User_P_" + hide + "_dwOperation", 0x200);
        settings.WriteString("u_Unknown User_P_" + hide + "_IncludeFiles", "hidden*");
        ASSERT_TRUE(settings.Flush(true));
    }
    ASSERT_EQ(::chmod((program + "/kv.dat").c_str(), 0644), 0);
    const std::string runtime = dir_.File("run");
    ASSERT_EQ(::mkdir(runtime.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(runtime.c_str(), 0777), 0);

    const Outcome start =
        RunAs(kUser, program + "/kv /S",
              {"KESTRAVA_DEVICE=" + socket_, "KESTRAVA_RUNTIME=" + runtime,
               "KESTRAVA_NONINTERACTIVE=1", "QT_QPA_PLATFORM=offscreen", "HOME=" + runtime});
    ASSERT_EQ(start.exit, 0) << start.output;

    EXPECT_TRUE(RunAs(kUser, "rm " + ro + "/f").Denied());
    EXPECT_EQ(RunAs(kUser, "cat " + ro + "/f").exit, 0) << "ReadOnly lets the user read";
    EXPECT_TRUE(RunAs(kUser, "cat " + full + "/f").Denied());
    EXPECT_TRUE(RunAs(kUser, "rm " + custom + "/a.txt").Denied());
    EXPECT_EQ(RunAs(kUser, "cp " + custom + "/a.txt " + custom + "/c.txt").exit, 0)
        << "cp is not among the rule's processes";
    EXPECT_EQ(RunAs(kUser, "rm " + custom + "/b.log").exit, 0) << "b.log is excluded by name";
    EXPECT_EQ(RunAs(kUser, "ls " + hide).output, "visible\n") << "Hide leaves it out";
    EXPECT_TRUE(RunAs(kUser, "cat " + hide + "/hidden-plan").Absent());
    EXPECT_EQ(RunAs(kOther, "ls " + hide).output, "hidden-plan\nvisible\n");
    EXPECT_EQ(RunAs(kOther, "rm " + ro + "/f && cat " + full + "/f").exit, 0)
        << "another user is untouched";
}
#endif

}  // namespace
}  // namespace kv::protection_test
