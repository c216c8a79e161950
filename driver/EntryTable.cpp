#include "driver/EntryTable.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "driver/StateFile.h"

namespace kv::driver {

namespace {

constexpr std::string_view kMagicV1 = "kvvxd-state 1\n";
constexpr std::string_view kMagic = "kvvxd-state 2\n";

std::size_t EntryBytes(const Entry& e) {
    return 64 + e.FileMask.size() + e.ExcludeFiles.size() + e.Processes.size() +
           e.ExcludeProc.size();
}

/// Reads one line (without its "\n") from `text` at `*pos`.
bool Line(std::string_view text, std::size_t* pos, std::string_view* line) {
    const std::size_t end = text.find('\n', *pos);
    if (end == std::string_view::npos)
        return false;
    *line = text.substr(*pos, end - *pos);
    *pos = end + 1;
    return true;
}

bool Number(std::string_view* rest, std::uint64_t* value) {
    while (!rest->empty() && rest->front() == ' ')
        rest->remove_prefix(1);
    const auto [ptr, ec] = std::from_chars(rest->data(), rest->data() + rest->size(), *value);
    if (ec != std::errc() || ptr == rest->data())
        return false;
    rest->remove_prefix(static_cast<std::size_t>(ptr - rest->data()));
    return true;
}

/// Reads `count` entries in the state file's form.
bool ParseEntries(std::string_view text, std::size_t* pos, std::uint64_t count,
                  std::vector<Entry>* entries, std::string* error) {
    std::string_view line;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::string where = "entry " + std::to_string(i) + ": ";
        std::uint64_t op = 0;
        std::uint64_t sizes[4] = {};
        if (!Line(text, pos, &line) || !Number(&line, &op) || op > 0xFFFFFFFFu) {
            *error = where + "bad header";
            return false;
        }
        for (std::uint64_t& size : sizes) {
            if (!Number(&line, &size)) {
                *error = where + "bad header";
                return false;
            }
        }
        const std::uint64_t total = sizes[0] + sizes[1] + sizes[2] + sizes[3];
        if (!line.empty() || sizes[0] > text.size() || sizes[1] > text.size() ||
            sizes[2] > text.size() || sizes[3] > text.size()) {
            *error = where + "bad header";
            return false;
        }
        if (total > text.size() - *pos || text.size() - *pos - total < 1 ||
            text[*pos + total] != '\n') {
            *error = where + "texts cut short";
            return false;
        }
        Entry e;
        e.dwOperation = static_cast<std::uint32_t>(op);
        std::string* fields[4] = {&e.FileMask, &e.ExcludeFiles, &e.Processes, &e.ExcludeProc};
        for (int f = 0; f < 4; ++f) {
            *fields[f] = std::string(text.substr(*pos, sizes[f]));
            if (fields[f]->find('\0') != std::string::npos) {
                *error = where + "text with NUL";
                return false;
            }
            *pos += sizes[f];
        }
        *pos += 1;
        entries->push_back(std::move(e));
    }
    return true;
}

void SerializeEntries(const std::vector<Entry>& entries, std::string* out) {
    for (const Entry& e : entries) {
        *out += std::to_string(e.dwOperation) + " " + std::to_string(e.FileMask.size()) + " " +
                std::to_string(e.ExcludeFiles.size()) + " " + std::to_string(e.Processes.size()) +
                " " + std::to_string(e.ExcludeProc.size()) + "\n";
        *out += e.FileMask + e.ExcludeFiles + e.Processes + e.ExcludeProc + "\n";
    }
}

/// The earlier single-table form: "active N", "entries N", the entries, "end".
bool ParseV1(std::string_view text, std::map<uid_t, TableSet::Stored>* tables, std::string* error) {
    std::size_t pos = kMagicV1.size();
    std::string_view line;
    TableSet::Stored table;
    if (!Line(text, &pos, &line) || (line != "active 0" && line != "active 1")) {
        *error = "bad active line";
        return false;
    }
    table.active = line == "active 1";
    std::uint64_t count = 0;
    if (!Line(text, &pos, &line) || !line.starts_with("entries ")) {
        *error = "bad entries line";
        return false;
    }
    line.remove_prefix(8);
    if (!Number(&line, &count) || !line.empty() || count > EntryTable::kMaxEntries) {
        *error = "bad entry count";
        return false;
    }
    if (!ParseEntries(text, &pos, count, &table.entries, error))
        return false;
    if (text.substr(pos) != "end\n") {
        *error = "missing end line";
        return false;
    }
    (*tables)[0] = std::move(table);
    return true;
}

/// Reads "<word> N" from the front of `line`.
bool Field(std::string_view* line, std::string_view word, std::uint64_t* value) {
    while (!line->empty() && line->front() == ' ')
        line->remove_prefix(1);
    if (!line->starts_with(word))
        return false;
    line->remove_prefix(word.size());
    return !line->empty() && line->front() == ' ' && Number(line, value);
}

constexpr struct {
    Origin origin;
    const char* name;
} kOriginNames[] = {
    {Origin::kUnknown, "unknown"}, {Origin::kBoot, "boot"}, {Origin::kSession, "session"},
    {Origin::kStart, "Start"},     {Origin::kTest, "test"}, {Origin::kEntries, "entries"},
};

/// Reads the optional " origin NAME" that ends a table line (files written
/// before origins were recorded have none).
bool OriginField(std::string_view* line, Origin* origin) {
    if (line->empty())
        return true;
    constexpr std::string_view kWord = " origin ";
    if (!line->starts_with(kWord))
        return false;
    const auto named = OriginNamed(line->substr(kWord.size()));
    if (!named)
        return false;
    *origin = *named;
    line->remove_prefix(line->size());
    return true;
}

}  // namespace

