#pragma once

#include <functional>
#include <optional>
#include <string>

#include <sys/types.h>

namespace kv::session {

/// What the PAM session hook is told: pam_exec puts the PAM items into the
/// environment of the program it runs.
struct SessionEvent {
    std::string type;     ///< PAM_TYPE: "open_session", "close_session", ...
    std::string user;     ///< PAM_USER: the account whose session it is
    std::string service;  ///< PAM_SERVICE: login, sshd, su-l, cron, ...
};

struct HookOptions {
    /// The service's socket.
    std::string devicePath = "/run/kestrava/VEVUZ";
    /// Each connect, write and read waits at most this long, so that a
    /// service that hangs delays a logon by about a second at most.
    int stepTimeoutMs = 300;
    /// The uid the service runs as (root; a test's own uid in tests).
    uid_t serviceUid = 0;
    /// The uid of an account name; nullopt when there is no such account.
    std::function<std::optional<uid_t>(const std::string&)> uidOf;
    /// Receives what is worth telling the system log.
    std::function<void(const std::string&)> log;
};

/// What the hook did, for the log and for tests.
enum class HookOutcome {
    kIgnored,       ///< not a session opening, or root's own session
    kLoaded,        ///< the service loaded the account's rules
    kNotAutomatic,  ///< the service answered, automatic protection is off
    kFailed,        ///< no service, no answer, or a refusal: logged
};

/// Asks the service to load the rules of the account whose session opens,
/// before the session's first program runs. It never fails the logon: the
/// PAM line is "optional" and the program always exits 0.
HookOutcome RunSessionHook(const SessionEvent& event, const HookOptions& options);

}  // namespace kv::session
