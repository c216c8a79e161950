#include <gtest/gtest.h>

#include "enforce/AI.h"
#include "enforce/CompileRules.h"
#include "enforce/ProtectionControl.h"
#include "enforce/SettingsAuthority.h"
#include "principals/PrincipalTree.h"
#include "settings/Encript.h"
#include "tests/enforce/EnforceFixture.h"
#include "tests/support/ScriptedPrompts.h"

namespace kv {
namespace {

struct Error {
    std::uint32_t type;
    std::uint32_t code;
    bool operator==(const Error&) const = default;
};

TEST(Interceptor, ServiceAbsentReportsEveryFailureByType) {
    test::TempDir dir;
    std::vector<Error> errors;
    TDodiInterceptor ais(dir.File("nothing-here"),
                         [&errors](TDodiInterceptor&, std::uint32_t t, std::uint32_t c) {
                             errors.push_back({t, c});
                         });
    EXPECT_FALSE(ais.Success());
    EXPECT_EQ(errors, (std::vector<Error>{{1, 0}, {7, 0}}));
    errors.clear();
    EXPECT_EQ(ais.NumEntries(), 0xFFFFFFFFu);
    EXPECT_EQ(ais.AddEntry(0x400, "/a", "", "*", ""), -1);
    std::uint32_t count = 0;
    EXPECT_FALSE(ais.GetEntryCount(count));
    EXPECT_FALSE(ais.ClearEntries());
    ais.SetActive(true);
    EXPECT_FALSE(ais.Active());
    EXPECT_EQ(errors, (std::vector<Error>{{6, 0}, {8, 0}, {6, 0}, {9, 0}, {7, 0}}));
}

TEST(Interceptor, RequestsReachTheService) {
    test::ServiceRunner service;
    std::vector<Error> errors;
    {
        TDodiInterceptor ais(service.SocketPath(),
                             [&errors](TDodiInterceptor&, std::uint32_t t, std::uint32_t c) {
                                 errors.push_back({t, c});
                             });
        EXPECT_TRUE(ais.Success());
        EXPECT_EQ(ais.AddEntry(0x400, "/a*", "", "*", ""), 0);
        EXPECT_EQ(ais.AddEntry(0x400, "/b*", "ExcludeFiles", "*", "kv"), 1);
        std::uint32_t count = 0;
        EXPECT_TRUE(ais.GetEntryCount(count));
        EXPECT_EQ(count, 2u);
        EXPECT_EQ(ais.NumEntries(), 2u);
        ais.SetActive(true);
        EXPECT_TRUE(ais.Active());
        EXPECT_TRUE(service.Active());
        ais.SetActive(true);  // the same value sends nothing
        ais.SetActive(false);
        EXPECT_FALSE(service.Active());
        // Empty texts arrive as empty strings, not as null.
        EXPECT_EQ(service.Entries()[0].ExcludeFiles, "");
        ais.SetClearOnDestroy(true);
    }
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(service.Count(), 0u);  // cleared at destruction
}

TEST(Interceptor, DestructionWithoutClearOnDestroyKeepsTheEntries) {
    test::ServiceRunner service;
    {
        TDodiInterceptor ais(service.SocketPath());
        ais.AddEntry(0x400, "/a*", "", "*", "");
        ais.SetActive(true);
    }
    EXPECT_EQ(service.Count(), 1u);
    EXPECT_TRUE(service.Active());
}

class FakeProtectionView : public IProtectionView {
public:
    ProtectionState Shown() const override { return state; }
    void Show(ProtectionState s) override { state = s; }
    bool AutomaticChecked() const override { return automatic; }
    void SetAutomaticChecked(bool checked) override { automatic = checked; }

    ProtectionState state = ProtectionState::Stopped;
    bool automatic = false;
};

// One run of the program: its interceptor component, compiler and commands.
struct ProgramRun {
    ProgramRun(test::ServiceRunner& service, TEncriptor& store, TPrincipalTree& tree,
               std::string user, std::string device = {})
        : ais(device.empty() ? service.SocketPath() : device),
          compiler(store, ais, tree),
          control(
              store, ais, compiler, prompts, view, [user] { return user; },
              [this] { ++autostarts; }) {}

