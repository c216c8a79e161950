// The protection commands as the window runs them, against a real service.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSystemTrayIcon>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>

#include "access/forms/SecUn.h"
#include "app/CtrlPanel.h"
#include "app/RefusalsWindow.h"
#include "app/Startup.h"
#include "options/Autostart.h"
#include "platform/qt/TerminationSignals.h"
#include "tests/access_forms/ModalScript.h"
#include "tests/enforce/EnforceFixture.h"
#include "tests/support/FakeRegistry.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/TempDir.h"
#include "ui/TrayIcon.h"
#include "ui/TrayLogic.h"

namespace kv {
namespace {

using platform::Hive;

/// The machine's service manager, as the installation step sees it.
class FakeServiceRegistration : public platform::IServiceRegistration {
public:
    bool available = true;
    std::vector<bool> calls;  ///< enable (true) or disable, in order
    bool Available() const override { return available; }
    bool SetEnabled(bool enabled) override {
        calls.push_back(enabled);
        return true;
    }
};

class EnforceWindow : public ::testing::Test {
protected:
    EnforceWindow() : store_(dir_.File("kv.dat"), true) {
        registry_.SetProfiles({"ALICE", "BOB"});
        registry_.SetCurrentUser("BOB");
        store_.WriteBool("CurUsers_ALICE", true);
        store_.WriteBool("CurUsers_BOB", true);
        store_.WriteInteger("u_ALICE_P_/alice", 1);
        store_.WriteInteger("u_BOB_P_/bob", 2);
        // An installed program's folder: the logon entry is mirrored to the desktop's.
        std::filesystem::create_directories(dir_.File("program"));
        std::filesystem::permissions(dir_.File("program"), std::filesystem::perms(0755));
        test::WriteFile(dir_.File("program/installed"), "");
    }

    std::unique_ptr<TSecFrm> Make(const std::string& device) {
        return std::make_unique<TSecFrm>(TSecFrmServices{
            .store = store_,
            .prompts = prompts_,
            .registry = registry_,
            .devicePath = device,
            .installPaths = {dir_.File("program"), dir_.File("autostart")},
            .machineDir = dir_.File("machine"),
            .serviceRegistration = &registration_,
            .programOptions = [this](ProgramOptionsHooks&) { return ++optionRuns_ > 0; },
            .openHelp = [this](const std::string& t) { helpTopics_.push_back(t); }});
    }
    static void Click(TSecFrm& w, const char* button) {
        w.ActionList1Update();
        w.ToolButton(button)->click();
    }
    std::optional<std::string> RunValue() const {
        return registry_.ReadString(Hive::LocalMachine, kRunKey, kRunValue);
    }

