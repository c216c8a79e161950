#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Registry.h"

namespace kv::platform::regfile {

/// One value line of a key section; the empty name is the default value ("@").
struct Value {
    std::string name;
    RegistryValue data;
};

/// One "[HIVE\path]" section; `path` is relative to the hive ("" for the hive's root).
struct Key {
    std::string path;
    std::vector<Value> values;
};

/// The content of a REGEDIT4 file in stored order. Sections of the same key
/// are merged into the first one; a later value of the same name wins.
struct Document {
    std::vector<Key> keys;
};

struct ParseResult {
    Document document;
    std::size_t badLines = 0;  ///< lines that did not parse and were left out
};

/// Case-insensitive (ASCII) comparison of key and value names.
bool SameName(std::string_view a, std::string_view b);
/// `s` with ASCII capitals made small, for use as a lookup key.
std::string FoldCase(std::string_view s);

/// Parses REGEDIT4 text of the hive named `hiveName` ("HKEY_LOCAL_MACHINE").
/// Never fails: what parses is kept, everything else is counted in badLines
/// (a wrong or missing header, sections of another hive, lines outside a
/// valid section, value types other than string, hex and dword).
ParseResult Parse(std::string_view text, std::string_view hiveName);

/// The REGEDIT4 text of `document` with CR LF line ends.
std::string Write(const Document& document, std::string_view hiveName);

/// True when `text` can be written as a name or string data: a line break
/// would split the line and could not be read back.
bool Writable(std::string_view text);

}  // namespace kv::platform::regfile
