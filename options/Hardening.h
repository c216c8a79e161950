#pragma once

#include <memory>
#include <string>

#include "options/BootLoader.h"
#include "platform/DosAttributes.h"
#include "platform/Registry.h"

namespace kv {

/// The boot configuration file's section and the keys of the boot keys policy.
inline constexpr char kBootOptionsSection[] = "Options";
inline constexpr char kBootKeys[] = "BootKeys";
inline constexpr char kBootMenu[] = "BootMenu";
inline constexpr char kBootWarn[] = "BootWarn";
/// The MS-DOS mode policy under the current user's hive.
inline constexpr char kWinOldAppKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\WinOldApp";
inline constexpr char kNoRealModeValue[] = "NoRealMode";

/// The boot configuration file of this system: `<machineDir>/drive_c/msdos.sys`.
std::string BootConfigPath(const std::string& machineDir);

/// The boot configuration file's "Options" section with the boot keys
/// switched on (the three keys "0") or off (the three keys removed).
std::string BootKeysApplied(const std::string& text, bool on);

/// Asks the system to write a profile file's cached copy to disk. Edits here
/// are written straight to the file, so this syncs the file itself; false when
/// it cannot be opened or synced.
bool FlushProfileFile(const std::string& fileName);

/// The two measures that keep the system from being started past the
/// protection: the boot keys policy in the boot configuration file and the
/// MS-DOS mode policy in the current user's registry. Neither keeps state,
/// and neither shows a message: what cannot be done is skipped (LastError
/// says why, for logs and tests).
class THardening {
public:
    THardening(std::string bootConfigFile, platform::IRegistry& registry,
               platform::DosAttributeStore attributes = platform::DosAttributeStore::Auto);

    /// On: "BootKeys", "BootMenu" and "BootWarn" = "0" in section "Options"
    /// (disables F5, F6 and F8, the boot menu and the boot warning); off: the
    /// three keys removed. Every other line keeps its bytes, and the file's DOS
    /// attributes are cleared for the edit and set back exactly as found. A
    /// missing file is left missing. With a boot loader lock, GRUB is locked
    /// (on) with the administrator's `password`, or unlocked (off), as well.
    /// True when the files hold the asked state.
    bool ApplyBootKeysPolicy(bool on, const std::string& password = {});
    /// Locks this machine's boot loader too, when the program is installed
    /// (a program that is not installed writes nothing outside its machine folder).
    void UseMachineBootLoader();
    /// Locks the boot loader under `lock`'s root (tests: a staged root).
    void SetBootLoader(TBootLoaderLock* lock) { bootLoader_ = lock; }
    /// The boot loader lock in use, or null.
    const TBootLoaderLock* BootLoader() const { return bootLoader_; }
    /// On: "NoRealMode" = dword 1 under WinOldApp of the current user's hive
    /// (replacing a value of any other type); off: the value removed. True when
    /// the key could be opened.
    bool ApplyMsDosModePolicy(bool on);

    const std::string& BootConfigFile() const { return bootConfigFile_; }
    const std::string& LastError() const { return lastError_; }

private:
    /// The boot configuration file's part of the boot keys policy.
    bool ApplyDosBootKeys(bool on);

    std::string bootConfigFile_;
    platform::IRegistry& registry_;
    platform::DosAttributeStore attributes_;
    std::string lastError_;
    std::unique_ptr<TSystemBootLoaderTools> machineTools_;
    std::unique_ptr<TBootLoaderLock> machineLock_;
    TBootLoaderLock* bootLoader_ = nullptr;
};

}  // namespace kv
