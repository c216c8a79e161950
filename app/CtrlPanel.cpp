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
#include "ui/FormStorage.h"
#include "ui/HelpViewer.h"
#include "ui/ImageList1.h"
#include "ui/KeyboardMenu.h"
#include "ui/Placement.h"
#include "ui/PrincipalTreeView.h"
#include "ui/TrayIcon.h"
#include "ui/TrayLogic.h"

namespace kv {

TSecFrm::TSecFrm(const TSecFrmServices& services, QWidget* parent)
    : QMainWindow(parent),
      services_(services),
      directory_(services.store, services.registry, tree_, modified_),
      ownGroupDialog_(services.groupDialog ? nullptr : std::make_unique<TNewGrDialogRunner>(this)),
      groups_(tree_, modified_, services.prompts,
              services.groupDialog ? *services.groupDialog : *ownGroupDialog_),
      autostart_(services.store, services.registry,
                 {services.installPaths.programDir.empty() ? platform::ExecutableDir()
                                                           : services.installPaths.programDir,
                  services.installPaths.autostartDir.empty() ? platform::DefaultAutostartDir()
                                                             : services.installPaths.autostartDir}),
      hardening_(BootConfigPath(services.machineDir.empty() ? platform::MachineDir()
                                                            : services.machineDir),
                 services.registry) {
    autostart_.SetServiceRegistration(services.serviceRegistration ? services.serviceRegistration
                                                                   : serviceRegistration_.get());
    setObjectName("SecFrm");
    setWindowTitle("Kestrava");
    QFont font("Sans Serif");
    font.setPointSize(8);
    setFont(font);
    // Sized for the screen it opens on, centred on it; a stored placement
    // replaces this at the first show.
    if (const QScreen* screen = this->screen()) {
        const QRect available = screen->availableGeometry();
        resize(ui::FirstWindowSize(available));
        move(available.center() - rect().center());
    } else {
        resize(ui::FirstWindowSize({}));
    }
    setWindowIcon(ui::ApplicationIcon());
    ui::TDialogLook::Install();

    CreateActions();
    CreatePanes();
    CreateToolBar();
    CreateMenus();
    CreateContextMenus();
    CreateStatusBar();
    CreateProtection();
    CreateEnforcement();
    CreateTrayAndHotKey();
    BindHandlers();

    directory_.OnCurrentUserShown([this](const std::string& name) {
        statusPanels_[2]->setText(QString::fromStdString(name));
    });

    if (!services_.placementFile.isEmpty()) {
        formStorage_ = std::make_unique<ui::TFormStorage>(services_.placementFile);
    }

    // The enabled states follow the application a moment after any change, as no
    // event loop reports idleness on every platform.
    auto* idle = new QTimer(this);
    idle->setInterval(100);
    connect(idle, &QTimer::timeout, this, &TSecFrm::ActionList1Update);
    idle->start();
    // The refusals since protection started, from the service, while the window shows.
    auto* refusals = new QTimer(this);
    refusals->setInterval(1000);
    connect(refusals, &QTimer::timeout, this, [this] {
        if (isVisible())
            UpdateRefusalCount();
    });
    refusals->start();
    // A change of the focused view changes the protection commands' state at once.
    connect(qApp, &QApplication::focusChanged, this, &TSecFrm::ActionList1Update);
    // F1 in a dialog opens the help at the dialog's topic.
    qApp->installEventFilter(this);

    // The program ends when this window closes (Closed), from the tray's Exit or
    // by a termination signal; never because a prompt or a box shown while the
    // window is hidden was the last window to close.
    QApplication::setQuitOnLastWindowClosed(false);
#if QT_CONFIG(sessionmanager)
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
        if (!manager.allowsInteraction())
            return;
        const bool goOn = QueryEndSession();
        manager.release();
        if (!goOn)
            manager.cancel();
    });
#endif
}

