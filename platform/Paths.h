#pragma once

#include <string>

namespace kv::platform {

/// The program's own file names on this system (one table for all callers).
struct ProgramFiles {
    static constexpr const char* kProgram = "kv";
    static constexpr const char* kService = "kvvxd";
    static constexpr const char* kUninstaller = "unins000";
    static constexpr const char* kSettings = "kv.dat";
    /// Put in the program's folder by the installation (cmake --install, the package).
    static constexpr const char* kInstalledMarker = "installed";
};

/// Folder of the running executable, without a trailing "/".
std::string ExecutableDir();
/// Full path of the running executable.
std::string ExecutablePath();
/// `$KESTRAVA_MACHINE`, else the folder "machine" beside the executable.
std::string MachineDir();
/// Per-user folder for the instance lock and socket: `$KESTRAVA_RUNTIME`, else
/// `$XDG_RUNTIME_DIR/kestrava`, else `/tmp/kestrava-<uid>`. Created on demand.
std::string RuntimeDir();
/// The settings file beside the executable.
std::string SettingsFilePath();
/// Folder of the machine's autostart entries, `/etc/xdg/autostart`: the
/// start-at-logon entry is the machine's, for whoever runs the program.
std::string DefaultAutostartDir();
/// True when `programDir` is an installed program's folder: it holds the marker
/// file `installed`, belongs to root and no one else may write it. A build
/// tree is not installed, and writes nothing outside its machine folder.
bool ProgramInstalled(const std::string& programDir);
/// In an installed program's folder, run as root: the settings file and the
/// machine folder become root's alone (0600, 0700), as the interceptor
/// service keeps them; other users reach them through the service.
void KeepAdministratorFilesPrivate(const std::string& programDir);
/// Creates a folder and its parents (mode 0700 for new ones); false on failure.
bool MakeDirs(const std::string& path, unsigned mode = 0700);

}  // namespace kv::platform