    TDodiInterceptor ais;
    TRuleCompiler compiler;
    test::ScriptedPrompts prompts;
    FakeProtectionView view;
    int autostarts = 0;
    TProtectionControl control;
};

class Protection : public ::testing::Test {
protected:
    Protection() : store_(dir_.File("kv.dat"), true) {
        store_.WriteInteger("u_ALICE_P_/alice", 1);
        store_.WriteInteger("g_Staff_P_/staff", 2);
        store_.WriteInteger("u_BOB_P_/bob", 1);
        store_.WriteString("BOB_GroupName", "Staff");
        store_.WriteInteger("u_Unknown User_P_/guest", 2);
        alice_ = tree_.AppendTop("ALICE", PrincipalKind::User);
    }

    test::TempDir dir_;
    test::ServiceRunner service_;
    TEncriptor store_;
    TPrincipalTree tree_;
    TPrincipalTree::Node* alice_;
};

TEST_F(Protection, StartKeepsTheCurrentUsersProtectionAfterExit) {
    {
        ProgramRun run(service_, store_, tree_, "BOB");
        run.control.cmdAutorunExecute();
        EXPECT_EQ(run.view.state, ProtectionState::Protecting);
        EXPECT_TRUE(run.view.automatic);
        EXPECT_EQ(run.autostarts, 1);
        EXPECT_TRUE(run.control.RefreshEnabled());
    }
    // BOB is in Staff: the group's keys only.
    const auto entries = service_.Entries();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].FileMask, "/staff/*");
    EXPECT_TRUE(service_.Active());
}

TEST_F(Protection, TestLoadsTheSelectionForThisRunOnly) {
    {
        ProgramRun run(service_, store_, tree_, "BOB");
        tree_.Select(alice_);
        run.control.cmdStartExecute();
        EXPECT_EQ(run.view.state, ProtectionState::Testing);
        EXPECT_TRUE(run.prompts.shown.empty());
        EXPECT_EQ(service_.Entries()[0].FileMask, "/alice/*");
        EXPECT_TRUE(service_.Active());
    }
    EXPECT_EQ(service_.Count(), 0u);
}

TEST_F(Protection, TestWithoutAServiceSaysSoAndShowsStopped) {
    ProgramRun run(service_, store_, tree_, "BOB", dir_.File("absent"));
    run.view.state = ProtectionState::Testing;  // the button just pressed
    run.control.cmdStartExecute();
    ASSERT_EQ(run.prompts.shown.size(), 1u);
    EXPECT_EQ(run.prompts.shown[0].text, "You have not set any folder protection !");
    EXPECT_EQ(run.prompts.shown[0].title, "Kestrava");
    EXPECT_EQ(run.view.state, ProtectionState::Stopped);
    EXPECT_FALSE(run.control.RefreshEnabled());
}

TEST_F(Protection, StartWithoutTheServiceSaysSoInsteadOfShowingProtection) {
    ProgramRun run(service_, store_, tree_, "ALICE", dir_.File("absent"));
    run.control.cmdAutorunExecute();
    ASSERT_EQ(run.prompts.shown.size(), 1u);
    EXPECT_EQ(run.prompts.shown[0].text, kNotStartedMessage);
    EXPECT_EQ(run.view.state, ProtectionState::Stopped);
    // The logon start is still registered: the service may answer at the next logon.
    EXPECT_TRUE(run.view.automatic);
    EXPECT_EQ(run.autostarts, 1);
}

TEST_F(Protection, TestWithNothingSelectedLoadsNothing) {
    ProgramRun run(service_, store_, tree_, "ALICE");
    tree_.Select(nullptr);
    run.control.cmdStartExecute();
    EXPECT_EQ(service_.Count(), 0u);
    ASSERT_EQ(run.prompts.shown.size(), 1u);
    EXPECT_EQ(run.prompts.shown[0].text, kNoProtectionMessage);
    EXPECT_EQ(run.view.state, ProtectionState::Stopped);
}

TEST_F(Protection, StopEmptiesTheService) {
    {
        ProgramRun first(service_, store_, tree_, "ALICE");
        first.control.cmdAutorunExecute();
    }
    ProgramRun second(service_, store_, tree_, "ALICE");
    EXPECT_FALSE(second.control.RefreshEnabled());  // a fresh run starts inactive
    second.control.cmdStopExecute();
    EXPECT_EQ(second.view.state, ProtectionState::Stopped);
    EXPECT_EQ(service_.Count(), 0u);
}

TEST_F(Protection, UnknownUserAndUngroupedUsersUseTheirOwnPrefix) {
    ProgramRun unknown(service_, store_, tree_, "Unknown User");
    EXPECT_EQ(unknown.control.CurrentUserPrincipal(), "u_Unknown User");
    unknown.control.StartUserProtection();
    EXPECT_EQ(service_.Entries()[0].FileMask, "/guest/*");
    EXPECT_TRUE(service_.Active());
    ProgramRun alice(service_, store_, tree_, "ALICE");
    EXPECT_EQ(alice.control.CurrentUserPrincipal(), "u_ALICE");
    ProgramRun bob(service_, store_, tree_, "BOB");
    EXPECT_EQ(bob.control.CurrentUserPrincipal(), "g_Staff");
}