TSecFrm::~TSecFrm() {
    // Hiding the window while it is destroyed moves the focus; the members the
    // update reads are gone by then.
    disconnect(qApp, nullptr, this, nullptr);
    qApp->removeEventFilter(this);
    // The panes call into the principal tree and the protection controller:
    // they go before those members do.
    delete takeCentralWidget();
}

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
        button->setObjectName(entry.control ? entry.control : QString("tb_") + entry.name);
        button->setProperty("action", QString(entry.name));
        // The button mirrors its action's picture, hints and enabled state; the
        // grouped buttons keep their own down state, as the protection and view
        // states are shown by the button that is down, not by the action.
        auto sync = [button, action] {
            button->setIcon(action->icon());
            button->setToolTip(action->toolTip());
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
    AddItem("KVHomePage1", "KV Home Page", "https://kestrava.example.org/");
    AddItem("KVSupportPage1", "KV Support Page", "https://kestrava.example.org/support/");
    AddItem("About1", "About ...", "Show info about the program")
        ->setIcon(ui::ImageList1(ui::kImgAbout));

    QMenuBar* bar = menuBar();
    bar->setObjectName("MainMenu1");
    bar->addMenu(AddMenu(bar, "File", "File", {"cmdSave", "-", "cmdMinimize", "Exit1"}));
    bar->addMenu(
        AddMenu(bar, "Edit", "Edit", {"cmdNewGroup", "cmdDelGroup", "cmdMoveUser", "cmdRemUser"}));
    bar->addMenu(AddMenu(bar, "View", "View",
                         {"cmdRefresh", "-", "cmdicon", "cmdSmIcon", "cmdList", "cmdReport"}));
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
}

void TSecFrm::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName("StatusBar1");
    bar->setSizeGripEnabled(false);
    statusPanels_[0] = new QLabel(bar);
    statusPanels_[0]->setFixedWidth(500);
    statusPanels_[1] = new QLabel("Current User : ", bar);
    statusPanels_[1]->setFixedWidth(100);
    statusPanels_[1]->setFrameStyle(QFrame::Panel | QFrame::Raised);
    statusPanels_[2] = new QLabel(bar);
    statusPanels_[2]->setFixedWidth(100);
    bar->addWidget(statusPanels_[0]);
    bar->addPermanentWidget(statusPanels_[1]);
    bar->addPermanentWidget(statusPanels_[2]);
    refusalPanel_ = new QLabel(bar);
    refusalPanel_->setObjectName("RefusalCount");
    refusalPanel_->setToolTip(
        "Operations refused to you since your protection was started (kvctl log lists them)");
    refusalPanel_->hide();
    bar->addPermanentWidget(refusalPanel_);
    coveragePanel_ = new QLabel(bar);
    coveragePanel_->setObjectName("CoverageWarning");
    coveragePanel_->setStyleSheet("color: #a00000;");
    coveragePanel_->hide();
    bar->addWidget(coveragePanel_, 1);
}

void TSecFrm::UpdateRefusalCount() {
    const std::optional<std::uint32_t> count = ais_->RefusalCount();
    refusalPanel_->setVisible(count.has_value());
    if (count)
        refusalPanel_->setText(QString("Refused: %1").arg(*count));
}

