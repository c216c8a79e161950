#pragma once

#include <string>

namespace kv::platform {

/// The program's own file names on this system (one table for all callers).
struct ProgramFiles {
    static constexpr const char* kProgram = "kv";
    static constexpr const char* kService = "kvvxd";
    static constexpr const char* kUninstaller = "unins000";
    static constexpr const char* kSettings = "kv.dat";
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
/// Folder of the desktop's autostart entries: `/etc/xdg/autostart` for root,
/// else `$XDG_CONFIG_HOME/autostart`, else `<home>/.config/autostart` with the
/// home folder of the account. Empty when no home folder is known.
std::string DefaultAutostartDir();
/// Creates a folder and its parents (mode 0700 for new ones); false on failure.
bool MakeDirs(const std::string& path, unsigned mode = 0700);

}  // namespace kv::platform
