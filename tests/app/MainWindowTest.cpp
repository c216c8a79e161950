#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <deque>
#include <filesystem>
#include <set>

#include "access/forms/PasFrm.h"
#include "access/forms/SecUn.h"
#include "app/AboutBox.h"
#include "app/CtrlPanel.h"
#include "app/Double.h"
#include "app/Startup.h"
#include "options/forms/PrOptFrm.h"
#include "principals/forms/NewGrFrm.h"
#include "rules/forms/OptForm.h"
#include "tests/access_forms/ModalScript.h"
#include "tests/app/WindowFixture.h"
#include "tests/support/FakeRegistry.h"
#include "tests/support/ScriptedGroupDialog.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/TempDir.h"
#include "ui/DirView.h"
#include "ui/DriveView.h"
#include "ui/ElidedLabel.h"
#include "ui/HelpViewer.h"
#include "ui/Placement.h"
#include "ui/PrincipalTreeView.h"
#include "ui/TrayIcon.h"

namespace kv {
namespace {

using test::ScriptedGroupDialog;

struct Expected {
    const char* name;
    const char* category;
    const char* caption;
    const char* tip;
    const char* status;
    int tag;
};

// The command table as the window must show it.
const Expected kCommands[] = {
    {"cmdSave", "File", "Save", "Save Settings", "Save all Protection settings", 0},
    {"cmdMinimize", "File", "Minimize", "Minimize to the Tray Bar", "Minimize to the Tray Bar", 0},
    {"cmdNewGroup", "Edit", "New Users Group", "New Users Group", "Add New Users Group to the list",
     0},
    {"cmdDelGroup", "Edit", "Delete Group", "Remove Users Group",
     "Remove Users Group from the list", 0},
    {"cmdMoveUser", "Edit", "Add User to a Group", "Move User to Group", "Move User to Group", 0},
    {"cmdRemUser", "Edit", "Remove User from a Group", "Remove User from Group",
     "Remove User from Group", 0},
    {"cmdicon", "View", "Icon view", "Icon view", "Icon view", 0},
    {"cmdSmIcon", "View", "Small Icon view", "Small Icon view", "Small Icon view", 0},
    {"cmdList", "View", "List view", "List view", "List view", 0},
    {"cmdReport", "View", "Report view", "Report view", "Report view", 0},
    {"cmdRefresh", "View", "Refresh", "Refresh File System",
     "Use it to update File System after you have changed any protection settings", 0},
    {"cmdReadOnly", "Actions", "ReadOnly Protection", "ReadOnly Protection",
     "Set ReadOnly Protection for the folder", 1},
    {"cmdUnaccessable", "Actions", "Full Protection", "Full Protection",
     "Set Full Protection for the folder", 2},
    {"cmdCustom", "Actions", "Custom Protection", "Custom Protection",
     "Set Custom Protection for the folder", 3},
    {"cmdReset", "Actions", "Reset Protection", "Reset any Protection",
     "Reset any Protection for the folder", -1},
    {"cmdAutorun", "Actions", "Start Protection", "Start File System Protection",
     "Start File System Protection for all users and users groups ", 0},
    {"cmdStart", "Actions", "Test Protection", "Test File System Protection",
     "Test File System Protection for the selected user or users group ", 0},
    {"cmdStop", "Actions", "Stop Protection", "Stop File System Protection",
     "Stop File System Protection for the current session", 0},
    {"cmdROpt", "Options", "ReadOnly Protection Options", "Set ReadOnly Protection Options",
     "Set Default ReadOnly Protection Options", 1},
    {"cmdFullOpt", "Options", "Full Protection Options", "Set Full Protection Options",
     "Set Default Full Protection Options", 2},
    {"cmdCustomOpt", "Options", "Custom Protection Options", "Set Custom Protection Options",
     "Set Default Custom Protection Options or Custom Protection settings for the selected folder",
     3},
    {"cmdPrOpt", "Options", "Program Options", "Set program options",
     "Set program options and the password to secure an access to program settings", 0},
    {"cmdPassword", "Options", "Administrator's Password", "Administrator's Password",
     "Set the Administrator's Password to secure an access to File System Protection settings", 0},
};

QStringList Entries(const QList<QAction*>& actions) {
    QStringList out;
    for (QAction* a : actions) {
        if (a->isSeparator()) {
            out << "-";
        } else if (a->menu()) {
            out << "[" + QString(a->menu()->title()).remove('&') + "]";
        } else {
            out << a->objectName();
        }
    }
    return out;
}

/// The caption a menu shows, without the "&" that marks its keyboard letter.
std::string Caption(QString text) {
    return text.remove('&').toStdString();
}

/// The letter after "&" in a menu text, in upper case; 0 when there is none.
QChar Mnemonic(const QString& text) {
    const qsizetype at = text.indexOf('&');
    return at < 0 || at + 1 >= text.size() ? QChar() : text.at(at + 1).toUpper();
}

class Window : public test::WindowFixture {
protected:
    // A command runs as the user would reach it: enabled states are those of the last idle.
    static void Trigger(TSecFrm& w, const char* name) {
        w.ActionList1Update();
        w.Action(name)->trigger();
    }