void TSecFrm::CreateProtection() {
    IOptionsDialogRunner* options = services_.optionsDialog;
    if (!options) {
        ownOptionsDialog_ = std::make_unique<TOptFormRunner>(
            this, [this](const std::string& topic) { OpenHelp(topic); });
        options = ownOptionsDialog_.get();
    }
    protection_ = std::make_unique<TProtectionController>(
        services_.store, services_.prompts, modified_, tree_, *driveView_, *dirView_, *options);
    protection_->SetUpdateCaption([this] { UpdateCaption(); });
    protection_->SetStatusText([this](const std::string& folder) {
        statusPanels_[0]->setText(QString::fromStdString(folder));
    });
    // Markers say where the service enforces nothing (or only some bits).
    protection_->Markers().SetCoverage(
        [this](const std::string& folder) { return ais_->FolderCoverage(folder); });
    protection_->Markers().SetCoverageWarning([this](const std::string& warning) {
        coveragePanel_->setVisible(!warning.empty());
        coveragePanel_->setText(QString::fromStdString("Warning: " + warning));
        coveragePanel_->setToolTip(QString::fromStdString(warning));
    });
    driveView_->SetContextMenu(menus_.value("DriveMenu"));
    dirView_->SetContextMenu(menus_.value("DirListMenu"));
    new ui::TKeyboardMenu(driveView_, menus_.value("DriveMenu"));
    new ui::TKeyboardMenu(dirView_->ListWidget(), menus_.value("DirListMenu"));
    new ui::TKeyboardMenu(dirView_->ReportWidget(), menus_.value("DirListMenu"));
}

void TSecFrm::CreateEnforcement() {
    ais_ = std::make_unique<TDodiInterceptor>(services_.devicePath);
    compiler_ = std::make_unique<TRuleCompiler>(services_.store, *ais_, tree_);
    control_ = std::make_unique<TProtectionControl>(
        services_.store, *ais_, *compiler_, services_.prompts, static_cast<IProtectionView&>(*this),
        [this] { return directory_.CurrentUserName(); }, [this] { ApplyAutostart(); });
    // A user other than root has the service load the logon rules.
    control_->SetServiceLoadsRules(!platform::RunsAsRoot());
}

ProtectionState TSecFrm::Shown() const {
    if (buttons_.value("ToolButton20")->isChecked())
        return ProtectionState::Protecting;
    if (buttons_.value("ToolButton18")->isChecked())
        return ProtectionState::Testing;
    return ProtectionState::Stopped;
}

void TSecFrm::Show(ProtectionState state) {
    const char* button = state == ProtectionState::Protecting ? "ToolButton20"
                         : state == ProtectionState::Testing  ? "ToolButton18"
                                                              : "ToolButton19";
    buttons_.value(button)->setChecked(true);
    trayHost_->RxTrayIcon1().SetProtected(state != ProtectionState::Stopped);
}

bool TSecFrm::AutomaticChecked() const {
    return items_.value("AutomaticFilesProtection1")->isChecked();
}

void TSecFrm::SetAutomaticChecked(bool checked) {
    items_.value("AutomaticFilesProtection1")->setChecked(checked);
}

void TSecFrm::ApplyAutostart() {
    autostart_.ApplyAutostart(AutomaticChecked());
}

void TSecFrm::AutomaticFilesProtection1Click() {
    ApplyAutostart();
}

bool TSecFrm::PassGate(GateCaller caller) {
    TEncriptor& store = services_.store;
    TInterceptorPassword service(*ais_);
    TWipedString accepted;
    if (!PassPasswordGate(caller, store, services_.prompts, this,
                          services_.serviceFiles ? &service : nullptr, &accepted.str()))
        return false;
    TWipedString password(accepted.str().empty() ? store.ReadString("Password", "")
                                                 : accepted.str());
    if (password.str().empty())
        return true;
    ais_->SetPassword(password.str());
    if (services_.serviceFiles) {
        services_.serviceFiles->SetPassword(password.str());
        // Settings that could not be read before the password can be now.
        if (!store.Readable()) {
            store.Load();
            directory_.LoadUserGroups();
        }
    }
    return true;
}

void TSecFrm::StopFileProtection1Click() {
    if (!PassGate(GateCaller::TrayStop))
        return;
    control_->cmdStopExecute();
}

void TSecFrm::SetViewStyle(ViewStyle style, const char* button) {
    protection_->SetViewStyle(style);
    buttons_.value(button)->setChecked(true);
}

