#include "enforce/CompileRules.h"

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

bool TRuleCompiler::IsSubFoldersOption(const std::string& key) const {
    // The option's "0"/"1" would read as a kind; a folder whose name merely holds
    // the text is still protected unless its name also makes it the option of a
    // protected item.
    constexpr std::string_view kSuffix = "_SubFolders";
    if (!key.ends_with(kSuffix))
        return false;
    const std::string item = key.substr(0, key.size() - kSuffix.size());
    return store_.ReadString(item, "").size() > 0;
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
    for (int position = 0; position < count; ++position) {
        const std::string key = store_.EntryName(position);
        if (key.find(keyPrefix) == std::string::npos)
            continue;
        if (IsSubFoldersOption(key))
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
