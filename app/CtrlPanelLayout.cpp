// The settings window's commands, toolbar, menus and panes.
#include "app/CtrlPanel.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMenuBar>
#include <QScreen>
#include <QSessionManager>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

#include "access/Secure.h"
#include "access/forms/AccessForms.h"
#include "app/AboutBox.h"
#include "app/CommandTable.h"
#include "app/Log.h"
#include "enforce/InterceptorPassword.h"
#include "options/forms/OptionsForms.h"
#include "platform/Paths.h"
#include "platform/qt/Shell.h"
#include "platform/qt/X11HotKey.h"
#include "principals/forms/NewGrFrm.h"
#include "rules/forms/OptForm.h"
#include "ui/AppIcons.h"
#include "ui/DialogLook.h"
#include "ui/DirView.h"
#include "ui/DriveView.h"
#include "ui/FocusHighlight.h"
#include "ui/FormStorage.h"
#include "ui/HelpViewer.h"
#include "ui/ImageList1.h"
#include "ui/KeyboardMenu.h"
#include "ui/Placement.h"
#include "ui/PrincipalTreeView.h"
#include "ui/TrayIcon.h"
#include "ui/TrayLogic.h"

namespace kv {

void TSecFrm::CreateActions() {
    for (const CommandInfo& command : CommandTable()) {
        auto* action =
            new QAction(QString::fromStdString(MenuCaption(command.name, command.caption)), this);
        action->setObjectName(command.name);
        action->setShortcut(QKeySequence(QString::fromStdString(CommandShortcut(command.name))));
        action->setToolTip(QString::fromStdString(ShortHint(command.hint)));
        action->setStatusTip(QString::fromStdString(LongHint(command.hint)));
        action->setData(command.tag);
        action->setProperty("category", QString::fromUtf8(command.category));
        action->setIcon(ui::ImageList1(command.image));
        action->setIconVisibleInMenu(true);
        // The window holds every command, so that each shortcut works
        // wherever the command is shown (the protection commands only on the toolbar).
        addAction(action);
        actions_.insert(command.name, action);
        if (QString(command.category) == "View" && QString(command.name) != "cmdRefresh")
            action->setCheckable(true);
    }
}

QAction* TSecFrm::AddItem(const QString& name, const QString& caption, const QString& hint) {
    auto* item = new QAction(
        QString::fromStdString(MenuCaption(name.toStdString(), caption.toStdString())), this);
    item->setObjectName(name);
    item->setShortcut(QKeySequence(QString::fromStdString(CommandShortcut(name.toStdString()))));
    item->setToolTip(QString::fromStdString(ShortHint(hint.toStdString())));
    item->setStatusTip(QString::fromStdString(LongHint(hint.toStdString())));
    items_.insert(name, item);
    return item;
}

void TSecFrm::CreateToolBar() {
    toolBar_ = addToolBar("ToolBar1");
    toolBar_->setObjectName("ToolBar1");
    toolBar_->setMovable(false);
    toolBar_->setFixedHeight(31);
    toolBar_->setIconSize(QSize(20, 20));
    viewButtons_ = new QButtonGroup(this);
    protectionButtons_ = new QButtonGroup(this);
    for (const LayoutEntry& entry : ToolBarLayout()) {
        if (QString(entry.name) == "-") {
            toolBar_->addSeparator();
            continue;
        }
        QAction* action = actions_.value(entry.name);
        auto* button = new QToolButton(toolBar_);
        button->setFixedSize(27, 26);
        button->setIconSize(QSize(20, 20));
        button->setAutoRaise(true);
        // Not a Tab stop: Tab moves between the panes, and a focused button
        // would take the protection commands' target away from them.
        button->setFocusPolicy(Qt::NoFocus);
        button->setObjectName(entry.control ? entry.control : QString("tb_") + entry.name);
        button->setProperty("action", QString(entry.name));
        // The button mirrors its action's picture, hints and enabled state; the
        // grouped buttons keep their own down state, as the protection and view
        // states are shown by the button that is down, not by the action.
        auto sync = [button, action] {
            button->setIcon(action->icon());
            // The button's hint names the command's key (the action's stays as it is).
            const QString key = action->shortcut().toString(QKeySequence::NativeText);
            button->setToolTip(key.isEmpty() ? action->toolTip()
                                             : action->toolTip() + " (" + key + ")");
            button->setStatusTip(action->statusTip());
            button->setEnabled(action->isEnabled());
        };
        sync();
        connect(action, &QAction::changed, button, sync);
        connect(button, &QToolButton::clicked, action, &QAction::trigger);
        const QString category = action->property("category").toString();
        if (entry.control && category == "View") {
            button->setCheckable(true);
            viewButtons_->addButton(button);
        } else if (entry.control && QString(entry.control) != "ToolButton25") {
            button->setCheckable(true);
            protectionButtons_->addButton(button);
        }
        toolBar_->addWidget(button);
        buttons_.insert(button->objectName(), button);
    }
    viewButtons_->setExclusive(true);
    protectionButtons_->setExclusive(true);
    buttons_.value("btnList")->setChecked(true);
    actions_.value("cmdList")->setChecked(true);
    buttons_.value("ToolButton19")->setChecked(true);
}

QMenu* TSecFrm::AddMenu(QWidget* parent, const QString& name, const QString& title,
                        const QStringList& entries) {
    auto* menu = new QMenu(
        QString::fromStdString(MenuCaption(name.toStdString(), title.toStdString())), parent);
    menu->setObjectName(name);
    menu->setToolTipsVisible(false);
    for (const QString& entry : entries) {
        if (entry == "-") {
            menu->addSeparator();
        } else if (QAction* action = actions_.value(entry)) {
            menu->addAction(action);
        } else if (QAction* item = items_.value(entry)) {
            menu->addAction(item);
        } else if (QMenu* sub = menus_.value(entry)) {
            menu->addMenu(sub);
        }
    }
    menus_.insert(name, menu);
    return menu;
}

void TSecFrm::CreateMenus() {
    AddItem("Exit1", "Exit   Alt+F4", "Close the program");
    QAction* automatic = AddItem("AutomaticFilesProtection1", "Automatic Files Protection",
                                 "Set Automatic Files Protection to secure File System every "
                                 "time when Windows boots");
    automatic->setCheckable(true);
    automatic->setChecked(true);
    AddItem("Help2", "Help", "Show the help file")->setIcon(ui::ImageList1(ui::kImgHelp));
    AddItem("KVHomePage1", "KV Home Page", "The program's help: what it does and how");
    AddItem("KVSupportPage1", "KV Support Page",
            "Where to look when protection does not do what you expect");
    AddItem("Refusals1", "Refusals ...",
            "The operations the service refused: when, to whom, which program, which rule");
    AddItem("About1", "About ...", "Show info about the program")
        ->setIcon(ui::ImageList1(ui::kImgAbout));

    QMenuBar* bar = menuBar();
    bar->setObjectName("MainMenu1");
    bar->addMenu(AddMenu(bar, "File", "File", {"cmdSave", "-", "cmdMinimize", "Exit1"}));
    bar->addMenu(
        AddMenu(bar, "Edit", "Edit", {"cmdNewGroup", "cmdDelGroup", "cmdMoveUser", "cmdRemUser"}));
    bar->addMenu(
        AddMenu(bar, "View", "View",
                {"cmdRefresh", "Refusals1", "-", "cmdicon", "cmdSmIcon", "cmdList", "cmdReport"}));
    bar->addMenu(AddMenu(bar, "Actions", "Actions",
                         {"cmdReadOnly", "cmdUnaccessable", "cmdCustom", "cmdReset"}));
    bar->addMenu(AddMenu(bar, "Options", "Options",
                         {"cmdROpt", "cmdFullOpt", "cmdCustomOpt", "cmdPrOpt", "-",
                          "AutomaticFilesProtection1", "cmdPassword"}));
    bar->addMenu(AddMenu(bar, "Help", "Help",
                         {"Help2", "-", "KVHomePage1", "KVSupportPage1", "-", "About1"}));
}

void TSecFrm::CreateContextMenus() {
    AddMenu(this, "PopupMenu1", QString(),
            {"cmdNewGroup", "cmdDelGroup", "cmdMoveUser", "cmdRemUser"});
    AddMenu(this, "DriveMenu", QString(),
            {"cmdReadOnly", "cmdUnaccessable", "cmdCustom", "cmdReset", "-", "cmdROpt",
             "cmdFullOpt", "cmdCustomOpt"});
    AddMenu(this, "DirListViewMenu", "View", {"cmdicon", "cmdSmIcon", "cmdList", "cmdReport"});
    AddMenu(this, "DirListMenu", QString(),
            {"cmdReadOnly", "cmdUnaccessable", "cmdCustom", "cmdReset", "-", "cmdROpt",
             "cmdFullOpt", "cmdCustomOpt", "DirListViewMenu"});

    // The tray menu exists with the window, so its items' states are kept even
    // while no tray icon shows it.
    AddItem("cmdShowMain", "Show Protect Settings", "");
    AddItem("StartFileProtection1", "Start Files Protection", "");
    AddItem("StopFileProtection1", "Stop Files Protection", "");
    AddItem("Exit2", "Exit", "");
    AddMenu(this, "PopupMenu2", QString(),
            {"cmdShowMain", "StartFileProtection1", "StopFileProtection1", "Exit2"});

    connect(userGroups_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        menus_.value("PopupMenu1")->popup(userGroups_->viewport()->mapToGlobal(at));
    });
    // The context-menu key and Shift+F10 open the same menus as a right click.
    new ui::TKeyboardMenu(userGroups_, menus_.value("PopupMenu1"));
}

