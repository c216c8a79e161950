#include "driver/Matcher.h"

#include <algorithm>
#include <cstring>

namespace kv::driver {

namespace {

constexpr std::uint64_t kFnvOffset = 0xcbf29ce484222325ULL;
constexpr std::uint64_t kFnvPrime = 0x100000001b3ULL;

inline std::uint64_t Step(std::uint64_t hash, char c) {
    return (hash ^ static_cast<unsigned char>(c)) * kFnvPrime;
}

inline std::uint64_t Mix(std::uint64_t h) {
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    return h;
}

std::uint64_t HashOf(std::string_view text) {
    std::uint64_t hash = kFnvOffset;
    for (char c : text)
        hash = Step(hash, c);
    return hash;
}

/// Key of the last `length` bytes of a text (length 1 to 4).
inline std::uint64_t TailKey(std::string_view text, unsigned length) {
    std::uint64_t key = length;
    for (std::size_t i = text.size() - length; i < text.size(); ++i)
        key = (key << 8) | static_cast<unsigned char>(text[i]);
    return key;
}

/// Up to 8 bytes of a text from `at`, packed (0 beyond the text).
inline std::uint64_t Pack8(std::string_view text, std::size_t at, std::size_t length) {
    std::uint64_t value = 0;
    std::memcpy(&value, text.data() + at, length);
    return value;
}

bool IsAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}
bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

/// The folder Q that a FileMask "Q/*" names, or nullopt (also for "/*",
/// whose folder "/" the pattern matches already).
std::optional<std::string_view> FolderOf(std::string_view fileMask) {
    if (fileMask.size() <= 2 || !fileMask.ends_with("/*"))
        return std::nullopt;
    return fileMask.substr(0, fileMask.size() - 2);
}

}  // namespace

std::optional<std::uint32_t> OperationBit(std::string_view name) {
    for (const OperationName& op : kOperations) {
        if (name == op.name)
            return op.bit;
    }
    return std::nullopt;
}

