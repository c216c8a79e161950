#include "settings/EntryList.h"

#include <algorithm>

namespace kv {

namespace {
char UpperByte(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
const std::string kEmpty;
}  // namespace

std::string UpperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = UpperByte(c);
    return out;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (UpperByte(a[i]) != UpperByte(b[i]))
            return false;
    }
    return true;
}

bool NameOfLine(std::string_view line, std::string_view* name) {
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return false;
    *name = line.substr(0, eq);
    return true;
}

std::size_t EntryList::NameHash::operator()(std::string_view s) const noexcept {
    // FNV-1a over the bytes, upper-cased when names fold.
    std::size_t h = 1469598103934665603ull;
    for (char c : s) {
        h ^= static_cast<unsigned char>(names == NameCase::Folded ? UpperByte(c) : c);
        h *= 1099511628211ull;
    }
    return h;
}

EntryList::EntryList(NameCase names)
    : names_(names), index_(0, NameHash{names}, NameEqual{names}) {}

bool EntryList::SameName(std::string_view a, std::string_view b) const {
    return NameEqual{names_}(a, b);
}

void EntryList::Clear() {
    Rebuild({});
}

void EntryList::Assign(std::vector<std::string> lines) {
    Rebuild(std::move(lines));
}

std::vector<std::string> EntryList::Lines() const {
    std::vector<std::string> out;
    out.reserve(live_);
    for (const Slot& s : slots_) {
        if (s.alive)
            out.push_back(s.text);
    }
    return out;
}

const std::string& EntryList::LineAt(std::size_t position) const {
    if (position >= live_)
        return kEmpty;
    return slots_[SlotOfPosition(position)].text;
}

std::size_t EntryList::Find(std::string_view name) const {
    auto it = index_.find(name);
    if (it == index_.end())
        return npos;
    return it->second.Front();
}

void EntryList::ReplaceSlot(std::size_t slot, std::string line) {
    UnindexSlot(slot);
    slots_[slot].text = std::move(line);
    IndexSlot(slot);
}

void EntryList::EraseSlot(std::size_t slot) {
    if (slot >= slots_.size() || !slots_[slot].alive)
        return;
    UnindexSlot(slot);
    slots_[slot].alive = false;
    slots_[slot].text.clear();
    slots_[slot].text.shrink_to_fit();
    FenwickAdd(slot, -1);
    --live_;
    CompactIfSparse();
}

void EntryList::Append(std::string line) {
    slots_.push_back(Slot{std::move(line), true});
    fenwick_.push_back(0);
    // Node i (1-based) covers (i - lowbit(i), i]: itself plus the nodes i - 1, i - 2, i - 4, ...
    const std::size_t i = slots_.size();
    int sum = 1;
    for (std::size_t k = 1; k < (i & (~i + 1)); k <<= 1)
        sum += fenwick_[i - k - 1];
    fenwick_[i - 1] = sum;
    ++live_;
    IndexSlot(slots_.size() - 1);
}

std::size_t EntryList::EraseWithPrefix(std::string_view prefix) {
    std::size_t removed = 0;
    for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
        Slot& s = slots_[slot];
        if (!s.alive || s.text.size() < prefix.size())
            continue;
        if (!SameName(std::string_view(s.text).substr(0, prefix.size()), prefix))
            continue;
        UnindexSlot(slot);
        s.alive = false;
        s.text.clear();
        --live_;
        ++removed;
    }
    if (removed > 0)
        Rebuild(Lines());
    return removed;
}

void EntryList::IndexSlot(std::size_t slot) {
    std::string_view name;
    if (!NameOfLine(slots_[slot].text, &name))
        return;
    auto it = index_.find(name);
    if (it == index_.end()) {
        index_.emplace(std::string(name), SlotList(slot));
        return;
    }
    it->second.Insert(slot);
}

void EntryList::UnindexSlot(std::size_t slot) {
    std::string_view name;
    if (!NameOfLine(slots_[slot].text, &name))
        return;
    auto it = index_.find(name);
    if (it == index_.end())
        return;
    if (it->second.Erase(slot))
        index_.erase(it);
}

void EntryList::SlotList::Insert(std::size_t slot) {
    if (slot < first_) {
        rest_.insert(rest_.begin(), first_);
        first_ = slot;
        return;
    }
    rest_.insert(std::lower_bound(rest_.begin(), rest_.end(), slot), slot);
}

bool EntryList::SlotList::Erase(std::size_t slot) {
    if (slot == first_) {
        if (rest_.empty())
            return true;
        first_ = rest_.front();
        rest_.erase(rest_.begin());
        return false;
    }
    auto pos = std::lower_bound(rest_.begin(), rest_.end(), slot);
    if (pos != rest_.end() && *pos == slot)
        rest_.erase(pos);
    return false;
}

void EntryList::FenwickAdd(std::size_t slot, int delta) {
    for (std::size_t i = slot + 1; i <= fenwick_.size(); i += i & (~i + 1)) {
        fenwick_[i - 1] += delta;
    }
}

std::size_t EntryList::SlotOfPosition(std::size_t position) const {
    // Smallest slot whose live prefix count reaches position + 1.
    std::size_t pos = 0;
    std::size_t remaining = position + 1;
    std::size_t step = 1;
    while (step * 2 <= fenwick_.size())
        step *= 2;
    for (; step > 0; step >>= 1) {
        const std::size_t next = pos + step;
        if (next <= fenwick_.size() && static_cast<std::size_t>(fenwick_[next - 1]) < remaining) {
            pos = next;
            remaining -= static_cast<std::size_t>(fenwick_[next - 1]);
        }
    }
    return pos;  // 0-based slot = (1-based index pos + 1) - 1
}

void EntryList::CompactIfSparse() {
    const std::size_t dead = slots_.size() - live_;
    if (dead > 64 && dead > live_)
        Rebuild(Lines());
}

void EntryList::Rebuild(std::vector<std::string> lines) {
    slots_.clear();
    fenwick_.assign(lines.size(), 0);
    index_.clear();
    slots_.reserve(lines.size());
    for (auto& line : lines)
        slots_.push_back(Slot{std::move(line), true});
    live_ = slots_.size();
    // Linear Fenwick construction.
    for (std::size_t i = 1; i <= fenwick_.size(); ++i) {
        fenwick_[i - 1] += 1;
        const std::size_t parent = i + (i & (~i + 1));
        if (parent <= fenwick_.size())
            fenwick_[parent - 1] += fenwick_[i - 1];
    }
    index_.reserve(slots_.size());
    for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
        std::string_view name;
        if (!NameOfLine(slots_[slot].text, &name))
            continue;
        auto it = index_.find(name);
        if (it == index_.end()) {
            index_.emplace(std::string(name), SlotList(slot));
        } else {
            it->second.PushBack(slot);
        }
    }
}

}  // namespace kv
