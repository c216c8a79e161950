#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kv::platform {

/// An OS account that can log on: its login name and home folder.
struct Account {
    std::string name;
    std::string home;
};

/// A supplier of the accounts that stand for the registry's profile list.
using AccountSource = std::function<std::vector<Account>()>;

/// One line of a passwd file, as far as the profile list needs it.
struct PasswdEntry {
    std::string name;
    unsigned long uid = 0;
    std::string home;
    std::string shell;
};

/// The entries that count as user profiles: root, and every account with a
/// UID of 1000 or more (whether or not its home folder exists yet). Accounts whose shell is
/// "nologin" or "false" are left out (they cannot log on, e.g. "nobody");
/// root always stays. A name listed twice counts once (the first one).
std::vector<Account> LoginAccounts(const std::vector<PasswdEntry>& entries);

/// Every entry of the system's account database (getpwent).
std::vector<PasswdEntry> SystemPasswdEntries();

/// The profiles from the system's account database (getpwent).
std::vector<Account> SystemAccounts();

/// The profiles from a file in passwd format; none when it cannot be read.
std::vector<Account> AccountsFromPasswdFile(const std::string& path);

/// The login name of `uid` from the account database; "root" for uid 0 when
/// the database does not say, else empty when it has no such account.
std::string AccountNameOf(uid_t uid);

/// The uid of the account named `name`, or nullopt when there is none.
std::optional<uid_t> UidOfAccount(const std::string& name);

/// Whether the process runs as root (its effective uid).
bool RunsAsRoot();

/// No core dumps and no debugger of the same user for this process: it may
/// hold the administrator's password typed into it.
void KeepMemoryPrivate();

}  // namespace kv::platform
