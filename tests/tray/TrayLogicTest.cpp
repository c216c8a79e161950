#include "ui/TrayLogic.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

#include "tests/support/ScriptedPrompts.h"

namespace kv::ui {
namespace {

using Calls = std::vector<std::string>;

/// The window, icon and timer as state plus a log of what was asked of them.
class FakeHost : public ITrayHost {
public:
    void HideMainWindow() override { Log("hide"), visible = false; }
    void ShowMainWindow() override { Log("show"), visible = true; }
    void RestoreAndRaise() override { Log("raise"); }
    void ActivateApplication() override { Log("activate"); }
    bool TrayAvailable() override { return trayAvailable; }
    bool TrayActive() const override { return trayActive; }
    void SetTrayActive(bool active) override {
        Log(active ? "icon on" : "icon off");
        trayActive = active;
    }
    void StartFindShell() override { Log("timer on"), timerOn = true; }
    void StopFindShell() override { timerOn = false; }
    void Quit() override { Log("quit"), quitRequested = true; }

    void Log(const char* what) { calls.emplace_back(what); }

    bool visible = true;
    bool trayAvailable = true;
    bool trayActive = false;
    bool timerOn = false;
    bool quitRequested = false;
    Calls calls;
};

class TrayLogic : public testing::Test {
protected:
    TrayLogic()
        : logic(host, prompts,
                TrayCallbacks{
                    .promptOpen = [this] { return promptOpen; },
                    .passShowGate = [this] { return Gate("show gate"); },
                    .passExitGate = [this] { return Gate("exit gate"); },
                    .modified = [this] { return modified; },
                    .save =
                        [this] {
                            host.Log("save");
                            modified = !saveSucceeds;
                        },
                }) {}

    bool Gate(const char* which) {
        host.Log(which);
        return passwordRight;
    }

    /// Hide and let the first tick find the tray.
    void GoToTray() {
        logic.HideToTray();
        logic.FindShellTimer();
        ASSERT_EQ(logic.State(), Visibility::InTray);
        host.calls.clear();
    }