TEST_F(Protection, RefreshRecompilesTheSameKindOfProtection) {
    ProgramRun run(service_, store_, tree_, "ALICE");
    tree_.Select(nullptr);
    run.control.cmdAutorunExecute();
    store_.WriteInteger("u_ALICE_P_/later", 2);  // an unsaved edit takes effect at once
    run.control.cmdRefreshExecute();
    EXPECT_EQ(run.view.state, ProtectionState::Protecting);
    const auto entries = service_.Entries();
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[1].FileMask, "/later/*");
    EXPECT_TRUE(service_.Active());
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

using Row = std::tuple<bool, std::uint32_t, std::uint32_t>;

/// The window of an administrator, with a service that keeps the saved
/// settings: ANN (uid 1000) and BOB (1001, in Staff) are known; 1002 is a
/// login account the settings never knew.
class StartForEveryone : public ::testing::Test {
protected:
    StartForEveryone() {
        {
            TEncriptor saved(dir_.File("kv.dat"), true);
            saved.WriteBool("CurUsers_ANN", true);
            saved.WriteBool("CurUsers_BOB", true);
            saved.WriteString("BOB_GroupName", "Staff");
            saved.WriteInteger("u_ANN_P_/ann", 1);
            saved.WriteInteger("g_Staff_P_/staff", 2);
            EXPECT_TRUE(saved.Flush(true));
        }
        authority_.SetAccountUid([](const std::string& name) -> std::optional<uid_t> {
            return name == "ANN" ? 1000 : name == "BOB" ? 1001 : std::optional<uid_t>();
        });
        service_ = std::make_unique<test::ServiceRunner>(&authority_, std::vector<uid_t>{1002});
    }

    test::TempDir dir_;
    TSettingsAuthority authority_{dir_.File("kv.dat"), [](uid_t uid) {
                                      return uid == 1000   ? std::string("ANN")
                                             : uid == 1001 ? std::string("BOB")
                                                           : std::string("guest");
                                  }};
    std::unique_ptr<test::ServiceRunner> service_;
    TPrincipalTree tree_;
};

TEST_F(StartForEveryone, StartReloadsEveryAccountFromTheSavedSettings) {
    TEncriptor store(dir_.File("kv.dat"), true);
    // An edit not saved: Start loads what the service keeps, not this.
    store.WriteInteger("u_ANN_P_/unsaved", 1);
    constexpr std::uint32_t kStart = driver::origin::kStart;
    {
        ProgramRun run(*service_, store, tree_, "ANN");
        run.control.cmdAutorunExecute();
        EXPECT_EQ(run.view.state, ProtectionState::Protecting);
        EXPECT_TRUE(run.view.automatic);
        EXPECT_EQ(run.autostarts, 1);
        EXPECT_TRUE(run.control.RefreshEnabled());
    }
    // Each with its own principal's rules, and the program's three entries.
    const std::map<uid_t, Row> expected = {
        {1000, {true, 4, kStart}}, {1001, {true, 4, kStart}}, {1002, {true, 3, kStart}}};
    EXPECT_EQ(service_->Tables(), expected) << "root's own table is left alone";
}

TEST_F(StartForEveryone, TestMarksTheWindowsOwnTableAndStopEmptiesOnlyIt) {
    TEncriptor store(dir_.File("kv.dat"), true);
    TPrincipalTree::Node* ann = tree_.AppendTop("ANN", PrincipalKind::User);
    ProgramRun run(*service_, store, tree_, "root");
    tree_.Select(ann);
    run.control.cmdStartExecute();
    EXPECT_EQ(run.view.state, ProtectionState::Testing);
    auto tables = service_->Tables();
    EXPECT_EQ(tables[::getuid()], (Row{true, 4, driver::origin::kTest}));
    EXPECT_EQ(tables.count(1000), 1u) << "the boot load of the service's start";
    run.control.cmdStopExecute();
    tables = service_->Tables();
    EXPECT_EQ(tables.count(::getuid()), 0u) << "the window's own table is emptied";
    EXPECT_EQ(std::get<2>(tables[1000]), driver::origin::kBoot) << "the other accounts' stay";
}

}  // namespace
}  // namespace kv
