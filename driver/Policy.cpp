#include "driver/Policy.h"

#include <sys/stat.h>

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

std::uint32_t UserRules::ProtectedBelow(std::string_view folder) const {
    if (folder.empty() || folders.empty())
        return kAllowed;
    std::uint32_t found = kAllowed;
    auto keep = [&found](std::uint32_t entry) { found = std::min(found, entry); };
    if (folder == "/") {
        for (const auto& [name, entry] : folders)
            keep(entry);
        return found;
    }
    // The folder itself, and the folders sorted from "folder/" on below it.
    const auto byName = [](const std::pair<std::string, std::uint32_t>& f, std::string_view n) {
        return f.first < n;
    };
    auto it = std::lower_bound(folders.begin(), folders.end(), folder, byName);
    if (it != folders.end() && it->first == folder)
        keep(it->second);
    const std::string below = std::string(folder) + "/";
    for (it = std::lower_bound(it, folders.end(), below, byName);
         it != folders.end() && it->first.starts_with(below); ++it)
        keep(it->second);
    return found;
}

std::vector<ProgramId> ResolveProgram(std::string_view name) {
    std::vector<ProgramId> found;
    if (name.empty() || name == kProgramProcess || name == "." || name == ".." ||
        name.find('/') != std::string_view::npos)
        return found;
    for (const char* folder : kProgramFolders) {
        struct stat st;
        const std::string path = std::string(folder) + "/" + std::string(name);
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & 0111) == 0)
            continue;
        const ProgramId id{static_cast<std::uint64_t>(st.st_dev),
                           static_cast<std::uint64_t>(st.st_ino)};
        if (std::find(found.begin(), found.end(), id) == found.end())
            found.push_back(id);
    }
    return found;
}

std::string ProgramFoldersStamp() {
    std::string stamp;
    auto add = [&stamp](const char* folder) {
        struct stat st;
        if (::stat(folder, &st) == 0)
            stamp += std::to_string(st.st_ino) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
                     std::to_string(st.st_mtim.tv_nsec) + ";";
        else
            stamp += "-;";
    };
    for (const char* folder : kProgramFolders)
        add(folder);
    add("/etc/alternatives");
    return stamp;
}

ProgramId ProgramIdOf(const std::string& path) {
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return {};
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
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

namespace {

std::vector<std::string_view> Items(std::string_view list) {
    std::vector<std::string_view> items;
    ForEachItem(list, [&](std::string_view item) { items.push_back(item); });
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
            const std::uint32_t at = index++;
            // An entry that forbids nothing needs no engine and holds nothing.
            if (e.dwOperation == 0)
                continue;
            const std::string folder = EntryFolder(e.FileMask);
            if (!folder.empty()) {
                folders.push_back(folder);
                rules.folders.emplace_back(folder, at);
            }
            if (NeedsOpenEvents(folder))
                rules.openEntries.emplace_back(at, e);
            if (e.dwOperation & kHideBit) {
                hiding.push_back(e);
                hiding.back().dwOperation = kHideBit;
            }
        }
        rules.hide = std::make_shared<const MatchIndex>(hiding, tables.Programs());
        std::stable_sort(rules.folders.begin(), rules.folders.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        const uid_t owner = uid;  // clang 14 cannot capture a structured binding
        rules.processMatters =
            std::any_of(table.Entries().begin(), table.Entries().end(),
                        [owner](const Entry& e) { return DependsOnProcess(e, owner); });
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
