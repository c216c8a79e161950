#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "driver/Matcher.h"
#include "driver/Policy.h"

namespace kv::driver::events {

/// What the open-event responder decides with: per uid, the entries no
/// protection mount can reach, and the files and file systems to watch.
/// Travels from the service to the responder as one message.
struct OpenPolicy {
    pid_t service = 0;  ///< opens of the service itself are never checked
    std::string program;
    std::string settings;
    std::string serviceExecutable;
    std::unordered_map<uid_t, std::vector<std::pair<std::uint32_t, Entry>>> entries;

    /// The program's files need watching (a self-protection entry is active).
    bool WatchesProgramFiles() const;
    /// Entries other than self-protection need whole file systems watched.
    bool WatchesFileSystems() const;
};

std::string EncodeOpenPolicy(const OpenPolicy& policy);
/// A message between the service and the responder: its length, then `payload`.
std::string Frame(const std::string& payload);
[[nodiscard]] bool DecodeOpenPolicy(std::string_view bytes, OpenPolicy* policy);
/// The open policy of `policy` for a service of pid `service`.
OpenPolicy OpenPolicyOf(const Policy& policy, pid_t service, const std::string& program,
                        const std::string& settings, const std::string& serviceExecutable);

/// The compiled open policy.
class OpenRules {
public:
    /// `programs` finds the executables of program names (none: names only).
    explicit OpenRules(const OpenPolicy& policy, const ProgramResolver& programs = {});
    /// The table index of the entry refusing `operation` on `path` to
    /// `process` (executable `program`) of `uid`, or kAllowed.
    std::uint32_t Decide(uid_t uid, std::uint32_t operation, std::string_view path,
                         std::string_view process, ProgramId program = {},
                         bool folder = false) const;
    /// Whether `uid` has entries here at all.
    bool Protects(uid_t uid) const { return users_.contains(uid); }
    /// Whether some entry of some uid could match `path`, whatever the
    /// process and the exclusions: if not, its later opens need no look.
    bool CouldMatch(std::string_view path) const;

private:
    struct User {
        std::unique_ptr<MatchIndex> index;
        std::vector<std::uint32_t> tableIndex;
    };
    std::unordered_map<uid_t, User> users_;
    std::unique_ptr<MatchIndex> any_;
};

}  // namespace kv::driver::events
