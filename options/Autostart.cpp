#include "options/Autostart.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/Files.h"
#include "platform/Paths.h"

namespace kv {

using platform::Hive;
using platform::ProgramFiles;

namespace {

// A desktop entry's Exec line quotes a path that holds blanks or quotes.
std::string ExecQuoted(const std::string& path) {
    if (path.find_first_of(" \t\"'\\$`") == std::string::npos)
        return path;
    std::string out = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// The folder part of an uninstall command: everything up to and including the
// last separator of its program path, so an opening quote stays. Only the
// program path is searched, as "/" also starts the switch of "kv" /U.
std::string UninstallFolderPart(const std::string& command) {
    std::size_t end = command.size();
    if (!command.empty() && command.front() == '"') {
        const std::size_t close = command.find('"', 1);
        if (close != std::string::npos)
            end = close;
    } else if (const std::size_t blank = command.find(' '); blank != std::string::npos) {
        end = blank;
    }
    const std::size_t cut = command.find_last_of("/\\", end == 0 ? 0 : end - 1);
    return cut == std::string::npos ? (command.empty() || command.front() != '"' ? "" : "\"")
                                    : command.substr(0, cut + 1);
}

}  // namespace

std::string DefaultAutostartDir() {
    if (::geteuid() == 0)
        return "/etc/xdg/autostart";
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) {
        return std::string(config) + "/autostart";
    }
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "/tmp") + "/.config/autostart";
}

TAutostart::TAutostart(TEncriptor& store, platform::IRegistry& registry, InstallPaths paths)
    : store_(store), registry_(registry), paths_(std::move(paths)) {}

std::string TAutostart::StartCommand() const {
    const char* start = store_.ReadBool("Minimize", true) ? " /T" : " /S";
    // No quotation marks around the path, even when it holds blanks.
    return paths_.programDir + "/" + ProgramFiles::kProgram + start;
}

std::string TAutostart::DesktopEntryPath() const {
    return paths_.autostartDir + "/" + kDesktopEntryName;
}

void TAutostart::WriteDesktopEntry(const std::string& command) {
    if (!platform::MakeDirs(paths_.autostartDir, 0755))
        return;
    const std::string program = paths_.programDir + "/" + ProgramFiles::kProgram;
    const std::string start = command.substr(command.rfind(' ') + 1);
    const std::string entry =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Kestrava\n"
        "Comment=Starts file protection for the user who logs on\n"
        "Exec=" +
        ExecQuoted(program) + " " + start +
        "\n"
        "Terminal=false\n"
        "X-GNOME-Autostart-enabled=true\n";
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
            platform::DeleteFileIfExists(DesktopEntryPath());
        }
    }
    store_.WriteBool("AutomaticFilesProtection", checked);
}

void TAutostart::RegisterInstallation() {
    if (registry_.CreateKey(Hive::LocalMachine, kServiceKey)) {
        registry_.WriteBinary(Hive::LocalMachine, kServiceKey, "Start", {0x00});
        registry_.WriteString(Hive::LocalMachine, kServiceKey, "StaticVxD", ProgramFiles::kService);
    }

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

void TAutostart::RemoveRegistrations() {
    registry_.DeleteKeyTree(Hive::LocalMachine, kServiceKey);
    if (registry_.CreateKey(Hive::LocalMachine, kRunKey)) {
        registry_.DeleteValue(Hive::LocalMachine, kRunKey, kRunValue);
    }
    platform::DeleteFileIfExists(DesktopEntryPath());
}

}  // namespace kv