    Window() : store_(dir_.File("kv.dat"), true) {
        store_.WriteBool("CurUsers_ALICE", true);
        store_.WriteBool("CurUsers_BOB", true);
        store_.Flush(true);
    }

    std::unique_ptr<TSecFrm> Make(TEncriptor& store) {
        TSecFrmServices services = Services(store);
        services.placementFile = QString::fromStdString(dir_.File("kv.INI"));
        return std::make_unique<TSecFrm>(services);
    }

    TEncriptor store_;
};

TEST_F(Window, EveryCommandCarriesItsCaptionHintTagAndCategory) {
    auto w = Make(store_);
    for (const Expected& e : kCommands) {
        QAction* a = w->Action(e.name);
        ASSERT_NE(a, nullptr) << e.name;
        EXPECT_EQ(Caption(a->text()), e.caption) << e.name;
        EXPECT_EQ(a->toolTip().toStdString(), e.tip) << e.name;
        EXPECT_EQ(a->statusTip().toStdString(), e.status) << e.name;
        EXPECT_EQ(a->data().toInt(), e.tag) << e.name;
        EXPECT_EQ(a->property("category").toString().toStdString(), e.category) << e.name;
        EXPECT_FALSE(a->icon().isNull()) << e.name;
    }
}

TEST_F(Window, ToolbarAndMenusFollowTheLayout) {
    auto w = Make(store_);
    QStringList bar;
    for (QAction* a : w->ToolBar1()->actions()) {
        if (a->isSeparator()) {
            bar << "|";
        } else if (auto* b = qobject_cast<QToolButton*>(w->ToolBar1()->widgetForAction(a))) {
            bar << b->property("action").toString();
        }
    }
    EXPECT_EQ(bar.join(" ").toStdString(),
              "cmdNewGroup cmdDelGroup cmdMoveUser cmdRemUser | cmdSave cmdMinimize | cmdReadOnly "
              "cmdUnaccessable cmdCustom cmdReset | cmdROpt cmdFullOpt cmdCustomOpt cmdPrOpt | "
              "cmdicon cmdSmIcon cmdList cmdReport | | cmdAutorun cmdStart cmdStop | | cmdRefresh");
    for (const char* name : {"btnIcons", "btnSmallIcons", "btnList", "btnReport", "ToolButton20",
                             "ToolButton18", "ToolButton19", "ToolButton25"}) {
        EXPECT_NE(w->ToolButton(name), nullptr) << name;
    }

    QStringList titles;
    for (QAction* a : w->menuBar()->actions())
        titles << QString::fromStdString(Caption(a->text()));
    EXPECT_EQ(titles, (QStringList{"File", "Edit", "View", "Actions", "Options", "Help"}));
    EXPECT_EQ(Entries(w->Menu("File")->actions()),
              (QStringList{"cmdSave", "-", "cmdMinimize", "Exit1"}));
    EXPECT_EQ(Caption(w->MenuItem("Exit1")->text()), "Exit   Alt+F4");
    EXPECT_EQ(Entries(w->Menu("View")->actions()),
              (QStringList{"cmdRefresh", "Refusals1", "-", "cmdicon", "cmdSmIcon", "cmdList",
                           "cmdReport"}));
    EXPECT_EQ(Entries(w->Menu("Options")->actions()),
              (QStringList{"cmdROpt", "cmdFullOpt", "cmdCustomOpt", "cmdPrOpt", "-",
                           "AutomaticFilesProtection1", "cmdPassword"}));
    EXPECT_EQ(Entries(w->Menu("Help")->actions()),
              (QStringList{"Help2", "-", "KVHomePage1", "KVSupportPage1", "-", "About1"}));
    EXPECT_EQ(Entries(w->Menu("PopupMenu1")->actions()),
              (QStringList{"cmdNewGroup", "cmdDelGroup", "cmdMoveUser", "cmdRemUser"}));
    EXPECT_EQ(Entries(w->Menu("DriveMenu")->actions()),
              (QStringList{"cmdReadOnly", "cmdUnaccessable", "cmdCustom", "cmdReset", "-",
                           "cmdROpt", "cmdFullOpt", "cmdCustomOpt"}));
    EXPECT_EQ(Entries(w->Menu("DirListMenu")->actions()),
              (QStringList{"cmdReadOnly", "cmdUnaccessable", "cmdCustom", "cmdReset", "-",
                           "cmdROpt", "cmdFullOpt", "cmdCustomOpt", "[View]"}));
    EXPECT_EQ(Entries(w->Menu("PopupMenu2")->actions()),
              (QStringList{"cmdShowMain", "StartFileProtection1", "StopFileProtection1", "Exit2"}));
    // A command reached from a menu and from the toolbar is the same action.
    EXPECT_EQ(w->Menu("Edit")->actions().front(), w->Action("cmdNewGroup"));
}

TEST_F(Window, StateAtCreation) {
    auto w = Make(store_);
    EXPECT_EQ(w->windowTitle(), "Kestrava");
    EXPECT_TRUE(w->ToolButton("ToolButton19")->isChecked());
    EXPECT_TRUE(w->ToolButton("btnList")->isChecked());
    EXPECT_FALSE(w->ToolButton("ToolButton20")->isChecked());
    EXPECT_TRUE(w->MenuItem("AutomaticFilesProtection1")->isChecked());
    w->ActionList1Update();
    EXPECT_FALSE(w->Action("cmdSave")->isEnabled());
    EXPECT_FALSE(w->ToolButton("tb_cmdSave")->isEnabled());
    EXPECT_TRUE(w->MenuItem("StartFileProtection1")->isEnabled());
    EXPECT_FALSE(w->MenuItem("StopFileProtection1")->isEnabled());
    EXPECT_EQ(w->StatusPanel(1)->text(), "Current User : ");
    EXPECT_EQ(w->Panes()->widget(0)->objectName(), "UserGroups");
    EXPECT_EQ(w->Panes()->widget(1)->objectName(), "DriveView1");
    EXPECT_EQ(w->Panes()->widget(2)->objectName(), "DirView1");
    for (int i = 0; i < 3; ++i)
        EXPECT_GE(w->Panes()->widget(i)->minimumWidth(), 50);
}

TEST_F(Window, StartupShowsTheCurrentUserAndItsCaption) {
    auto w = Make(store_);
    EXPECT_EQ(RunStartup(*w, StartSwitch::None), StartupOutcome::ShowWindow);
    EXPECT_EQ(w->CurrentUserName(), "BOB");
    EXPECT_EQ(w->StatusPanel(2)->text(), "BOB");
    EXPECT_EQ(w->windowTitle(), "Kestrava - Protection settings for the user \"BOB\"");
    QTreeWidgetItem* current = w->UserGroups()->currentItem();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current->text(0), "BOB");
    EXPECT_EQ(w->UserGroups()->topLevelItemCount(), 3);

