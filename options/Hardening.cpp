#include "options/Hardening.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "options/ProfileText.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace kv {

using platform::Hive;

std::string BootConfigPath(const std::string& machineDir) {
    return machineDir + "/drive_c/msdos.sys";
}

std::string BootKeysApplied(const std::string& text, bool on) {
    ProfileText profile(text);
    if (on) {
        profile.Write(kBootOptionsSection, kBootKeys, "0");
        profile.Write(kBootOptionsSection, kBootMenu, "0");
        profile.Write(kBootOptionsSection, kBootWarn, "0");
    } else {
        profile.Delete(kBootOptionsSection, kBootWarn);
        profile.Delete(kBootOptionsSection, kBootKeys);
        profile.Delete(kBootOptionsSection, kBootMenu);
    }
    return profile.Text();
}

bool FlushProfileFile(const std::string& fileName) {
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

THardening::THardening(std::string bootConfigFile, platform::IRegistry& registry,
                       platform::DosAttributeStore attributes)
    : bootConfigFile_(std::move(bootConfigFile)), registry_(registry), attributes_(attributes) {}

void THardening::UseMachineBootLoader() {
    if (!platform::ProgramInstalled(platform::ExecutableDir()))
        return;
    machineTools_ = std::make_unique<TSystemBootLoaderTools>(true);
    machineLock_ = std::make_unique<TBootLoaderLock>("", *machineTools_);
    bootLoader_ = machineLock_.get();
}

bool THardening::ApplyBootKeysPolicy(bool on, const std::string& password) {
    bool boot = true;
    std::string bootError;
    if (bootLoader_ && (bootLoader_->Present() || on)) {
        boot = bootLoader_->Apply(on, password);
        bootError = bootLoader_->LastError();
    }
    const bool dos = ApplyDosBootKeys(on);
    if (!bootError.empty())
        lastError_ = lastError_.empty() ? bootError : lastError_ + "; " + bootError;
    return dos && boot;
}

bool THardening::ApplyDosBootKeys(bool on) {
    lastError_.clear();
    const std::optional<std::uint32_t> found =
        platform::GetDosAttributes(bootConfigFile_, attributes_);
    if (!found) {
        lastError_ = bootConfigFile_ + " does not exist";
        return false;
    }
    if (!platform::SetDosAttributes(bootConfigFile_, 0, attributes_, &lastError_))
        return false;

    bool done = false;
    std::string text;
    if (!platform::ReadWholeFile(bootConfigFile_, &text)) {
        lastError_ = "cannot read " + bootConfigFile_ + ": " + std::strerror(errno);
    } else {
        const std::string edited = BootKeysApplied(text, on);
        // An unchanged text is not rewritten, so the file stays as it was.
        done =
            edited == text || platform::WriteFileAtomically(bootConfigFile_, edited, &lastError_);
        if (done)
            FlushProfileFile(bootConfigFile_);
    }

    std::string restoreError;
    if (!platform::SetDosAttributes(bootConfigFile_, *found, attributes_, &restoreError)) {
        lastError_ = restoreError;
        return false;
    }
    return done;
}

bool THardening::ApplyMsDosModePolicy(bool on) {
    lastError_.clear();
    if (!registry_.CreateKey(Hive::CurrentUser, kWinOldAppKey)) {
        lastError_ = "cannot open the WinOldApp key";
        return false;
    }
    if (registry_.ReadValue(Hive::CurrentUser, kWinOldAppKey, kNoRealModeValue))
        registry_.DeleteValue(Hive::CurrentUser, kWinOldAppKey, kNoRealModeValue);
    if (on && !registry_.WriteDword(Hive::CurrentUser, kWinOldAppKey, kNoRealModeValue, 1)) {
        lastError_ = "cannot write NoRealMode";
        return false;
    }
    return true;
}

}  // namespace kv
