#pragma once

#include <QWidget>

#include "access/AdminPassword.h"
#include "access/PasswordGate.h"

namespace kv {

// Entry points of the access password for the main window. Each call creates
// its form for one command, shows it modally and frees it; the typed text is
// wiped from the forms before the call returns.
//
// Wiring (window = the main window, store/prompts/modified = its own):
// - startup (no argument or "/D"): PassPasswordGate(GateCaller::Startup, ...);
//   refused ends the program;
// - "/U": PassPasswordGate(GateCaller::Uninstall, ...); refused uninstalls nothing;
// - tray show or hot key while hidden: PassPasswordGate(GateCaller::ShowWindow, ...);
//   the window is shown only when it passes;
// - tray "Stop Files Protection": PassPasswordGate(GateCaller::TrayStop, ...);
// - tray "Exit": PassPasswordGate(GateCaller::TrayExit, ...);
// - action cmdPassword: cmdPasswordExecute(store, prompts, modified, window).
// The wrong-password box goes through `prompts` with the title "Error", no icon.

/// Asks the administrator's password with the borderless prompt, unless none
/// is set or a prompt is already open (see GatePassed for that case).
[[nodiscard]] GateResult RunPasswordGate(const TEncriptor& store, IPrompts& prompts, QWidget* owner,
                                         IPasswordService* service = nullptr,
                                         std::string* accepted = nullptr);

/// RunPasswordGate mapped for `caller` by GatePassed: true when the caller goes on.
[[nodiscard]] bool PassPasswordGate(GateCaller caller, const TEncriptor& store, IPrompts& prompts,
                                    QWidget* owner, IPasswordService* service = nullptr,
                                    std::string* accepted = nullptr);

/// The action cmdPassword: shows TPasFrm over `owner`; on OK writes "Password"
/// to the store (not flushed) and sets `modified`. True when it wrote.
bool cmdPasswordExecute(TEncriptor& store, IPrompts& prompts, TModifiedFlag& modified,
                        QWidget* owner);

}  // namespace kv
