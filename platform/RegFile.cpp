#include "platform/RegFile.h"

#include <cstdint>
#include <optional>
#include <unordered_map>

namespace kv::platform::regfile {
namespace {

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    return s;
}

/// Reads a quoted text at the start of `s` (with \\ and \" escapes) and
/// advances `s` past the closing quote.
std::optional<std::string> ReadQuoted(std::string_view* s) {
    if (s->empty() || s->front() != '"')
        return std::nullopt;
    std::string out;
    std::size_t i = 1;
    while (i < s->size()) {
        const char c = (*s)[i];
        if (c == '"') {
            s->remove_prefix(i + 1);
            return out;
        }
        if (c == '\\' && i + 1 < s->size() && ((*s)[i + 1] == '\\' || (*s)[i + 1] == '"')) {
            out += (*s)[i + 1];
            i += 2;
            continue;
        }
        out += c;
        ++i;
    }
    return std::nullopt;  // no closing quote
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = Lower(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<std::vector<std::uint8_t>> ParseHexList(std::string_view s) {
    std::vector<std::uint8_t> bytes;
    s = TrimLeft(TrimRight(s));
    if (s.empty())
        return bytes;
    for (;;) {
        s = TrimLeft(s);
        if (s.size() < 2)
            return std::nullopt;
        const int hi = HexDigit(s[0]);
        const int lo = HexDigit(s[1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        s = TrimLeft(s.substr(2));
        if (s.empty())
            return bytes;
        if (s.front() != ',')
            return std::nullopt;
        s.remove_prefix(1);
    }
}

std::optional<std::uint32_t> ParseDword(std::string_view s) {
    s = TrimRight(s);
    if (s.empty() || s.size() > 8)
        return std::nullopt;
    std::uint32_t v = 0;
    for (char c : s) {
        const int d = HexDigit(c);
        if (d < 0)
            return std::nullopt;
        v = v * 16 + static_cast<std::uint32_t>(d);
    }
    return v;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && SameName(s.substr(0, prefix.size()), prefix);
}

/// The hive-relative path of a section line, or nothing when the line is not
/// a valid section of this hive.
std::optional<std::string> ParseSection(std::string_view line, std::string_view hiveName) {
    if (line.size() < 2 || line.front() != '[' || line.back() != ']')
        return std::nullopt;
    std::string_view full = line.substr(1, line.size() - 2);
    if (!StartsWithNoCase(full, hiveName))
        return std::nullopt;
    std::string_view rest = full.substr(hiveName.size());
    if (rest.empty())
        return std::string();
    if (rest.front() != '\\' || rest.size() == 1 || rest.back() == '\\')
        return std::nullopt;
    rest.remove_prefix(1);
    if (rest.find("\\\\") != std::string_view::npos)
        return std::nullopt;  // an empty key name
    return std::string(rest);
}

struct Builder {
    Document doc;
    std::ptrdiff_t current = -1;
    std::unordered_map<std::string, std::size_t> index;  ///< folded path -> key

    void OpenKey(std::string path) {
        const auto [it, added] = index.emplace(FoldCase(path), doc.keys.size());
        if (added)
            doc.keys.push_back(Key{std::move(path), {}});
        current = static_cast<std::ptrdiff_t>(it->second);
    }

    void SetValue(Value value) {
        auto& values = doc.keys[static_cast<std::size_t>(current)].values;
        for (auto& v : values) {
            if (SameName(v.name, value.name)) {
                v.data = std::move(value.data);
                return;
            }
        }
        values.push_back(std::move(value));
    }
};

/// Parses the data part of a value line (after "="); `more` supplies the
/// continuation lines of a hex list whose line ends with "\".
template <typename More>
std::optional<RegistryValue> ParseData(std::string_view data, More more) {
    RegistryValue value;
    data = TrimLeft(data);
    if (!data.empty() && data.front() == '"') {
        auto text = ReadQuoted(&data);
        if (!text || !TrimRight(data).empty())
            return std::nullopt;
        value.type = RegistryValue::Type::String;
        value.text = std::move(*text);
        return value;
    }
    if (StartsWithNoCase(data, "dword:")) {
        auto v = ParseDword(data.substr(6));
        if (!v)
            return std::nullopt;
        value.type = RegistryValue::Type::Dword;
        value.dword = *v;
        return value;
    }
    if (StartsWithNoCase(data, "hex:")) {
        std::string list(TrimRight(data.substr(4)));
        while (!list.empty() && list.back() == '\\') {
            list.pop_back();
            std::string_view next;
            if (!more(&next))
                return std::nullopt;
            list += TrimRight(next);
        }
        auto bytes = ParseHexList(list);
        if (!bytes)
            return std::nullopt;
        value.type = RegistryValue::Type::Binary;
        value.bytes = std::move(*bytes);
        return value;
    }
    return std::nullopt;
}

void AppendQuoted(std::string* out, std::string_view text) {
    *out += '"';
    for (char c : text) {
        if (c == '\\' || c == '"')
            *out += '\\';
        *out += c;
    }
    *out += '"';
}

}  // namespace

std::string FoldCase(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = Lower(c);
    return out;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    }
    return true;
}

bool Writable(std::string_view text) {
    return text.find_first_of("\r\n") == std::string_view::npos;
}

ParseResult Parse(std::string_view text, std::string_view hiveName) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        lines.push_back(text.substr(0, nl));
        if (nl == std::string_view::npos)
            break;
        text.remove_prefix(nl + 1);
    }

    ParseResult result;
    Builder builder;
    // A line is counted once, even when both the header check and the
    // content check reject it.
    std::vector<bool> bad(lines.size(), false);
    bool headerSeen = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = TrimRight(lines[i]);
        if (line.empty())
            continue;
        if (!headerSeen) {
            headerSeen = true;
            if (line == "REGEDIT4")
                continue;
            bad[i] = true;  // a missing or foreign header: the rest may still parse
        }
        if (line.front() == '[') {
            if (auto path = ParseSection(line, hiveName)) {
                builder.OpenKey(std::move(*path));
            } else {
                // Value lines below a broken section must not land in the key before it.
                bad[i] = true;
                builder.current = -1;
            }
            continue;
        }
        std::string_view rest = line;
        std::string name;
        if (rest.front() == '@') {
            rest.remove_prefix(1);
        } else if (auto quoted = ReadQuoted(&rest)) {
            name = std::move(*quoted);
        } else {
            bad[i] = true;
            continue;
        }
        rest = TrimLeft(rest);
        std::optional<RegistryValue> value;
        std::size_t used = i;
        if (!rest.empty() && rest.front() == '=') {
            value = ParseData(rest.substr(1), [&](std::string_view* next) {
                if (used + 1 >= lines.size())
                    return false;
                *next = TrimLeft(lines[++used]);
                return true;
            });
        }
        if (!value || builder.current < 0) {
            bad[i] = true;
            continue;
        }
        i = used;
        builder.SetValue(Value{std::move(name), std::move(*value)});
    }
    for (bool b : bad)
        result.badLines += b ? 1 : 0;
    result.document = std::move(builder.doc);
    return result;
}

std::string Write(const Document& document, std::string_view hiveName) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "REGEDIT4\r\n\r\n";
    for (const Key& key : document.keys) {
        out += '[';
        out += hiveName;
        if (!key.path.empty()) {
            out += '\\';
            out += key.path;
        }
        out += "]\r\n";
        for (const Value& value : key.values) {
            if (value.name.empty())
                out += '@';
            else
                AppendQuoted(&out, value.name);
            out += '=';
            switch (value.data.type) {
                case RegistryValue::Type::String:
                    AppendQuoted(&out, value.data.text);
                    break;
                case RegistryValue::Type::Dword: {
                    out += "dword:";
                    for (int shift = 28; shift >= 0; shift -= 4)
                        out += kHex[(value.data.dword >> shift) & 0xf];
                    break;
                }
                case RegistryValue::Type::Binary:
                    out += "hex:";
                    for (std::size_t i = 0; i < value.data.bytes.size(); ++i) {
                        if (i)
                            out += ',';
                        out += kHex[value.data.bytes[i] >> 4];
                        out += kHex[value.data.bytes[i] & 0xf];
                    }
                    break;
            }
            out += "\r\n";
        }
        out += "\r\n";
    }
    return out;
}

}  // namespace kv::platform::regfile