    test::TempDir dir_;
    FakeServiceRegistration registration_;
    test::ServiceRunner service_;
    test::FakeRegistry registry_;
    test::ScriptedPrompts prompts_;
    TEncriptor store_;
    int optionRuns_ = 0;
    std::vector<std::string> helpTopics_;
};

TEST_F(EnforceWindow, TestProtectionLoadsTheSelectionAndEndsWithTheProgram) {
    {
        auto w = Make(service_.SocketPath());
        RunStartup(*w, StartSwitch::None);
        EXPECT_TRUE(w->TestNotice()->isHidden());
        w->Principals().Select(w->Principals().FindNodeByText("ALICE"));
        Click(*w, "ToolButton18");
        EXPECT_TRUE(w->ToolButton("ToolButton18")->isChecked());
        // The status bar says whose account the test's rules apply to.
        EXPECT_FALSE(w->TestNotice()->isHidden());
        EXPECT_EQ(w->TestNotice()->text().toStdString(),
                  "Testing on " + w->Directory().CurrentUserName() + "'s account only");
        EXPECT_FALSE(w->ToolButton("ToolButton19")->isChecked());
        const auto entries = service_.Entries();
        ASSERT_EQ(entries.size(), 4u);
        EXPECT_EQ(entries[0].FileMask, "/alice/*");
        EXPECT_EQ(entries[1].FileMask, "*kv.dat");
        EXPECT_TRUE(service_.Active());
        w->ActionList1Update();
        EXPECT_TRUE(w->Action("cmdRefresh")->isEnabled());
        EXPECT_FALSE(w->MenuItem("StartFileProtection1")->isEnabled());
        EXPECT_TRUE(w->MenuItem("StopFileProtection1")->isEnabled());
        Click(*w, "ToolButton19");
        EXPECT_TRUE(w->TestNotice()->isHidden()) << "the test stopped";
    }
    EXPECT_EQ(service_.Count(), 0u);
}

// A termination signal ends the message loop; the window's destruction then
// clears a Test Protection, which must not outlive the program.
TEST_F(EnforceWindow, ATerminationSignalEndsTheLoopAndTheTestProtectionWithTheWindow) {
    platform::TerminationSignals termination;
    QObject::connect(&termination, &platform::TerminationSignals::Terminate,
                     [] { QCoreApplication::exit(0); });
    {
        auto w = Make(service_.SocketPath());
        RunStartup(*w, StartSwitch::None);
        w->Principals().Select(w->Principals().FindNodeByText("ALICE"));
        Click(*w, "ToolButton18");
        ASSERT_EQ(service_.Count(), 4u);
        QObject context;
        bool ranOut = false;
        QTimer::singleShot(0, &context, [] { ::raise(SIGTERM); });
        QTimer::singleShot(5000, &context, [&ranOut] {
            ranOut = true;
            QCoreApplication::exit(1);
        });
        EXPECT_EQ(QCoreApplication::exec(), 0);
        EXPECT_FALSE(ranOut);
        EXPECT_EQ(termination.LastSignal(), SIGTERM);
    }
    EXPECT_EQ(service_.Count(), 0u);
}

// The tray's Stop and Exit while the password prompt is open (the hot key
// opened it): nobody typed the password for them, so both are refused.
TEST_F(EnforceWindow, WhileAPromptIsOpenTheTraysStopAndExitAreRefused) {
    store_.WriteString("Password", "SECRET");
    store_.WriteBool("FirstTime", false);
    auto w = Make(service_.SocketPath());
    ASSERT_EQ(RunStartup(*w, StartSwitch::Tray), StartupOutcome::StayHidden);
    ASSERT_EQ(service_.Count(), 4u);
    ASSERT_TRUE(service_.Active());
    const int trayCalls = w->Tray().ServiceProcessCalls();
    bool asked = false, stopRefused = false, exitRefused = false;
    test::WhenModal<TSecurFrm>([&](TSecurFrm* prompt) {
        asked = true;
        w->ActionList1Update();
        ASSERT_TRUE(w->MenuItem("StopFileProtection1")->isEnabled());
        w->MenuItem("StopFileProtection1")->trigger();
        stopRefused = service_.Count() == 4u && service_.Active() &&
                      w->ToolButton("ToolButton20")->isChecked();
        w->MenuItem("Exit2")->trigger();
        exitRefused = w->Tray().ServiceProcessCalls() == trayCalls;
        QTest::keyClick(prompt->findChild<QLineEdit*>("Edit1"), Qt::Key_Escape);
    });
    w->ShowMainWindow();
    EXPECT_TRUE(asked);
    EXPECT_TRUE(stopRefused);
    EXPECT_TRUE(exitRefused);
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(service_.Count(), 4u);
}

// The service lets a user other than root weaken protection only with the
// administrator's password: once the gate has accepted it, every request of
// the window carries it.
TEST_F(EnforceWindow, RequestsCarryThePasswordTheGateAccepted) {
    {
        auto w = Make(service_.SocketPath());
        RunStartup(*w, StartSwitch::None);
        EXPECT_FALSE(w->AIS().Password().has_value()) << "no password set, none sent";
    }
    store_.WriteString("Password", "SECRET");
    auto w = Make(service_.SocketPath());
    test::WhenModal<TSecurFrm>([](TSecurFrm* f) {
        QTest::keyClicks(f->findChild<QLineEdit*>("Edit1"), "secret");
        QTest::keyClick(f->findChild<QLineEdit*>("Edit1"), Qt::Key_Return);
    });
    ASSERT_EQ(RunStartup(*w, StartSwitch::None), StartupOutcome::ShowWindow);
    EXPECT_EQ(w->AIS().Password(), std::optional<std::string>("SECRET"));
}

TEST_F(EnforceWindow, TheStatusBarCountsTheRefusalsSinceProtectionStarted) {
    auto w = Make(service_.SocketPath());
    RunStartup(*w, StartSwitch::None);
    w->UpdateRefusalCount();
    ASSERT_FALSE(w->RefusalPanel()->isHidden());
    EXPECT_EQ(w->RefusalPanel()->text().toStdString(), "Refused: 0");
    driver::Denial mine;
    mine.uid = ::geteuid();
    driver::Denial theirs;
    theirs.uid = ::geteuid() + 1;
    service_.Service().Denials().Add(mine);
    service_.Service().Denials().Add(theirs);
    w->UpdateRefusalCount();
    EXPECT_EQ(w->RefusalPanel()->text().toStdString(), "Refused: 1");
    service_.Stop();
    w->UpdateRefusalCount();
    EXPECT_TRUE(w->RefusalPanel()->isHidden()) << "no service, no count";
}

TEST_F(EnforceWindow, StartProtectionStaysAndRegistersTheLogonStart) {
    {
        auto w = Make(service_.SocketPath());
        RunStartup(*w, StartSwitch::None);
        w->MenuItem("AutomaticFilesProtection1")->setChecked(false);
        Click(*w, "ToolButton20");
        EXPECT_TRUE(w->ToolButton("ToolButton20")->isChecked());
        EXPECT_TRUE(w->MenuItem("AutomaticFilesProtection1")->isChecked());
        EXPECT_EQ(RunValue(), dir_.File("program") + "/kv /T");
        // Only root can make the folder an installed program's.
        EXPECT_EQ(std::filesystem::exists(dir_.File("autostart/kestrava.desktop")),
                  ::geteuid() == 0);
    }
    const auto entries = service_.Entries();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].FileMask, "/bob/*");  // the current user's keys, not the selection's
    EXPECT_TRUE(service_.Active());

