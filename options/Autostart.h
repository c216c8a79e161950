#pragma once

#include <string>

#include "platform/Registry.h"
#include "settings/Encript.h"

namespace kv {

/// Where the program lives and where the desktop's autostart entries go.
struct InstallPaths {
    std::string programDir;    ///< folder of the running executable, no trailing "/"
    std::string autostartDir;  ///< folder of XDG autostart entries
};

/// The start-at-logon entry and the service's registration: registry values
/// under LocalMachine, mirrored to a desktop autostart entry.
class TAutostart {
public:
    TAutostart(TEncriptor& store, platform::IRegistry& registry, InstallPaths paths);

    /// Makes the start-at-logon entry match `checked` (the menu item
    /// "Automatic Files Protection") and stores the flag.
    void ApplyAutostart(bool checked);
    /// The installation step's registrations, without the known users and the
    /// flush, which the caller does next.
    void RegisterInstallation();
    /// The reverse of the installation's registrations: the service key and the
    /// start-at-logon entry go.
    void RemoveRegistrations();

    /// The data of the start-at-logon value for the current "Minimize" setting.
    std::string StartCommand() const;
    std::string DesktopEntryPath() const;

private:
    void WriteDesktopEntry(const std::string& command);

    TEncriptor& store_;
    platform::IRegistry& registry_;
    InstallPaths paths_;
};


inline constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RUN";
inline constexpr char kRunValue[] = "kv.exe";
inline constexpr char kServiceKey[] = "System\\CurrentControlSet\\Services\\VxD\\KVVXD";
inline constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr char kUninstallEntry[] = "Kestrava_is1";
inline constexpr char kDesktopEntryName[] = "kestrava.desktop";

}  // namespace kv
