#pragma once

#include <QWidget>

#include "options/ProgramOptions.h"

namespace kv {

// The program options dialog for the main window.
//
// Wiring (window = the main window; store, prompts, modified = its own;
// registry = OpenMachineRegistry(MachineDir(), LoginName());
// hardening = THardening(BootConfigPath(MachineDir()), *registry);
// autostart = the window's TAutostart):
//   ProgramOptionsHooks hooks;
//   hooks.automaticProtection = [&] { return AutomaticFilesProtection1->isChecked(); };
//   hooks.setAutomaticProtection = [&](bool c) { AutomaticFilesProtection1->setChecked(c); };
//   hooks.applyAutostart = [&](bool c) { autostart.ApplyAutostart(c); };
//   hooks.applyHotKey = [&](std::uint16_t code) { fisHotKey1.SetKey(code); };
//   hooks.saveKnownUsers = [&] { directory.SaveKnownUsers(); };
//   hooks.applyBootKeysPolicy = [&](bool on) { hardening.ApplyBootKeysPolicy(on); };
//   hooks.applyMsDosModePolicy = [&](bool on) { hardening.ApplyMsDosModePolicy(on); };
// - action cmdPrOpt, and closing the window while "FirstTime" is set:
//   cmdPrOptExecute(store, prompts, modified, hooks, window);
// - startup, before the command line is examined:
//   ApplyHotKey(store, hooks.applyHotKey) (options/ProgramOptions.h);
// - startup once "FirstTime" is false, and uninstall with off:
//   hardening.ApplyMsDosModePolicy(...); uninstall also ApplyBootKeysPolicy(false).
// The mismatch box goes through `prompts` with no icon, the CMOS advice with
// the warning icon; both should be owned by the active modal dialog.

/// The action cmdPrOpt: shows TPrOptFrm centred over `owner`. True on OK.
bool cmdPrOptExecute(TEncriptor& store, IPrompts& prompts, TModifiedFlag& modified,
                     ProgramOptionsHooks& hooks, QWidget* owner);

}  // namespace kv
