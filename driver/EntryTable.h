#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "driver/Matcher.h"
#include "driver/Protocol.h"

namespace kv::driver {

/// The service's entries and active state, kept in a state file.
///
/// Every change is written to the state file (temporary file + rename) before
/// the request is answered, while the table is small; a large table (the
/// program loads entries one request at a time) is written at most once per
/// `kDeferredSaveInterval` and when the service stops, so that loading n
/// entries does not cost n rewrites of the whole file. Activate, deactivate
/// and clear are always written at once. Not thread-safe: the service thread
/// owns it; other threads decide through Published().
class EntryTable {
public:
    static constexpr std::size_t kMaxEntries = 1'000'000;
    static constexpr std::size_t kMaxTableBytes = 256u << 20;
    static constexpr std::size_t kImmediateSaveBytes = 64u << 10;
    static constexpr std::chrono::milliseconds kDeferredSaveInterval{1000};

    /// An empty path keeps the table in memory only.
    explicit EntryTable(std::string statePath);

    enum class LoadOutcome { kLoaded, kDamaged, kUnreadable };
    /// Reads the state file; a missing file is an empty table. A damaged file
    /// is renamed to <path>.damaged and the table starts empty; a file that
    /// cannot be read is left alone (the service must not write over it).
    /// The reason for either is returned in `error`.
    [[nodiscard]] LoadOutcome Load(std::string* error);

    /// Appends an entry; false when the table is full.
    [[nodiscard]] bool Add(const Entry& entry, std::string* error);
    void Clear();
    void SetActive(bool active);

    std::uint32_t Count() const { return static_cast<std::uint32_t>(entries_.size()); }
    bool Active() const { return active_; }
    const std::vector<Entry>& Entries() const { return entries_; }

    /// The compiled index of the current entries (compiled on first use
    /// after a change, then published).
    std::shared_ptr<const MatchIndex> Index();
    const PublishedIndex& Published() const { return published_; }
    /// Whether a change since the last compilation is not in Published() yet.
    bool IndexStale() const { return indexStale_; }

    /// Writes the state now when the last change must be written at once or
    /// a deferred save is due. False with a reason when writing fails.
    [[nodiscard]] bool SaveIfDue(std::chrono::steady_clock::time_point now, std::string* error);
    /// Writes any unsaved change.
    [[nodiscard]] bool Flush(std::string* error);
    /// Time until a deferred save is due, or -1 when none is pending.
    int MillisecondsUntilSave(std::chrono::steady_clock::time_point now) const;

    /// The state file text of a table, and its reader (for tests and fuzzing).
    static std::string Serialize(const std::vector<Entry>& entries, bool active);
    [[nodiscard]] static bool Parse(std::string_view text, std::vector<Entry>* entries,
                                    bool* active, std::string* error);

private:
    void Changed(bool urgent);
    [[nodiscard]] bool Save(bool sync, std::string* error);

    std::string path_;
    std::vector<Entry> entries_;
    bool active_ = false;
    std::size_t bytes_ = 0;
    bool dirty_ = false;
    bool urgent_ = false;
    bool syncPending_ = false;
    std::chrono::steady_clock::time_point firstUnsaved_{};
    bool indexStale_ = false;
    PublishedIndex published_;
};

}  // namespace kv::driver