    // Selecting a node in the widget updates the model and the caption.
    w->UserGroups()->setCurrentItem(w->UserGroups()->topLevelItem(0));
    EXPECT_EQ(w->windowTitle(), "Kestrava - Protection settings for the user \"ALICE\"");
}

TEST_F(Window, GroupEditsSurviveSaveAndRestart) {
    {
        auto w = Make(store_);
        RunStartup(*w, StartSwitch::None);
        dialog_.answers = {std::string("Staff"), std::string("Guests")};
        Trigger(*w, "cmdNewGroup");
        Trigger(*w, "cmdNewGroup");
        w->ActionList1Update();
        EXPECT_TRUE(w->Action("cmdSave")->isEnabled());

        // BOB into Guests (the add case), then ALICE into Staff and moved to Guests.
        w->Principals().Select(w->Principals().FindNodeByText("Guests"));
        dialog_.answers = {std::string("BOB")};
        Trigger(*w, "cmdMoveUser");
        w->Principals().Select(w->Principals().FindNodeByText("Staff"));
        dialog_.answers = {std::string("ALICE")};
        Trigger(*w, "cmdMoveUser");
        w->Principals().Select(w->Principals().FindNodeByText("ALICE"));
        dialog_.answers = {std::string("Guests")};
        Trigger(*w, "cmdMoveUser");
        // Staff deleted.
        w->Principals().Select(w->Principals().FindNodeByText("Staff"));
        prompts_.Queue(Answer::Yes);
        Trigger(*w, "cmdDelGroup");
        w->ActionList1Update();
        EXPECT_FALSE(w->Action("cmdDelGroup")->isEnabled());

        Trigger(*w, "cmdSave");
        EXPECT_FALSE(w->Modified().Get());
        w->ActionList1Update();
        EXPECT_FALSE(w->Action("cmdSave")->isEnabled());
    }
    TEncriptor reread(dir_.File("kv.dat"), true);
    EXPECT_EQ(reread.ReadString("GroupCount", ""), "1");
    EXPECT_EQ(reread.ReadString("1_Group", ""), "Guests");
    EXPECT_EQ(reread.ReadString("BOB_GroupName", ""), "Guests");
    EXPECT_EQ(reread.ReadString("ALICE_GroupName", ""), "Guests");
    EXPECT_EQ(reread.ReadString("CurUsers_BOB", ""), "1");

    auto again = Make(reread);
    RunStartup(*again, StartSwitch::None);
    QTreeWidget* tree = again->UserGroups();
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    EXPECT_EQ(tree->topLevelItem(0)->text(0), "Guests");
    ASSERT_EQ(tree->topLevelItem(0)->childCount(), 2);
    EXPECT_EQ(tree->topLevelItem(0)->child(0)->text(0), "ALICE");  // profile order
    EXPECT_EQ(tree->topLevelItem(0)->child(1)->text(0), "BOB");
    EXPECT_EQ(tree->topLevelItem(1)->text(0), "Unknown User");
    EXPECT_EQ(tree->currentItem()->text(0), "BOB");
}

TEST_F(Window, ClosingWithChangesAsksToSave) {
    auto w = Make(store_);
    RunStartup(*w, StartSwitch::None);
    w->show();
    w->Modified().Set();
    prompts_.Queue(Answer::Cancel);
    EXPECT_FALSE(w->close());
    EXPECT_EQ(prompts_.shown.back().text, "Do you want to save modifications ?");
    EXPECT_EQ(prompts_.shown.back().title, "Kestrava");
    EXPECT_EQ(prompts_.shown.back().buttons, Buttons::YesNoCancel);
    prompts_.Queue(Answer::Yes);
    EXPECT_TRUE(w->close());
    EXPECT_FALSE(w->Modified().Get());
}

TEST_F(Window, ProgramOptionsOkLeavesUnsavedGroupEditsToTheSaveQuestion) {
    TSecFrmServices services = Services(store_);
    services.programOptions = {};  // the window's own program options dialog
    services.openHelp = [](const std::string&) {};
    auto w = std::make_unique<TSecFrm>(services);
    RunStartup(*w, StartSwitch::None);
    dialog_.answers = {std::string("Staff")};
    Trigger(*w, "cmdNewGroup");
    test::WhenModal<TPrOptFrm>([](TPrOptFrm* form) {
        QTest::mouseClick(form->findChild<QPushButton*>("OKButton"), Qt::LeftButton);
    });
    ASSERT_TRUE(w->cmdPrOptExecute());
    auto onDisk = [this](const char* name) {
        return TEncriptor(dir_.File("kv.dat"), true).ReadString(name, "<none>");
    };
    EXPECT_EQ(onDisk("FirstTime"), "0");     // the options reached the file
    EXPECT_EQ(onDisk("1_Group"), "<none>");  // the new group did not
    EXPECT_TRUE(w->Modified().Get());
    w->ActionList1Update();
    EXPECT_TRUE(w->Action("cmdSave")->isEnabled());

    w->show();
    prompts_.Queue(Answer::Yes);
    EXPECT_TRUE(w->close());
    EXPECT_EQ(prompts_.shown.back().text, "Do you want to save modifications ?");
    EXPECT_EQ(onDisk("1_Group"), "Staff");
    EXPECT_FALSE(w->Modified().Get());
}

// A second start while the program waits hidden asks the password in the
// running copy; the prompt's own loop runs inside the show request.
TEST_F(Window, AShowRequestFromASecondStartAsksThePasswordAndKeepsTheCopyRunning) {
    store_.WriteString("Password", "SECRET");
    store_.WriteBool("FirstTime", false);
    auto w = Make(store_);
    ASSERT_EQ(RunStartup(*w, StartSwitch::Tray), StartupOutcome::StayHidden);
    platform::InstanceGuard guard(QString::fromStdString(dir_.File("run")), kInstanceName);
    ASSERT_TRUE(InitInstance(guard, false, true, prompts_).run);
    TAppManager listener(guard, [&w] { w->ShowMainWindow(); });

    // Cancel, three wrong entries, then the right one.
    const std::vector<std::function<void(TSecurFrm*)>> answers = {
        [](TSecurFrm* f) { QTest::keyClick(f->findChild<QLineEdit*>("Edit1"), Qt::Key_Escape); },
        [](TSecurFrm* f) {
            for (int i = 0; i < 3; ++i) {
                QTest::keyClicks(f->findChild<QLineEdit*>("Edit1"), "wrong");
                QTest::keyClick(f->findChild<QLineEdit*>("Edit1"), Qt::Key_Return);
            }
        },
        [](TSecurFrm* f) {
            QTest::keyClicks(f->findChild<QLineEdit*>("Edit1"), "secret");
            QTest::keyClick(f->findChild<QLineEdit*>("Edit1"), Qt::Key_Return);
        },
    };
    for (std::size_t i = 0; i < answers.size(); ++i) {
        bool asked = false;
        test::WhenModal<TSecurFrm>([&](TSecurFrm* f) {
            asked = true;
            answers[i](f);
        });
        QObject context;
        bool ranOut = false;
        QTimer::singleShot(0, &context, [this] {
            platform::InstanceGuard second(QString::fromStdString(dir_.File("run")), kInstanceName);
            EXPECT_TRUE(second.SendShowRequest());
        });
        QTimer::singleShot(1500, &context, [&ranOut] {
            ranOut = true;
            QCoreApplication::exit(0);
        });
        QCoreApplication::exec();
        EXPECT_TRUE(asked) << i;
        EXPECT_TRUE(ranOut) << "the program ended with the prompt, answer " << i;
        EXPECT_EQ(w->isVisible(), i == 2) << i;
    }
}

// The system's question before a logoff asks what closing the window asks.
TEST_F(Window, TheEndOfTheSessionAsksToSaveAsClosingDoes) {
    store_.WriteBool("FirstTime", false);
    auto w = Make(store_);
    RunStartup(*w, StartSwitch::None);
    EXPECT_TRUE(w->QueryEndSession());  // nothing to save: no question
    EXPECT_TRUE(prompts_.shown.empty());
    dialog_.answers = {std::string("Staff")};
    Trigger(*w, "cmdNewGroup");
    prompts_.Queue(Answer::Cancel);
    EXPECT_FALSE(w->QueryEndSession());
    ASSERT_EQ(prompts_.shown.size(), 1u);
    EXPECT_EQ(prompts_.shown[0].text, "Do you want to save modifications ?");
    EXPECT_EQ(prompts_.shown[0].title, "Kestrava");
    EXPECT_EQ(prompts_.shown[0].buttons, Buttons::YesNoCancel);
    prompts_.Queue(Answer::Yes);
    EXPECT_TRUE(w->QueryEndSession());
    EXPECT_FALSE(w->Modified().Get());
    EXPECT_EQ(TEncriptor(dir_.File("kv.dat"), true).ReadString("1_Group", ""), "Staff");
}

TEST_F(Window, FirstStartOpensTheHelpAndLaterStartsApplyTheMsDosPolicy) {
    {
        auto w = Make(store_);
        RunStartup(*w, StartSwitch::None);
        // The first steps open once the window shows, in front of it.
        w->show();
        QTest::qWait(20);
        EXPECT_EQ(helpTopics_, std::vector<std::string>{"Topic70"});
        // Closing while "FirstTime" is set opens the program options first.
        EXPECT_TRUE(w->close());
        EXPECT_EQ(optionRuns_, 1);
    }
    EXPECT_FALSE(registry_.ReadValue(platform::Hive::CurrentUser,
                                     "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\"
                                     "WinOldApp",
                                     "NoRealMode"));
    store_.WriteBool("FirstTime", false);
    auto w = Make(store_);
    RunStartup(*w, StartSwitch::None);
    EXPECT_EQ(helpTopics_.size(), 1u);
    const auto policy = registry_.ReadValue(
        platform::Hive::CurrentUser,
        "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\WinOldApp", "NoRealMode");
    ASSERT_TRUE(policy.has_value());
    EXPECT_EQ(policy->dword, 1u);
    w->show();
    QTest::qWait(20);
    EXPECT_EQ(helpTopics_.size(), 1u);
    EXPECT_TRUE(w->close());
    EXPECT_EQ(optionRuns_, 1);
}

TEST_F(Window, PanesKeepTheirWidthsBetweenRuns) {
    {
        auto w = Make(store_);
        w->show();
        w->Panes()->setSizes({150, 260, 300});
        w->StorePlacement();
    }
    auto w = Make(store_);
    w->show();
    const QList<int> sizes = w->Panes()->sizes();
    EXPECT_EQ(sizes[0], 150);
    EXPECT_EQ(sizes[2], 300);
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

TEST_F(Window, ProtectionCommandsFollowTheFocusedViewWhenIdle) {
    auto w = Make(store_);
    RunStartup(*w, StartSwitch::None);
    w->show();
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    // A click on the first entry, as a user selects it in the list style.
    auto* list = w->DirView1()->findChild<QListView*>();
    ASSERT_NE(list, nullptr);
    const QRect first = list->visualRect(list->model()->index(0, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, first.center());
    EXPECT_EQ(w->DirView1()->SelectedPositions(), std::vector<int>{0});
    w->ActionList1Update();  // as the application's idle update does
    EXPECT_TRUE(w->Action("cmdReadOnly")->isEnabled());
    EXPECT_TRUE(w->ToolButton("tb_cmdReadOnly")->isEnabled());
    // The Actions menu opened from the keyboard keeps the list's commands.
    QTest::keyClick(list, Qt::Key_A, Qt::AltModifier);
    QMenu* actions = w->Menu("Actions");
    ASSERT_TRUE(actions->isVisible());
    w->ActionList1Update();
    EXPECT_TRUE(w->Action("cmdReadOnly")->isEnabled());
    actions->hide();
    w->UserGroups()->setFocus();
    EXPECT_FALSE(w->Action("cmdReset")->isEnabled());
}

TEST_F(Window, ViewStyleCommandsPressTheirButton) {
    auto w = Make(store_);
    w->Action("cmdReport")->trigger();
    EXPECT_TRUE(w->ToolButton("btnReport")->isChecked());
    EXPECT_FALSE(w->ToolButton("btnList")->isChecked());
    w->ToolButton("btnIcons")->click();
    EXPECT_TRUE(w->ToolButton("btnIcons")->isChecked());
}

TEST_F(Window, EveryMenuHasOneKeyboardLetterPerEntry) {
    auto w = Make(store_);
    std::vector<QMenu*> menus;
    QStringList bar;
    for (QAction* a : w->menuBar()->actions()) {
        menus.push_back(a->menu());
        bar << a->text();
    }
    for (const char* name : {"PopupMenu1", "DriveMenu", "DirListMenu", "PopupMenu2"})
        menus.push_back(w->Menu(name));
    auto unique = [](const QStringList& texts, const QString& where) {
        std::set<QChar> seen;
        for (const QString& text : texts) {
            const QChar letter = Mnemonic(text);
            EXPECT_FALSE(letter.isNull()) << where.toStdString() << ": " << text.toStdString();
            EXPECT_TRUE(seen.insert(letter).second)
                << where.toStdString() << ": " << text.toStdString();
        }
    };
    unique(bar, "menu bar");
    for (QMenu* menu : menus) {
        ASSERT_NE(menu, nullptr);
        QStringList texts;
        for (QAction* a : menu->actions()) {
            if (!a->isSeparator())
                texts << a->text();
        }
        unique(texts, menu->objectName());
    }
    // The letters only underline: the captions stay as they are.
    EXPECT_EQ(w->MenuItem("Exit1")->text(), "E&xit   Alt+F4");
    EXPECT_EQ(w->Action("cmdPassword")->text(), "Ad&ministrator's Password");
    EXPECT_EQ(Caption(w->MenuItem("StopFileProtection1")->text()), "Stop Files Protection");
}

TEST_F(Window, StandardKeysReachTheCommandsTheMenusDoNotShow) {
    auto w = Make(store_);
    const std::pair<const char*, const char*> keys[] = {
        {"cmdSave", "Ctrl+S"}, {"cmdRefresh", "F5"}, {"cmdAutorun", "F9"},
        {"cmdStart", "F8"},    {"cmdStop", "F7"},    {"cmdMinimize", "Ctrl+M"}};
    for (const auto& [name, key] : keys)
        EXPECT_EQ(w->Action(name)->shortcut().toString().toStdString(), key) << name;
    EXPECT_EQ(w->MenuItem("Help2")->shortcut().toString(), "F1");
    // The protection commands stand only on the toolbar: the window holds them,
    // so their keys work.
    RunStartup(*w, StartSwitch::None);
    w->show();
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    int started = 0;
    QObject::connect(w->Action("cmdStart"), &QAction::triggered, [&started] { ++started; });
    w->ActionList1Update();
    QTest::keyClick(w->UserGroups(), Qt::Key_F8);
    EXPECT_EQ(started, 1);
    QTest::keyClick(w->UserGroups(), Qt::Key_F1);
    EXPECT_EQ(helpTopics_.back(), "");
}

TEST_F(Window, ShiftF10OpensThePaneMenusFromTheKeyboard) {
    auto w = Make(store_);
    RunStartup(*w, StartSwitch::None);
    w->show();
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    const std::pair<QWidget*, const char*> panes[] = {
        {w->UserGroups(), "PopupMenu1"},
        {static_cast<QWidget*>(w->DriveView1()), "DriveMenu"},
        {w->DirView1()->CurrentView(), "DirListMenu"}};
    for (const auto& [pane, menu] : panes) {
        pane->setFocus();
        QTest::keyClick(pane, Qt::Key_F10, Qt::ShiftModifier);
        EXPECT_TRUE(w->Menu(menu)->isVisible()) << menu;
        w->Menu(menu)->hide();
    }
}

TEST_F(Window, ModalDialogsHaveACloseButtonAndNoMinimizeOrMaximize) {
    TPasFrmLogic pasLogic(prompts_);
    TModifiedFlag modified;
    ProgramOptionsHooks hooks;
    TPrOptFrmLogic prOptLogic(store_, prompts_, modified, hooks);
    TPasFrm pasFrm(pasLogic);
    TPrOptFrm prOptFrm(prOptLogic);
    TNewGrFrm newGrFrm;
    TAboutBox about;
    TOptForm optForm;
    for (QDialog* dialog :
         std::initializer_list<QDialog*>{&pasFrm, &prOptFrm, &newGrFrm, &about, &optForm}) {
        const Qt::WindowFlags flags = dialog->windowFlags();
        EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Dialog) << dialog->objectName().toStdString();
        EXPECT_TRUE(flags & Qt::WindowCloseButtonHint) << dialog->objectName().toStdString();
        EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint))
            << dialog->objectName().toStdString();
    }
}