const char* OriginName(Origin origin) {
    for (const auto& o : kOriginNames) {
        if (o.origin == origin)
            return o.name;
    }
    return "unknown";
}

std::optional<Origin> OriginNamed(std::string_view name) {
    for (const auto& o : kOriginNames) {
        if (name == o.name)
            return o.origin;
    }
    return std::nullopt;
}

std::optional<Origin> OriginOf(std::uint32_t value) {
    for (const auto& o : kOriginNames) {
        if (static_cast<std::uint32_t>(o.origin) == value)
            return o.origin;
    }
    return std::nullopt;
}

bool EntryTable::Add(const Entry& entry, std::string* error) {
    const std::size_t size = EntryBytes(entry);
    if (entries_.size() >= kMaxEntries || bytes_ + size > kMaxTableBytes) {
        *error = "the entry table is full";
        return false;
    }
    entries_.push_back(entry);
    bytes_ += size;
    Changed(false);
    return true;
}

void EntryTable::Clear() {
    entries_.clear();
    bytes_ = 0;
    Changed(true);
}

void EntryTable::SetActive(bool active) {
    active_ = active;
    Changed(true);
}

void EntryTable::SetOrigin(Origin origin) {
    if (origin_ == origin)
        return;
    origin_ = origin;
    Changed(true);
}

void EntryTable::Restore(std::vector<Entry> entries, bool active, Origin origin) {
    entries_ = std::move(entries);
    active_ = active;
    origin_ = origin;
    bytes_ = 0;
    for (const Entry& e : entries_)
        bytes_ += EntryBytes(e);
    indexStale_ = true;
}

void EntryTable::Changed(bool urgent) {
    if (!dirty_)
        firstUnsaved_ = std::chrono::steady_clock::now();
    dirty_ = true;
    indexStale_ = true;
    if (urgent || bytes_ < TableSet::kImmediateSaveBytes)
        urgent_ = true;
    if (urgent)
        syncPending_ = true;
}

std::shared_ptr<const MatchIndex> EntryTable::Index() {
    if (indexStale_) {
        published_.Publish(std::make_shared<const MatchIndex>(entries_, programs_));
        indexStale_ = false;
    }
    return published_.Current();
}

TableSet::TableSet(std::string statePath) : path_(std::move(statePath)) {}

EntryTable& TableSet::Of(uid_t uid) {
    const auto [it, made] = tables_.try_emplace(uid);
    if (made && programs_)
        it->second.SetPrograms(programs_);
    return it->second;
}

void TableSet::SetPrograms(ProgramResolver programs) {
    programs_ = std::move(programs);
    for (auto& [uid, table] : tables_)
        table.SetPrograms(programs_);
}

void TableSet::RefreshPrograms() {
    for (auto& [uid, table] : tables_)
        table.RefreshPrograms();
}

const EntryTable* TableSet::Find(uid_t uid) const {
    const auto it = tables_.find(uid);
    return it == tables_.end() ? nullptr : &it->second;
}

bool TableSet::IndexStale() const {
    for (const auto& [uid, table] : tables_) {
        if (table.IndexStale())
            return true;
    }
    return false;
}

void TableSet::CompileIndexes() {
    for (auto& [uid, table] : tables_)
        table.Index();
}

std::string TableSet::Serialize(const std::map<uid_t, Stored>& tables) {
    std::string out(kMagic);
    out += "tables " + std::to_string(tables.size()) + "\n";
    for (const auto& [uid, table] : tables) {
        out += "table " + std::to_string(uid) + " active " + (table.active ? "1" : "0") +
               " entries " + std::to_string(table.entries.size()) + " origin " +
               OriginName(table.origin) + "\n";
        SerializeEntries(table.entries, &out);
    }
    out += "end\n";
    return out;
}

