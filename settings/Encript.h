#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "settings/EntryList.h"

namespace kv {

/// The conversion error of ReadInteger: "'<value>' is not a valid integer value".
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The settings store: an ordered list of "name=value" lines kept in memory and
/// written to one scrambled file on Flush. Names are compared as paths are on
/// this system (exactly); NameCase::Folded compares them without case, as the
/// Windows path style needs. The file's form is the same either way.
class TEncriptor {
public:
    /// Name and value of the entry written to a file that the store creates.
    static constexpr std::string_view kMarker = "#QWMZRTKPLBNXVCDE$GHYUOIAJSFKLMNP";

    TEncriptor(std::string fileName, bool encrypted, NameCase names = kNativeNameCase);
    TEncriptor(const TEncriptor&) = delete;
    TEncriptor& operator=(const TEncriptor&) = delete;

    std::string ReadString(std::string_view name, std::string_view def) const;
    /// Throws EConvertError when the stored text is not a decimal integer.
    std::int32_t ReadInteger(std::string_view name, std::int32_t def) const;
    bool ReadBool(std::string_view name, bool def) const;

    void WriteString(std::string_view name, std::string_view value);
    void WriteInteger(std::string_view name, std::int32_t value);
    void WriteBool(std::string_view name, bool value);
    void DeleteKey(std::string_view name);
    void DeleteKeysWithPrefix(std::string_view prefix);

    int EntryCount() const { return static_cast<int>(entries_.Count()); }
    std::string EntryName(int index) const;

    /// Writes the file when `force` or modified. False when nothing was written
    /// or the write failed; a failed write keeps the old file and the modified flag.
    bool Flush(bool force);

    bool Modified() const { return modified_; }
    /// False when the file exists but could not be read (the list is then empty).
    bool Readable() const { return !unreadable_; }
    const std::string& FileName() const { return fileName_; }
    bool Encrypted() const { return encrypted_; }
    NameCase Names() const { return entries_.Names(); }
    /// Why the last write failed; empty after a good one.
    const std::string& LastError() const { return lastError_; }

    /// Replaces the list by the content of the file, creating it with the marker
    /// entry when it does not exist.
    void Load();
    /// Writes the whole list in the store's form. False when the write failed.
    bool Save();

private:
    const std::string* FindValue(std::string_view name, std::string* storage) const;

    std::string fileName_;
    bool encrypted_;
    bool modified_ = false;
    bool unreadable_ = false;  ///< the file exists but could not be read
    EntryList entries_;
    std::string lastError_;
};

/// Strips leading and trailing space characters (byte 32 only).
std::string_view TrimSpaces(std::string_view text);
/// Parses a signed 32-bit decimal integer with an optional sign; false when invalid.
bool ParseInt32(std::string_view text, std::int32_t* value);

}  // namespace kv
