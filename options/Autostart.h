#pragma once

#include <string>

#include "platform/Registry.h"
#include "platform/ServiceRegistration.h"
#include "settings/Encript.h"

namespace kv {

/// Where the program lives and where the desktop's autostart entries go.
struct InstallPaths {
    std::string programDir;    ///< folder of the running executable, no trailing "/"
    std::string autostartDir;  ///< folder of XDG autostart entries; empty: none
};

/// The start-at-logon entry and the service's registration: registry values
/// under LocalMachine (files in the machine folder). An installed program
/// mirrors the entry to the machine's desktop autostart entry; a program run
/// from a build tree writes nothing outside its machine folder.
class TAutostart {
public:
    TAutostart(TEncriptor& store, platform::IRegistry& registry, InstallPaths paths);

    /// Makes the start-at-logon entry match `checked` (the menu item
    /// "Automatic Files Protection") and stores the flag.
    void ApplyAutostart(bool checked);
    /// The installation step's registrations, without the known users and the
    /// flush, which the caller does next. An installed program also enables
    /// the service's unit (see SetServiceRegistration).
    void RegisterInstallation();
    /// How an installed program registers the service to start at boot; null
    /// (the default): it does not.
    void SetServiceRegistration(platform::IServiceRegistration* registration) {
        registration_ = registration;
    }
    /// What the last registration step has to say (no service manager), or empty.
    const std::string& Notice() const { return notice_; }
    /// The reverse of the installation's registrations: the service key and the
    /// start-at-logon entry go.
    void RemoveRegistrations();

    /// The data of the start-at-logon value for the current "Minimize" setting.
    std::string StartCommand() const;
    /// The desktop autostart entry; empty when no autostart folder is known.
    std::string DesktopEntryPath() const;

private:
    /// True when the program is installed and an autostart folder is known.
    bool MirrorsToDesktop() const;
    void WriteDesktopEntry(const std::string& command);
    void RemoveDesktopEntry();
    void SetServiceEnabled(bool enabled);

    TEncriptor& store_;
    platform::IRegistry& registry_;
    InstallPaths paths_;
    platform::IServiceRegistration* registration_ = nullptr;
    std::string notice_;
};

inline constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RUN";
inline constexpr char kRunValue[] = "kv.exe";
inline constexpr char kServiceKey[] = "System\\CurrentControlSet\\Services\\VxD\\KVVXD";
inline constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr char kUninstallEntry[] = "Kestrava_is1";
inline constexpr char kDesktopEntryName[] = "kestrava.desktop";

/// The machine-wide autostart entry that runs `program` with the switch
/// `start` at every logon; empty when the path cannot be an Exec argument.
std::string AutostartEntry(const std::string& program, const std::string& start);

}  // namespace kv