std::string_view ProcessBaseName(std::string_view name) {
    if (const std::size_t slash = name.rfind('/'); slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return name;
    const std::string_view extension = name.substr(dot + 1);
    if (extension.empty() || extension.size() > 4)
        return name;
    if (!std::all_of(extension.begin(), extension.end(), IsAlnum) ||
        !std::any_of(extension.begin(), extension.end(), IsLetter))
        return name;
    return name.substr(0, dot);
}

bool IsPlaceholder(std::string_view item) {
    return item == "ExcludeFiles" || item == "ExProc" || item == "ExcludeProc";
}

std::string EntryFolder(std::string_view fileMask) {
    const std::string_view literal = fileMask.substr(0, fileMask.find('*'));
    const std::size_t slash = literal.rfind('/');
    if (slash == std::string_view::npos || literal.empty() || literal.front() != '/')
        return {};
    return slash == 0 ? std::string("/") : std::string(literal.substr(0, slash));
}

Pattern::Pattern(std::string_view text) {
    const std::size_t first = text.find('*');
    if (first == std::string_view::npos) {
        prefix_ = std::string(text);
        return;
    }
    star_ = true;
    const std::size_t last = text.rfind('*');
    prefix_ = std::string(text.substr(0, first));
    tail_ = std::string(text.substr(last + 1));
    std::size_t pos = first + 1;
    while (pos < last) {
        const std::size_t next = text.find('*', pos);
        if (next > pos)
            middle_.emplace_back(text.substr(pos, next - pos));
        pos = next + 1;
    }
}

bool Pattern::Matches(std::string_view subject) const {
    if (!star_)
        return subject == prefix_;
    if (subject.size() < prefix_.size() + tail_.size() || !subject.starts_with(prefix_) ||
        !subject.ends_with(tail_))
        return false;
    // Each middle piece taken at its leftmost place leaves the most room for
    // the pieces after it, so the greedy walk finds a match when one exists.
    std::string_view rest =
        subject.substr(prefix_.size(), subject.size() - prefix_.size() - tail_.size());
    for (const std::string& piece : middle_) {
        const std::size_t at = rest.find(piece);
        if (at == std::string_view::npos)
            return false;
        rest.remove_prefix(at + piece.size());
    }
    return true;
}

PatternList::PatternList(std::string_view text, bool processNames) {
    ForEachItem(text, [&](std::string_view item) {
        items_.emplace_back(processNames ? ProcessBaseName(item) : item);
    });
}

bool PatternList::Matches(std::string_view subject) const {
    for (const Pattern& item : items_) {
        if (item.Matches(subject))
            return true;
    }
    return false;
}

ProcessList::ProcessList(std::string_view text, const ProgramResolver& resolve) {
    ForEachItem(text, [&](std::string_view item) {
        const bool plainName = item.find_first_of("*/") == std::string_view::npos;
        if (plainName && resolve) {
            const std::vector<ProgramId> found = resolve(item);
            if (!found.empty()) {
                programs_.insert(programs_.end(), found.begin(), found.end());
                return;
            }
        }
        names_.Add(ProcessBaseName(item));
    });
}

bool ProcessList::Matches(std::string_view name, ProgramId program) const {
    if (program.Known() &&
        std::find(programs_.begin(), programs_.end(), program) != programs_.end())
        return true;
    return names_.Matches(name);
}

FileExclusions::FileExclusions(std::string_view text, std::string_view folder) {
    const std::string base = folder == "/" ? std::string() : std::string(folder);
    ForEachItem(text, [&](std::string_view item) {
        if (item.front() == '/') {
            paths_.Add(item);
        } else if (!folder.empty()) {
            const std::string relative = base + "/" + std::string(item);
            paths_.Add(relative);
            paths_.Add(relative + "/*");
        } else {
            names_.Add(item);
        }
    });
}

bool FileExclusions::Excludes(std::string_view path, bool inside) const {
    if (paths_.Matches(path))
        return true;
    if (!inside || names_.Empty())
        return false;
    const std::size_t slash = path.rfind('/');
    return names_.Matches(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

CompiledEntry::CompiledEntry(const Entry& entry, const ProgramResolver& resolve)
    : mask_(entry.dwOperation),
      fileMask_(entry.FileMask),
      folder_(FolderOf(entry.FileMask).value_or("")),
      coversFolder_(FolderOf(entry.FileMask).has_value()),
      excludeFiles_(entry.ExcludeFiles, EntryFolder(entry.FileMask)),
      processes_(entry.Processes, resolve),
      excludeProc_(entry.ExcludeProc, resolve) {
    if (const std::string folder = EntryFolder(entry.FileMask); !folder.empty()) {
        const std::string subfolders = (folder == "/" ? std::string() : folder) + "/*/*";
        ForEachItem(entry.ExcludeFiles, [&](std::string_view item) {
            if (item == subfolders)
                withoutSubfolders_ = folder;
        });
    }
}

bool CompiledEntry::Refuses(std::uint32_t operation, std::string_view path,
                            std::string_view process, ProgramId program, bool folder) const {
    if ((mask_ & (operation | kFullBit)) == 0)
        return false;
    // Without its subfolders the entry covers no subfolder item either: the
    // window marks none.
    if (folder && !withoutSubfolders_.empty()) {
        const std::size_t slash = path.rfind('/');
        const std::string_view parent = slash == 0 ? "/" : path.substr(0, slash);
        if (slash != std::string_view::npos && slash + 1 < path.size() &&
            parent == withoutSubfolders_)
            return false;
    }
    const bool inside = fileMask_.Matches(path);
    if (!inside) {
        if (!coversFolder_ || !folder_.Matches(path))
            return false;
        // Hide and Retrieve attributes on a folder are about what is inside
        // it: the folder itself stays listed in its parent, reachable, and
        // `ls` of it works.
        if ((mask_ & (operation & ~kInsideOnlyBits)) == 0 && (mask_ & kFullBit) == 0)
            return false;
    }
    return processes_.Matches(process, program) && !excludeProc_.Matches(process, program) &&
           !excludeFiles_.Excludes(path, inside);
}

MatchIndex::MatchIndex(const std::vector<Entry>& entries, const ProgramResolver& resolve) {
    entries_.reserve(entries.size());
    for (const Entry& entry : entries)
        entries_.emplace_back(entry, resolve);

    // Entries by the folder part of their literal prefix (up to its last "/").
    // An entry "Q/*" whose Q is literal is anchored at Q + "/": a path equal
    // to Q looks that anchor up too, and checks the candidates marked as
    // covering that folder. (A Q with a "*" has the literal prefix of its
    // pattern, so the anchor of the pattern finds the paths Q matches.)
    std::unordered_map<std::string, std::vector<std::uint32_t>> byAnchor;
    for (std::uint32_t i = 0; i < entries_.size(); ++i) {
        const Pattern& mask = entries_[i].FileMask();
        const std::string& prefix = mask.Prefix();
        const std::size_t slash = prefix.rfind('/');
        if (const Pattern* folder = entries_[i].Folder(); folder && !folder->HasStar())
            longestFolder_ = std::max(longestFolder_, folder->Prefix().size());
        if (slash != std::string::npos) {
            byAnchor[prefix.substr(0, slash + 1)].push_back(i);
            longestAnchor_ = std::max(longestAnchor_, slash + 1);
        } else if (prefix.empty() && !mask.Tail().empty()) {
            const auto length = static_cast<unsigned>(std::min<std::size_t>(4, mask.Tail().size()));
            byTail_[TailKey(mask.Tail(), length)].push_back(i);
            tailLengths_ |= 1u << length;
        } else {
            others_.push_back(i);
        }
    }
    std::size_t slotCount = 16;
    while (slotCount < 2 * byAnchor.size())
        slotCount *= 2;
    slots_.assign(slotCount, Slot{});
    slotMask_ = slotCount - 1;
    anchored_.reserve(entries_.size());
    for (const auto& [anchor, candidates] : byAnchor) {
        const std::uint64_t mixed = Mix(HashOf(anchor));
        std::uint64_t at = mixed & slotMask_;
        while (slots_[at].count != 0)
            at = (at + 1) & slotMask_;
        slots_[at] = Slot{static_cast<std::uint32_t>(mixed >> 32),
                          static_cast<std::uint32_t>(anchored_.size()),
                          static_cast<std::uint32_t>(candidates.size())};
        for (const std::uint32_t i : candidates) {
            const std::string& prefix = entries_[i].FileMask().Prefix();
            const std::size_t length = std::min<std::size_t>(8, prefix.size() - anchor.size());
            const Pattern* folder = entries_[i].Folder();
            anchored_.push_back({i, entries_[i].Mask(), Pack8(prefix, anchor.size(), length),
                                 static_cast<std::uint32_t>(length), folder && !folder->HasStar()});
        }
    }
}

void MatchIndex::VisitAnchor(std::uint64_t hash, std::size_t anchorLength, const Query& q,
                             std::uint32_t* best) const {
    const std::uint64_t mixed = Mix(hash);
    const auto tag = static_cast<std::uint32_t>(mixed >> 32);
    for (std::uint64_t at = mixed & slotMask_;; at = (at + 1) & slotMask_) {
        const Slot& slot = slots_[at];
        if (slot.count == 0)
            return;
        // Another anchor with the same tag costs a visit but no wrong answer:
        // each candidate is still decided by its whole entry. So the anchor
        // text need not be kept or compared, but the walk goes on to the end
        // of the run, where the anchor's own slot may lie.
        if (slot.tag != tag)
            continue;
        if (anchorLength <= q.path.size())
            VisitAnchored(slot, anchorLength, q, best);
        else
            VisitFolder(slot, q, best);
    }
}

void MatchIndex::VisitFolder(const Slot& slot, const Query& q, std::uint32_t* best) const {
    const std::uint32_t wanted = q.operation | kFullBit;
    const Candidate* end = anchored_.data() + slot.begin + slot.count;
    for (const Candidate* c = anchored_.data() + slot.begin; c != end; ++c) {
        if (c->index >= *best)
            return;
        if (!c->folder || (c->mask & wanted) == 0)
            continue;
        if (entries_[c->index].Refuses(q.operation, q.path, q.process, q.program, q.folder)) {
            *best = c->index;
            return;
        }
    }
}

void MatchIndex::Visit(const std::uint32_t* begin, const std::uint32_t* end, const Query& q,
                       std::uint32_t* best) const {
    // Candidates are in ascending order: the first refusal is this list's answer.
    for (const std::uint32_t* i = begin; i != end; ++i) {
        if (*i >= *best)
            return;
        if (entries_[*i].Refuses(q.operation, q.path, q.process, q.program, q.folder)) {
            *best = *i;
            return;
        }
    }
}

void MatchIndex::VisitAnchored(const Slot& slot, std::size_t anchorLength, const Query& q,
                               std::uint32_t* best) const {
    const std::size_t rest = q.path.size() - anchorLength;
    const std::uint32_t wanted = q.operation | kFullBit;
    const Candidate* end = anchored_.data() + slot.begin + slot.count;
    for (const Candidate* c = anchored_.data() + slot.begin; c != end; ++c) {
        if (c->index >= *best)
            return;
        if ((c->mask & wanted) == 0 || c->nextLength > rest ||
            Pack8(q.path, anchorLength, c->nextLength) != c->next)
            continue;
        if (entries_[c->index].Refuses(q.operation, q.path, q.process, q.program, q.folder)) {
            *best = c->index;
            return;
        }
    }
}

Decision MatchIndex::Decide(std::uint32_t operation, std::string_view path,
                            std::string_view process, ProgramId program, bool folder) const {
    const Query q{operation, path, ProcessBaseName(process), program, folder};
    std::uint32_t best = kAllowed;
    if (!anchored_.empty()) {
        const std::size_t end = std::min(path.size(), longestAnchor_);
        std::uint64_t hash = kFnvOffset;
        for (std::size_t i = 0; i < end; ++i) {
            hash = Step(hash, path[i]);
            if (path[i] == '/')
                VisitAnchor(hash, i + 1, q, &best);
        }
        // A path that may be the folder Q of an entry "Q/*": that entry is
        // anchored at Q + "/". longestAnchor_ exceeds every such Q, so here
        // `hash` is that of the whole path.
        if (longestFolder_ != 0 && path.size() <= longestFolder_)
            VisitAnchor(Step(hash, '/'), path.size() + 1, q, &best);
    }
    if (tailLengths_ != 0) {
        for (unsigned length = 1; length <= 4 && length <= path.size(); ++length) {
            if ((tailLengths_ & (1u << length)) == 0)
                continue;
            if (auto it = byTail_.find(TailKey(path, length)); it != byTail_.end())
                Visit(it->second.data(), it->second.data() + it->second.size(), q, &best);
        }
    }
    Visit(others_.data(), others_.data() + others_.size(), q, &best);
    return best == kAllowed ? Decision{} : Decision{true, best};
}

Decision MatchIndex::DecideLinear(std::uint32_t operation, std::string_view path,
                                  std::string_view process, ProgramId program, bool folder) const {
    process = ProcessBaseName(process);
    for (std::uint32_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].Refuses(operation, path, process, program, folder))
            return Decision{true, i};
    }
    return Decision{};
}

}  // namespace kv::driver