TEST_F(Window, F1InADialogOpensTheDialogsTopic) {
    auto w = Make(store_);
    TPasFrmLogic pasLogic(prompts_);
    TPasFrm pasFrm(pasLogic);
    EXPECT_EQ(DialogHelpTopic(*pasFrm.findChild<QWidget*>("Confirm")), "Password");
    TNewGrFrm newGrFrm;
    EXPECT_EQ(DialogHelpTopic(newGrFrm), "Groups");
    TModifiedFlag modified;
    ProgramOptionsHooks hooks;
    TPrOptFrmLogic prOptLogic(store_, prompts_, modified, hooks);
    TPrOptFrm prOptFrm(prOptLogic);
    EXPECT_EQ(DialogHelpTopic(*prOptFrm.findChild<QWidget*>("HotKey1")), "ProgramOptions");
    TOptForm optForm;
    OptionsDialogState full;
    full.mode = 2;
    full.caption = "Full Protection Options";
    full.helpTopic = "Topic150";
    optForm.LoadOptions(full);
    EXPECT_EQ(DialogHelpTopic(*optForm.findChild<QWidget*>("Proc")), "Topic200");
    EXPECT_EQ(DialogHelpTopic(*optForm.findChild<QWidget*>("OKButton")), "Topic150");

    // The key itself, pressed in a shown dialog.
    pasFrm.show();
    QTest::keyClick(pasFrm.findChild<QWidget*>("Password"), Qt::Key_F1);
    ASSERT_FALSE(helpTopics_.empty());
    EXPECT_EQ(helpTopics_.back(), "Password");
}

