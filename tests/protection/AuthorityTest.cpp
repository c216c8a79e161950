// The protected user at the keyboard tries to lift their own protection: with
// the service keeping the administrator's settings, every weakening request
// needs the administrator's password, whatever client sends it.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "driver/DeviceClient.h"
#include "settings/Encript.h"
#include "tests/protection/ProtectionFixture.h"
#include "tests/support/CpuTicks.h"

namespace kv::protection_test {
namespace {

constexpr char kPassword[] = "Secret-7";

constexpr std::int64_t kRefused = -1;
constexpr std::int64_t kNoAnswer = -2;

/// Requests sent over one connection by a process of `uid`; for each, its
/// returned value when it succeeded, kRefused or kNoAnswer.
std::vector<std::int64_t> ReturnsAs(uid_t uid, const std::string& socket,
                                    const std::vector<driver::Request>& requests) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 ||
            ::setresuid(uid, uid, uid) != 0)
            ::_exit(2);
        driver::DeviceClient client;
        std::string error;
        if (!client.Open(socket, &error, 10000))
            ::_exit(3);
        for (const driver::Request& request : requests) {
            driver::Reply reply;
            const std::int64_t result = !client.Transact(request, &reply, &error) ? kNoAnswer
                                        : reply.success ? std::int64_t{reply.returned}
                                                        : kRefused;
            if (::write(out[1], &result, sizeof result) != sizeof result)
                ::_exit(4);
        }
        ::_exit(0);
    }
    ::close(out[1]);
    std::vector<std::int64_t> results;
    std::int64_t result = 0;
    pollfd fd{out[0], POLLIN, 0};
    while (::poll(&fd, 1, 60000) == 1 && ::read(out[0], &result, sizeof result) == sizeof result)
        results.push_back(result);
    ::close(out[0]);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    results.resize(requests.size(), kNoAnswer);
    return results;
}

/// As ReturnsAs; for each request, 1 when it succeeded, 0 when it was
/// refused, -1 when no answer came.
std::vector<int> SendAs(uid_t uid, const std::string& socket,
                        const std::vector<driver::Request>& requests) {
    std::vector<int> results;
    for (const std::int64_t result : ReturnsAs(uid, socket, requests))
        results.push_back(result >= 0 ? 1 : result == kRefused ? 0 : -1);
    return results;
}

driver::Request WithPassword(std::uint32_t code, const std::optional<std::string>& password) {
    driver::Request request = driver::MakeRequest(code);
    request.password = password;
    return request;
}

/// A program folder as installed: the program, and settings readable by root
/// only that protect two folders for the group of the account "nobody".
class Authority : public ProtectionTest {
protected:
    void SetUp() override {
        ProtectionTest::SetUp();
        if (IsSkipped())
            return;
        program_ = dir_.File("program");
        ASSERT_EQ(::mkdir(program_.c_str(), 0755), 0);
        std::filesystem::copy_file(KV_PATH, program_ + "/kv");
        ro_ = Work("ro");
        full_ = Work("full");
        own_ = Work("own");
        MakeFolder(ro_, {"f"});
        MakeFolder(full_, {"f"});
        MakeFolder(own_, {"f"});
        WriteSettings(kPassword);
        StopService(SIGTERM);
        // No login account of this machine is touched: the accounts come from a test file.
        std::ofstream(dir_.File("passwd")).flush();
        serviceArgs_ = {"--settings",     program_ + "/kv.dat", "--program",
                        program_ + "/kv", "--passwd",           dir_.File("passwd")};
        ASSERT_TRUE(StartService());
        runtime_ = dir_.File("run");
        ASSERT_EQ(::mkdir(runtime_.c_str(), 0777), 0);
        ASSERT_EQ(::chmod(runtime_.c_str(), 0777), 0);
    }

    void WriteSettings(const std::string& password) {
        const std::string file = program_ + "/kv.dat";
        std::filesystem::remove(file);
        TEncriptor settings(file, true);
        settings.WriteString("Password", password);
        settings.WriteBool("CurUsers_nobody", true);
        settings.WriteString("nobody_GroupName", "Pupils");
        settings.WriteInteger("g_Pupils_P_" + ro_, 1);
        settings.WriteInteger("g_Pupils_P_" + full_, 2);
        // The user's own keys: a member of a group is protected by the group's alone.
        settings.WriteInteger("u_nobody_P_" + own_, 2);
        ASSERT_TRUE(settings.Flush(true));
        ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    }

