#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "driver/Matcher.h"
#include "driver/Protocol.h"

namespace kv::driver {

class DenialLog;
class TableSet;

/// The program's own process name, which the compiled entries exclude.
inline constexpr char kProgramProcess[] = "kv";
/// The name decisions use for a process whose executable is named like the
/// program but is another file: it must not pass for the program.
inline constexpr char kProgramImpostor[] = "kv (not the program)";

/// The patterns of the entries that protect the program's own files: open
/// events watch the program's files themselves for them, not every file.
inline constexpr const char* kSelfProtection[] = {"*kv.dat", "*/kv", "*/kvvxd"};
bool IsSelfProtection(const Entry& entry);

/// The process name decisions use for the executable `path`: the path
/// itself, unless it is named like the program without being `program`
/// (kProgramImpostor then).
std::string ProcessNameOf(std::string path, const std::string& program);

/// The standard program folders, searched in this order for a program name.
inline constexpr const char* kProgramFolders[] = {"/usr/local/sbin", "/usr/local/bin", "/usr/sbin",
                                                  "/usr/bin",        "/sbin",          "/bin"};
/// The executables users call by `name`: the file of that name in each
/// program folder, through its symbolic links, when it is an executable
/// regular file (duplicates dropped). The program's own name resolves to
/// nothing: the program is told by its path (ProcessNameOf).
std::vector<ProgramId> ResolveProgram(std::string_view name);
/// A text that changes when a file in a program folder (or a choice of
/// /etc/alternatives) is added, removed or replaced, as package upgrades do.
std::string ProgramFoldersStamp();
/// The identity of the file at `path` (symbolic links followed); unknown when
/// there is none.
ProgramId ProgramIdOf(const std::string& path);

/// The bits open events enforce: Open, Read and Full when a file is opened,
/// Hide (and Full) when a folder is opened to be listed.
inline constexpr std::uint32_t kOpenEventBits = 0x4 | 0x40 | 0x400 | 0x200;
/// How the coverage answer of an entry that only open events reach begins.
inline constexpr char kOpenEventsCoverage[] = "open events";

/// Change creation time and Retrieve creation time: Linux sets no creation
/// time, and a protection mount shows none (its replies carry no birth
/// time), so these bits have nothing to refuse or hide.
inline constexpr std::uint32_t kNoCounterpartBits = 0x40000 | 0x8000;
inline constexpr char kNoCounterpartNote[] =
    "; Change creation time and Retrieve creation time have no counterpart on this system (no "
    "settable creation time; a protection mount shows none)";

/// Whether `folder` is or lies in a folder the system itself runs from
/// (/usr, /etc, /run, ...): never mounted over.
bool InSystemTree(std::string_view folder);
/// Whether an entry naming `folder` (EntryFolder) can only be enforced by
/// open events: no folder ("*..."), the root, or a system folder.
bool NeedsOpenEvents(std::string_view folder);

/// The compiled rules of one uid whose table is active.
struct UserRules {
    /// Every entry of the table.
    std::shared_ptr<const MatchIndex> all;
    /// Only the entries with the Hide bit, each reduced to that bit, so that
    /// "hidden" is never confused with "inaccessible".
    std::shared_ptr<const MatchIndex> hide;
    /// The entries that only open events can enforce, with their index in the table.
    std::vector<std::pair<std::uint32_t, Entry>> openEntries;
    /// The folders this uid's entries name (EntryFolder), sorted, each with
    /// the first entry naming it.
    std::vector<std::pair<std::string, std::uint32_t>> folders;
    /// The entry that protects `folder` or an item below it, so that moving
    /// or removing `folder` would carry that item out of the entry's reach;
    /// kAllowed when there is none.
    std::uint32_t ProtectedBelow(std::string_view folder) const;
    /// Whether some entry's decision depends on the calling process (its
    /// Processes or ExcludeProc name programs); when not, no decision needs
    /// the caller's executable.
    bool processMatters = true;
};

/// The bits whose refusal changes what a caller is told about an item by
/// lookups and attributes: answers on items such entries can match differ
/// between callers, and must never be kept by the kernel.
inline constexpr std::uint32_t kCallerDependentBits =
    0x8 | 0x100 | 0x200 | 0x400 | 0x8000 | 0x10000;

/// What the enforcement engines decide with: the rules of every active table,
/// replaced as a whole at one point (engines keep the snapshot a decision
/// started with).
class Policy {
public:
    Policy() = default;
    Policy(std::unordered_map<uid_t, UserRules> users, std::vector<std::string> folders,
           std::uint64_t generation, std::string program = {},
           std::shared_ptr<DenialLog> denials = {});

    /// The rules of `uid`, or null when its table is not active.
    const UserRules* For(uid_t uid) const;
    /// The folders named by the literal part of active entries that forbid
    /// something (sorted, no duplicates): "/srv/ro" for "/srv/ro/*" and for
    /// "/srv/ro/f.txt".
    const std::vector<std::string>& Folders() const { return folders_; }
    std::uint64_t Generation() const { return generation_; }
    /// The process name decisions use for the executable `path` of a
    /// process of `uid`: the path itself, unless it is named like the
    /// program without being the program's file (kProgramImpostor then).
    /// Only root's processes can be the program: a user's own copy of the
    /// program could have code put into it (LD_PRELOAD, plugins), and the
    /// program run by a user reaches the administrator's files through the
    /// service anyway.
    std::string ProcessOf(std::string path, uid_t uid) const;
    /// Whether an entry of any active table can make the lookup or the
    /// attributes of `path` differ between callers (whatever their program).
    bool CallerDependent(std::string_view path) const;
    /// Where the engines record refusals; null: nowhere.
    DenialLog* Denials() const { return denials_.get(); }
    bool Empty() const { return users_.empty(); }
    const std::unordered_map<uid_t, UserRules>& Users() const { return users_; }

private:
    friend std::shared_ptr<const Policy> BuildPolicy(TableSet&, std::uint64_t, const std::string&,
                                                     std::shared_ptr<DenialLog>);

    std::unordered_map<uid_t, UserRules> users_;
    std::vector<std::string> folders_;
    std::uint64_t generation_ = 0;
    std::string program_;  ///< the program's executable; empty: none is trusted
    /// Every active entry with a caller-dependent bit, for any process.
    std::shared_ptr<const MatchIndex> callerDependent_;
    std::shared_ptr<DenialLog> denials_;
};

/// The policy of the active tables of `tables` (their indexes compiled).
/// `program` is the path of the program's executable; refusals go to `denials`.
std::shared_ptr<const Policy> BuildPolicy(TableSet& tables, std::uint64_t generation,
                                          const std::string& program = {},
                                          std::shared_ptr<DenialLog> denials = {});

class PublishedPolicy {
public:
    PublishedPolicy() : policy_(std::make_shared<const Policy>()) {}
    std::shared_ptr<const Policy> Current() const { return policy_.load(); }
    void Publish(std::shared_ptr<const Policy> policy) { policy_.store(std::move(policy)); }

private:
    std::atomic<std::shared_ptr<const Policy>> policy_;
};

}  // namespace kv::driver