    // The next run shows protection as running.
    auto again = Make(service_.SocketPath());
    RunStartup(*again, StartSwitch::None);
    EXPECT_TRUE(again->ToolButton("ToolButton20")->isChecked());
    again->ActionList1Update();
    EXPECT_FALSE(again->Action("cmdRefresh")->isEnabled());  // a fresh run starts inactive
    Click(*again, "ToolButton19");
    EXPECT_EQ(service_.Count(), 0u);
}

TEST_F(EnforceWindow, StopInALaterRunLeavesTheTableInactive) {
    {
        auto w = Make(service_.SocketPath());
        RunStartup(*w, StartSwitch::None);
        Click(*w, "ToolButton20");
    }
    ASSERT_TRUE(service_.Active());
    auto again = Make(service_.SocketPath());
    RunStartup(*again, StartSwitch::None);
    Click(*again, "ToolButton19");
    EXPECT_EQ(service_.Count(), 0u);
    EXPECT_FALSE(service_.Active());
}

TEST_F(EnforceWindow, TestWithoutTheServiceShowsStopped) {
    auto w = Make(dir_.File("no-service"));
    RunStartup(*w, StartSwitch::None);
    // The state shows from the start, with the socket tried and how to start the service.
    EXPECT_EQ(w->ServicePanel()->text().toStdString(), "No service at " + dir_.File("no-service"));
    EXPECT_NE(w->ServicePanel()->toolTip().toStdString().find(kStartServiceCommand),
              std::string::npos);
    EXPECT_EQ(w->TrayHost().RxTrayIcon1().Icon().toolTip(), "Kestrava: no service");
    Click(*w, "ToolButton18");
    ASSERT_FALSE(prompts_.shown.empty());
    // The real cause, not missing rules.
    EXPECT_EQ(prompts_.shown.back().text, kNotStartedMessage);
    EXPECT_TRUE(w->ToolButton("ToolButton19")->isChecked());
}

