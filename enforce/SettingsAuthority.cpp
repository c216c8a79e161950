#include "enforce/SettingsAuthority.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "access/Secure.h"
#include "enforce/AI.h"
#include "enforce/CompileRules.h"
#include "enforce/ProtectionControl.h"
#include "options/Autostart.h"
#include "platform/Accounts.h"
#include "platform/Files.h"
#include "platform/LoginAccounts.h"
#include "principals/PrincipalSelection.h"
#include "principals/UserDirectory.h"
#include "settings/Encript.h"
#include "settings/EntryList.h"

namespace kv {

namespace {

constexpr char kPasswordKey[] = "Password";
constexpr char kNoFile[] = "/dev/null/kv.dat";  // a name that never exists

/// Keeps the compiled entries instead of sending them.
class TEntryCollector : public IEntryLoader {
public:
    explicit TEntryCollector(std::vector<driver::Entry>* entries) : entries_(entries) {}
    bool ClearEntries() override {
        entries_->clear();
        return true;
    }
    int AddEntry(std::uint32_t dwOperation, const std::string& FileMask,
                 const std::string& ExcludeFiles, const std::string& Processes,
                 const std::string& ExcludeProc) override {
        entries_->push_back({dwOperation, FileMask, ExcludeFiles, Processes, ExcludeProc});
        return static_cast<int>(entries_->size()) - 1;
    }

private:
    std::vector<driver::Entry>* entries_;
};

/// The compiler is always given a principal, so no tree selection is ever asked.
class TNoSelection : public IPrincipalSelection {
public:
    std::optional<SelectedPrincipal> Selected() const override { return std::nullopt; }
};

}  // namespace

TSettingsAuthority::TSettingsAuthority(std::string settingsPath,
                                       std::function<std::string(uid_t)> accountName,
                                       std::string autostartPath)
    : path_(std::move(settingsPath)),
      accountName_(accountName ? std::move(accountName) : platform::AccountNameOf),
      accountUid_(platform::UidOfAccount),
      autostartPath_(std::move(autostartPath)) {}

TSettingsAuthority::~TSettingsAuthority() = default;

const TEncriptor* TSettingsAuthority::Settings(std::string* error) {
    // Read through a descriptor: the store creates a file it does not find,
    // and the service must never create the administrator's settings.
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        if (errno == ENOENT) {
            const Identity none;
            if (!store_ || !(identity_ == none)) {
                store_ = std::make_unique<TEncriptor>(kNoFile, true);
                identity_ = none;
            }
            return store_.get();
        }
        *error = "cannot read " + path_ + ": " + std::strerror(errno);
        store_.reset();
        return nullptr;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = path_ + " is not a readable file";
        ::close(fd);
        store_.reset();
        return nullptr;
    }
    const Identity now{st.st_dev, st.st_ino, st.st_size,
                       st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec};
    if (!store_ || !(identity_ == now)) {
        store_ = std::make_unique<TEncriptor>("/proc/self/fd/" + std::to_string(fd), true);
        identity_ = now;
    }
    ::close(fd);
    // Settings that cannot be read or decoded (the store's marker entry is
    // missing) know no password: refusing is the safe answer, not "none set".
    if (!store_->Readable() ||
        (st.st_size > 0 && store_->ReadString(TEncriptor::kMarker, "") != TEncriptor::kMarker)) {
        *error = path_ + " is damaged or cannot be read";
        store_.reset();
        return nullptr;
    }
    return store_.get();
}

driver::IAuthority::Password TSettingsAuthority::Check(const std::optional<std::string>& given) {
    std::string error;
    const TEncriptor* store = Settings(&error);
    if (!store)
        return Password::Unknown;
    TWipedString stored(store->ReadString(kPasswordKey, ""));
    if (stored.str().empty())
        return Password::None;
    if (!given)
        return Password::Wrong;
    return PasswordsMatch(*given, stored.str()) ? Password::Right : Password::Wrong;
}

