#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/CtrlPanel.h"
#include "app/Double.h"
#include "app/Startup.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/qt/InstanceGuard.h"
#include "settings/Encript.h"
#include "ui/QtPrompts.h"

namespace {

// Scripted runs (tests, CI) never open the help at the first start.
std::function<void(const std::string&)> HelpOpener() {
    const char* scripted = std::getenv("KESTRAVA_NONINTERACTIVE");
    if (scripted && std::string(scripted) == "1")
        return [](const std::string&) {};
    return {};  // the window's own help viewer
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string info;
    if (kv::HandleInfoSwitch(args, &info)) {
        std::fputs(info.c_str(), stdout);
        return 0;
    }

    // The settings store lives from process start to process end and is released
    // without being written: only the program's save points flush it.
    kv::TEncriptor store(kv::platform::SettingsFilePath(), true);

    QApplication app(argc, argv);
    QApplication::setApplicationName("Kestrava");
    QApplication::setApplicationDisplayName("Kestrava");
    kv::ui::QtPrompts prompts;

    kv::platform::InstanceGuard guard(QString::fromStdString(kv::platform::RuntimeDir()),
                                      kv::kInstanceName);
    const kv::InstanceResult instance =
        kv::InitInstance(guard, /*allowCopy=*/false, /*notifyFirst=*/true, prompts);
    if (!instance.run) {
        if (!instance.error.empty()) {
            prompts.Message(instance.error, "Kestrava", kv::Buttons::Ok, kv::MessageIcon::Error);
        }
        return instance.exitCode;
    }

    const std::string machine = kv::platform::MachineDir();
    kv::platform::MakeDirs(machine, 0755);
    const std::unique_ptr<kv::platform::IRegistry> registry =
        kv::platform::OpenMachineRegistry(machine, kv::platform::LoginName());
    kv::TSecFrm window({.store = store,
                        .prompts = prompts,
                        .registry = *registry,
                        .placementFile = QString::fromStdString(
                            machine + "/" + kv::platform::ProgramFiles::kProgram + ".INI"),
                        .machineDir = machine,
                        .openHelp = HelpOpener()});
    prompts.SetOwner(&window);
    kv::TAppManager listener(guard, [&window] { window.ShowMainWindow(); });

    switch (kv::RunStartup(window, kv::ParseStartSwitch(args))) {
        case kv::StartupOutcome::Terminate:
            return 0;
        case kv::StartupOutcome::Failed:
            return 1;
        case kv::StartupOutcome::ShowWindow:
            window.show();
            window.activateWindow();
            break;
        case kv::StartupOutcome::StayHidden:
            break;
    }
    return app.exec();
}