TEST_F(EnforceWindow, TheWindowNoticesTheServiceComingAndGoing) {
    service_.Stop();
    auto w = Make(service_.SocketPath());
    RunStartup(*w, StartSwitch::None);
    w->show();
    const std::string none = "No service at " + service_.SocketPath();
    EXPECT_EQ(w->ServicePanel()->text().toStdString(), none);
    EXPECT_FALSE(w->RefusalPanel()->isVisibleTo(w.get()));

    // Started later: the window's own timer reaches it.
    service_.Start();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return w->ServicePanel()->text() == "Protection off"; }, 5000))
        << w->ServicePanel()->text().toStdString();
    EXPECT_EQ(w->TrayHost().RxTrayIcon1().Icon().toolTip(), "Kestrava: protection off");
    EXPECT_TRUE(w->RefusalPanel()->isVisibleTo(w.get()));

    // Gone again (a restart, say): said at the next look, and reached once it is back.
    const TServiceWatch::Clock::time_point now = TServiceWatch::Clock::now();
    service_.Stop();
    w->WatchService(now);
    EXPECT_EQ(w->ServicePanel()->text().toStdString(), none);
    EXPECT_EQ(w->TrayHost().RxTrayIcon1().Icon().toolTip(), "Kestrava: no service");
    EXPECT_FALSE(w->RefusalPanel()->isVisibleTo(w.get()));
    service_.Start();
    w->WatchService(now + std::chrono::minutes(1));
    EXPECT_EQ(w->ServicePanel()->text(), "Protection off");

    // Waiting in the tray, its tooltip still follows the service.
    w->hide();
    service_.Stop();
    w->WatchService(now + std::chrono::minutes(2));
    EXPECT_EQ(w->TrayHost().RxTrayIcon1().Icon().toolTip(), "Kestrava: no service");
    service_.Start();
    w->WatchService(now + std::chrono::minutes(3));
    EXPECT_EQ(w->TrayHost().RxTrayIcon1().Icon().toolTip(), "Kestrava: protection off");
}

TEST_F(EnforceWindow, TheStatusBarAndTheTrayTooltipSayTheProtectionState) {
    auto w = Make(service_.SocketPath());
    RunStartup(*w, StartSwitch::None);
    EXPECT_EQ(w->ServicePanel()->text(), "Protection off");
    EXPECT_EQ(w->TrayHost().RxTrayIcon1().Icon().toolTip(), "Kestrava: protection off");
    w->Principals().Select(w->Principals().FindNodeByText("ALICE"));
    Click(*w, "ToolButton18");
    EXPECT_EQ(w->ServicePanel()->text(), "Protection on");
    EXPECT_EQ(w->TrayHost().RxTrayIcon1().Icon().toolTip(), "Kestrava: protection on");
}

TEST_F(EnforceWindow, TheRefusalCountIsTheSelectedUsers) {
    // Real accounts, so that their uids are known; only root may read another uid's count.
    if (::geteuid() != 0)
        GTEST_FAIL() << "needs root to read another uid's count";
    registry_.SetProfiles({"root", "nobody"});
    store_.WriteBool("CurUsers_root", true);
    store_.WriteBool("CurUsers_nobody", true);
    auto w = Make(service_.SocketPath());
    RunStartup(*w, StartSwitch::None);
    for (int i = 0; i < 3; ++i) {
        driver::Denial theirs;
        theirs.uid = 65534;
        service_.Service().Denials().Add(theirs);
    }
    driver::Denial mine;
    mine.uid = 0;
    service_.Service().Denials().Add(mine);
    w->Principals().Select(w->Principals().FindNodeByText("nobody"));
    w->UpdateRefusalCount();
    EXPECT_EQ(w->RefusalPanel()->text(), "Refused (nobody): 3");
    w->Principals().Select(w->Principals().FindNodeByText("root"));
    w->UpdateRefusalCount();
    EXPECT_EQ(w->RefusalPanel()->text(), "Refused (root): 1");
}

TEST_F(EnforceWindow, AutomaticProtectionItemAndMinimizeDriveTheLogonEntry) {
    auto w = Make(service_.SocketPath());
    RunStartup(*w, StartSwitch::None);
    QAction* item = w->MenuItem("AutomaticFilesProtection1");
    item->trigger();  // checked -> unchecked
    EXPECT_FALSE(RunValue().has_value());
    EXPECT_FALSE(std::filesystem::exists(dir_.File("autostart/kestrava.desktop")));
    EXPECT_EQ(store_.ReadString("AutomaticFilesProtection", ""), "0");
    store_.WriteBool("Minimize", false);
    item->trigger();
    EXPECT_EQ(RunValue(), dir_.File("program") + "/kv /S");
    EXPECT_EQ(store_.ReadString("AutomaticFilesProtection", ""), "1");
    // Closing the window applies the entry again, even when the close is refused.
    registry_.DeleteValue(Hive::LocalMachine, kRunKey, kRunValue);
    w->show();
    w->Modified().Set();
    prompts_.Queue(Answer::Cancel);
    EXPECT_FALSE(w->close());
    EXPECT_EQ(RunValue(), dir_.File("program") + "/kv /S");
}