TEST_F(Window, HelpAndWebPagesOpenFromTheHelpMenuAndAFailureIsShown) {
    std::vector<std::string> addresses;
    TSecFrmServices services = Services(store_);
    services.openUrl = [&addresses](const std::string& address) {
        addresses.push_back(address);
        return addresses.size() == 1;  // the second one fails
    };
    auto w = std::make_unique<TSecFrm>(services);
    w->MenuItem("Help2")->trigger();
    EXPECT_EQ(helpTopics_, std::vector<std::string>{""});
    // The home and support pages are the program's own help, not placeholder sites.
    w->MenuItem("KVHomePage1")->trigger();
    w->MenuItem("KVSupportPage1")->trigger();
    EXPECT_EQ(helpTopics_, (std::vector<std::string>{"", "", kSupportHelpTopic}));
    EXPECT_TRUE(addresses.empty());
    // A web link of the help that cannot be opened is said.
    w->OpenWebPage("https://example.org/a");
    w->OpenWebPage("https://example.org/b");
    ASSERT_EQ(addresses.size(), 2u);
    ASSERT_EQ(prompts_.shown.size(), 1u);
    EXPECT_EQ(prompts_.shown[0].text, kWebPageFailedText + addresses[1]);
    EXPECT_EQ(prompts_.shown[0].title, "Kestrava");
}

