#pragma once

// The entry matcher. Semantics, fixed here for the whole service:
// - A pattern is literal text in which "*" stands for any run of characters,
//   "/" included. Paths and process names are compared case-sensitively.
// - A FileMask that ends in "/*" also covers the folder it names: "Q/*"
//   matches what the pattern matches and what Q matches ("/srv/ro/*" covers
//   "/srv/ro" too; "/*" covers "/", which it matches anyway), for every bit
//   but Hide and Retrieve attributes: Q is shown in its parent's listing,
//   stays reachable and can be listed.
// - ExcludeFiles, Processes and ExcludeProc are ";"-separated lists; empty
//   items and the placeholders "ExcludeFiles", "ExProc" and "ExcludeProc"
//   match nothing. An empty Processes list applies the entry to no process.
// - An ExcludeFiles item that begins with "/" is matched against the whole
//   path. Any other item ("a.txt", "Build/*", "*.log") is relative to the
//   folder that the FileMask names (EntryFolder), as IncludeFiles is: it
//   excludes folder + "/" + item and what lies below that item, so a bare
//   name frees the item of that name directly in the folder, not a namesake
//   further down. Without such a folder ("*kv.dat") an item without "/" is
//   matched against the last component of a path the FileMask matches. The
//   folder rule above is not applied to ExcludeFiles items.
// - A Processes or ExcludeProc item that names a program (no "*", no "/")
//   found by a ProgramResolver stands for those executables: a process
//   matches it when its executable is one of them (device and inode), not by
//   its name, so "python3" catches /usr/bin/python3.11 and a file merely
//   named "vim" is not vim. Other items, and names that resolve to nothing,
//   are compared by base name without extension: a directory part and one
//   trailing extension of 1 to 4 letters or digits, at least one of them a
//   letter, are removed from both sides ("kv" matches "kv.exe" and
//   "/opt/kestrava/kv"; "python3.11" keeps its name).
// - An entry refuses operation bit b on path p by process q when its mask has
//   b or the Full bit (0x400: inaccessible for every operation), p is covered
//   by FileMask and excluded by no ExcludeFiles item, and q matches a
//   Processes item and no ExcludeProc item. The refusing entry reported is the
//   one added first.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "driver/Protocol.h"

namespace kv::driver {

struct OperationName {
    const char* name;
    std::uint32_t bit;
};

/// The operation bits by the names of their check boxes.
inline constexpr std::array<OperationName, 19> kOperations = {{
    {"Open", 0x4},           {"Time_Get_A", 0x8},     {"Rename", 0x10},
    {"DeleteF", 0x20},       {"Read", 0x40},          {"Write", 0x80},
    {"Attr_Get", 0x100},     {"List", 0x200},         {"Full", 0x400},
    {"Cr", 0x800},           {"Replace", 0x1000},     {"Dir_Delete", 0x2000},
    {"Dir_Create", 0x4000},  {"Time_Get_C", 0x8000},  {"Time_Get_M", 0x10000},
    {"Time_Set_A", 0x20000}, {"Time_Set_C", 0x40000}, {"Time_Set_M", 0x80000},
    {"Attr_Set", 0x100000},
}};
inline constexpr std::uint32_t kFullBit = 0x400;
inline constexpr std::uint32_t kHideBit = 0x200;  // "List": left out of listings
/// The bits a folder pattern "Q/*" applies to what is inside Q only.
inline constexpr std::uint32_t kInsideOnlyBits = kHideBit | 0x100;  // and "Attr_Get"

/// The bit of an operation name (exact check-box name), or nullopt.
std::optional<std::uint32_t> OperationBit(std::string_view name);

/// Base name without directory and extension, as process names are compared.
std::string_view ProcessBaseName(std::string_view name);
/// True for the texts that stand for an empty list.
bool IsPlaceholder(std::string_view item);

/// Calls `use` with each item of a ";" list that is neither empty nor a placeholder.
template <typename Use>
void ForEachItem(std::string_view text, Use use) {
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find(';', pos);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view item = text.substr(pos, end - pos);
        if (!item.empty() && !IsPlaceholder(item))
            use(item);
        pos = end + 1;
    }
}