bool TableSet::Parse(std::string_view text, std::map<uid_t, Stored>* tables, std::string* error) {
    tables->clear();
    auto fail = [&](const std::string& what) {
        if (!what.empty())
            *error = what;
        tables->clear();
        return false;
    };
    if (text.starts_with(kMagicV1))
        return ParseV1(text, tables, error) || fail("");
    if (!text.starts_with(kMagic))
        return fail("not a state file of this service");
    std::size_t pos = kMagic.size();
    std::string_view line;
    std::uint64_t count = 0;
    if (!Line(text, &pos, &line) || !Field(&line, "tables", &count) || !line.empty() ||
        count > 1u << 20)
        return fail("bad tables line");
    std::uint64_t total = 0;
    for (std::uint64_t t = 0; t < count; ++t) {
        std::uint64_t uid = 0;
        std::uint64_t active = 0;
        std::uint64_t entries = 0;
        Origin origin = Origin::kUnknown;
        if (!Line(text, &pos, &line) || !Field(&line, "table", &uid) ||
            !Field(&line, "active", &active) || !Field(&line, "entries", &entries) ||
            !OriginField(&line, &origin) || uid > 0xFFFFFFFEu || active > 1 ||
            entries > EntryTable::kMaxEntries)
            return fail("table " + std::to_string(t) + ": bad header");
        total += entries;
        if (total > EntryTable::kMaxEntries * 4)
            return fail("too many entries");
        if (tables->contains(static_cast<uid_t>(uid)))
            return fail("table " + std::to_string(t) + ": uid " + std::to_string(uid) + " twice");
        Stored& table = (*tables)[static_cast<uid_t>(uid)];
        table.active = active == 1;
        table.origin = origin;
        if (!ParseEntries(text, &pos, entries, &table.entries, error))
            return fail("table " + std::to_string(t) + ", " + *error);
    }
    if (text.substr(pos) != "end\n")
        return fail("missing end line");
    return true;
}

TableSet::LoadOutcome TableSet::Load(std::string* error) {
    tables_.clear();
    if (path_.empty())
        return LoadOutcome::kLoaded;
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return LoadOutcome::kLoaded;
        *error = "cannot read " + path_ + ": " + std::strerror(errno);
        return LoadOutcome::kUnreadable;
    }
    std::string text;
    char buffer[65536];
    bool readOk = true;
    int readErrno = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            readOk = false;
            readErrno = errno;
        }
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (!readOk) {
        *error = "cannot read " + path_ + ": " + std::strerror(readErrno);
        return LoadOutcome::kUnreadable;
    }
    std::string reason;
    std::map<uid_t, Stored> stored;
    if (!Parse(text, &stored, &reason)) {
        const std::string aside = path_ + ".damaged";
        ::rename(path_.c_str(), aside.c_str());
        *error =
            path_ + " is damaged (" + reason + "); kept as " + aside + ", starting with no tables";
        return LoadOutcome::kDamaged;
    }
    for (auto& [uid, table] : stored)
        Of(uid).Restore(std::move(table.entries), table.active, table.origin);
    return LoadOutcome::kLoaded;
}

int TableSet::MillisecondsUntilSave(std::chrono::steady_clock::time_point now) const {
    int best = -1;
    for (const auto& [uid, table] : tables_) {
        if (!table.Dirty())
            continue;
        const auto due = table.FirstUnsaved() + kDeferredSaveInterval;
        if (table.Urgent() || now >= due)
            return 0;
        const int wait = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count() + 1);
        best = best < 0 ? wait : std::min(best, wait);
    }
    return best;
}

bool TableSet::SaveIfDue(std::chrono::steady_clock::time_point now, std::string* error) {
    if (MillisecondsUntilSave(now) != 0)
        return true;
    bool sync = false;
    for (const auto& [uid, table] : tables_)
        sync = sync || table.SyncPending();
    return Save(sync, error);
}

bool TableSet::Flush(std::string* error) {
    for (const auto& [uid, table] : tables_) {
        if (table.Dirty())
            return Save(true, error);
    }
    return true;
}

bool TableSet::Save(bool sync, std::string* error) {
    std::map<uid_t, Stored> stored;
    for (auto& [uid, table] : tables_) {
        table.MarkSaved();
        if (!table.Empty())
            stored[uid] = Stored{table.Entries(), table.Active(), table.GetOrigin()};
    }
    if (path_.empty())
        return true;
    if (!ReplaceFile(path_, Serialize(stored), sync, error)) {
        for (auto& [uid, table] : tables_)
            table.MarkUnsaved();
        return false;
    }
    return true;
}

}  // namespace kv::driver
