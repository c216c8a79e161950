// The settings window's command handlers and the components they use.
#include "app/CtrlPanel.h"
#include "app/RefusalsWindow.h"

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
        [this](const std::string& folder) -> std::optional<std::string> {
            return ais_ ? ais_->FolderCoverage(folder) : std::nullopt;
        });
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
    denials_ = std::make_unique<TDenialReader>(services_.devicePath);
    serviceWatch_ =
        std::make_unique<TServiceWatch>([this] { return ais_->Reconnect(); }, ais_->Connected());
    compiler_ = std::make_unique<TRuleCompiler>(services_.store, *ais_, tree_);
    control_ = std::make_unique<TProtectionControl>(
        services_.store, *ais_, *compiler_, services_.prompts, static_cast<IProtectionView&>(*this),
        [this] { return directory_.CurrentUserName(); }, [this] { ApplyAutostart(); });
    // A user other than root has the service load the logon rules.
    control_->SetServiceLoadsRules(!platform::RunsAsRoot());
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
    denials_->SetPassword(password.str());
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
    // The View menu marks the style shown, as the toolbar does.
    const std::pair<ViewStyle, const char*> items[] = {{ViewStyle::Icons, "cmdicon"},
                                                       {ViewStyle::SmallIcons, "cmdSmIcon"},
                                                       {ViewStyle::List, "cmdList"},
                                                       {ViewStyle::Report, "cmdReport"}};
    for (const auto& [shown, name] : items)
        actions_.value(name)->setChecked(shown == style);
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
    // F5 also lists accounts made since the start; unsaved group edits are kept.
    connect(actions_.value("cmdRefresh"), &QAction::triggered, this, [this] {
        if (!modified_.TreeEdited())
            ReloadUsers();
    });
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
    // No web site exists: the pages are the help installed with the program.
    connect(items_.value("Refusals1"), &QAction::triggered, this, &TSecFrm::ShowRefusals);
    connect(items_.value("KVHomePage1"), &QAction::triggered, this, [this] { OpenHelp(""); });
    connect(items_.value("KVSupportPage1"), &QAction::triggered, this,
            [this] { OpenHelp(kSupportHelpTopic); });
    // Without a window manager nothing else turns Alt+F4 into a close.
    auto* altF4 = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_F4), this);
    connect(altF4, &QShortcut::activated, this, &QWidget::close);
    connect(items_.value("About1"), &QAction::triggered, this, [this] {
        TAboutBox box(this);
        box.exec();
    });
    tree_.OnSelectionChanged([this] { protection_->UserGroupsChange(); });
}

bool TSecFrm::CheckSettingsDamage(const std::string& time) {
    damage_ = CheckSettingsFile(services_.store, time);
    return damage_.Found();
}

bool TSecFrm::MayWriteSettings() {
    if (!damage_.Found() || overwriteAccepted_)
        return true;
    overwriteAccepted_ =
        services_.prompts.Message(OverwriteQuestion(damage_), "Kestrava", Buttons::YesNo,
                                  MessageIcon::Warning) == Answer::Yes;
    return overwriteAccepted_;
}

void TSecFrm::cmdSaveExecute() {
    if (!MayWriteSettings())
        return;
    std::string error;
    if (!directory_.cmdSaveExecute(&error)) {
        services_.prompts.Message("The settings could not be saved: " + error, "Kestrava",
                                  Buttons::Ok, MessageIcon::Error);
    }
}

void TSecFrm::cmdPasswordExecute() {
    // The boot loader's password is the administrator's: a new one is written there too.
    if (kv::cmdPasswordExecute(services_.store, services_.prompts, modified_, this) &&
        services_.store.ReadBool("DisableBOOT", true))
        ApplyBootProtection(true);
}

void TSecFrm::ApplyBootProtection(bool on) {
    TWipedString password(services_.store.ReadString("Password", ""));
    hardening_.ApplyBootKeysPolicy(on, password.str());
}

void TSecFrm::ActionList1Update() {
    auto enable = [this](const char* name, bool on) {
        if (QAction* action = actions_.value(name))
            action->setEnabled(on);
    };
    enable("cmdDelGroup", groups_.CanDeleteGroup());
    enable("cmdRemUser", groups_.CanRemoveUser());
    enable("cmdMoveUser", groups_.CanMoveUser());
    // Users not yet known become known by a save, so Save is offered for them too.
    enable("cmdSave", modified_.Get() || directory_.HasUnsavedUsers());
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
    hooks_.applyBootKeysPolicy = [this](bool on) { ApplyBootProtection(on); };
    hooks_.bootLoaderFound = [this] {
        return hardening_.BootLoader() && hardening_.BootLoader()->Present();
    };
    hooks_.applyMsDosModePolicy = [this](bool on) { hardening_.ApplyMsDosModePolicy(on); };
}

bool TSecFrm::cmdPrOptExecute() {
    // Its OK writes the settings file.
    if (!MayWriteSettings())
        return false;
    if (services_.programOptions)
        return services_.programOptions(hooks_);
    return kv::cmdPrOptExecute(services_.store, services_.prompts, modified_, hooks_, this);
}

void TSecFrm::ApplyHotKey() {
    kv::ApplyHotKey(services_.store, hooks_.applyHotKey);
}

}  // namespace kv

namespace kv {

void TSecFrm::ReloadUsers() {
    const TPrincipalTree::Node* selected = tree_.SelectedNode();
    const std::string keep = selected ? selected->text : std::string();
    directory_.LoadUserGroups();
    if (TPrincipalTree::Node* again = keep.empty() ? nullptr : tree_.FindNodeByText(keep))
        tree_.Select(again);
}

void TSecFrm::ShowRefusals() {
    if (!refusalsWindow_)
        refusalsWindow_ = new TRefusalsWindow(*denials_, this);
    refusalsWindow_->show();
    refusalsWindow_->raise();
    refusalsWindow_->activateWindow();
}

}  // namespace kv
