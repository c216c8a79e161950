#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

/// The text of a private-profile (INI) file, edited line by line so that every
/// line the edits do not concern keeps its bytes, line ending included.
///
/// A section starts at a line whose first non-blank character is "["; its name
/// runs to the next "]" (or the line's end), blanks trimmed. A key line is any
/// other line holding "=", its key being the blank-trimmed text before the
/// first "=". Section and key names are compared without regard to ASCII case;
/// the first section of a name is the one used.
class ProfileText {
public:
    explicit ProfileText(std::string_view text);

    /// The blank-trimmed value of the first `key` line of `section`.
    std::optional<std::string> Read(std::string_view section, std::string_view key) const;
    /// Sets `key` = `value` in `section`: the first line of the key is rewritten
    /// in place (further lines of the same key in that section are dropped); a
    /// missing key is added after the section's last non-blank line; a missing
    /// section is added at the end of the file.
    void Write(std::string_view section, std::string_view key, std::string_view value);
    /// Removes every line of `key` in `section`; a missing key is no error.
    void Delete(std::string_view section, std::string_view key);

    std::string Text() const;

private:
    struct Line {
        std::string content;  ///< without its line ending
        std::string ending;   ///< "\r\n", "\n" or "" (last line without one)
    };

    /// Index of the section's header line, or npos.
    std::size_t FindSection(std::string_view section) const;
    /// One past the section's last line (the next header or the end).
    std::size_t SectionEnd(std::size_t header) const;
    bool IsKeyLine(const Line& line, std::string_view key) const;
    void InsertLine(std::size_t at, std::string content);

    std::vector<Line> lines_;
    std::string newline_;  ///< the file's own line ending, for added lines
};

}  // namespace kv
