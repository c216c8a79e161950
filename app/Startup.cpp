#include "app/Startup.h"

#include <QAction>

#include "access/forms/AccessForms.h"
#include "app/CtrlPanel.h"
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

StartupOutcome RunStartup(TSecFrm& window, StartSwitch start) {
    window.MenuItem("AutomaticFilesProtection1")
        ->setChecked(window.Store().ReadBool("AutomaticFilesProtection", true));
    const bool asks = start == StartSwitch::None || start == StartSwitch::Stop;
    if (asks && !window.Store().ReadString("Password", "").empty() &&
        !PassPasswordGate(GateCaller::Startup, window.Store(), window.Prompts(), &window)) {
        return StartupOutcome::Terminate;
    }
    window.LoadCurrentUser();
    window.DriveView1()->SelectPath("/");
    window.LoadUserGroups();
    window.UpdateCaption();
    window.Modified().Clear();
    return StartupOutcome::ShowWindow;
}

}  // namespace kv
