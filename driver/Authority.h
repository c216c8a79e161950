#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/Protocol.h"

namespace kv::driver {

/// What the service knows of the administrator's settings: the password that
/// lets a user weaken protection, and the rules it compiles for a user.
class IAuthority {
public:
    enum class Password {
        None,     ///< no password is set: nothing needs one
        Right,    ///< the password given is the administrator's
        Wrong,    ///< it is not, or none was given
        Unknown,  ///< the settings cannot be read: treated as wrong
    };

    virtual ~IAuthority() = default;
    /// Compares `given` (null: no password given) with the administrator's.
    virtual Password Check(const std::optional<std::string>& given) = 0;
    /// The principal prefix that protects the account of `uid` ("g_" + its
    /// group, else "u_" + its name, "u_Unknown User" when the settings do not
    /// know the account). Empty, with a reason, when it cannot be told.
    virtual std::string PrincipalOf(uid_t uid, std::string* error) = 0;
    /// The entries of `principal` compiled from the settings, the program's
    /// own three included. False, with a reason, when the settings cannot be read.
    virtual bool Compile(const std::string& principal, std::vector<Entry>* entries,
                         std::string* error) = 0;
    /// Whether the settings protect every account from the service's start
    /// ("AutomaticFilesProtection", on unless unchecked), and the uids of the
    /// accounts they know that exist on this machine (not looked up when
    /// `uids` is null). False, with a reason, when the settings cannot be read.
    virtual bool KnownAccounts(bool* automatic, std::vector<uid_t>* uids, std::string* error) = 0;
    /// Reads the administrator's file `id` (a file:: id) for a program run by
    /// `uid`. 0, or an errno value (ENOENT: no such file; EINVAL: no such id).
    virtual int ReadFile(std::uint32_t id, uid_t uid, std::string* data) = 0;
    /// Writes `data` in place of that file (atomically, root's alone), or
    /// removes it when `data` is null. 0, or an errno value.
    virtual int WriteFile(std::uint32_t id, uid_t uid, const std::string* data) = 0;
};

}  // namespace kv::driver
