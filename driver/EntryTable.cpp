#include "driver/EntryTable.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace kv::driver {

namespace {

constexpr std::string_view kMagic = "kvvxd-state 1\n";

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

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

EntryTable::EntryTable(std::string statePath) : path_(std::move(statePath)) {}

std::string EntryTable::Serialize(const std::vector<Entry>& entries, bool active) {
    std::string out(kMagic);
    out += active ? "active 1\n" : "active 0\n";
    out += "entries " + std::to_string(entries.size()) + "\n";
    for (const Entry& e : entries) {
        out += std::to_string(e.dwOperation) + " " + std::to_string(e.FileMask.size()) + " " +
               std::to_string(e.ExcludeFiles.size()) + " " + std::to_string(e.Processes.size()) +
               " " + std::to_string(e.ExcludeProc.size()) + "\n";
        out += e.FileMask + e.ExcludeFiles + e.Processes + e.ExcludeProc + "\n";
    }
    out += "end\n";
    return out;
}

bool EntryTable::Parse(std::string_view text, std::vector<Entry>* entries, bool* active,
                       std::string* error) {
    entries->clear();
    auto fail = [&](const std::string& what) {
        *error = what;
        entries->clear();
        return false;
    };
    if (!text.starts_with(kMagic))
        return fail("not a state file of this service");
    std::size_t pos = kMagic.size();
    std::string_view line;
    if (!Line(text, &pos, &line) || (line != "active 0" && line != "active 1"))
        return fail("bad active line");
    *active = line == "active 1";
    std::uint64_t count = 0;
    if (!Line(text, &pos, &line) || !line.starts_with("entries "))
        return fail("bad entries line");
    line.remove_prefix(8);
    if (!Number(&line, &count) || !line.empty() || count > kMaxEntries)
        return fail("bad entry count");
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::string where = "entry " + std::to_string(i) + ": ";
        std::uint64_t op = 0;
        std::uint64_t sizes[4] = {};
        if (!Line(text, &pos, &line) || !Number(&line, &op) || op > 0xFFFFFFFFu)
            return fail(where + "bad header");
        for (std::uint64_t& size : sizes) {
            if (!Number(&line, &size))
                return fail(where + "bad header");
        }
        if (!line.empty())
            return fail(where + "bad header");
        const std::uint64_t total = sizes[0] + sizes[1] + sizes[2] + sizes[3];
        if (total > text.size() - pos || text.size() - pos - total < 1 || text[pos + total] != '\n')
            return fail(where + "texts cut short");
        Entry e;
        e.dwOperation = static_cast<std::uint32_t>(op);
        std::string* fields[4] = {&e.FileMask, &e.ExcludeFiles, &e.Processes, &e.ExcludeProc};
        for (int f = 0; f < 4; ++f) {
            *fields[f] = std::string(text.substr(pos, sizes[f]));
            if (fields[f]->find('\0') != std::string::npos)
                return fail(where + "text with NUL");
            pos += sizes[f];
        }
        pos += 1;
        entries->push_back(std::move(e));
    }
    if (text.substr(pos) != "end\n")
        return fail("missing end line");
    return true;
}

EntryTable::LoadOutcome EntryTable::Load(std::string* error) {
    entries_.clear();
    active_ = false;
    bytes_ = 0;
    indexStale_ = true;
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
    bool active = false;
    if (!Parse(text, &entries_, &active, &reason)) {
        const std::string aside = path_ + ".damaged";
        ::rename(path_.c_str(), aside.c_str());
        *error = path_ + " is damaged (" + reason + "); kept as " + aside +
                 ", starting with an empty table";
        return LoadOutcome::kDamaged;
    }
    active_ = active;
    for (const Entry& e : entries_)
        bytes_ += EntryBytes(e);
    return LoadOutcome::kLoaded;
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

void EntryTable::Changed(bool urgent) {
    if (!dirty_)
        firstUnsaved_ = std::chrono::steady_clock::now();
    dirty_ = true;
    indexStale_ = true;
    if (urgent || bytes_ < kImmediateSaveBytes)
        urgent_ = true;
    if (urgent)
        syncPending_ = true;
}

std::shared_ptr<const MatchIndex> EntryTable::Index() {
    if (indexStale_) {
        published_.Publish(std::make_shared<const MatchIndex>(entries_));
        indexStale_ = false;
    }
    return published_.Current();
}

int EntryTable::MillisecondsUntilSave(std::chrono::steady_clock::time_point now) const {
    if (!dirty_)
        return -1;
    const auto due = firstUnsaved_ + kDeferredSaveInterval;
    if (urgent_ || now >= due)
        return 0;
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count() + 1);
}

bool EntryTable::SaveIfDue(std::chrono::steady_clock::time_point now, std::string* error) {
    if (MillisecondsUntilSave(now) != 0)
        return true;
    return Save(syncPending_, error);
}

bool EntryTable::Flush(std::string* error) {
    return !dirty_ || Save(true, error);
}

bool EntryTable::Save(bool sync, std::string* error) {
    dirty_ = false;
    urgent_ = false;
    syncPending_ = false;
    if (path_.empty())
        return true;
    const std::string tmp = path_ + ".new";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    auto fail = [&](const char* what) {
        *error = std::string(what) + " " + tmp + ": " + std::strerror(errno);
        dirty_ = true;
        return false;
    };
    if (fd < 0)
        return fail("cannot create");
    ::fchmod(fd, 0644);
    const bool written = WriteAll(fd, Serialize(entries_, active_)) && (!sync || ::fsync(fd) == 0);
    ::close(fd);
    if (!written) {
        ::unlink(tmp.c_str());
        return fail("cannot write");
    }
    if (::rename(tmp.c_str(), path_.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return fail("cannot rename");
    }
    return true;
}

}  // namespace kv::driver