std::string TSettingsAuthority::PrincipalOf(uid_t uid, std::string* error) {
    const TEncriptor* store = Settings(error);
    if (!store)
        return {};
    std::string name = accountName_(uid);
    // As at a logon: an account the settings never knew is the unknown user.
    if (name.empty() || !store->ReadBool(std::string(kKnownUserPrefix) + name, false))
        name = kUnknownUser;
    return PrincipalOfUser(*store, name);
}

bool TSettingsAuthority::Compile(const std::string& principal, std::vector<driver::Entry>* entries,
                                 std::string* error) {
    const TEncriptor* store = Settings(error);
    if (!store)
        return false;
    TEntryCollector collector(entries);
    TNoSelection selection;
    TRuleCompiler compiler(*store, collector, selection);
    compiler.CompileRules(principal);
    return true;
}

bool TSettingsAuthority::KnownAccounts(bool* automatic, std::vector<uid_t>* uids,
                                       std::string* error) {
    const TEncriptor* store = Settings(error);
    if (!store)
        return false;
    // The default is the program's: protection starts at every logon until unchecked.
    *automatic = store->ReadBool("AutomaticFilesProtection", true);
    if (!uids)
        return true;
    uids->clear();
    const std::string prefix = kKnownUserPrefix;
    for (int i = 0; i < store->EntryCount(); ++i) {
        const std::string key = store->EntryName(i);
        if (key.size() <= prefix.size() ||
            !EqualNoCase(std::string_view(key).substr(0, prefix.size()), prefix))
            continue;
        if (!store->ReadBool(key, false))
            continue;
        if (const auto uid = accountUid_(key.substr(prefix.size())))
            uids->push_back(*uid);
    }
    return true;
}

std::string TSettingsAuthority::PathOf(std::uint32_t id, uid_t uid) const {
    const std::string machine = platform::DirName(path_) + "/machine";
    switch (id) {
        case driver::file::kSettings:
            return path_;
        case driver::file::kMachineRegistry:
            return machine + "/registry/HKLM.reg";
        case driver::file::kUserRegistry: {
            const std::string name = accountName_(uid);
            if (name.empty() || name.find('/') != std::string::npos || name.front() == '.')
                return {};
            return machine + "/registry/HKCU/" + name + ".reg";
        }
        case driver::file::kBootFile:
            return machine + "/drive_c/msdos.sys";
        case driver::file::kAutostart:
            return autostartPath_;
        default:
            return {};
    }
}

int TSettingsAuthority::ReadFile(std::uint32_t id, uid_t uid, std::string* data) {
    const std::string path = PathOf(id, uid);
    if (path.empty())
        return EINVAL;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return errno;
    struct stat st;
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    // Read through the descriptor just checked, not the name again.
    const bool read =
        regular && platform::ReadWholeFile("/proc/self/fd/" + std::to_string(fd), data);
    ::close(fd);
    return read ? 0 : EIO;
}

namespace {

/// Makes the missing folders of `path` below `top`, for root alone.
void MakeFoldersBelow(const std::string& top, const std::string& path) {
    const std::string folder = platform::DirName(path);
    if (folder.size() <= top.size() || !folder.starts_with(top + "/"))
        return;
    MakeFoldersBelow(top, folder);
    ::mkdir(folder.c_str(), 0700);
}

}  // namespace

int TSettingsAuthority::WriteFile(std::uint32_t id, uid_t uid, const std::string* data) {
    const std::string path = PathOf(id, uid);
    if (path.empty())
        return EINVAL;
    if (!data)
        return platform::DeleteFileIfExists(path) ? 0 : errno;
    const bool shared = id == driver::file::kAutostart;  // read by every session
    // Every session runs what the autostart entry says: only the program's
    // own entry is written, never a command of the caller's choosing.
    if (shared && *data != AutostartEntry(platform::DirName(path_) + "/kv", "/T"))
        return EINVAL;
    if (!shared)
        MakeFoldersBelow(platform::DirName(path_), path);
    std::string error;
    if (!platform::WriteFileAtomically(path, *data, &error))
        return errno ? errno : EIO;
    ::chmod(path.c_str(), shared ? 0644 : 0600);
    if (id == driver::file::kSettings)
        store_.reset();  // read again at the next use
    return 0;
}

}  // namespace kv
