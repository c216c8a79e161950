// Open events: what no protection mount can reach (the program's own files,
// patterns that begin with "*", the root) is refused at open time, by a
// responder that answers even while the service is stopped.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "settings/Encript.h"
#include "tests/protection/ProtectionFixture.h"

namespace kv::protection_test {
namespace {

constexpr std::uint32_t kRead = 0x40;
constexpr std::uint32_t kFull = 0x400;

bool Refused(const Outcome& outcome) {
    return outcome.exit != 0 && outcome.output.find("Operation not permitted") != std::string::npos;
}

class OpenEventsTest : public ProtectionTest {
protected:
    Outcome Kvctl(uid_t uid, const std::string& arguments) {
        return RunAs(uid, std::string(KVCTL_PATH) + " --device " + socket_ + " " + arguments);
    }
};

#ifdef KV_PATH
TEST_F(OpenEventsTest, TheSettingsAreRefusedToEveryProgramOfTheUserWhileTheProgramWorks) {
    // A build tree's program folder: settings readable by everyone.
    const std::string program = dir_.File("program");
    ASSERT_EQ(::mkdir(program.c_str(), 0755), 0);
    std::filesystem::copy_file(KV_PATH, program + "/kv");
    const std::string settings = program + "/kv.dat";
    {
        TEncriptor store(settings, true);
        store.WriteInteger("u_Unknown User_P_" + Work("ro"), 1);
        ASSERT_TRUE(store.Flush(true));
    }
    ASSERT_EQ(::chmod(settings.c_str(), 0644), 0);
    MakeFolder(Work("ro"), {"f"});
    StopService(SIGTERM);
    std::ofstream(dir_.File("passwd")).flush();  // no login account of this machine is touched
    serviceArgs_ = {"--settings",    settings,   "--program",
                    program + "/kv", "--passwd", dir_.File("passwd")};
    ASSERT_TRUE(StartService());
    const std::string runtime = dir_.File("run");
    ASSERT_EQ(::mkdir(runtime.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(runtime.c_str(), 0777), 0);
    const std::vector<std::string> env = {
        "KESTRAVA_DEVICE=" + socket_, "KESTRAVA_RUNTIME=" + runtime, "KESTRAVA_NONINTERACTIVE=1",
        "QT_QPA_PLATFORM=offscreen", "HOME=" + runtime};
    ASSERT_EQ(RunAs(kUser, program + "/kv /S", env).exit, 0);

    EXPECT_TRUE(Refused(RunAs(kUser, "cat " + settings)));
    EXPECT_TRUE(Refused(RunAs(kUser, "python3 -c 'open(\"" + settings + "\").read()'")));
    const std::string copy = dir_.File("copy");
    ASSERT_EQ(::mkdir(copy.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(copy.c_str(), 0777), 0);
    ASSERT_EQ(RunAs(kUser, "cp /bin/cat " + copy + "/kv").exit, 0);
    EXPECT_TRUE(Refused(RunAs(kUser, copy + "/kv " + settings))) << "named kv, but not the program";
    EXPECT_EQ(RunAs(kOther, "cat " + settings + " >/dev/null").exit, 0) << "another user";

    // The user's own run of the program is no exception (code could be put
    // into it); it still starts protection, the service reading the settings.
    ASSERT_EQ(RunAs(kUser, program + "/kv /S", env).exit, 0);
    const Outcome log = Kvctl(0, "log --json");
    EXPECT_NE(log.output.find("\"process\":\"" + copy + "/kv\""), std::string::npos) << log.output;
    EXPECT_NE(log.output.find("/cat\",\"operation\":\"Open|Read\",\"path\":\"" + settings),
              std::string::npos)
        << log.output;
    EXPECT_NE(Kvctl(kUser, "status").output.find("*kv.dat: open events"), std::string::npos);
    EXPECT_TRUE(RunAs(kUser, "rm " + Work("ro") + "/f").Denied()) << "the mount as well";
    // The program's files cannot be removed or replaced by a user: the
    // program's folder is root's (no open event is needed for that).
    EXPECT_TRUE(RunAs(kUser, "rm -f " + program + "/kv").Denied());
    EXPECT_TRUE(RunAs(kUser, "mv -f " + copy + "/kv " + program + "/kv").Denied());
    EXPECT_TRUE(std::filesystem::exists(program + "/kv"));
}
#endif

TEST_F(OpenEventsTest, PatternsAndTheRootAreRefusedAtOpenTime) {
    const std::string folder = Work("files");
    MakeFolder(folder, {"a.secret", "b.plan", "c.txt"});
    Load(kUser, {Rule(kFull, "*.secret"), Rule(kRead, "/*.plan")});
    EXPECT_TRUE(Refused(RunAs(kUser, "cat " + folder + "/a.secret")));
    EXPECT_TRUE(Refused(RunAs(kUser, "cat " + folder + "/b.plan")));
    EXPECT_EQ(RunAs(kUser, "cat " + folder + "/c.txt").output, "content of c.txt\n");
    EXPECT_EQ(RunAs(kUser, "cat " + folder + "/c.txt").output, "content of c.txt\n")
        << "again, once ignored";
    EXPECT_EQ(RunAs(kOther, "cat " + folder + "/a.secret").exit, 0) << "another user";
    const Outcome log = Kvctl(0, "log --json");
    EXPECT_NE(log.output.find("a.secret\",\"entry\":0}"), std::string::npos) << log.output;
    EXPECT_NE(log.output.find("b.plan\",\"entry\":1}"), std::string::npos) << log.output;
    const Outcome status = Kvctl(kUser, "status");
    EXPECT_NE(status.output.find("0 *.secret: open events"), std::string::npos) << status.output;
    EXPECT_NE(status.output.find("1 /*.plan: open events"), std::string::npos) << status.output;
}

TEST_F(OpenEventsTest, OpenAndReadAreAboutFilesAsInTheMounts) {
    const std::string folder = Work("evdir");
    MakeFolder(folder, {"f"});
    MakeFolder(folder + "/sub", {"g"});
    // A pattern that begins with "*": only open events reach it.
    Load(kUser, {Rule(0x4 | kRead | 0x10, "*/evdir/*")});
    EXPECT_TRUE(Refused(RunAs(kUser, "cat " + folder + "/f")));
    const Outcome listed = RunAs(kUser, "ls " + folder + " && ls " + folder + "/sub");
    EXPECT_EQ(listed.exit, 0) << "listing a folder is Hide's, not Open's: " << listed.output;
    // Renaming is in the entry, but open events cannot see it: kvctl says so.
    const Outcome renamed = Kvctl(kUser, "check --op Rename --process mv " + folder + "/f");
    EXPECT_EQ(renamed.exit, 5) << renamed.output;
    EXPECT_NE(renamed.output.find("open events enforce only"), std::string::npos) << renamed.output;
    EXPECT_EQ(Kvctl(kUser, "check --op Read --process cat " + folder + "/f").exit, 1);
}

TEST_F(OpenEventsTest, AStoppedServiceHangsNoOneAndAKilledOneReleasesEverything) {
    const std::string folder = Work("files");
    MakeFolder(folder, {"a.secret", "c.txt"});
    Load(kUser, {Rule(kFull, "*.secret")});
    ASSERT_TRUE(Refused(RunAs(kUser, "cat " + folder + "/a.secret")));

    ASSERT_EQ(::kill(service_, SIGSTOP), 0);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(RunAs(kOther, "cat " + folder + "/c.txt " + folder + "/a.secret >/dev/null").exit, 0);
    EXPECT_TRUE(Refused(RunAs(kUser, "cat " + folder + "/a.secret")))
        << "still answered, with the last policy";
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    ASSERT_EQ(::kill(service_, SIGCONT), 0);

    StopService(SIGKILL);
    // The responder ends with the service, and its marks with it.
    bool released = false;
    for (int i = 0; i < 100 && !released; ++i) {
        released = RunAs(kUser, "cat " + folder + "/a.secret").exit == 0;
        if (!released)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(released);
}

}  // namespace
}  // namespace kv::protection_test