void TSecFrm::BindHandlers() {
    for (const char* name : {"cmdReadOnly", "cmdUnaccessable", "cmdCustom", "cmdReset"}) {
        QAction* action = actions_.value(name);
        connect(action, &QAction::triggered, this,
                [this, action] { protection_->cmdReadOnlyExecute(action->data().toInt()); });
    }
    for (const char* name : {"cmdROpt", "cmdFullOpt", "cmdCustomOpt"}) {
        QAction* action = actions_.value(name);
        connect(action, &QAction::triggered, this,
                [this, action] { protection_->cmdCustomOptExecute(action->data().toInt()); });
    }
    connect(actions_.value("cmdicon"), &QAction::triggered, this,
            [this] { SetViewStyle(ViewStyle::Icons, "btnIcons"); });
    connect(actions_.value("cmdSmIcon"), &QAction::triggered, this,
            [this] { SetViewStyle(ViewStyle::SmallIcons, "btnSmallIcons"); });
    connect(actions_.value("cmdList"), &QAction::triggered, this,
            [this] { SetViewStyle(ViewStyle::List, "btnList"); });
    connect(actions_.value("cmdReport"), &QAction::triggered, this,
            [this] { SetViewStyle(ViewStyle::Report, "btnReport"); });

    connect(actions_.value("cmdSave"), &QAction::triggered, this, &TSecFrm::cmdSaveExecute);
    connect(actions_.value("cmdNewGroup"), &QAction::triggered, this, &TSecFrm::cmdNewGroupExecute);
    connect(actions_.value("cmdDelGroup"), &QAction::triggered, this, &TSecFrm::cmdDelGroupExecute);
    connect(actions_.value("cmdMoveUser"), &QAction::triggered, this, &TSecFrm::cmdMoveUserExecute);
    connect(actions_.value("cmdRemUser"), &QAction::triggered, this, &TSecFrm::cmdRemUserExecute);
    connect(actions_.value("cmdPassword"), &QAction::triggered, this, &TSecFrm::cmdPasswordExecute);
    connect(actions_.value("cmdAutorun"), &QAction::triggered, this, &TSecFrm::cmdAutorunExecute);
    connect(actions_.value("cmdStart"), &QAction::triggered, this, &TSecFrm::cmdStartExecute);
    connect(actions_.value("cmdStop"), &QAction::triggered, this, &TSecFrm::cmdStopExecute);
    connect(actions_.value("cmdRefresh"), &QAction::triggered, this, &TSecFrm::cmdRefreshExecute);
    // The menu item's check mark toggles before its handler runs.
    connect(items_.value("AutomaticFilesProtection1"), &QAction::triggered, this,
            &TSecFrm::AutomaticFilesProtection1Click);
    connect(items_.value("StartFileProtection1"), &QAction::triggered, actions_.value("cmdAutorun"),
            &QAction::trigger);
    connect(items_.value("StopFileProtection1"), &QAction::triggered, this,
            &TSecFrm::StopFileProtection1Click);
    connect(items_.value("Exit1"), &QAction::triggered, this, &QWidget::close);
    connect(actions_.value("cmdPrOpt"), &QAction::triggered, this, [this] { cmdPrOptExecute(); });
    connect(actions_.value("cmdMinimize"), &QAction::triggered, this,
            [this] { tray_->Minimize1Click(); });
    connect(items_.value("cmdShowMain"), &QAction::triggered, this,
            [this] { tray_->cmdShowMainClick(); });
    connect(items_.value("Exit2"), &QAction::triggered, this, [this] { tray_->Exit2Click(); });
    connect(items_.value("Help2"), &QAction::triggered, this, [this] { OpenHelp(""); });
    for (const char* page : {"KVHomePage1", "KVSupportPage1"}) {
        QAction* item = items_.value(page);
        // The item's hint holds its web address.
        connect(item, &QAction::triggered, this,
                [this, item] { OpenWebPage(item->statusTip().toStdString()); });
    }
    // Without a window manager nothing else turns Alt+F4 into a close.
    auto* altF4 = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_F4), this);
    connect(altF4, &QShortcut::activated, this, &QWidget::close);
    connect(items_.value("About1"), &QAction::triggered, this, [this] {
        TAboutBox box(this);
        box.exec();
    });
    tree_.OnSelectionChanged([this] { protection_->UserGroupsChange(); });
}

