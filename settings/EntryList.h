#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kv {

/// How the store compares entry names. Its keys hold item paths, so names are
/// compared as the system compares paths: exactly where paths are case-exact,
/// without the case of letters in the Windows path style.
enum class NameCase {
    Folded,  ///< "Docs" and "docs" name one entry
    Exact,   ///< "Docs" and "docs" name two entries
};

/// Names on this system: its paths are case-exact.
inline constexpr NameCase kNativeNameCase = NameCase::Exact;

/// Upper-cases the ASCII letters of a byte text; other bytes stay (names may be UTF-8).
std::string UpperAscii(std::string_view text);
/// True when both texts are equal after upper-casing ASCII letters.
bool EqualNoCase(std::string_view a, std::string_view b);

/// The store's ordered list of entry lines ("name=value", or a line without "=")
/// with an index from each name (compared as `NameCase` says) to the lines carrying it.
///
/// Deleted lines leave a hole that is skipped by position lookups through a
/// Fenwick tree, so deletes, lookups by name and lookups by position all stay
/// logarithmic or better; holes are compacted once they outnumber live lines.
class EntryList {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    explicit EntryList(NameCase names = kNativeNameCase);

    NameCase Names() const { return names_; }
    /// True when two names are the same entry's name.
    bool SameName(std::string_view a, std::string_view b) const;

    void Clear();
    void Assign(std::vector<std::string> lines);
    /// Live lines in order.
    std::vector<std::string> Lines() const;

    std::size_t Count() const { return live_; }
    /// The line at a position counted over live lines only.
    const std::string& LineAt(std::size_t position) const;

    /// Slot of the first line named `name`, or npos.
    std::size_t Find(std::string_view name) const;
    const std::string& LineOfSlot(std::size_t slot) const { return slots_[slot].text; }
    void ReplaceSlot(std::size_t slot, std::string line);
    void EraseSlot(std::size_t slot);
    void Append(std::string line);

    /// Removes every line whose first |prefix| bytes equal `prefix` as names compare.
    /// Returns the number of lines removed.
    std::size_t EraseWithPrefix(std::string_view prefix);

private:
    struct Slot {
        std::string text;
        bool alive = false;
    };
    struct NameHash {
        using is_transparent = void;
        NameCase names;
        std::size_t operator()(std::string_view s) const noexcept;
    };
    struct NameEqual {
        using is_transparent = void;
        NameCase names;
        bool operator()(std::string_view a, std::string_view b) const noexcept {
            return names == NameCase::Exact ? a == b : EqualNoCase(a, b);
        }
    };
    // Lines carrying one name, in list order. The first is kept inline, as a
    // name almost always has exactly one line: a lookup then touches no more memory.
    class SlotList {
    public:
        explicit SlotList(std::size_t first) : first_(first) {}
        std::size_t Front() const { return first_; }
        /// Adds a slot in order.
        void Insert(std::size_t slot);
        /// Adds a slot after all the others.
        void PushBack(std::size_t slot) { rest_.push_back(slot); }
        /// Removes a slot; true when none is left.
        bool Erase(std::size_t slot);

    private:
        std::size_t first_;
        std::vector<std::size_t> rest_;
    };

    void IndexSlot(std::size_t slot);
    void UnindexSlot(std::size_t slot);
    void FenwickAdd(std::size_t slot, int delta);
    std::size_t SlotOfPosition(std::size_t position) const;
    void CompactIfSparse();
    void Rebuild(std::vector<std::string> lines);

    std::vector<Slot> slots_;
    std::vector<int> fenwick_;  // 1-based counts of live slots
    std::size_t live_ = 0;
    NameCase names_;
    std::unordered_map<std::string, SlotList, NameHash, NameEqual> index_;
};

/// The name part of an entry line: the text before its first "=", or nothing.
bool NameOfLine(std::string_view line, std::string_view* name);

}  // namespace kv