    FakeHost host;
    test::ScriptedPrompts prompts;
    bool promptOpen = false;
    bool passwordRight = true;
    bool modified = false;
    bool saveSucceeds = true;
    TTrayLogic logic;
};

TEST_F(TrayLogic, HideWaitsForTheTaskbarThenPutsTheIconOn) {
    logic.HideToTray();
    EXPECT_EQ(logic.State(), Visibility::WaitingForTaskbar);
    EXPECT_FALSE(host.visible);
    EXPECT_TRUE(host.timerOn);
    EXPECT_FALSE(host.trayActive);
    EXPECT_FALSE(logic.ShowMainAtStart());
    EXPECT_EQ(logic.ServiceProcessType(), 1);

    logic.FindShellTimer();
    EXPECT_EQ(logic.State(), Visibility::InTray);
    EXPECT_TRUE(host.trayActive);
    EXPECT_FALSE(host.timerOn);
}

TEST_F(TrayLogic, HideWhileInTheTrayDoesNothing) {
    GoToTray();
    const int registrations = logic.ServiceProcessCalls();
    logic.Minimize1Click();
    EXPECT_TRUE(host.calls.empty());
    EXPECT_FALSE(host.timerOn);
    EXPECT_EQ(logic.ServiceProcessCalls(), registrations);
}

TEST_F(TrayLogic, TrayLateRetriesEverySecondAndGivesUpAfterTheLastTry) {
    host.trayAvailable = false;
    logic.HideToTray();
    for (int tick = 1; tick < TTrayLogic::kFindShellTries; ++tick) {
        logic.FindShellTimer();
        ASSERT_TRUE(host.timerOn) << "tick " << tick;
        ASSERT_EQ(logic.State(), Visibility::WaitingForTaskbar);
    }
    logic.FindShellTimer();
    EXPECT_FALSE(host.timerOn);
    EXPECT_FALSE(host.trayActive);
    EXPECT_EQ(logic.State(), Visibility::HiddenNoTaskbar);

    // With no tray the hidden window is what the tray would hold: the show
    // request (a second start, the hot key) brings it back after the password.
    logic.ShowMainWindow();
    EXPECT_TRUE(host.visible);
    EXPECT_EQ(logic.State(), Visibility::Shown);
    EXPECT_NE(std::find(host.calls.begin(), host.calls.end(), "show gate"), host.calls.end());
}

TEST_F(TrayLogic, TrayComingUpWhileWaitingIsTakenAtTheNextTick) {
    host.trayAvailable = false;
    logic.HideToTray();
    logic.FindShellTimer();
    logic.FindShellTimer();
    host.trayAvailable = true;
    logic.FindShellTimer();
    EXPECT_EQ(logic.State(), Visibility::InTray);
    EXPECT_TRUE(host.trayActive);
}

TEST_F(TrayLogic, HidingAgainGivesTheTaskbarAFullSetOfTries) {
    host.trayAvailable = false;
    logic.HideToTray();
    for (int tick = 0; tick < TTrayLogic::kFindShellTries; ++tick)
        logic.FindShellTimer();
    ASSERT_EQ(logic.State(), Visibility::HiddenNoTaskbar);
    logic.HideToTray();
    for (int tick = 1; tick < TTrayLogic::kFindShellTries; ++tick)
        logic.FindShellTimer();
    EXPECT_TRUE(host.timerOn);
}

TEST_F(TrayLogic, ShowFromTrayAsksThePasswordThenShows) {
    GoToTray();
    logic.cmdShowMainClick();
    EXPECT_EQ(host.calls, (Calls{"activate", "show gate", "icon off", "show"}));
    EXPECT_EQ(logic.State(), Visibility::Shown);
    EXPECT_TRUE(logic.ShowMainAtStart());
    EXPECT_EQ(logic.ServiceProcessType(), 0);
}

TEST_F(TrayLogic, RefusedPasswordLeavesTheProgramInTheTray) {
    GoToTray();
    passwordRight = false;
    logic.ShowMainWindow();  // the hot key while in the tray
    EXPECT_EQ(host.calls, (Calls{"activate", "show gate"}));
    EXPECT_TRUE(host.trayActive);
    EXPECT_FALSE(host.visible);
    EXPECT_EQ(logic.State(), Visibility::InTray);
    EXPECT_EQ(logic.ServiceProcessType(), 1);
}

TEST_F(TrayLogic, ShowRequestWhilePromptIsOpenDoesNothing) {
    GoToTray();
    promptOpen = true;
    logic.ShowMainWindow();
    EXPECT_EQ(host.calls, (Calls{"activate"}));
    EXPECT_TRUE(host.trayActive);
}

TEST_F(TrayLogic, ShowRequestWhileShownRaisesWithoutPassword) {
    logic.ShowMainWindow();
    EXPECT_EQ(host.calls, (Calls{"raise"}));
}

TEST_F(TrayLogic, ExitFromTrayWithoutChangesEndsWithoutQuestion) {
    GoToTray();
    logic.Exit2Click();
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_EQ(host.calls, (Calls{"exit gate", "icon off", "quit"}));
    EXPECT_EQ(logic.ServiceProcessType(), 0);
}

TEST_F(TrayLogic, ExitWithRefusedPasswordKeepsRunning) {
    GoToTray();
    passwordRight = false;
    modified = true;
    logic.Exit2Click();
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_FALSE(host.quitRequested);
    EXPECT_TRUE(host.trayActive);
}

TEST_F(TrayLogic, ExitWithChangesAsksAndFollowsTheAnswer) {
    struct Case {
        Answer answer;
        Calls calls;
    };
    const Case cases[] = {
        {Answer::Cancel, {"exit gate"}},
        {Answer::No, {"exit gate", "icon off", "quit"}},
        {Answer::Yes, {"exit gate", "save", "icon off", "quit"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.answer));
        host = FakeHost{};
        prompts = test::ScriptedPrompts{};
        GoToTray();
        modified = true;
        prompts.Queue(c.answer);
        logic.Exit2Click();
        ASSERT_EQ(prompts.shown.size(), 1u);
        EXPECT_EQ(prompts.shown[0].text, "Do you want to save modifications ?");
        EXPECT_EQ(prompts.shown[0].title, "Kestrava");
        EXPECT_EQ(prompts.shown[0].buttons, Buttons::YesNoCancel);
        EXPECT_EQ(host.calls, c.calls);
        EXPECT_EQ(host.trayActive, c.answer == Answer::Cancel);
    }
}

TEST_F(TrayLogic, ExitStaysInTheTrayWhenTheSaveFails) {
    GoToTray();
    modified = true;
    saveSucceeds = false;
    prompts.Queue(Answer::Yes);
    logic.Exit2Click();
    EXPECT_EQ(host.calls, (Calls{"exit gate", "save"}));
    EXPECT_FALSE(host.quitRequested);
    EXPECT_TRUE(host.trayActive);
}

}  // namespace
}  // namespace kv::ui