    /// The program run by the protected user, with `more` in its environment.
    Outcome RunProgram(const std::string& program, const std::string& arguments,
                       std::vector<std::string> more = {}) {
        std::vector<std::string> env = {"KESTRAVA_DEVICE=" + socket_,
                                        "KESTRAVA_RUNTIME=" + runtime_, "KESTRAVA_NONINTERACTIVE=1",
                                        "QT_QPA_PLATFORM=offscreen", "HOME=" + runtime_};
        env.insert(env.end(), more.begin(), more.end());
        return RunAs(kUser, program + " " + arguments, env);
    }

    /// What the group's rules refuse, shown by real commands of the user.
    void ExpectEnforced(const std::string& after) {
        EXPECT_TRUE(RunAs(kUser, "rm " + ro_ + "/f").Denied()) << after;
        EXPECT_TRUE(RunAs(kUser, "cat " + full_ + "/f").Denied()) << after;
    }

    std::string program_;
    std::string runtime_;
    std::string ro_;
    std::string full_;
    std::string own_;
};

TEST_F(Authority, AUsersLogonStartLoadsTheRulesOfTheUsersGroupWithoutReadingTheSettings) {
    ASSERT_TRUE(RunAs(kUser, "cat " + program_ + "/kv.dat").Denied())
        << "the settings are the administrator's alone";
    const Outcome start = RunProgram(program_ + "/kv", "/S");
    ASSERT_EQ(start.exit, 0) << start.output;
    ExpectEnforced("after the logon start");
    EXPECT_EQ(RunAs(kUser, "cat " + ro_ + "/f").output, "content of f\n");
    EXPECT_EQ(RunAs(kUser, "cat " + own_ + "/f").exit, 0)
        << "the user's own keys are not loaded for a member of a group";
    EXPECT_EQ(RunAs(kOther, "rm " + ro_ + "/f").exit, 0) << "another user is untouched";
}

TEST_F(Authority, ALogonStartWithoutAServiceFailsAndSaysWhy) {
    StopService(SIGTERM);
    const Outcome start = RunProgram(program_ + "/kv", "/S");
    EXPECT_EQ(start.exit, 1) << start.output;
    EXPECT_NE(start.output.find("kv: The interceptor service does not answer"), std::string::npos)
        << start.output;
    ASSERT_TRUE(StartService());
}

TEST_F(Authority, TheProtectedUsersOwnRequestsCannotWeakenIt) {
    ASSERT_EQ(RunProgram(program_ + "/kv", "/S").exit, 0);
    ExpectEnforced("after the logon start");

    using driver::code::kActivate;
    using driver::code::kAddEntry;
    using driver::code::kClear;
    using driver::code::kDeactivate;
    EXPECT_EQ(SendAs(kUser, socket_, {WithPassword(kDeactivate, std::nullopt)}), std::vector{0});
    EXPECT_EQ(SendAs(kUser, socket_, {WithPassword(kClear, std::nullopt)}), std::vector{0});
    EXPECT_EQ(SendAs(kUser, socket_, {WithPassword(kDeactivate, "")}), std::vector{0});
    ExpectEnforced("after Deactivate and Clear without the password");

    driver::Request empty = driver::MakeRequest(kAddEntry);
    empty.record.FileMask = "";
    EXPECT_EQ(SendAs(kUser, socket_, {empty, driver::MakeRequest(kActivate)}), (std::vector{0, 0}))
        << "the table is the administrator's: a user only loads the rules it gives them";
    ExpectEnforced("after Add and Activate of an empty entry");

    driver::Request other = driver::MakeRequest(driver::code::kLoadRules);
    other.principal = "u_nobody";
    EXPECT_EQ(SendAs(kUser, socket_, {other}), std::vector{0})
        << "another principal's rules need the password";
    driver::Request own = driver::MakeRequest(driver::code::kLoadRules);
    own.principal = "g_Pupils";
    EXPECT_EQ(SendAs(kUser, socket_, {own, driver::MakeRequest(driver::code::kLoadRules)}),
              (std::vector{1, 1}))
        << "one's own principal, named or not, loads without it";
    ExpectEnforced("after loads of rules");

    // Labels and every account's reload are the administrator's; a session's
    // opening loads the account's own rules, which weakens nothing.
    driver::Request label = driver::MakeRequest(driver::code::kSetOrigin);
    label.origin = driver::origin::kBoot;
    driver::Request tables = driver::MakeRequest(driver::code::kGetTables);
    tables.outputSize = 4096;
    EXPECT_EQ(SendAs(kUser, socket_,
                     {label, WithPassword(driver::code::kLoadEveryAccount, std::nullopt), tables,
                      driver::MakeRequest(driver::code::kSessionOpened)}),
              (std::vector{0, 0, 0, 1}));
    ExpectEnforced("after a session's opening");

    EXPECT_TRUE(Send(kUser, kDeactivate)) << "root needs no password";
    EXPECT_EQ(RunAs(kUser, "rm " + ro_ + "/f").exit, 0);
}