void TSecFrm::UpdateCaption() {
    setWindowTitle(QString::fromStdString(directory_.CaptionText()));
}

void TSecFrm::cmdSaveExecute() {
    std::string error;
    if (!directory_.cmdSaveExecute(&error)) {
        services_.prompts.Message("The settings could not be saved: " + error, "Kestrava",
                                  Buttons::Ok, MessageIcon::Error);
    }
}

void TSecFrm::cmdPasswordExecute() {
    kv::cmdPasswordExecute(services_.store, services_.prompts, modified_, this);
}

void TSecFrm::ActionList1Update() {
    auto enable = [this](const char* name, bool on) {
        if (QAction* action = actions_.value(name))
            action->setEnabled(on);
    };
    enable("cmdDelGroup", groups_.CanDeleteGroup());
    enable("cmdRemUser", groups_.CanRemoveUser());
    enable("cmdMoveUser", groups_.CanMoveUser());
    enable("cmdSave", modified_.Get());
    const bool protectable = protection_->ProtectionActionsEnabled();
    for (const char* name : {"cmdReadOnly", "cmdUnaccessable", "cmdCustom", "cmdReset"}) {
        enable(name, protectable);
    }
    enable("cmdRefresh", control_->RefreshEnabled());
    const bool stopped = buttons_.value("ToolButton19")->isChecked();
    items_.value("StartFileProtection1")->setEnabled(stopped);
    items_.value("StopFileProtection1")->setEnabled(!stopped);
}

void TSecFrm::CreateTrayAndHotKey() {
    trayHost_ = new ui::TQtTrayHost(*this, menus_.value("PopupMenu2"), this);
    ui::TrayCallbacks callbacks;
    callbacks.promptOpen = [] { return TPasswordGate::PromptOpen(); };
    callbacks.passShowGate = [this] { return PassGate(GateCaller::ShowWindow); };
    callbacks.passExitGate = [this] { return PassGate(GateCaller::TrayExit); };
    callbacks.modified = [this] { return modified_.Get(); };
    callbacks.save = [this] { cmdSaveExecute(); };
    tray_ = std::make_unique<ui::TTrayLogic>(*trayHost_, services_.prompts, std::move(callbacks));
    connect(&trayHost_->FindShell(), &QTimer::timeout, this, [this] { tray_->FindShellTimer(); });
    connect(&trayHost_->RxTrayIcon1(), &ui::TRxTrayIcon::DblClick, this,
            [this] { tray_->cmdShowMainClick(); });

    hotKeyRegistrar_ = std::make_unique<platform::X11HotKeyRegistrar>();
    fisHotKey1_ = std::make_unique<TfisHotKey>(*hotKeyRegistrar_);
    fisHotKey1_->OnHotKey = [this](TfisHotKey&) { ShowMainWindow(); };
    fisHotKey1_->Loaded();

    hooks_.automaticProtection = [this] { return AutomaticChecked(); };
    hooks_.setAutomaticProtection = [this](bool checked) { SetAutomaticChecked(checked); };
    hooks_.applyAutostart = [this](bool checked) { autostart_.ApplyAutostart(checked); };
    hooks_.applyHotKey = [this](std::uint16_t code) { fisHotKey1_->SetKey(code); };
    hooks_.saveKnownUsers = [this] { directory_.SaveKnownUsers(); };
    hooks_.applyBootKeysPolicy = [this](bool on) { hardening_.ApplyBootKeysPolicy(on); };
    hooks_.applyMsDosModePolicy = [this](bool on) { hardening_.ApplyMsDosModePolicy(on); };
}