void TSecFrm::CreatePanes() {
    panes_ = new QSplitter(Qt::Horizontal, this);
    panes_->setObjectName("Panes");
    panes_->setHandleWidth(3);
    panes_->setChildrenCollapsible(false);

    userGroups_ = new ui::TPrincipalTreeView(tree_, panes_);
    userGroups_->setMinimumWidth(50);

    driveView_ = new ui::TDriveView(panes_);
    driveView_->setObjectName("DriveView1");
    driveView_->setMinimumWidth(50);
    driveView_->setIndentation(19);

    dirView_ = new ui::TDirView(driveView_, panes_);
    dirView_->setObjectName("DirView1");
    dirView_->setMinimumWidth(50);

    panes_->addWidget(userGroups_);
    panes_->addWidget(driveView_);
    panes_->addWidget(dirView_);
    panes_->setStretchFactor(0, 0);
    panes_->setStretchFactor(1, 1);
    panes_->setStretchFactor(2, 0);
    const int middle = std::max(50, width() - 185 - 313 - 6);
    panes_->setSizes({185, middle, 313});
    setCentralWidget(panes_);

    // The focused pane shows its selection plainly, the others muted.
    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(userGroups_), static_cast<QAbstractItemView*>(driveView_),
          static_cast<QAbstractItemView*>(dirView_->ListWidget()),
          static_cast<QAbstractItemView*>(dirView_->ReportWidget())}) {
        ui::TFocusHighlight::Attach(view);
    }
    // F6 and Shift+F6 move between the three panes, as in file managers.
    auto* next = new QShortcut(QKeySequence(Qt::Key_F6), this);
    connect(next, &QShortcut::activated, this, [this] { FocusNextPane(1); });
    auto* previous = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6), this);
    connect(previous, &QShortcut::activated, this, [this] { FocusNextPane(-1); });
}

void TSecFrm::FocusNextPane(int step) {
    QWidget* panes[] = {userGroups_, driveView_, dirView_->CurrentView()};
    int at = -1;
    for (int i = 0; i < 3; ++i) {
        if (panes[i]->hasFocus() || panes[i]->isAncestorOf(QApplication::focusWidget()))
            at = i;
    }
    const int target = at < 0 ? 0 : (at + step + 3) % 3;
    panes[target]->setFocus(Qt::TabFocusReason);
}

}  // namespace kv