TEST_F(Authority, TheProtectedUsersProgramsCannotStopIt) {
    ASSERT_EQ(RunProgram(program_ + "/kv", "/S").exit, 0);
    // The program itself, copied to a folder of the user's with settings of
    // the user's making (no password), in an environment of the user's choice.
    const std::string copy = dir_.File("copy");
    ASSERT_EQ(::mkdir(copy.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(copy.c_str(), 0777), 0);
    ASSERT_EQ(RunAs(kUser, "cp " + program_ + "/kv " + copy + "/kv").exit, 0);
    const Outcome stop =
        RunProgram(copy + "/kv", "/D",
                   {"KESTRAVA_MACHINE=" + copy + "/machine", "XDG_RUNTIME_DIR=" + copy,
                    "XDG_CONFIG_HOME=" + copy, "XDG_STATE_HOME=" + copy, "HOME=" + copy});
    EXPECT_EQ(stop.exit, 1) << "a refused stop says so: " << stop.output;
    EXPECT_NE(stop.output.find("kv: The interceptor service refused to stop protection"),
              std::string::npos)
        << stop.output;
    ExpectEnforced("after a copied program's /D with settings without a password");
    const Outcome installed = RunProgram(program_ + "/kv", "/D");
    ExpectEnforced("after the program's /D without the password:\n" + installed.output);

    // The program made to believe it runs as root.
    const std::string fakeRoot = dir_.File("fakeroot.so");
    std::filesystem::copy_file(FAKE_ROOT, fakeRoot);
    ASSERT_EQ(::chmod(fakeRoot.c_str(), 0755), 0);
    const Outcome preloaded = RunProgram(program_ + "/kv", "/D", {"LD_PRELOAD=" + fakeRoot});
    ExpectEnforced("after /D with LD_PRELOAD:\n" + preloaded.output);

    // The user's own tray copy, killed.
    const Outcome killed =
        RunAs(kUser, program_ + "/kv /T & sleep 1; kill -9 $!; wait $!",
              {"KESTRAVA_DEVICE=" + socket_, "KESTRAVA_RUNTIME=" + runtime_,
               "KESTRAVA_NONINTERACTIVE=1", "QT_QPA_PLATFORM=offscreen", "HOME=" + runtime_});
    EXPECT_EQ(killed.exit, 128 + SIGKILL) << killed.output;
    ExpectEnforced("after the user's program was killed");
}

TEST_F(Authority, AnExecutableNamedLikeTheProgramIsNotTheProgram) {
    ASSERT_EQ(RunProgram(program_ + "/kv", "/S").exit, 0);
    const std::string copy = dir_.File("copy");
    ASSERT_EQ(::mkdir(copy.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(copy.c_str(), 0777), 0);
    ASSERT_EQ(RunAs(kUser, "cp /bin/cat " + copy + "/kv").exit, 0);
    EXPECT_TRUE(RunAs(kUser, copy + "/kv " + full_ + "/f").Denied())
        << "the compiled entries exclude the program, not every file named kv";
}

TEST_F(Authority, AUsersRawRequestsLeaveTheAdministratorsEntriesAndMountNothing) {
    MakeFolder(Work("files"), {"x.secret"});
    const std::string other = Work("others");
    MakeFolder(other, {"g"});
    // Enforced by open events: a pattern that names no folder.
    Load(kUser, {Rule(0x400, "*.secret"), Rule(0x1E7830, ro_ + "/*")});
    // Open events refuse with "Operation not permitted".
    auto secretRead = [this] {
        return RunAs(kUser, "cat " + Work("files/x.secret")).output.find("content") !=
               std::string::npos;
    };
    ASSERT_FALSE(secretRead());

    driver::Request add = driver::MakeRequest(driver::code::kAddEntry);
    add.record.dwOperation = 0x400;
    add.record.FileMask = other + "/*";
    const std::vector<int> refused(3, 0);
    EXPECT_EQ(SendAs(kUser, socket_,
                     {add, driver::MakeRequest(driver::code::kActivate),
                      driver::MakeRequest(driver::code::kClear)}),
              refused);
    EXPECT_FALSE(secretRead()) << "the administrator's pattern stays enforced";
    EXPECT_TRUE(RunAs(kUser, "rm " + ro_ + "/f").Denied());
    EXPECT_TRUE(MountsUnder(other).empty()) << "a user's request mounts nothing";
    EXPECT_EQ(RunAs(kOther, "cat " + other + "/g").exit, 0);

    // The same requests with the administrator's password are the administrator's.
    driver::Request withPassword = add;
    withPassword.password = kPassword;
    EXPECT_EQ(SendAs(kUser, socket_, {withPassword}), std::vector{1});
}

TEST_F(Authority, WrongPasswordsAreAnsweredEverLaterWhileOthersAreServed) {
    ASSERT_EQ(RunProgram(program_ + "/kv", "/S").exit, 0);
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const auto started = std::chrono::steady_clock::now();
    const pid_t guesser = ::fork();
    if (guesser == 0) {
        ::close(out[0]);
        const auto results = SendAs(kUser, socket_,
                                    {WithPassword(driver::code::kDeactivate, "guess-1"),
                                     WithPassword(driver::code::kDeactivate, "guess-2"),
                                     WithPassword(driver::code::kDeactivate, "guess-3")});
        const char ok = results == std::vector{0, 0, 0} ? 1 : 0;
        ::_exit(::write(out[1], &ok, 1) == 1 ? 0 : 1);
    }
    ::close(out[1]);
    // While the guesses wait, other clients are answered.
    ::usleep(200 * 1000);
    EXPECT_TRUE(Send(kOther, driver::code::kCount));
    EXPECT_EQ(::waitpid(guesser, nullptr, WNOHANG), 0) << "the guesses are still held";
    char ok = 0;
    EXPECT_EQ(::read(out[0], &ok, 1), 1);
    EXPECT_EQ(ok, 1) << "every guess refused";
    ::close(out[0]);
    ::waitpid(guesser, nullptr, 0);
    // 0.5 s after the first wrong try, 1 s after the second, 2 s after the third.
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(3400));
    ExpectEnforced("after the guesses");
}

TEST_F(Authority, AGuesserWhoHangsUpWhileHeldCostsTheServiceNothing) {
    ASSERT_EQ(SendAs(kUser, socket_,
                     {WithPassword(driver::code::kDeactivate, "wrong-1"),
                      WithPassword(driver::code::kDeactivate, "wrong-2")}),
              (std::vector{0, 0}));
    // The third guess is held for 2 s; its client gives up after 0.2 s.
    const pid_t guesser = ::fork();
    if (guesser == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(kUser, kUser, kUser) != 0 ||
            ::setresuid(kUser, kUser, kUser) != 0)
            ::_exit(2);
        driver::DeviceClient client;
        std::string error;
        driver::Reply reply;
        if (!client.Open(socket_, &error, 200))
            ::_exit(3);
        const bool answered = client.TransactRaw(
            driver::EncodeRequest(WithPassword(driver::code::kDeactivate, "wrong-3")), &reply,
            &error);
        ::_exit(answered ? 4 : 0);
    }
    int status = 0;
    ::waitpid(guesser, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "held, and gone";
    const long before = test::CpuTicks(service_);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_LT(test::CpuTicks(service_) - before, sysconf(_SC_CLK_TCK) / 4)
        << "the service waits out the hold instead of spinning on the hang-up";
    EXPECT_EQ(SendAs(kOther, socket_, {WithPassword(driver::code::kCount, std::nullopt)}),
              std::vector{1})
        << "and answers others meanwhile";
}

TEST_F(Authority, TheAdministratorsPasswordLiftsIt) {
    ASSERT_EQ(RunProgram(program_ + "/kv", "/S").exit, 0);
    ExpectEnforced("after the logon start");
    // The password compares as the password prompt does (letters without case).
    EXPECT_EQ(SendAs(kUser, socket_,
                     {WithPassword(driver::code::kCheckPassword, "SECRET-7"),
                      WithPassword(driver::code::kDeactivate, "secret-7"),
                      WithPassword(driver::code::kClear, kPassword)}),
              (std::vector{1, 1, 1}));
    EXPECT_EQ(RunAs(kUser, "rm " + ro_ + "/f").exit, 0);
}

TEST_F(Authority, TheAdministratorsPasswordShowsEveryUsersRefusalsAtAnotherAccount) {
    ASSERT_EQ(RunProgram(program_ + "/kv", "/S").exit, 0);
    ExpectEnforced("after the logon start");  // two refusals of the protected user
    auto select = [](uid_t uid, const std::optional<std::string>& password) {
        driver::Request request = WithPassword(driver::code::kSelectUid, password);
        request.uid = uid;
        return request;
    };
    driver::Request log = driver::MakeRequest(driver::code::kGetDenials);
    log.outputSize = 60000;
    const driver::Request count = driver::MakeRequest(driver::code::kGetDenialCount);
    // Without the password another account sees its own refusals only.
    EXPECT_EQ(ReturnsAs(kOther, socket_, {select(kUser, std::nullopt), count, log}),
              (std::vector<std::int64_t>{kRefused, 0, 0}));
    // With it, the protected user's count, and every uid's log.
    EXPECT_EQ(ReturnsAs(kOther, socket_, {select(kUser, kPassword), count}),
              (std::vector<std::int64_t>{0, 2}));
    EXPECT_EQ(ReturnsAs(kOther, socket_, {select(static_cast<uid_t>(-1), kPassword), log}),
              (std::vector<std::int64_t>{0, 2}));
    // The window's reader, as that account.
    const std::string reader =
        std::string(REFUSALS_CLIENT) + " " + socket_ + " " + std::to_string(kUser) + " ";
    const std::string user = std::to_string(kUser) + " ";
    EXPECT_EQ(RunAs(kOther, reader + "-").output, "count=-\nlog=\n");
    EXPECT_EQ(RunAs(kOther, reader + kPassword).output, "count=2\nlog=" + user + user + "\n");
    ExpectEnforced("after the other account read the refusals");
}

TEST_F(Authority, TheAdministratorsFilesReachAUserWhoKnowsThePassword) {
    // The machine folder as installed: root's alone.
    const std::string machine = program_ + "/machine";
    ASSERT_EQ(::mkdir(machine.c_str(), 0700), 0);
    ASSERT_TRUE(RunAs(kUser, "ls " + machine).Denied());
    const std::string client = std::string(ADMIN_FILES_CLIENT) + " " + socket_ + " " + program_;

    const Outcome without = RunAs(kUser, client + " -");
    EXPECT_EQ(without.output, "readable=0 group=\nsaved=0\nregistry=0 own=0 read=-\n");

    const Outcome right = RunAs(kUser, client + " " + kPassword);
    EXPECT_EQ(right.output,
              "readable=1 group=Pupils\nsaved=1\nregistry=1 own=1 read=written by nobody\n");
    TEncriptor saved(program_ + "/kv.dat", true);
    EXPECT_EQ(saved.ReadString("Edited", ""), "by nobody");
    EXPECT_EQ(saved.ReadString("nobody_GroupName", ""), "Pupils") << "nothing else lost";
    struct stat st;
    ASSERT_EQ(::stat((program_ + "/kv.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0U);
    EXPECT_EQ(st.st_mode & 0777, 0600U) << "still root's alone";
    EXPECT_TRUE(std::filesystem::exists(machine + "/registry/HKCU/nobody.reg"))
        << "the user's own hive, by the service's account name";
    EXPECT_TRUE(RunAs(kUser, "cat " + machine + "/registry/HKLM.reg").Denied());
}

TEST_F(Authority, AnInstalledServiceKeepsTheSettingsInstalledBesideIt) {
    std::filesystem::copy_file(KVVXD_PATH, program_ + "/kvvxd");
    std::ofstream(program_ + "/installed").flush();
    StopService(SIGTERM);
    serviceExe_ = program_ + "/kvvxd";
    serviceArgs_ = {"--passwd", dir_.File("passwd")};  // no --settings, no --program
    ASSERT_TRUE(StartService());
    const Outcome start = RunProgram(program_ + "/kv", "/S");
    ASSERT_EQ(start.exit, 0) << start.output;
    ExpectEnforced("after the logon start");
    EXPECT_EQ(SendAs(kUser, socket_, {WithPassword(driver::code::kDeactivate, std::nullopt)}),
              std::vector{0})
        << "the password of the settings beside it guards them";
    ExpectEnforced("after a Deactivate without the password");
}

TEST_F(Authority, WithoutAPasswordTheUserStopsTheirOwnProtection) {
    WriteSettings("");
    ASSERT_EQ(RunProgram(program_ + "/kv", "/S").exit, 0);
    ExpectEnforced("after the logon start");
    const Outcome stop = RunProgram(program_ + "/kv", "/D");
    EXPECT_EQ(stop.exit, 0) << stop.output;
    EXPECT_EQ(RunAs(kUser, "rm " + ro_ + "/f").exit, 0) << "no password, no guard";
}

}  // namespace
}  // namespace kv::protection_test
