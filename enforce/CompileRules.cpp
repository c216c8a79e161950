#include "enforce/CompileRules.h"

#include <algorithm>

#include "enforce/AI.h"
#include "platform/Paths.h"
#include "rules/Schema.h"
#include "settings/Encript.h"

namespace kv {

namespace {

std::string Remove(const std::string& text, std::size_t count) {
    return count >= text.size() ? std::string() : text.substr(count);
}

}  // namespace

TRuleCompiler::TRuleCompiler(const TEncriptor& store, IEntryLoader& interceptor,
                             const IPrincipalSelection& selection, const PathStyle& style)
    : store_(store), interceptor_(interceptor), selection_(selection), style_(style) {}

bool TRuleCompiler::IsOptionKey(const std::string& key) const {
    return kv::IsOptionKey(store_, key);
}

std::string TRuleCompiler::OwnFilesBelow(const std::string& pathPart,
                                         std::size_t keyPrefixLength) const {
    std::string out;
    for (auto it = std::lower_bound(fileKeys_.begin(), fileKeys_.end(), pathPart);
         it != fileKeys_.end() && it->starts_with(pathPart); ++it) {
        // Files directly inside are named in the folder's own list by the file
        // commands; those further down are not.
        if (it->find(style_.Separator(), pathPart.size()) == std::string::npos)
            continue;
        if (!out.empty())
            out += ";";
        out += Remove(*it, keyPrefixLength);  // a path, as the FileMask is
    }
    return out;
}

std::string TRuleCompiler::ResolvePrefix(const std::string& principalPrefix) const {
    return principalPrefix.empty() ? PrincipalPrefix(selection_) : principalPrefix;
}

void TRuleCompiler::CompileRules(const std::string& principalPrefix) {
    interceptor_.ClearEntries();
    const std::string prefix = ResolvePrefix(principalPrefix);
    const std::string keyPrefix = prefix + std::string(kProtectionInfix);
    std::uint32_t customMask = 0;
    try {
        customMask = static_cast<std::uint32_t>(CustomDefaultMask(store_));
    } catch (...) {
        customMask = 0;
    }
    const int count = store_.EntryCount();
    fileKeys_.clear();
    for (int position = 0; position < count; ++position) {
        const std::string key = store_.EntryName(position);
        if (key.find(keyPrefix) != 0 || IsOptionKey(key))
            continue;
        const int kind = ReadIntegerOr(store_, key, 0);
        if (kind >= kKindReadOnlyFile && kind <= kKindCustomFile)
            fileKeys_.push_back(key);
    }
    std::sort(fileKeys_.begin(), fileKeys_.end());
    for (int position = 0; position < count; ++position) {
        const std::string key = store_.EntryName(position);
        if (key.find(keyPrefix) == std::string::npos)
            continue;
        if (IsOptionKey(key))
            continue;
        try {
            CompileEntry(key, keyPrefix, customMask);
        } catch (...) {
            // A bad value skips this entry only.
        }
    }
    AddSelfProtection();
}

void TRuleCompiler::CompileEntry(const std::string& key, const std::string& keyPrefix,
                                 std::uint32_t customMask) {
    const int kind = store_.ReadInteger(key, 0);
    const char sep = style_.Separator();
    const std::string pathPart = style_.EndsWithSeparator(key) ? key : key + sep;
    auto read = [this](const std::string& name, const std::string& def) {
        return store_.ReadString(name, def);
    };
    auto kindDefault = [this](Option option, int k) { return ReadKindDefault(store_, option, k); };
    auto optionKey = [&key](Option option) { return OptionKey(key, option); };

    std::uint32_t dwOperation = 0;
    std::string fileMask;
    std::string subfolderPart;
    std::string exclusions;
    std::string processes;
    std::string excludeProc;
    bool folderKind = false;
    switch (kind) {
        case kKindReadOnly: {
            dwOperation = kReadOnlyMask;
            std::string include = kindDefault(Option::IncludeFiles, kKindReadOnly);
            if (include.empty())
                include = "*";  // as for Custom folders: every entry, not none
            fileMask = pathPart + include;
            if (!store_.ReadBool(KindDefaultName(Option::SubFolders, kKindReadOnly), true)) {
                subfolderPart = pathPart + "*" + sep + "*";
            }
            exclusions = read(optionKey(Option::ExcludeFiles),
                              kindDefault(Option::ExcludeFiles, kKindReadOnly));
            processes = kindDefault(Option::Processes, kKindReadOnly);
            excludeProc = kindDefault(Option::ExcludeProc, kKindReadOnly);
            folderKind = true;
            break;
        }
        case kKindFull:
            dwOperation = kFullMask;
            // The folder's separator keeps folders whose names merely begin
            // with its name out.
            fileMask = pathPart + "*";
            processes = kindDefault(Option::Processes, kKindFull);
            excludeProc = kindDefault(Option::ExcludeProc, kKindFull);
            break;
        case kKindCustom: {
            dwOperation = static_cast<std::uint32_t>(
                store_.ReadInteger(optionKey(Option::dwOperation), static_cast<int>(customMask)));
            std::string include = read(optionKey(Option::IncludeFiles),
                                       kindDefault(Option::IncludeFiles, kKindCustom));
            if (include.empty())
                include = "*";
            fileMask = pathPart + include;
            const bool subFolders = store_.ReadBool(
                optionKey(Option::SubFolders),
                store_.ReadBool(KindDefaultName(Option::SubFolders, kKindCustom), true));
            if (!subFolders)
                subfolderPart = pathPart + "*" + sep + "*";
            exclusions = read(optionKey(Option::ExcludeFiles),
                              kindDefault(Option::ExcludeFiles, kKindCustom));
            processes =
                read(optionKey(Option::Processes), kindDefault(Option::Processes, kKindCustom));
            excludeProc =
                read(optionKey(Option::ExcludeProc), kindDefault(Option::ExcludeProc, kKindCustom));
            folderKind = true;
            break;
        }
        case kKindReadOnlyFile:
            dwOperation = kReadOnlyMask;
            fileMask = key;
            processes = kindDefault(Option::Processes, kKindReadOnly);
            excludeProc = kindDefault(Option::ExcludeProc, kKindReadOnly);
            break;
        case kKindFullFile:
            dwOperation = kFullMask;
            fileMask = key;
            processes = kindDefault(Option::Processes, kKindFull);
            // The one kind whose missing exclusion list reads as a placeholder.
            excludeProc = read(KindDefaultName(Option::ExcludeProc, kKindFull), kNoExcludeProcFull);
            break;
        case kKindCustomFile:
            dwOperation = static_cast<std::uint32_t>(
                store_.ReadInteger(optionKey(Option::dwOperation), static_cast<int>(customMask)));
            fileMask = key;
            processes =
                read(optionKey(Option::Processes), kindDefault(Option::Processes, kKindCustom));
            excludeProc =
                read(optionKey(Option::ExcludeProc), kindDefault(Option::ExcludeProc, kKindCustom));
            break;
        default:
            return;  // 0, 4, negative and larger values are no protection kinds
    }

    fileMask = Remove(fileMask, keyPrefix.size());
    std::string excludeFiles;
    if (folderKind) {
        const std::string ownFiles = OwnFilesBelow(pathPart, keyPrefix.size());
        if (!ownFiles.empty())
            exclusions = exclusions.empty() ? ownFiles : exclusions + ";" + ownFiles;
        if (!subfolderPart.empty())
            subfolderPart = Remove(subfolderPart, keyPrefix.size());
        excludeFiles = subfolderPart;
        if (!subfolderPart.empty() && !exclusions.empty())
            excludeFiles += ";";
        excludeFiles += exclusions;
    }
    excludeProc = excludeProc.empty() ? kOwnProcess : excludeProc + ";" + kOwnProcess;
    if (excludeFiles.empty())
        excludeFiles = kNoExcludeFiles;
    interceptor_.AddEntry(dwOperation, fileMask, excludeFiles, processes, excludeProc);
}

void TRuleCompiler::AddSelfProtection() {
    using platform::ProgramFiles;
    interceptor_.AddEntry(kFullMask, std::string("*") + ProgramFiles::kSettings, kNoExcludeFiles,
                          "*", kOwnProcess);
    interceptor_.AddEntry(kReadOnlyMask,
                          std::string("*") + style_.Separator() + ProgramFiles::kProgram,
                          kNoExcludeFiles, "*", kNoExcludeProc);
    interceptor_.AddEntry(kReadOnlyMask,
                          std::string("*") + style_.Separator() + ProgramFiles::kService,
                          kNoExcludeFiles, "*", kNoExcludeProc);
}

}  // namespace kv
