#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/Matcher.h"
#include "driver/Protocol.h"

namespace kv::driver {

/// Where a table's entries came from (kvctl status shows it to root).
enum class Origin : std::uint32_t {
    kUnknown = 0,                 ///< a table kept from before origins were recorded
    kBoot = origin::kBoot,        ///< loaded by the service at its start
    kSession = origin::kSession,  ///< the account's own rules, loaded when a session opened
    kStart = origin::kStart,      ///< Start Protection reloaded every account's table
    kTest = origin::kTest,        ///< Test Protection: a principal's rules tried on this account
    kEntries = origin::kEntries,  ///< sent entry by entry
};
/// "boot", "session", "Start", "test", "entries" or "unknown".
const char* OriginName(Origin origin);
/// The origin named `name` (as OriginName writes it); nullopt for another text.
std::optional<Origin> OriginNamed(std::string_view name);
/// The origin with wire number `value`; nullopt for a number that names none.
std::optional<Origin> OriginOf(std::uint32_t value);

/// The entries and active state of one uid. Not thread-safe: the service
/// thread owns it; other threads decide through the published index.
class EntryTable {
public:
    static constexpr std::size_t kMaxEntries = 1'000'000;
    static constexpr std::size_t kMaxTableBytes = 256u << 20;

    /// Appends an entry; false when the table is full.
    [[nodiscard]] bool Add(const Entry& entry, std::string* error);
    void Clear();
    void SetActive(bool active);
    /// Replaces the contents (a table read from the state file).
    void Restore(std::vector<Entry> entries, bool active, Origin origin = Origin::kUnknown);
    /// Records where the entries came from.
    void SetOrigin(Origin origin);
    Origin GetOrigin() const { return origin_; }

    std::uint32_t Count() const { return static_cast<std::uint32_t>(entries_.size()); }
    bool Active() const { return active_; }
    const std::vector<Entry>& Entries() const { return entries_; }
    std::size_t Bytes() const { return bytes_; }
    bool Empty() const { return entries_.empty() && !active_; }

    /// The compiled index of the current entries (compiled on first use
    /// after a change, then published).
    std::shared_ptr<const MatchIndex> Index();
    const PublishedIndex& Published() const { return published_; }
    /// How program names in the entries find their executables.
    void SetPrograms(ProgramResolver programs) {
        programs_ = std::move(programs);
        indexStale_ = true;
    }
    /// The programs may have changed: the next Index() resolves them again.
    void RefreshPrograms() {
        if (programs_)
            indexStale_ = true;
    }
    /// Whether a change since the last compilation is not in Published() yet.
    bool IndexStale() const { return indexStale_; }

    /// Change tracking for the state file, read by TableSet.
    bool Dirty() const { return dirty_; }
    bool Urgent() const { return urgent_; }
    bool SyncPending() const { return syncPending_; }
    std::chrono::steady_clock::time_point FirstUnsaved() const { return firstUnsaved_; }
    void MarkSaved() { dirty_ = urgent_ = syncPending_ = false; }
    void MarkUnsaved() { Changed(true); }

private:
    void Changed(bool urgent);

    std::vector<Entry> entries_;
    bool active_ = false;
    Origin origin_ = Origin::kUnknown;
    std::size_t bytes_ = 0;
    bool dirty_ = false;
    bool urgent_ = false;
    bool syncPending_ = false;
    std::chrono::steady_clock::time_point firstUnsaved_{};
    bool indexStale_ = true;
    PublishedIndex published_;
    ProgramResolver programs_;
};

/// The tables of every uid, kept in one state file.
///
/// A change is written to the state file (temporary file + rename) before the
/// request is answered while its table is small; a large table (the program
/// loads entries one request at a time) is written at most once per
/// `kDeferredSaveInterval` and when the service stops, so that loading n
/// entries does not cost n rewrites of the whole file. Activate, deactivate
/// and clear are always written at once.
class TableSet {
public:
    static constexpr std::size_t kImmediateSaveBytes = 64u << 10;
    static constexpr std::chrono::milliseconds kDeferredSaveInterval{1000};

    /// An empty path keeps the tables in memory only.
    explicit TableSet(std::string statePath);

    enum class LoadOutcome { kLoaded, kDamaged, kUnreadable };
    /// Reads the state file; a missing file is no tables. A damaged file is
    /// renamed to <path>.damaged and the service starts empty; a file that
    /// cannot be read is left alone (the service must not write over it). The
    /// reason for either is returned in `error`.
    [[nodiscard]] LoadOutcome Load(std::string* error);

    /// The table of `uid`, created empty when it has none.
    EntryTable& Of(uid_t uid);
    /// The table of `uid`, or null.
    const EntryTable* Find(uid_t uid) const;
    std::map<uid_t, EntryTable>& All() { return tables_; }
    const std::map<uid_t, EntryTable>& All() const { return tables_; }

    /// How program names find their executables, for every table.
    void SetPrograms(ProgramResolver programs);
    /// Resolves the program names of every table again at its next Index().
    void RefreshPrograms();
    const ProgramResolver& Programs() const { return programs_; }

    /// Whether some table changed since its index was last compiled.
    bool IndexStale() const;
    /// Compiles and publishes the index of every changed table.
    void CompileIndexes();

    /// Writes the state now when a change must be written at once or a
    /// deferred save is due. False with a reason when writing fails.
    [[nodiscard]] bool SaveIfDue(std::chrono::steady_clock::time_point now, std::string* error);
    /// Writes any unsaved change.
    [[nodiscard]] bool Flush(std::string* error);
    /// Time until a deferred save is due, or -1 when none is pending.
    int MillisecondsUntilSave(std::chrono::steady_clock::time_point now) const;

    /// One table as the state file holds it.
    struct Stored {
        std::vector<Entry> entries;
        bool active = false;
        Origin origin = Origin::kUnknown;
        bool operator==(const Stored&) const = default;
    };
    /// The state file text of some tables, and its reader (for tests and
    /// fuzzing). The reader also takes the single-table form of earlier
    /// versions, as the table of root.
    static std::string Serialize(const std::map<uid_t, Stored>& tables);
    [[nodiscard]] static bool Parse(std::string_view text, std::map<uid_t, Stored>* tables,
                                    std::string* error);

private:
    [[nodiscard]] bool Save(bool sync, std::string* error);

    std::string path_;
    std::map<uid_t, EntryTable> tables_;
    ProgramResolver programs_;
};

}  // namespace kv::driver