/// The folder named by the literal part of a FileMask: the text before the
/// first "*" cut after its last "/" ("/" for the root), or the empty text when
/// the pattern names no folder (it begins with "*", or holds no "/").
std::string EntryFolder(std::string_view fileMask);

/// The identity of an executable file; zero: unknown.
struct ProgramId {
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    bool Known() const { return dev != 0 || ino != 0; }
    bool operator==(const ProgramId&) const = default;
};
/// The executables that users call by a program name (empty: none).
using ProgramResolver = std::function<std::vector<ProgramId>(std::string_view name)>;

/// A compiled "*" pattern.
class Pattern {
public:
    explicit Pattern(std::string_view text);
    bool Matches(std::string_view subject) const;
    bool HasStar() const { return star_; }
    /// Literal text before the first "*" (the whole text without a star).
    const std::string& Prefix() const { return prefix_; }
    /// Literal text after the last "*" (empty without a star).
    const std::string& Tail() const { return tail_; }

private:
    std::string prefix_;
    std::string tail_;
    std::vector<std::string> middle_;
    bool star_ = false;
};

/// A ";"-separated list of patterns. With `processNames`, each item is
/// reduced like a process name and subjects must be reduced by the caller.
class PatternList {
public:
    PatternList() = default;
    PatternList(std::string_view text, bool processNames);
    void Add(std::string_view item) { items_.emplace_back(item); }
    bool Matches(std::string_view subject) const;
    bool Empty() const { return items_.empty(); }

private:
    std::vector<Pattern> items_;
};

/// A ";"-separated Processes or ExcludeProc list: program names resolved to
/// executables, the other items compared by reduced name.
class ProcessList {
public:
    ProcessList(std::string_view text, const ProgramResolver& resolve);
    /// `name` is already reduced by ProcessBaseName.
    bool Matches(std::string_view name, ProgramId program) const;

private:
    PatternList names_;
    std::vector<ProgramId> programs_;
};

/// The ";"-separated ExcludeFiles list of an entry whose FileMask names
/// `folder` (EntryFolder): absolute items are path patterns, the others
/// relative to the folder (or, without a folder, patterns of a name).
class FileExclusions {
public:
    FileExclusions(std::string_view text, std::string_view folder);
    /// `inside`: the path lies inside a covered folder (it matched the
    /// FileMask pattern), so bare names apply to its last component.
    bool Excludes(std::string_view path, bool inside) const;

private:
    PatternList paths_;
    PatternList names_;
};

/// One entry ready for decisions.
class CompiledEntry {
public:
    explicit CompiledEntry(const Entry& entry, const ProgramResolver& resolve = {});
    /// `process` is already reduced by ProcessBaseName.
    /// `folder`: the item at `path` is a folder.
    bool Refuses(std::uint32_t operation, std::string_view path, std::string_view process,
                 ProgramId program = {}, bool folder = false) const;
    const Pattern& FileMask() const { return fileMask_; }
    /// The folder that a FileMask ending in "/*" names (Q of "Q/*", not
    /// empty), or null.
    const Pattern* Folder() const { return coversFolder_ ? &folder_ : nullptr; }
    std::uint32_t Mask() const { return mask_; }

private:
    std::uint32_t mask_;
    Pattern fileMask_;
    Pattern folder_;
    bool coversFolder_;
    FileExclusions excludeFiles_;
    ProcessList processes_;
    ProcessList excludeProc_;
    /// The entry's folder when its exclusions leave its subfolders out
    /// (folder + "/*/*", as compiled with SubFolders off); empty otherwise.
    std::string withoutSubfolders_;
};

