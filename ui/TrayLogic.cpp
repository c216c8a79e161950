#include "ui/TrayLogic.h"

namespace kv::ui {

TTrayLogic::TTrayLogic(ITrayHost& host, IPrompts& prompts, TrayCallbacks callbacks)
    : host_(host), prompts_(prompts), callbacks_(std::move(callbacks)) {}

void TTrayLogic::RegisterServiceProcess(int type) {
    serviceType_ = type;
    ++serviceCalls_;
}

void TTrayLogic::HideToTray() {
    if (host_.TrayActive())
        return;
    RegisterServiceProcess(1);
    showMainAtStart_ = false;
    host_.HideMainWindow();
    triesLeft_ = kFindShellTries;
    state_ = Visibility::WaitingForTaskbar;
    host_.StartFindShell();
}

void TTrayLogic::FindShellTimer() {
    host_.StopFindShell();
    if (host_.TrayAvailable()) {
        host_.SetTrayActive(true);
        state_ = Visibility::InTray;
        return;
    }
    if (--triesLeft_ > 0) {
        host_.StartFindShell();
        return;
    }
    state_ = Visibility::HiddenNoTaskbar;
}

void TTrayLogic::ShowFromTray() {
    host_.ActivateApplication();
    if (callbacks_.promptOpen && callbacks_.promptOpen())
        return;
    if (callbacks_.passShowGate && !callbacks_.passShowGate())
        return;
    RegisterServiceProcess(0);
    host_.SetTrayActive(false);
    showMainAtStart_ = true;
    host_.ShowMainWindow();
    state_ = Visibility::Shown;
}

void TTrayLogic::ShowMainWindow() {
    // Many desktops have no tray: a window hidden while waiting for one comes
    // back like one in the tray (after the password), or nothing could show it.
    if (host_.TrayActive() || state_ == Visibility::WaitingForTaskbar ||
        state_ == Visibility::HiddenNoTaskbar) {
        host_.StopFindShell();
        ShowFromTray();
        return;
    }
    host_.RestoreAndRaise();
}

void TTrayLogic::Exit2Click() {
    if (callbacks_.passExitGate && !callbacks_.passExitGate())
        return;
    if (callbacks_.modified && callbacks_.modified()) {
        switch (prompts_.Message("Do you want to save modifications ?", "Kestrava",
                                 Buttons::YesNoCancel, MessageIcon::Question)) {
            case Answer::Cancel:
                return;
            case Answer::Yes:
                if (callbacks_.save)
                    callbacks_.save();
                // A save that failed has reported itself; ending now would lose the edits.
                if (callbacks_.modified())
                    return;
                break;
            default:
                break;
        }
    }
    RegisterServiceProcess(0);
    host_.SetTrayActive(false);
    host_.Quit();
}

}  // namespace kv::ui
