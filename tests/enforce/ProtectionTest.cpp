#include <gtest/gtest.h>

#include "enforce/AI.h"
#include "enforce/CompileRules.h"
#include "enforce/ProtectionControl.h"
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
