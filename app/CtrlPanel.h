#pragma once

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <memory>

#include "access/PasswordGate.h"
#include "app/RefusalsWindow.h"
#include "app/SettingsDamage.h"
#include "enforce/AI.h"
#include "enforce/CompileRules.h"
#include "enforce/DenialReader.h"
#include "enforce/ProtectionControl.h"
#include "enforce/ServiceWatch.h"
#include "options/Autostart.h"
#include "options/Hardening.h"
#include "options/ProgramOptions.h"
#include "platform/HotKey.h"
#include "platform/Prompts.h"
#include "platform/Registry.h"
#include "platform/ServiceFiles.h"
#include "principals/GroupCommands.h"
#include "principals/ModifiedFlag.h"
#include "principals/PrincipalTree.h"
#include "principals/UserDirectory.h"
#include "rules/ProtectionController.h"
#include "settings/Encript.h"
#include "ui/ElidedLabel.h"
#include "ui/HelpViewer.h"

class QAction;
class QActionGroup;
class QButtonGroup;
class QLabel;
class QMenu;
class QSplitter;
class QToolBar;
class QToolButton;

namespace kv {

namespace platform {
class X11HotKeyRegistrar;
}  // namespace platform

namespace ui {
class TDirView;
class THelpViewer;
class TQtTrayHost;
class TTrayLogic;
class TDriveView;
class TPrincipalTreeView;
class TFormStorage;
}  // namespace ui

/// What the window is given by the process: the settings store, the message
/// boxes, the registry, and optionally a stand-in for the group dialog.
struct TSecFrmServices {
    TEncriptor& store;
    IPrompts& prompts;
    platform::IRegistry& registry;
    IGroupDialog* groupDialog = nullptr;            ///< null: the window's own dialog
    IOptionsDialogRunner* optionsDialog = nullptr;  ///< null: the window's own dialog
    QString placementFile = {};                     ///< INI file of the placement; empty: none
    std::string devicePath = {};     ///< the interceptor's device; empty: the default
    InstallPaths installPaths = {};  ///< empty folders: the executable's and the desktop's
    std::string machineDir = {};     ///< empty: the machine folder of this system
    /// The administrator's files through the service, for a program run by
    /// another user than root; null: the program reads its files itself.
    platform::TServiceFiles* serviceFiles = nullptr;
    /// How an installed program registers the service at boot; null: systemd.
    platform::IServiceRegistration* serviceRegistration = nullptr;
    /// Runs the program options dialog with the window's hooks; null: the
    /// window's own dialog. True on OK.
    std::function<bool(ProgramOptionsHooks&)> programOptions = {};
    /// Opens the help at a topic; null: the program's own help viewer.
    std::function<void(const std::string& topic)> openHelp = {};
    /// Opens a web address with the desktop; false when it could not. Null:
    /// the desktop's default program.
    std::function<bool(const std::string& address)> openUrl = {};
};

/// Help topics of the dialogs that name none of their own.
inline constexpr char kProgramOptionsHelpTopic[] = "ProgramOptions";
inline constexpr char kPasswordHelpTopic[] = "Password";
inline constexpr char kGroupsHelpTopic[] = "Groups";
inline constexpr char kFirstStepsTopic[] = "Topic70";
inline constexpr char kSupportHelpTopic[] = "Support";
/// The topic F1 opens over a dialog, by the dialog's form name and the
/// focused control; empty: the top of the help.
std::string DialogHelpTopic(const QWidget& focus);

/// The service state when no service answers (followed by " at <socket>").
inline constexpr char kNoServiceText[] = "No service";
/// How an administrator starts the service.
inline constexpr char kStartServiceCommand[] = "systemctl start kvvxd";

/// Shown, followed by the address, when a web page could not be opened.
inline constexpr char kWebPageFailedText[] = "The web page could not be opened:\n";
/// Shown, followed by its path, when the help file cannot be read.
inline constexpr char kHelpMissingText[] = "The help file could not be opened:\n";

/// The settings window: owner of the panes, the toolbar, the menus, the
/// action list with every command, and the components the commands use.
class TSecFrm : public QMainWindow, private IProtectionView {
    Q_OBJECT
public:
    explicit TSecFrm(const TSecFrmServices& services, QWidget* parent = nullptr);
    ~TSecFrm() override;

    /// The show request of a second start or the hot key.
    void ShowMainWindow();
    /// Hides the window and puts the icon in the tray once the tray is there.
    void HideToTray();
    ui::TTrayLogic& Tray() { return *tray_; }
    ui::TQtTrayHost& TrayHost() { return *trayHost_; }
    TfisHotKey& fisHotKey1() { return *fisHotKey1_; }

