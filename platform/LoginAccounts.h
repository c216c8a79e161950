#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Accounts.h"

namespace kv::platform {

/// The uids of the accounts people log on with (login.defs' UID_MIN..UID_MAX).
struct UidRange {
    unsigned long min = 1000;
    unsigned long max = 60000;
};

/// UID_MIN and UID_MAX of a login.defs text; the defaults for what it does
/// not say (or says unreadably).
UidRange UidRangeOf(std::string_view loginDefs);

/// The shells of an /etc/shells text (comments and blank lines left out).
std::vector<std::string> ShellsOf(std::string_view shellsFile);

/// The uids of `entries` inside `range` whose shell is one of `shells`, each
/// once, in ascending order.
std::vector<uid_t> LoginUids(const std::vector<PasswdEntry>& entries, UidRange range,
                             const std::vector<std::string>& shells);

/// The lines of a passwd-format text; lines that are not one are left out.
std::vector<PasswdEntry> PasswdEntriesOf(std::string_view passwd);

/// The login accounts of this machine: the account database (or the passwd
/// file `passwdPath` when it is not empty), /etc/login.defs and /etc/shells.
std::vector<uid_t> SystemLoginUids(const std::string& passwdPath = {});

}  // namespace kv::platform