struct Decision {
    bool refused = false;
    std::uint32_t entry = kAllowed;  ///< index of the refusing entry
    bool operator==(const Decision&) const = default;
};

/// An immutable table compiled for decisions. A decision visits only the
/// entries whose FileMask could match the path: those anchored at a folder
/// prefix of the path (found by hashing the path's prefixes that end in "/"),
/// those whose "Q/*" names a literal folder Q equal to the whole path (found
/// by the hash of the path followed by "/"), those whose pattern starts with "*" and
/// whose literal tail ends like the path (looked up by up to four final
/// bytes), and the few others.
class MatchIndex {
public:
    /// `resolve` finds the executables of program names (none: names only).
    explicit MatchIndex(const std::vector<Entry>& entries, const ProgramResolver& resolve = {});
    /// `process` is the executable's path (or a name); `program` its identity.
    /// `folder`: the item at `path` is a folder (an entry that leaves its
    /// subfolders out leaves the subfolder items themselves out too).
    Decision Decide(std::uint32_t operation, std::string_view path, std::string_view process,
                    ProgramId program = {}, bool folder = false) const;
    /// The same decision by visiting every entry in order (for comparison).
    Decision DecideLinear(std::uint32_t operation, std::string_view path, std::string_view process,
                          ProgramId program = {}, bool folder = false) const;
    std::size_t Size() const { return entries_.size(); }

private:
    /// An entry under an anchor, with what can be checked without touching it:
    /// its mask, and up to 8 bytes of its literal prefix after the anchor.
    struct Candidate {
        std::uint32_t index;
        std::uint32_t mask;
        std::uint64_t next;
        std::uint32_t nextLength;
        bool folder;  ///< the entry is "Q/*" with a literal Q, and Q + "/" is this anchor
    };
    /// One anchor: its candidates are anchored_[begin, begin + count).
    struct Slot {
        std::uint32_t tag = 0;
        std::uint32_t begin = 0;
        std::uint32_t count = 0;  // 0: empty slot
    };
    /// What one decision asks: passed down the visits.
    struct Query {
        std::uint32_t operation;
        std::string_view path;
        std::string_view process;
        ProgramId program;
        bool folder;
    };
    void Visit(const std::uint32_t* begin, const std::uint32_t* end, const Query& q,
               std::uint32_t* best) const;
    /// Visits every slot whose tag is that of `hash` (another anchor with the
    /// same tag costs a visit, never a missed one). An anchor longer than the
    /// path is the path followed by "/": only the entries covering the folder
    /// that the path names are visited then.
    void VisitAnchor(std::uint64_t hash, std::size_t anchorLength, const Query& q,
                     std::uint32_t* best) const;
    void VisitAnchored(const Slot& slot, std::size_t anchorLength, const Query& q,
                       std::uint32_t* best) const;
    void VisitFolder(const Slot& slot, const Query& q, std::uint32_t* best) const;

    std::vector<CompiledEntry> entries_;
    std::vector<Candidate> anchored_;
    std::vector<Slot> slots_;
    std::uint64_t slotMask_ = 0;
    std::size_t longestAnchor_ = 0;
    std::size_t longestFolder_ = 0;  // longest literal Q of an entry "Q/*" (never empty)
    std::vector<std::uint32_t> others_;
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> byTail_;
    unsigned tailLengths_ = 0;  // bit k set: some tail key has k bytes
};

/// The index that decisions use, replaced as a whole at one point: a decision
/// keeps the snapshot it started with.
class PublishedIndex {
public:
    PublishedIndex() : index_(std::make_shared<const MatchIndex>(std::vector<Entry>{})) {}
    std::shared_ptr<const MatchIndex> Current() const { return index_.load(); }
    void Publish(std::shared_ptr<const MatchIndex> index) { index_.store(std::move(index)); }

private:
    std::atomic<std::shared_ptr<const MatchIndex>> index_;
};

}  // namespace kv::driver
