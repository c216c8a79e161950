#pragma once

#include <string>
#include <string_view>

#include "settings/EntryList.h"

namespace kv {

/// How item paths are spelled: the separator and what a drive root looks like.
/// On this system the only root is "/"; the Windows style ("C:\") serves tests
/// of the key format.
class PathStyle {
public:
    static const PathStyle& Posix();
    static const PathStyle& Windows();
    static const PathStyle& Native() { return Posix(); }

    char Separator() const { return separator_; }
    /// How the settings store must compare the keys that hold such paths:
    /// exactly for the case-exact paths here, without case in Windows style.
    NameCase Names() const { return driveLetters_ ? NameCase::Folded : NameCase::Exact; }
    /// True for a drive root: "/" here, a letter, a colon and "\" in Windows style.
    bool IsRoot(std::string_view path) const;
    bool EndsWithSeparator(std::string_view path) const {
        return !path.empty() && path.back() == separator_;
    }
    /// folder + separator + name, without a second separator after a root.
    std::string Join(std::string_view folder, std::string_view name) const;

private:
    explicit PathStyle(char separator, bool driveLetters)
        : separator_(separator), driveLetters_(driveLetters) {}

    char separator_;
    bool driveLetters_;
};

}  // namespace kv
