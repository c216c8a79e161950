#include "options/Autostart.h"

#include <optional>

#include "platform/Files.h"
#include "platform/Paths.h"

namespace kv {

using platform::Hive;
using platform::ProgramFiles;

namespace {

// The program path as an argument of a desktop entry's Exec line: quoted when
// it holds reserved characters, with the quoting escapes escaped once more for
// the entry's string value and "%" doubled; nothing for a path that holds
// control characters, which no entry line can carry.
std::optional<std::string> ExecArgument(const std::string& path) {
    for (unsigned char c : path) {
        if (c < 0x20 || c == 0x7F)
            return std::nullopt;
    }
    const bool quote = path.find_first_of(" \t\"'\\$`<>~|&;*?#()") != std::string::npos;
    std::string out = quote ? "\"" : "";
    for (char c : path) {
        if (c == '%') {
            out += "%%";
        } else if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) {
            out += c == '\\' ? "\\\\\\\\" : std::string("\\\\") + c;
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            out += c;
        }
    }
    return quote ? out + "\"" : out;
}

// The folder part of an uninstall command: everything up to and including the
// last separator of its program path, so an opening quote stays. Only the
// program path is searched, as "/" also starts a switch ("kv" /U): a quoted
// path ends at its closing quote, an unquoted one (which may hold blanks) at
// the first blank that starts a switch.
std::string UninstallFolderPart(const std::string& command) {
    std::size_t end = command.size();
    if (!command.empty() && command.front() == '"') {
        const std::size_t close = command.find('"', 1);
        if (close != std::string::npos)
            end = close;
    } else if (const std::size_t blank = command.find(" /"); blank != std::string::npos) {
        end = blank;
    }
    const std::size_t cut = command.find_last_of("/\\", end == 0 ? 0 : end - 1);
    return cut == std::string::npos ? (command.empty() || command.front() != '"' ? "" : "\"")
                                    : command.substr(0, cut + 1);
}

}  // namespace

TAutostart::TAutostart(TEncriptor& store, platform::IRegistry& registry, InstallPaths paths)
    : store_(store), registry_(registry), paths_(std::move(paths)) {}

std::string TAutostart::StartCommand() const {
    const char* start = store_.ReadBool("Minimize", true) ? " /T" : " /S";
    // No quotation marks around the path, even when it holds blanks.
    return paths_.programDir + "/" + ProgramFiles::kProgram + start;
}

std::string TAutostart::DesktopEntryPath() const {
    if (paths_.autostartDir.empty())
        return {};
    return paths_.autostartDir + "/" + kDesktopEntryName;
}

bool TAutostart::MirrorsToDesktop() const {
    return !paths_.autostartDir.empty() && platform::ProgramInstalled(paths_.programDir);
}

std::string AutostartEntry(const std::string& program, const std::string& start) {
    const std::optional<std::string> exec = ExecArgument(program);
    if (!exec || start.find_first_of("\n\r") != std::string::npos)
        return {};
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Kestrava\n"
           "Comment=Starts file protection for the user who logs on\n"
           "Exec=" +
           *exec + " " + start +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

void TAutostart::WriteDesktopEntry(const std::string& command) {
    if (!MirrorsToDesktop() || !platform::MakeDirs(paths_.autostartDir, 0755))
        return;
    const std::string entry = AutostartEntry(paths_.programDir + "/" + ProgramFiles::kProgram,
                                             command.substr(command.rfind(' ') + 1));
    if (entry.empty())
        return;
    std::string ignored;
    (void)platform::WriteFileAtomically(DesktopEntryPath(), entry, &ignored);
}

void TAutostart::ApplyAutostart(bool checked) {
    if (registry_.CreateKey(Hive::LocalMachine, kRunKey)) {
        if (checked) {
            const std::string command = StartCommand();
            registry_.WriteString(Hive::LocalMachine, kRunKey, kRunValue, command);
            WriteDesktopEntry(command);
        } else {
            registry_.DeleteValue(Hive::LocalMachine, kRunKey, kRunValue);
            RemoveDesktopEntry();
        }
    }
    store_.WriteBool("AutomaticFilesProtection", checked);
}

void TAutostart::RegisterInstallation() {
    if (registry_.CreateKey(Hive::LocalMachine, kServiceKey)) {
        registry_.WriteBinary(Hive::LocalMachine, kServiceKey, "Start", {0x00});
        registry_.WriteString(Hive::LocalMachine, kServiceKey, "StaticVxD", ProgramFiles::kService);
    }
    SetServiceEnabled(true);

    const std::string entry = std::string(kUninstallKey) + "\\" + kUninstallEntry;
    if (registry_.KeyExists(Hive::LocalMachine, entry)) {
        const std::string old =
            registry_.ReadString(Hive::LocalMachine, entry, "UninstallString").value_or("");
        registry_.DeleteValue(Hive::LocalMachine, entry, "UninstallString");
        const std::string folder = UninstallFolderPart(old);
        registry_.WriteString(Hive::LocalMachine, entry, "UninstallString",
                              folder + ProgramFiles::kProgram + "\" /U");
    }

    if (registry_.KeyExists(Hive::LocalMachine, kUninstallKey)) {
        for (const std::string& name : registry_.SubKeyNames(Hive::LocalMachine, kUninstallKey)) {
            if (name.find("Kestrava") != std::string::npos && name != kUninstallEntry) {
                registry_.DeleteKeyTree(Hive::LocalMachine,
                                        std::string(kUninstallKey) + "\\" + name);
            }
        }
    }

    platform::DeleteFileIfExists(paths_.programDir + "/uninst0.000");
    platform::DeleteFileIfExists(paths_.programDir + "/uninst1.000");
}

void TAutostart::SetServiceEnabled(bool enabled) {
    notice_.clear();
    // A build tree's run never touches the machine's services.
    if (!registration_ || !platform::ProgramInstalled(paths_.programDir))
        return;
    if (!registration_->Available())
        notice_ = platform::kNoServiceManager;
    else if (!registration_->SetEnabled(enabled))
        notice_ = enabled
                      ? "The interceptor service could not be enabled (systemctl enable kvvxd)"
                      : "The interceptor service could not be disabled (systemctl disable kvvxd)";
}

void TAutostart::RemoveRegistrations() {
    registry_.DeleteKeyTree(Hive::LocalMachine, kServiceKey);
    SetServiceEnabled(false);
    if (registry_.CreateKey(Hive::LocalMachine, kRunKey)) {
        registry_.DeleteValue(Hive::LocalMachine, kRunKey, kRunValue);
    }
    RemoveDesktopEntry();
}

void TAutostart::RemoveDesktopEntry() {
    // A build tree's run leaves an installed copy's entry alone.
    if (MirrorsToDesktop())
        platform::DeleteFileIfExists(DesktopEntryPath());
}

}  // namespace kv