TEST_F(Window, HelpOpensInTheProgramsOwnViewerAtTheTopicAlsoOverADialog) {
    TSecFrmServices services = Services(store_);
    services.openHelp = {};  // the program's own viewer
    auto w = std::make_unique<TSecFrm>(services);
    w->show();
    w->OpenHelp("Topic160");
    ui::THelpViewer* viewer = w->HelpViewer();
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(viewer->isVisible());
    EXPECT_EQ(viewer->Browser()->source().fragment(), "Topic160");
    EXPECT_EQ(viewer->parentWidget(), w.get());
    EXPECT_TRUE(prompts_.shown.empty());

    // Over a modal dialog the viewer belongs to the dialog, which would
    // otherwise keep it from any input.
    TNewGrFrm dialog(w.get());
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.show();
    ASSERT_EQ(QApplication::activeModalWidget(), &dialog);
    QTest::keyClick(dialog.findChild<QWidget*>("GroupName"), Qt::Key_F1);
    ASSERT_NE(w->HelpViewer(), nullptr);
    EXPECT_EQ(w->HelpViewer()->parentWidget(), &dialog);
    EXPECT_EQ(w->HelpViewer()->Browser()->source().fragment(), "Groups");
    EXPECT_TRUE(w->HelpViewer()->isVisible());
    dialog.hide();
}

