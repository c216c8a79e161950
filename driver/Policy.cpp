#include "driver/Policy.h"

#include <algorithm>

#include "driver/EntryTable.h"

namespace kv::driver {

Policy::Policy(std::unordered_map<uid_t, UserRules> users, std::vector<std::string> folders,
               std::uint64_t generation, std::string program, std::shared_ptr<DenialLog> denials)
    : users_(std::move(users)),
      folders_(std::move(folders)),
      generation_(generation),
      program_(std::move(program)),
      denials_(std::move(denials)) {
    std::sort(folders_.begin(), folders_.end());
    folders_.erase(std::unique(folders_.begin(), folders_.end()), folders_.end());
}

const UserRules* Policy::For(uid_t uid) const {
    const auto it = users_.find(uid);
    return it == users_.end() ? nullptr : &it->second;
}

std::string ProcessNameOf(std::string path, const std::string& program) {
    if (ProcessBaseName(path) == kProgramProcess && (program.empty() || path != program))
        return kProgramImpostor;
    return path;
}

std::string Policy::ProcessOf(std::string path, uid_t uid) const {
    return ProcessNameOf(std::move(path), uid == 0 ? program_ : std::string());
}

bool Policy::HoldsProtected(std::string_view folder) const {
    if (folder.empty())
        return false;
    if (folder == "/")
        return !folders_.empty();
    // The folder itself, or the first folder sorted after "folder/".
    const auto it = std::lower_bound(folders_.begin(), folders_.end(), folder);
    if (it == folders_.end())
        return false;
    if (*it == folder)
        return true;
    const std::string below = std::string(folder) + "/";
    const auto under = std::lower_bound(it, folders_.end(), below);
    return under != folders_.end() && under->starts_with(below);
}

bool InSystemTree(std::string_view folder) {
    static constexpr std::string_view kTrees[] = {"/usr",   "/etc",   "/bin",    "/sbin", "/lib",
                                                  "/lib32", "/lib64", "/libx32", "/boot", "/dev",
                                                  "/proc",  "/sys",   "/run"};
    for (std::string_view tree : kTrees) {
        if (folder == tree ||
            (folder.starts_with(tree) && folder.size() > tree.size() && folder[tree.size()] == '/'))
            return true;
    }
    return false;
}

bool IsSelfProtection(const Entry& entry) {
    for (std::string_view mask : kSelfProtection) {
        if (entry.FileMask == mask)
            return true;
    }
    return false;
}

bool NeedsOpenEvents(std::string_view folder) {
    return folder.empty() || folder == "/" || InSystemTree(folder);
}

std::string EntryFolder(std::string_view fileMask) {
    const std::string_view literal = fileMask.substr(0, fileMask.find('*'));
    const std::size_t slash = literal.rfind('/');
    if (slash == std::string_view::npos || literal.empty() || literal.front() != '/')
        return {};
    return slash == 0 ? std::string("/") : std::string(literal.substr(0, slash));
}

namespace {

std::vector<std::string_view> Items(std::string_view list) {
    std::vector<std::string_view> items;
    std::size_t at = 0;
    while (at <= list.size()) {
        const std::size_t end = std::min(list.find(';', at), list.size());
        const std::string_view item = list.substr(at, end - at);
        if (!item.empty() && !IsPlaceholder(item))
            items.push_back(item);
        at = end + 1;
    }
    return items;
}

/// Whether the decisions of `e` for processes of `uid` depend on the process.
bool DependsOnProcess(const Entry& e, uid_t uid) {
    const std::vector<std::string_view> processes = Items(e.Processes);
    if (processes.size() != 1 || processes.front() != "*")
        return true;
    for (std::string_view excluded : Items(e.ExcludeProc)) {
        // Only root's processes can be the program (see Policy::ProcessOf).
        if (uid != 0 && ProcessBaseName(excluded) == kProgramProcess)
            continue;
        return true;
    }
    return false;
}

}  // namespace

bool Policy::CallerDependent(std::string_view path) const {
    return callerDependent_ && callerDependent_->Size() > 0 &&
           callerDependent_->Decide(kFullBit, path, "").refused;
}

std::shared_ptr<const Policy> BuildPolicy(TableSet& tables, std::uint64_t generation,
                                          const std::string& program,
                                          std::shared_ptr<DenialLog> denials) {
    std::unordered_map<uid_t, UserRules> users;
    std::vector<std::string> folders;
    std::vector<Entry> dependent;
    for (auto& [uid, table] : tables.All()) {
        if (!table.Active())
            continue;
        UserRules rules;
        rules.all = table.Index();
        std::vector<Entry> hiding;
        std::uint32_t index = 0;
        for (const Entry& e : table.Entries()) {
            const std::string folder = EntryFolder(e.FileMask);
            if (!folder.empty())
                folders.push_back(folder);
            if (NeedsOpenEvents(folder))
                rules.openEntries.emplace_back(index, e);
            ++index;
            if (e.dwOperation & kHideBit) {
                hiding.push_back(e);
                hiding.back().dwOperation = kHideBit;
            }
        }
        rules.hide = std::make_shared<const MatchIndex>(hiding);
        rules.processMatters =
            std::any_of(table.Entries().begin(), table.Entries().end(),
                        [uid](const Entry& e) { return DependsOnProcess(e, uid); });
        for (const Entry& e : table.Entries()) {
            if (e.dwOperation & kCallerDependentBits)
                dependent.push_back({kFullBit, e.FileMask, "ExcludeFiles", "*", "ExProc"});
        }
        users.emplace(uid, std::move(rules));
    }
    auto policy = std::make_shared<Policy>(std::move(users), std::move(folders), generation,
                                           program, std::move(denials));
    policy->callerDependent_ = std::make_shared<const MatchIndex>(dependent);
    return policy;
}

}  // namespace kv::driver
