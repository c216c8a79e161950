#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/CtrlPanel.h"
#include "app/Double.h"
#include "app/Startup.h"
#include "platform/InterceptorDevice.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/ServiceFiles.h"
#include "platform/qt/Display.h"
#include "platform/qt/InstanceGuard.h"
#include "platform/qt/TerminationSignals.h"
#include "settings/Encript.h"
#include "ui/QtPrompts.h"

namespace {

// Scripted runs (tests, CI) never open the help at the first start.
std::function<void(const std::string&)> HelpOpener() {
    if (kv::NonInteractive())
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
    // A user other than root reaches the administrator's files (settings,
    // machine registry) through the interceptor service once the password
    // gate has been passed.
    kv::platform::TServiceFiles serviceFiles(
        kv::platform::InterceptorDevice::DefaultPath(),
        kv::platform::TServiceFiles::ProgramPaths(kv::platform::LoginName()));
    if (!kv::platform::RunsAsRoot()) {
        kv::platform::SetFileBroker(&serviceFiles);
        kv::platform::KeepMemoryPrivate();
    }
    kv::TEncriptor store(kv::platform::SettingsFilePath(), true);
    kv::platform::KeepAdministratorFilesPrivate(kv::platform::ExecutableDir());

    // Without a display the toolkit would abort: say why and end with 1.
    if (const std::string missing = kv::platform::MissingDisplay(args); !missing.empty()) {
        std::fprintf(stderr, "%s%s\n", kv::platform::kNoDisplayPrefix, missing.c_str());
        return 1;
    }
    std::optional<kv::platform::FatalDisplayGuard> displayGuard(std::in_place);
    QApplication app(argc, argv);
    displayGuard.reset();
    // The application's name, not a display name: the desktop would append a
    // display name to every window title, and titles are exactly their texts.
    QApplication::setApplicationName("Kestrava");
    kv::ui::QtPrompts prompts;
    // A logoff, "systemctl stop" or Ctrl+C ends the program as its Exit does:
    // the message loop ends, the window is destroyed and the interceptor
    // component clears or keeps the driver's entries as it was told.
    kv::platform::TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &kv::platform::TerminationSignals::Terminate, &app,
                     [] { QCoreApplication::exit(0); });

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
                        .serviceFiles = kv::platform::RunsAsRoot() ? nullptr : &serviceFiles,
                        .openHelp = HelpOpener()});
    prompts.SetOwner(&window);
    kv::TAppManager listener(guard, [&window] { window.ShowMainWindow(); });
    // Closing the main window ends the program.
    QObject::connect(
        &window, &kv::TSecFrm::Closed, &app, [] { QCoreApplication::exit(0); },
        Qt::QueuedConnection);

    const kv::StartupOutcome outcome = kv::RunStartup(window, kv::ParseStartSwitch(args));
    // A termination signal that came while startup ran a modal loop ends the
    // program now; the message loop would forget it.
    if (terminationSignals.Received())
        return 0;
    switch (outcome) {
        case kv::StartupOutcome::Terminate:
            return 0;
        case kv::StartupOutcome::Failed:
            return 1;
        case kv::StartupOutcome::Refused:
            std::fputs(kv::kRefusedText, stderr);
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