TEST_F(Window, TheFirstWindowFitsItsScreenAndAStoredPlacementIsBroughtInside) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    {
        auto w = Make(store_);
        EXPECT_TRUE(screen.contains(w->geometry()));
        w->show();
        // Stored while it was larger than this screen and partly off it.
        w->resize(screen.width() + 400, screen.height() + 300);
        w->move(screen.right() - 50, screen.bottom() - 50);
        w->StorePlacement();
    }
    auto w = Make(store_);
    w->show();
    EXPECT_TRUE(screen.contains(w->frameGeometry()))
        << w->frameGeometry().x() << "," << w->frameGeometry().y() << " "
        << w->frameGeometry().width() << "x" << w->frameGeometry().height();
}

// A screen of 1280 x 800 at twice the scale holds 640 x 400 logical pixels,
// less the window manager's frame and task bar: the window, with every status
// panel showing a long text, must fit in what is left.
TEST_F(Window, TheWindowFitsASmallScreenWithLongStatusTexts) {
    auto w = Make(store_);
    RunStartup(*w, StartSwitch::None);
    w->show();
    const QString longPath = "/srv/Documents/Projects/garden/a folder with a long name/and more";
    w->StatusPanel(0)->setText(longPath);
    w->StatusPanel(2)->setText("a-user-with-a-rather-long-account-name");
    w->RefusalPanel()->setText("Refused (a-user-with-a-rather-long-account-name): 12345");
    w->RefusalPanel()->show();
    w->TestNotice()->setText("Testing on a-user-with-a-rather-long-account-name's account only");
    w->TestNotice()->show();
    w->CoveragePanel()->setText("Warning: " + longPath + " is not enforced by the service");
    w->CoveragePanel()->show();
    const QSize smallest = w->minimumSizeHint().expandedTo(w->minimumSize());
    EXPECT_LE(smallest.width(), 600) << smallest.width() << "x" << smallest.height();
    EXPECT_LE(smallest.height(), 340) << smallest.width() << "x" << smallest.height();

    w->resize(600, 340);
    QApplication::processEvents();
    EXPECT_EQ(w->width(), 600);
    // The service's state is cut in the bar and whole in its tooltip.
    const std::string service = "No service at " + dir_.File("VEVUZ");
    EXPECT_EQ(w->ServicePanel()->text().toStdString(), service);
    EXPECT_NE(w->ServicePanel()->toolTip().toStdString().find(dir_.File("VEVUZ")),
              std::string::npos);
    const ui::TElidedLabel* shown = w->ServicePanel();
    EXPECT_EQ(shown->ShownText(), kNoServiceText);
    EXPECT_LE(shown->geometry().right(), w->statusBar()->width());
}

