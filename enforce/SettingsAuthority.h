#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/Authority.h"

namespace kv {

class TEncriptor;

/// The administrator's settings as the interceptor service sees them: the
/// settings file it was given, read again whenever the file changed. The
/// service compiles a user's rules with the program's own compiler, for the
/// principal the logon start would choose for that user's account.
class TSettingsAuthority : public driver::IAuthority {
public:
    /// `accountName` gives the login name of a uid (the account database
    /// unless a test passes its own). The machine folder is "machine" beside
    /// the settings; `autostartPath` is the machine-wide autostart entry.
    explicit TSettingsAuthority(std::string settingsPath,
                                std::function<std::string(uid_t)> accountName = {},
                                std::string autostartPath = kSystemAutostartEntry);
    ~TSettingsAuthority() override;

    Password Check(const std::optional<std::string>& given) override;
    std::string PrincipalOf(uid_t uid, std::string* error) override;
    bool Compile(const std::string& principal, std::vector<driver::Entry>* entries,
                 std::string* error) override;
    bool KnownAccounts(bool* automatic, std::vector<uid_t>* uids, std::string* error) override;
    int ReadFile(std::uint32_t id, uid_t uid, std::string* data) override;

    /// How a login name becomes a uid (the account database unless a test
    /// passes its own); nullopt for a name with no account.
    void SetAccountUid(std::function<std::optional<uid_t>(const std::string&)> accountUid) {
        accountUid_ = std::move(accountUid);
    }
    int WriteFile(std::uint32_t id, uid_t uid, const std::string* data) override;

    /// The path of file `id` for `uid`; empty for an unknown id or an account
    /// without a usable name.
    std::string PathOf(std::uint32_t id, uid_t uid) const;

    static constexpr char kSystemAutostartEntry[] = "/etc/xdg/autostart/kestrava.desktop";

private:
    /// The settings, loaded again when the file changed. A missing file is
    /// empty settings (nothing set, no password); null when the file cannot
    /// be read, with the reason in `error`.
    const TEncriptor* Settings(std::string* error);

    std::string path_;
    std::function<std::string(uid_t)> accountName_;
    std::function<std::optional<uid_t>(const std::string&)> accountUid_;
    std::string autostartPath_;
    std::unique_ptr<TEncriptor> store_;
    /// Device, inode, size and change time of the file `store_` was read from.
    struct Identity {
        dev_t dev = 0;
        ino_t ino = 0;
        off_t size = -1;
        long long ctimeNs = -1;
        bool operator==(const Identity&) const = default;
    } identity_;
};

}  // namespace kv