bool TSecFrm::cmdPrOptExecute() {
    if (services_.programOptions)
        return services_.programOptions(hooks_);
    return kv::cmdPrOptExecute(services_.store, services_.prompts, modified_, hooks_, this);
}

void TSecFrm::ApplyHotKey() {
    kv::ApplyHotKey(services_.store, hooks_.applyHotKey);
}

void TSecFrm::OpenHelp(const std::string& topic) {
    if (services_.openHelp) {
        services_.openHelp(topic);
        return;
    }
    // A viewer opened over a modal dialog belongs to it, or the dialog would
    // keep it from taking any input.
    QWidget* owner = QApplication::activeModalWidget();
    if (!owner)
        owner = this;
    if (!helpViewer_ || helpViewer_->parentWidget() != owner) {
        helpViewer_ = new ui::THelpViewer(
            QString::fromStdString(platform::HelpFilePath()),
            [this](const QUrl& url) { OpenWebPage(url.toString().toStdString()); }, owner);
    }
    if (!helpViewer_->ShowTopic(topic)) {
        services_.prompts.Message(kHelpMissingText + platform::HelpFilePath(), "Kestrava",
                                  Buttons::Ok, MessageIcon::Warning);
    }
}

std::string DialogHelpTopic(const QWidget& focus) {
    const QWidget* dialog = focus.window();
    const QString name = dialog->objectName();
    if (name == "OptForm") {
        // The pattern fields are explained where their labels lead.
        for (const char* field : {"IncFiles", "ExFiles", "Proc", "ExProc"}) {
            if (focus.objectName() == field)
                return kPatternsHelpTopic;
        }
        return dialog->property("helpTopic").toString().toStdString();
    }
    if (name == "PrOptFrm")
        return kProgramOptionsHelpTopic;
    if (name == "PasFrm" || name == "SecurFrm")
        return kPasswordHelpTopic;
    if (name == "NewGrFrm")
        return kGroupsHelpTopic;
    return {};
}

bool TSecFrm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        auto* widget = qobject_cast<QWidget*>(watched);
        if (key->key() == Qt::Key_F1 && key->modifiers() == Qt::NoModifier && widget &&
            widget->window() != this && qobject_cast<QDialog*>(widget->window())) {
            OpenHelp(DialogHelpTopic(*widget));
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TSecFrm::OpenWebPage(const std::string& address) {
    const bool opened =
        services_.openUrl ? services_.openUrl(address) : platform::OpenDocument(address);
    if (!opened) {
        services_.prompts.Message(kWebPageFailedText + address, "Kestrava", Buttons::Ok,
                                  MessageIcon::Warning);
    }
}

void TSecFrm::HideToTray() {
    tray_->HideToTray();
}

void TSecFrm::ShowMainWindow() {
    qCInfo(lcApp) << "show request";
    tray_->ShowMainWindow();
}

bool TSecFrm::FormCloseQuery() {
    if (services_.store.ReadBool("FirstTime", true))
        cmdPrOptExecute();
    bool close = true;
    if (modified_.Get()) {
        switch (services_.prompts.Message("Do you want to save modifications ?", "Kestrava",
                                          Buttons::YesNoCancel, MessageIcon::Question)) {
            case Answer::Cancel:
                close = false;
                break;
            case Answer::Yes:
                cmdSaveExecute();
                close = !modified_.Get();  // a failed save keeps the window open
                break;
            default:
                break;
        }
    }
    // The start-at-logon entry follows the menu item whatever the answer.
    ApplyAutostart();
    return close;
}

void TSecFrm::closeEvent(QCloseEvent* event) {
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    StorePlacement();
    event->accept();
    emit Closed();
}

void TSecFrm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (placementRestored_)
        return;
    placementRestored_ = true;
    if (formStorage_)
        formStorage_->Restore(*this, *panes_);
}

void TSecFrm::StorePlacement() const {
    if (formStorage_)
        formStorage_->Store(*this, *panes_);
}

}  // namespace kv
