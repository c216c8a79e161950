#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rules/PathStyle.h"

namespace kv {

class IPrincipalSelection;
class IEntryLoader;
class TEncriptor;

/// Turns the protection keys of one principal into interceptor entries and
/// loads them, replacing whatever the interceptor held, followed by the three
/// entries that protect the program's own files. It never activates.
class TRuleCompiler {
public:
    TRuleCompiler(const TEncriptor& store, IEntryLoader& interceptor,
                  const IPrincipalSelection& selection,
                  const PathStyle& style = PathStyle::Native());

    /// Compiles the principal of `principalPrefix`; the principal selected in
    /// the tree when it is empty.
    void CompileRules(const std::string& principalPrefix);
    void AddSelfProtection();
    /// The prefix compiled for `principalPrefix`: itself, or the selected
    /// principal's when it is empty (empty when nothing is selected).
    std::string ResolvePrefix(const std::string& principalPrefix) const;

private:
    /// Builds and sends the entry of one store position; throws on a bad value.
    void CompileEntry(const std::string& key, const std::string& keyPrefix,
                      std::uint32_t customMask);

    /// True for a name that is an option key of a protected item ("_SubFolders",
    /// "_ExcludeFiles", ...): its value may read as a kind ("5", a file's name)
    /// but it is no item of its own.
    bool IsOptionKey(const std::string& key) const;
    /// The files in the subfolders of the folder of the key `pathPart` (which
    /// ends with a separator) that have a protection of their own, as a ";"
    /// list of their paths (keys without their first `keyPrefixLength`
    /// characters): their own entry decides for them, as their markers show.
    std::string OwnFilesBelow(const std::string& pathPart, std::size_t keyPrefixLength) const;

    const TEncriptor& store_;
    IEntryLoader& interceptor_;
    const IPrincipalSelection& selection_;
    const PathStyle& style_;
    /// Keys (sorted) of the compiled principal's files with a protection of their own.
    std::vector<std::string> fileKeys_;
};

/// Placeholders sent in place of empty lists; they match nothing.
inline constexpr char kNoExcludeFiles[] = "ExcludeFiles";
inline constexpr char kNoExcludeProc[] = "ExProc";
inline constexpr char kNoExcludeProcFull[] = "ExcludeProc";
/// The program's own process name, never restricted by a compiled entry.
inline constexpr char kOwnProcess[] = "kv";

}  // namespace kv
