#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Accounts.h"

namespace kv::platform {

/// The two hives the program uses.
enum class Hive { LocalMachine, CurrentUser };

/// A registry value as the program reads it back.
struct RegistryValue {
    enum class Type { String, Binary, Dword };
    Type type = Type::String;
    std::string text;                 ///< String data
    std::vector<std::uint8_t> bytes;  ///< Binary data
    std::uint32_t dword = 0;          ///< Dword data
};

/// The system registry, kept as REGEDIT4 text files in the machine folder:
/// `registry/HKLM.reg` and `registry/HKCU/<user>.reg`. Key paths use "\" as
/// on Windows ("Software\Microsoft\Windows\CurrentVersion\RUN"); key and value
/// names are compared without regard to case. Every write is atomic.
///
/// Reading the ProfileList key (kProfileListKey under LocalMachine) gives the
/// OS accounts when the file holds no such key: one subkey per login name
/// with the string value "ProfileImagePath" (the home folder), read only.
/// The value "Current User" of "System\CurrentControlSet\Control" gives the
/// login name of the process owner when the file holds no such value.
///
/// A damaged file never makes an operation fail loudly: what parses is used,
/// and the file is copied aside before its first rewrite.
class IRegistry {
public:
    virtual ~IRegistry() = default;

    virtual bool KeyExists(Hive hive, std::string_view path) const = 0;
    /// Creates the key and its parents; true when it exists afterwards.
    virtual bool CreateKey(Hive hive, std::string_view path) = 0;
    /// Deletes the key with everything below it; true when it is gone afterwards.
    virtual bool DeleteKeyTree(Hive hive, std::string_view path) = 0;
    /// Names of the direct subkeys in stored order (as spelled when created).
    virtual std::vector<std::string> SubKeyNames(Hive hive, std::string_view path) const = 0;
    virtual bool HasSubKey(Hive hive, std::string_view path, std::string_view name) const = 0;

    virtual std::optional<RegistryValue> ReadValue(Hive hive, std::string_view path,
                                                   std::string_view name) const = 0;
    /// The string data of a value; nothing when the value is absent or not a string.
    virtual std::optional<std::string> ReadString(Hive hive, std::string_view path,
                                                  std::string_view name) const = 0;
    /// Writes create the key when needed; false when the file cannot be written.
    virtual bool WriteString(Hive hive, std::string_view path, std::string_view name,
                             std::string_view data) = 0;
    virtual bool WriteBinary(Hive hive, std::string_view path, std::string_view name,
                             const std::vector<std::uint8_t>& data) = 0;
    virtual bool WriteDword(Hive hive, std::string_view path, std::string_view name,
                            std::uint32_t data) = 0;
    /// True when the value is gone afterwards (also when it never existed).
    virtual bool DeleteValue(Hive hive, std::string_view path, std::string_view name) = 0;
};

/// The registry of this machine: files under `machineDir/registry`, the current
/// user's hive named after `userName`.
std::unique_ptr<IRegistry> OpenMachineRegistry(const std::string& machineDir,
                                               const std::string& userName);

/// Where a registry keeps its hives and where its computed values come from.
struct RegistrySources {
    std::string localMachineFile;            ///< HKLM.reg
    std::string currentUserFile;             ///< HKCU/<user>.reg; empty: the hive is unusable
    AccountSource accounts;                  ///< the profile list when the file holds none
    std::function<std::string()> loginName;  ///< "Current User" when the file holds none
};

/// A registry over the given files; OpenMachineRegistry uses the system's
/// accounts and LoginName(). Tests pass their own sources.
std::unique_ptr<IRegistry> OpenRegistry(RegistrySources sources);

/// Login name of the process owner ("root" for uid 0); empty when unknown.
std::string LoginName();

inline constexpr char kProfileListKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\ProfileList";
inline constexpr char kControlKey[] = "System\\CurrentControlSet\\Control";
inline constexpr char kCurrentUserValue[] = "Current User";

}  // namespace kv::platform
