#pragma once

#include <functional>

#include "platform/Prompts.h"

namespace kv::ui {

/// Where the process stands between its window and the tray.
enum class Visibility {
    Shown,              ///< window visible, no icon, no timer
    WaitingForTaskbar,  ///< window hidden, no icon, FindShell running
    InTray,             ///< window hidden, icon in the tray
    HiddenNoTaskbar,    ///< window hidden, no icon, no timer: no tray ever came up
};

/// What the visibility logic needs of the main window, the tray icon and the
/// FindShell timer. TQtTrayHost (ui/TrayIcon.h) implements it with Qt; tests
/// with a fake.
class ITrayHost {
public:
    virtual ~ITrayHost() = default;
    virtual void HideMainWindow() = 0;
    virtual void ShowMainWindow() = 0;
    /// Restores the window when minimised and brings it to the front.
    virtual void RestoreAndRaise() = 0;
    /// Makes the application's own window active, so a prompt opened next
    /// gets the focus.
    virtual void ActivateApplication() = 0;
    /// The taskbar's notification area is there to hold an icon.
    [[nodiscard]] virtual bool TrayAvailable() = 0;
    [[nodiscard]] virtual bool TrayActive() const = 0;
    virtual void SetTrayActive(bool active) = 0;
    virtual void StartFindShell() = 0;
    virtual void StopFindShell() = 0;
    /// Requests the end of the process (without asking the window to close).
    virtual void Quit() = 0;
};

/// The main window's answers that the visibility logic asks for.
struct TrayCallbacks {
    /// True while a password prompt is open (TPasswordGate::PromptOpen).
    std::function<bool()> promptOpen;
    /// Password gate before showing the window; true goes on.
    std::function<bool()> passShowGate;
    /// Password gate before "Exit" from the tray; true goes on.
    std::function<bool()> passExitGate;
    /// The modified flag.
    std::function<bool()> modified;
    /// The Save command (cmdSaveExecute); clears the modified flag on success.
    std::function<void()> save;
};

/// Hiding in the tray, waiting for the taskbar, showing from the tray and
/// ending from the tray. Runs on the GUI thread.
///
/// Waiting for the taskbar: "taskbar found and visible" is "the tray is
/// available". A desktop session may bring its tray up after the program
/// started at logon, so each FindShell tick that finds no tray tries again
/// one second later, at most kFindShellTries ticks after HideToTray; then the
/// timer stops and the window stays hidden with no icon (HiddenNoTaskbar).
///
/// Task-list hiding does not exist here: RegisterServiceProcess only records
/// the last type asked for (1 hidden, 0 listed) and counts the calls.
///
/// Wiring in TSecFrm (app/CtrlPanel.*):
///   trayHost_ = new ui::TQtTrayHost(*this, Menu("PopupMenu2"), this);
///   tray_ = std::make_unique<ui::TTrayLogic>(*trayHost_, services_.prompts, ui::TrayCallbacks{
///       .promptOpen = [] { return TPasswordGate::PromptOpen(); },
///       .passShowGate = [this] { return PassPasswordGate(GateCaller::ShowWindow,
///                                    services_.store, services_.prompts, this); },
///       .passExitGate = [this] { return PassPasswordGate(GateCaller::TrayExit,
///                                    services_.store, services_.prompts, this); },
///       .modified = [this] { return modified_.Get(); },
///       .save = [this] { cmdSaveExecute(); }});
///   connect(&trayHost_->FindShell(), &QTimer::timeout, this, [this] { tray_->FindShellTimer(); });
///   connect(&trayHost_->RxTrayIcon1(), &TRxTrayIcon::DblClick, this,
///           [this] { tray_->cmdShowMainClick(); });
///   connect(MenuItem("cmdShowMain"), &QAction::triggered, ... tray_->cmdShowMainClick());
///   connect(MenuItem("Exit2"), &QAction::triggered, ... tray_->Exit2Click());
///   connect(Action("cmdMinimize"), &QAction::triggered, ... tray_->Minimize1Click());
///   (StartFileProtection1 and StopFileProtection1 keep their present handlers.)
///   TSecFrm::ShowMainWindow() becomes tray_->ShowMainWindow(); the hot key's
///   OnHotKey and the single-instance listener call it; "/T" calls tray_->HideToTray().
class TTrayLogic {
public:
    static constexpr int kFindShellTries = 30;

    TTrayLogic(ITrayHost& host, IPrompts& prompts, TrayCallbacks callbacks);

    void HideToTray();
    void FindShellTimer();
    void ShowFromTray();
    void ShowMainWindow();
    void Exit2Click();
    void Minimize1Click() { HideToTray(); }
    void cmdShowMainClick() { ShowFromTray(); }

    [[nodiscard]] Visibility State() const { return state_; }
    /// The show-main-window-at-start switch: false once hidden, true once shown.
    [[nodiscard]] bool ShowMainAtStart() const { return showMainAtStart_; }
    /// The last RegisterServiceProcess type (1 hidden from the task list, 0 listed).
    [[nodiscard]] int ServiceProcessType() const { return serviceType_; }
    [[nodiscard]] int ServiceProcessCalls() const { return serviceCalls_; }

private:
    void RegisterServiceProcess(int type);

    ITrayHost& host_;
    IPrompts& prompts_;
    TrayCallbacks callbacks_;
    Visibility state_ = Visibility::Shown;
    bool showMainAtStart_ = true;
    int triesLeft_ = 0;
    int serviceType_ = 0;
    int serviceCalls_ = 0;
};

}  // namespace kv::ui