    // Principals.
    void LoadCurrentUser() { directory_.LoadCurrentUser(); }
    void LoadUserGroups() { directory_.LoadUserGroups(); }
    void UpdateCaption();
    void cmdSaveExecute();
    /// Looks for a damaged settings file and keeps a copy of it; true when
    /// one was found (the settings shown are then not the file's).
    bool CheckSettingsDamage(const std::string& time);
    const SettingsDamage& Damage() const { return damage_; }
    /// False when the settings file was damaged at the start and the
    /// administrator does not want it written over (asked once).
    bool MayWriteSettings();
    void cmdNewGroupExecute() { groups_.cmdNewGroupExecute(); }
    void cmdDelGroupExecute() { groups_.cmdDelGroupExecute(); }
    void cmdMoveUserExecute() { groups_.cmdMoveUserExecute(directory_.ProfileNames()); }
    void cmdRemUserExecute() { groups_.cmdRemUserExecute(); }
    /// Options menu "Administrator's Password".
    void cmdPasswordExecute();
    /// Set Boot Protection on or off, with the administrator's password.
    void ApplyBootProtection(bool on);
    /// Options menu "Program Options"; true on OK.
    bool cmdPrOptExecute();
    /// The hot key of the settings to the hot key component.
    void ApplyHotKey();
    THardening& Hardening() { return hardening_; }
    /// Opens the help at a topic ("Topic160"; empty: the top of the help).
    /// A missing help file is said only when `reportMissing` (the user asked).
    void OpenHelp(const std::string& topic, bool reportMissing = true);
    /// The first steps, in front of the window once it shows (now when it does).
    void ShowFirstSteps();
    /// Opens a web address with the desktop; a failure is shown in a message box.
    void OpenWebPage(const std::string& address);
    /// The help viewer once the help has been opened; null before.
    ui::THelpViewer* HelpViewer() const { return helpViewer_; }

    // Enforcement.
    void cmdAutorunExecute() { control_->cmdAutorunExecute(); }
    void cmdStartExecute() { control_->cmdStartExecute(); }
    void cmdStopExecute() { control_->cmdStopExecute(); }
    void cmdRefreshExecute() { control_->cmdRefreshExecute(); }
    bool StartUserProtection(std::string* error = nullptr) {
        return control_->StartUserProtection(error);
    }
    bool StopProtection(std::string* error = nullptr) { return control_->StopProtection(error); }
    /// Tray "Stop Files Protection": the password gate, then Stop Protection.
    void StopFileProtection1Click();
    /// Options menu "Automatic Files Protection": toggles and applies the entry.
    void AutomaticFilesProtection1Click();
    void ApplyAutostart();
    TDodiInterceptor& AIS() { return *ais_; }
    /// The password gate for `caller`. Once passed, the interceptor's
    /// requests carry the administrator's password: the service lets a user
    /// other than root weaken protection only with it.
    bool PassGate(GateCaller caller);
    TAutostart& Autostart() { return autostart_; }
    TProtectionControl& Control() { return *control_; }
    ProtectionState Shown() const override;
    void Show(ProtectionState state) override;

    /// Recomputes the enabled states of the commands (run whenever the application is idle).
    void ActionList1Update();

    // Components, by their names.
    QAction* Action(const QString& name) const { return actions_.value(name); }
    QToolButton* ToolButton(const QString& name) const { return buttons_.value(name); }
    QMenu* Menu(const QString& name) const { return menus_.value(name); }
    QAction* MenuItem(const QString& name) const { return items_.value(name); }
    QToolBar* ToolBar1() const { return toolBar_; }
    QSplitter* Panes() const { return panes_; }
    ui::TPrincipalTreeView* UserGroups() const { return userGroups_; }
    ui::TDriveView* DriveView1() const { return driveView_; }
    ui::TDirView* DirView1() const { return dirView_; }
    TProtectionController& Protection() { return *protection_; }
    QLabel* StatusPanel(int index) const { return statusPanels_[index]; }
    /// Moves the keyboard focus to the next pane (-1: the previous one).
    void FocusNextPane(int step);
    /// Shows the service's count of this user's refusals (hidden without a
    /// service); false when no service answers.
    bool UpdateRefusalCount();
    QLabel* RefusalPanel() const { return refusalPanel_; }
    /// Warns when protections of the selected principal are not enforced.
    QLabel* CoveragePanel() const { return coveragePanel_; }
    /// Whether the service answers, and the protection state, in the status
    /// bar and the tray icon's tooltip.
    void UpdateServiceState(bool answers);
    ui::TElidedLabel* ServicePanel() const { return servicePanel_; }
    /// Each second: reaches a service that was not there, notices one that
    /// went away, and shows what it found (status bar, tray, refusals, markers).
    void WatchService(TServiceWatch::Clock::time_point now = TServiceWatch::Clock::now());
    /// Reads the user list again (accounts made since the start), keeping the selection.
    void ReloadUsers();
    /// View > Refusals: the service's denial log in a window of its own.
    void ShowRefusals();
    TRefusalsWindow* RefusalsWindow() const { return refusalsWindow_; }
    QLabel* TestNotice() const { return testNotice_; }

