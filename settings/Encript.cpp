#include "settings/Encript.h"

#include <limits>

#include "platform/Files.h"
#include "settings/StoreCodec.h"

namespace kv {

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

bool ParseInt32(std::string_view text, std::int32_t* value) {
    if (text.empty())
        return false;
    bool negative = false;
    std::size_t i = 0;
    if (text[0] == '+' || text[0] == '-') {
        negative = text[0] == '-';
        i = 1;
    }
    if (i == text.size())
        return false;
    std::int64_t result = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        result = result * 10 + (c - '0');
        if (result > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1)
            return false;
    }
    if (negative)
        result = -result;
    if (result < std::numeric_limits<std::int32_t>::min() ||
        result > std::numeric_limits<std::int32_t>::max()) {
        return false;
    }
    *value = static_cast<std::int32_t>(result);
    return true;
}

TEncriptor::TEncriptor(std::string fileName, bool encrypted, NameCase names)
    : fileName_(std::move(fileName)), encrypted_(encrypted), entries_(names) {
    Load();
    modified_ = false;
}

void TEncriptor::Load() {
    entries_.Clear();
    unreadable_ = false;
    if (!platform::FileExists(fileName_)) {
        entries_.Append(std::string(kMarker) + "=" + std::string(kMarker));
        if (!Save())
            entries_.Clear();
        return;
    }
    std::string data;
    unreadable_ = !platform::ReadWholeFile(fileName_, &data);
    if (unreadable_)
        return;
    entries_.Assign(codec::SplitLines(encrypted_ ? codec::DecodeFile(data) : data));
}

bool TEncriptor::Save() {
    // A file that exists but could not be read is kept: writing the empty
    // store over it would lose every setting it holds.
    if (unreadable_) {
        lastError_ = fileName_ + " could not be read, so it is not written over";
        return false;
    }
    const std::string text = codec::JoinLines(entries_.Lines());
    const std::string data = encrypted_ ? codec::EncodeFile(text) : text;
    lastError_.clear();
    return platform::WriteFileAtomically(fileName_, data, &lastError_);
}

bool TEncriptor::Flush(bool force) {
    if (!force && !modified_)
        return false;
    if (!Save())
        return false;
    modified_ = false;
    return true;
}

const std::string* TEncriptor::FindValue(std::string_view name, std::string* storage) const {
    const std::size_t slot = entries_.Find(name);
    if (slot == EntryList::npos)
        return nullptr;
    const std::string& line = entries_.LineOfSlot(slot);
    *storage = line.substr(line.find('=') + 1);
    return storage;
}

std::string TEncriptor::ReadString(std::string_view name, std::string_view def) const {
    std::string value;
    if (!FindValue(name, &value))
        return std::string(def);
    return std::string(TrimSpaces(value));
}

std::int32_t TEncriptor::ReadInteger(std::string_view name, std::int32_t def) const {
    const std::string text = ReadString(name, "");
    if (text.empty())
        return def;
    std::int32_t value = 0;
    if (!ParseInt32(text, &value)) {
        throw EConvertError("'" + text + "' is not a valid integer value");
    }
    return value;
}

bool TEncriptor::ReadBool(std::string_view name, bool def) const {
    if (entries_.Find(name) == EntryList::npos)
        return def;
    return ReadString(name, "0") == "1";
}

void TEncriptor::WriteString(std::string_view name, std::string_view value) {
    const std::size_t slot = entries_.Find(name);
    std::string line;
    line.reserve(name.size() + 1 + value.size());
    line.append(name).append("=").append(value);
    if (slot == EntryList::npos) {
        entries_.Append(std::move(line));
        modified_ = true;
        return;
    }
    const std::string& old = entries_.LineOfSlot(slot);
    if (std::string_view(old).substr(old.find('=') + 1) == value)
        return;
    if (value.empty()) {
        entries_.EraseSlot(slot);
    } else {
        entries_.ReplaceSlot(slot, std::move(line));
    }
    modified_ = true;
}

void TEncriptor::WriteInteger(std::string_view name, std::int32_t value) {
    WriteString(name, std::to_string(value));
}

void TEncriptor::WriteBool(std::string_view name, bool value) {
    WriteString(name, value ? "1" : "0");
}

void TEncriptor::DeleteKey(std::string_view name) {
    const std::size_t slot = entries_.Find(name);
    if (slot == EntryList::npos)
        return;
    entries_.EraseSlot(slot);
    modified_ = true;
}

void TEncriptor::DeleteKeysWithPrefix(std::string_view prefix) {
    if (entries_.EraseWithPrefix(prefix) > 0)
        modified_ = true;
}

std::string TEncriptor::EntryName(int index) const {
    if (index < 0 || index >= EntryCount())
        return {};
    const std::string& line = entries_.LineAt(static_cast<std::size_t>(index));
    std::string_view name;
    if (!NameOfLine(line, &name))
        return {};
    return std::string(name);
}

}  // namespace kv
