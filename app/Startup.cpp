#include "app/Startup.h"

#include <QAction>

#include <iostream>

#include "access/forms/AccessForms.h"
#include "app/CtrlPanel.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/qt/Shell.h"
#include "ui/DriveView.h"

namespace kv {

StartSwitch ParseStartSwitch(const std::vector<std::string>& args) {
    if (args.empty())
        return StartSwitch::None;
    const std::string& a = args.front();
    if (a == "/T")
        return StartSwitch::Tray;
    if (a == "/S")
        return StartSwitch::Start;
    if (a == "/D")
        return StartSwitch::Stop;
    if (a == "/I")
        return StartSwitch::Install;
    if (a == "/U")
        return StartSwitch::Uninstall;
    return StartSwitch::Other;
}

bool HandleInfoSwitch(const std::vector<std::string>& args, std::string* output) {
    if (args.empty())
        return false;
    if (args.front() == "--version") {
        *output = std::string("Kestrava ") + kVersionText + "\n";
        return true;
    }
    if (args.front() == "--help") {
        *output =
            "Usage: kv [SWITCH]\n"
            "File-system protector for a computer shared by several users.\n"
            "\n"
            "Without a switch the settings window is shown (after the password, when one is "
            "set).\n"
            "  /T   start protection for the logged-on user and stay in the tray (logon start)\n"
            "  /S   start protection for the logged-on user and end\n"
            "  /D   stop protection and end (asks the password when one is set)\n"
            "  /I   installation step: register the service and the uninstall entry, then end\n"
            "  /U   prepare uninstallation (asks the password when one is set), then end\n"
            "  --help     show this text\n"
            "  --version  show the version\n";
        return true;
    }
    return false;
}

bool PrepareUninstall(TSecFrm& window) {
    if (!window.PassGate(GateCaller::Uninstall))
        return false;
    window.StopProtection();
    window.MenuItem("AutomaticFilesProtection1")->setChecked(false);
    window.Hardening().ApplyMsDosModePolicy(false);
    window.Hardening().ApplyBootKeysPolicy(false);
    window.Autostart().RemoveRegistrations();
    if (!window.Autostart().Notice().empty())
        window.Prompts().Message(window.Autostart().Notice(), "Kestrava", Buttons::Ok,
                                 MessageIcon::Warning);
    const std::string uninstaller =
        platform::ExecutableDir() + "/" + platform::ProgramFiles::kUninstaller;
    if (platform::FileExists(uninstaller))
        platform::StartProgram(uninstaller);
    return true;
}

StartupOutcome RunStartup(TSecFrm& window, StartSwitch start) {
    TEncriptor& store = window.Store();
    // Told once, before anything else: the settings shown are not the file's.
    if (window.CheckSettingsDamage(DamageTimeSuffix()) &&
        (start == StartSwitch::None || start == StartSwitch::Other)) {
        window.Prompts().Message(DamageMessage(window.Damage()), "Kestrava", Buttons::Ok,
                                 MessageIcon::Warning);
    }
    // An unknown first argument runs as the plain start, so it asks as well.
    // The gate passes at once when no password is set; for a program that
    // cannot read the settings it asks the service, and reads them after.
    const bool asks =
        start == StartSwitch::None || start == StartSwitch::Stop || start == StartSwitch::Other;
    if (asks && !window.PassGate(GateCaller::Startup))
        return StartupOutcome::Refused;
    window.MenuItem("AutomaticFilesProtection1")
        ->setChecked(store.ReadBool("AutomaticFilesProtection", true));
    window.ApplyHotKey();
    // A refused uninstall ends too: going on as the plain start would open the
    // settings without the password.
    if (start == StartSwitch::Uninstall) {
        PrepareUninstall(window);
        return StartupOutcome::Terminate;
    }
    if (start == StartSwitch::Install) {
        window.Autostart().RegisterInstallation();
        if (!window.Autostart().Notice().empty())
            window.Prompts().Message(window.Autostart().Notice(), "Kestrava", Buttons::Ok,
                                     MessageIcon::Warning);
        window.Directory().SaveKnownUsers();
        if (!window.MayWriteSettings())
            return StartupOutcome::Failed;
        if (!store.Flush(true)) {
            window.Prompts().Message("The settings could not be saved: " + store.LastError(),
                                     "Kestrava", Buttons::Ok, MessageIcon::Error);
            return StartupOutcome::Failed;
        }
        return StartupOutcome::Terminate;
    }
    window.LoadCurrentUser();
    // A switch run from a script or a logon says when it did nothing.
    std::string error;
    if (start == StartSwitch::Start) {
        if (window.StartUserProtection(&error))
            return StartupOutcome::Terminate;
        std::cerr << "kv: " << error << "\n";
        return StartupOutcome::Failed;
    }
    if (start == StartSwitch::Stop) {
        if (window.StopProtection(&error))
            return StartupOutcome::Terminate;
        std::cerr << "kv: " << error << "\n";
        return StartupOutcome::Failed;
    }
    StartupOutcome outcome = StartupOutcome::ShowWindow;
    if (start == StartSwitch::Tray) {
        window.StartUserProtection();
        window.HideToTray();
        outcome = StartupOutcome::StayHidden;
    }
    std::uint32_t count = 0;
    if (window.AIS().GetEntryCount(count) && count > 0) {
        window.Show(ProtectionState::Protecting);
    }
    window.DriveView1()->SelectPath("/");
    window.LoadUserGroups();
    window.UpdateCaption();
    window.Modified().Clear();
    if (window.Damage().Found()) {
        // Not a first start: the damaged file's settings are just not readable.
    } else if (store.ReadBool("FirstTime", true)) {
        window.ShowFirstSteps();
    } else {
        window.Hardening().ApplyMsDosModePolicy(store.ReadBool("DisableMSDOS", true));
    }
    return outcome;
}

}  // namespace kv