TEST_F(EnforceWindow, OneShotSwitches) {
    {
        auto w = Make(service_.SocketPath());
        EXPECT_EQ(RunStartup(*w, StartSwitch::Start), StartupOutcome::Terminate);
    }
    EXPECT_EQ(service_.Count(), 4u);
    EXPECT_TRUE(service_.Active());
    {
        auto w = Make(service_.SocketPath());
        EXPECT_EQ(RunStartup(*w, StartSwitch::Stop), StartupOutcome::Terminate);
    }
    EXPECT_EQ(service_.Count(), 0u);
    {
        auto w = Make(service_.SocketPath());
        EXPECT_EQ(RunStartup(*w, StartSwitch::Install), StartupOutcome::Terminate);
    }
    EXPECT_TRUE(registry_.KeyExists(Hive::LocalMachine, kServiceKey));
    // An installed program (only root can make the folder one) registers the
    // service to start at boot.
    const bool installed = ::geteuid() == 0;
    EXPECT_EQ(registration_.calls, installed ? std::vector{true} : std::vector<bool>{});
    TEncriptor reread(dir_.File("kv.dat"), true);
    EXPECT_EQ(reread.ReadString("CurUsers_BOB", ""), "1");  // flushed by the installation step
    {
        auto w = Make(service_.SocketPath());
        w->Autostart().ApplyAutostart(true);
        EXPECT_EQ(RunStartup(*w, StartSwitch::Uninstall), StartupOutcome::Terminate);
    }
    EXPECT_FALSE(registry_.KeyExists(Hive::LocalMachine, kServiceKey));
    EXPECT_FALSE(RunValue().has_value());
    EXPECT_EQ(registration_.calls, installed ? (std::vector{true, false}) : std::vector<bool>{});

    // Without systemd the installation step says so.
    if (installed) {
        registration_.available = false;
        auto w = Make(service_.SocketPath());
        EXPECT_EQ(RunStartup(*w, StartSwitch::Install), StartupOutcome::Terminate);
        EXPECT_FALSE(prompts_.shown.empty());
        EXPECT_EQ(prompts_.shown.back().text, platform::kNoServiceManager);
    }
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

TEST_F(EnforceWindow, TheRefusalsWindowListsTheLogFiltersByUserAndKeepsReading) {
    auto w = Make(service_.SocketPath());
    RunStartup(*w, StartSwitch::None);
    driver::Denial first;
    first.uid = ::geteuid();
    first.time = 1700000000;
    first.process = "/usr/bin/rm";
    first.operation = 0x20;
    first.path = "/srv/ro/a.txt";
    first.entry = 0;
    service_.Service().Denials().Add(first);
    w->MenuItem("Refusals1")->trigger();
    TRefusalsWindow* window = w->RefusalsWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    QTableWidget* table = window->Table();
    ASSERT_EQ(table->rowCount(), 1);
    EXPECT_EQ(table->item(0, TRefusalsWindow::kProgram)->text(), "/usr/bin/rm");
    EXPECT_EQ(table->item(0, TRefusalsWindow::kPath)->text(), "/srv/ro/a.txt");
    EXPECT_EQ(table->item(0, TRefusalsWindow::kOperation)->text().toStdString(),
              driver::OperationNames(0x20));
    EXPECT_TRUE(table->item(0, TRefusalsWindow::kRule)->text().startsWith("entry 0"));
    EXPECT_FALSE(table->item(0, TRefusalsWindow::kUser)->text().isEmpty());

    // Another uid's refusal (root sees every uid's) comes in while the window is open.
    driver::Denial second = first;
    second.uid = ::geteuid() + 4242;
    second.path = "/srv/ro/b.txt";
    service_.Service().Denials().Add(second);
    QTest::qWait(1300);
    const int expected = ::geteuid() == 0 ? 2 : 1;
    ASSERT_EQ(table->rowCount(), expected);
    if (expected == 2) {
        window->UserFilter()->setCurrentText(table->item(1, TRefusalsWindow::kUser)->text());
        EXPECT_TRUE(table->isRowHidden(0));
        EXPECT_FALSE(table->isRowHidden(1));
        window->UserFilter()->setCurrentText("All users");
        EXPECT_FALSE(table->isRowHidden(0));
    }
}

}  // namespace
}  // namespace kv