TEST_F(Window, TheTrayPictureFollowsTheProtectionState) {
    auto w = Make(store_);
    ui::TRxTrayIcon& tray = w->TrayHost().RxTrayIcon1();
    EXPECT_FALSE(tray.Protected());
    w->Show(ProtectionState::Protecting);
    EXPECT_TRUE(tray.Protected());
    w->Show(ProtectionState::Testing);
    EXPECT_TRUE(tray.Protected());
    w->Show(ProtectionState::Stopped);
    EXPECT_FALSE(tray.Protected());
    // The tooltip names the state: here no service answers.
    EXPECT_EQ(tray.Icon().toolTip(), "Kestrava: no service");
    EXPECT_FALSE(w->windowIcon().isNull());
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

// The machine folder as an administrator's system would hold it.
TEST(WindowOnAMachineFolder, ProfilesAndCurrentUserComeFromTheRegistryFiles) {
    test::TempDir dir;
    std::filesystem::create_directories(dir.File("machine/registry"));
    test::WriteFile(dir.File("machine/registry/HKLM.reg"),
                    "REGEDIT4\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control]\r\n"
                    "\"Current User\"=\"BOB\"\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\"
                    "ProfileList\\ALICE]\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\"
                    "ProfileList\\BOB]\r\n\r\n");
    auto registry = platform::OpenMachineRegistry(dir.File("machine"), "bob");
    TEncriptor store(dir.File("kv.dat"), true);
    test::ScriptedPrompts prompts;
    test::ScriptedGroupDialog dialog;
    auto make = [&] {
        return std::make_unique<TSecFrm>(
            TSecFrmServices{.store = store,
                            .prompts = prompts,
                            .registry = *registry,
                            .groupDialog = &dialog,
                            .devicePath = dir.File("VEVUZ"),
                            .installPaths = {dir.File("program"), dir.File("autostart")},
                            .machineDir = dir.File("machine"),
                            .programOptions = [](ProgramOptionsHooks&) { return true; },
                            .openHelp = [](const std::string&) {}});
    };
    {
        auto w = make();
        RunStartup(*w, StartSwitch::None);
        // Not yet recorded as a known user: the logon is "Unknown User".
        EXPECT_EQ(w->CurrentUserName(), "Unknown User");
        dialog.answers = {std::string("Staff")};
        w->cmdNewGroupExecute();
        w->Principals().Select(w->Principals().FindNodeByText("Staff"));
        dialog.answers = {std::string("BOB")};
        w->cmdMoveUserExecute();
        w->cmdSaveExecute();
    }
    auto w = make();
    RunStartup(*w, StartSwitch::None);
    EXPECT_EQ(w->CurrentUserName(), "BOB");
    EXPECT_EQ(w->StatusPanel(2)->text(), "BOB");
    EXPECT_EQ(w->windowTitle(), "Kestrava - Protection settings for the user \"BOB\"");
    QTreeWidget* tree = w->UserGroups();
    ASSERT_EQ(tree->topLevelItemCount(), 3);
    EXPECT_EQ(tree->topLevelItem(0)->text(0), "Staff");
    EXPECT_EQ(tree->topLevelItem(0)->child(0)->text(0), "BOB");
    EXPECT_EQ(tree->topLevelItem(1)->text(0), "ALICE");
    EXPECT_EQ(tree->topLevelItem(2)->text(0), "Unknown User");
    EXPECT_EQ(tree->currentItem()->text(0), "BOB");
    EXPECT_EQ(store.ReadString("1_Group", ""), "Staff");
    EXPECT_EQ(store.ReadString("BOB_GroupName", ""), "Staff");
    EXPECT_EQ(store.ReadString("CurUsers_ALICE", ""), "1");
}

}  // namespace
}  // namespace kv
