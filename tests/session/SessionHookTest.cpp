// The PAM session hook: the opening account's rules are loaded by the
// service; a service that is absent or hangs never holds the logon up.
#include "session/SessionHook.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "driver/Service.h"
#include "tests/support/TempDir.h"

namespace kv::session {
namespace {

/// Settings that know no account: everyone gets the unknown user's rules.
class Settings : public driver::IAuthority {
public:
    bool automatic = true;
    Password Check(const std::optional<std::string>&) override { return Password::None; }
    std::string PrincipalOf(uid_t, std::string*) override { return "u_Unknown User"; }
    bool Compile(const std::string&, std::vector<driver::Entry>* entries, std::string*) override {
        *entries = {{1, "/srv/ro/*", "", "*", "kv"}, {2, "/srv/kv.dat", "", "*", ""}};
        return true;
    }
    bool KnownAccounts(bool* on, std::vector<uid_t>* uids, std::string*) override {
        *on = automatic;
        if (uids)
            uids->clear();
        return true;
    }
    int ReadFile(std::uint32_t, uid_t, std::string*) override { return EINVAL; }
    int WriteFile(std::uint32_t, uid_t, const std::string*) override { return EINVAL; }
};

class SessionHookTest : public ::testing::Test {
protected:
    void StartService() {
        driver::ServiceOptions o = driver::OptionsFor(dir_.File("VEVUZ"), "");
        o.authority = &settings_;
        service_ = std::make_unique<driver::Service>(o);
        std::string error;
        ASSERT_TRUE(service_->Start(&error)) << error;
        thread_ = std::thread([this] { service_->Run(); });
    }
    void TearDown() override {
        if (service_) {
            service_->RequestStop();
            thread_.join();
        }
    }

    HookOutcome Open(const std::string& user, const std::string& type = "open_session") {
        HookOptions options;
        options.devicePath = dir_.File("VEVUZ");
        options.serviceUid = ::getuid();
        options.uidOf = [](const std::string& name) -> std::optional<uid_t> {
            if (name == "root")
                return 0;
            if (name == "newcomer")
                return 4242;
            return std::nullopt;
        };
        options.log = [this](const std::string& line) { logged_ += line + "\n"; };
        return RunSessionHook({type, user, "su-l"}, options);
    }

    /// The table of `uid` as the service holds it (read after the service stopped).
    const driver::EntryTable* TableAfterStop(uid_t uid) {
        service_->RequestStop();
        thread_.join();
        const driver::EntryTable* table = service_->Tables().Find(uid);
        return table && !table->Empty() ? table : nullptr;
    }

    kv::test::TempDir dir_;
    Settings settings_;
    std::unique_ptr<driver::Service> service_;
    std::thread thread_;
    std::string logged_;
};

TEST_F(SessionHookTest, AnOpeningSessionGetsTheAccountsRulesFromTheService) {
    StartService();
    EXPECT_EQ(Open("newcomer"), HookOutcome::kLoaded) << logged_;
    const driver::EntryTable* table = TableAfterStop(4242);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->Count(), 2u);
    EXPECT_TRUE(table->Active());
    EXPECT_EQ(table->GetOrigin(), driver::Origin::kSession);
    service_.reset();
}

TEST_F(SessionHookTest, WithAutomaticProtectionOffNothingIsLoaded) {
    settings_.automatic = false;
    StartService();
    EXPECT_EQ(Open("newcomer"), HookOutcome::kNotAutomatic);
    EXPECT_EQ(TableAfterStop(4242), nullptr);
    service_.reset();
}

TEST_F(SessionHookTest, OtherEventsRootAndUnknownNamesLoadNothing) {
    StartService();
    EXPECT_EQ(Open("newcomer", "close_session"), HookOutcome::kIgnored);
    EXPECT_EQ(Open("newcomer", "auth"), HookOutcome::kIgnored);
    EXPECT_EQ(Open("root"), HookOutcome::kIgnored);
    EXPECT_EQ(Open("ghost"), HookOutcome::kFailed);
    EXPECT_NE(logged_.find("no account named \"ghost\""), std::string::npos) << logged_;
    service_->RequestStop();
    thread_.join();
    EXPECT_TRUE(service_->Tables().All().empty()) << "no table was made, not even an empty one";
    service_.reset();
}

TEST_F(SessionHookTest, NoServiceIsLoggedAndNotAnError) {
    EXPECT_EQ(Open("newcomer"), HookOutcome::kFailed);
    EXPECT_NE(logged_.find("not running"), std::string::npos) << logged_;
}

/// Runs the hook's executable for a session of "nobody" with the service
/// at `device`; its exit status and how long it took.
std::pair<int, std::chrono::milliseconds> RunHookProgram(const std::string& device) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("PAM_TYPE", "open_session", 1);
        ::setenv("PAM_USER", "nobody", 1);
        ::setenv("PAM_SERVICE", "login", 1);
        ::execl(KVSESSION_PATH, "kvsession", "--device", device.c_str(), nullptr);
        ::_exit(127);
    }
    int status = -1;
    ::waitpid(pid, &status, 0);
    return {status, std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)};
}

TEST_F(SessionHookTest, TheHookProgramNeverFailsNorHangsTheLogon) {
    // No service at all.
    auto [absent, absentTime] = RunHookProgram(dir_.File("none"));
    EXPECT_TRUE(WIFEXITED(absent) && WEXITSTATUS(absent) == 0) << absent;
    EXPECT_LT(absentTime, std::chrono::milliseconds(3000));

    // A service that accepts connections but never answers.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = dir_.File("hung");
    std::memcpy(addr.sun_path, path.c_str(), path.size());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(fd, 16), 0);
    auto [hung, hungTime] = RunHookProgram(path);
    ::close(fd);
    EXPECT_TRUE(WIFEXITED(hung) && WEXITSTATUS(hung) == 0) << hung;
    // The bound is generous for a loaded machine; the hook gives up after a second.
    EXPECT_LT(hungTime, std::chrono::milliseconds(3000));
}

}  // namespace
}  // namespace kv::session