    TPrincipalTree& Principals() { return tree_; }
    TUserDirectory& Directory() { return directory_; }
    TModifiedFlag& Modified() { return modified_; }
    TEncriptor& Store() { return services_.store; }
    IPrompts& Prompts() { return services_.prompts; }
    const std::string& CurrentUserName() const { return directory_.CurrentUserName(); }

    /// Writes the placement storage (also done when the window closes).
    void StorePlacement() const;

    /// The system's question before the session ends (logoff, shutdown): the
    /// same as closing the window asks. False refuses the end of the session.
    bool QueryEndSession() { return FormCloseQuery(); }

signals:
    /// The window was closed (the close was not refused): the program ends.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    /// F1 in a modal dialog: the help at the dialog's topic.
    bool eventFilter(QObject* watched, QEvent* event) override;
    /// The placement is restored at the first show, once the panes have a size.
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

private:
    void CreateActions();
    void CreateToolBar();
    void CreateMenus();
    void CreateContextMenus();
    void CreatePanes();
    void CreateStatusBar();
    void CreateProtection();
    void CreateEnforcement();
    void CreateTrayAndHotKey();
    bool AutomaticChecked() const override;
    void SetAutomaticChecked(bool checked) override;
    void BindHandlers();
    /// cmdicon, cmdSmIcon, cmdList, cmdReport: the list's style and its button.
    void SetViewStyle(ViewStyle style, const char* button);
    QMenu* AddMenu(QWidget* parent, const QString& name, const QString& title,
                   const QStringList& entries);
    QAction* AddItem(const QString& name, const QString& caption, const QString& hint);

    /// Opens the first steps when they wait for the window to show.
    void OpenPendingFirstSteps();
    /// The uids of the selected user, or of the selected group's members.
    std::vector<uid_t> SelectedUids() const;
    /// Asks to save when the settings changed; false when the close is refused.
    bool FormCloseQuery();

    TSecFrmServices services_;
    TModifiedFlag modified_;
    TPrincipalTree tree_;
    TUserDirectory directory_;
    std::unique_ptr<IGroupDialog> ownGroupDialog_;
    TGroupCommands groups_;
    std::unique_ptr<ui::TFormStorage> formStorage_;
    bool placementRestored_ = false;
    bool framedFit_ = false;  ///< brought on screen once its frame was known

    QHash<QString, QAction*> actions_;
    QHash<QString, QToolButton*> buttons_;
    QHash<QString, QMenu*> menus_;
    QHash<QString, QAction*> items_;
    QButtonGroup* viewButtons_ = nullptr;
    QButtonGroup* protectionButtons_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QSplitter* panes_ = nullptr;
    ui::TPrincipalTreeView* userGroups_ = nullptr;
    ui::TDriveView* driveView_ = nullptr;
    ui::TDirView* dirView_ = nullptr;
    std::unique_ptr<IOptionsDialogRunner> ownOptionsDialog_;
    std::unique_ptr<TProtectionController> protection_;
    std::unique_ptr<TDodiInterceptor> ais_;
    std::unique_ptr<TRuleCompiler> compiler_;
    std::unique_ptr<TProtectionControl> control_;
    TAutostart autostart_;
    std::unique_ptr<platform::IServiceRegistration> serviceRegistration_ =
        platform::SystemdRegistration();
    THardening hardening_;
    ProgramOptionsHooks hooks_;
    // The registrar outlives the component that registers through it.
    std::unique_ptr<platform::X11HotKeyRegistrar> hotKeyRegistrar_;
    std::unique_ptr<TfisHotKey> fisHotKey1_;
    ui::TQtTrayHost* trayHost_ = nullptr;
    std::unique_ptr<ui::TTrayLogic> tray_;
    QLabel* statusPanels_[3] = {nullptr, nullptr, nullptr};
    QLabel* refusalPanel_ = nullptr;
    QLabel* coveragePanel_ = nullptr;
    ui::TElidedLabel* servicePanel_ = nullptr;
    std::unique_ptr<TDenialReader> denials_;
    std::unique_ptr<TServiceWatch> serviceWatch_;
    QPointer<TRefusalsWindow> refusalsWindow_;
    QLabel* testNotice_ = nullptr;  ///< shown while a test runs
    QPointer<ui::THelpViewer> helpViewer_;
    SettingsDamage damage_;
    bool overwriteAccepted_ = false;
    bool firstStepsPending_ = false;
};

}  // namespace kv
