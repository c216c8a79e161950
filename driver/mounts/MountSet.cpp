#include "driver/mounts/MountSet.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "driver/mounts/Mount.h"
#include "driver/mounts/MountGuard.h"

namespace kv::driver::mounts {

namespace {

bool IsAtOrBelow(std::string_view path, std::string_view folder) {
    return path == folder || (path.starts_with(folder) && path.size() > folder.size() &&
                              (folder == "/" || path[folder.size()] == '/'));
}

/// Folders shared by everyone: never mounted over as a whole.
constexpr std::string_view kSharedFolders[] = {"/",    "/var", "/tmp",   "/home", "/opt",
                                               "/srv", "/mnt", "/media", "/root"};

}  // namespace

const char* Describe(NotMounted reason) {
    switch (reason) {
        case NotMounted::kMounted:
            return "mounted";
        case NotMounted::kSystemFolder:
            return "a system folder";
        case NotMounted::kReserved:
            return "holds the service's own files";
        case NotMounted::kMissing:
            return "folder does not exist";
        case NotMounted::kNotCanonical:
            return "reached through a symbolic link";
        case NotMounted::kInside:
            return "inside another protection mount";
    }
    return "";
}

NotMounted CheckFolder(const std::string& folder) {
    struct stat st;
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return NotMounted::kMissing;
    char resolved[PATH_MAX];
    if (!::realpath(folder.c_str(), resolved) || folder != resolved)
        return NotMounted::kNotCanonical;
    return NotMounted::kMounted;
}

MountPlan PlanMounts(const std::vector<std::string>& entryFolders,
                     const std::vector<std::string>& reserved,
                     const std::function<NotMounted(const std::string&)>& check) {
    MountPlan plan;
    std::vector<std::string> candidates;
    for (const std::string& folder : entryFolders) {
        NotMounted reason = NotMounted::kMounted;
        if (folder.empty() || folder.front() != '/' || folder.find('\n') != std::string::npos)
            reason = NotMounted::kNotCanonical;
        if (InSystemTree(folder))
            reason = NotMounted::kSystemFolder;
        for (std::string_view shared : kSharedFolders) {
            if (folder == shared)
                reason = NotMounted::kSystemFolder;
        }
        for (const std::string& own : reserved) {
            if (reason == NotMounted::kMounted && IsAtOrBelow(own, folder))
                reason = NotMounted::kReserved;
        }
        if (reason == NotMounted::kMounted)
            reason = check(folder);
        if (reason == NotMounted::kMounted)
            candidates.push_back(folder);
        else
            plan.skipped[folder] = reason;
    }
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
    for (const std::string& folder : candidates) {
        // Sorted, so an outer folder comes before the folders inside it.
        const bool inside =
            std::any_of(plan.folders.begin(), plan.folders.end(),
                        [&](const std::string& outer) { return IsAtOrBelow(folder, outer); });
        if (inside)
            plan.skipped[folder] = NotMounted::kInside;
        else
            plan.folders.push_back(folder);
    }
    return plan;
}

MountSet::MountSet(std::vector<std::string> reserved, MountGuard* guard,
                   std::function<void(const std::string&)> log)
    : reserved_(std::move(reserved)), guard_(guard), log_(std::move(log)) {}

MountSet::~MountSet() {
    for (auto& [folder, mount] : mounts_) {
        if (guard_)
            guard_->Removed(mount->Device());
        mount.reset();
    }
}

void MountSet::Apply(const std::shared_ptr<const Policy>& policy) {
    policy_.Publish(policy);
    // A mount stays while its folder is named, also when a folder above it
    // was moved away with it (its files are still the protected ones).
    const MountPlan plan =
        PlanMounts(policy->Folders(), reserved_, [this](const std::string& folder) {
            return mounts_.contains(folder) ? NotMounted::kMounted : CheckFolder(folder);
        });
    skipped_ = plan.skipped;
    for (auto it = mounts_.begin(); it != mounts_.end();) {
        if (std::binary_search(plan.folders.begin(), plan.folders.end(), it->first)) {
            ++it;
            continue;
        }
        if (guard_)
            guard_->Removed(it->second->Device());
        if (log_)
            log_("unmounting " + it->first);
        it = mounts_.erase(it);
    }
    for (const std::string& folder : plan.folders) {
        if (mounts_.contains(folder))
            continue;
        std::string error;
        std::unique_ptr<Mount> mount = Mount::Create(folder, policy_, &error);
        if (!mount) {
            if (log_)
                log_(error);
            continue;
        }
        if (guard_)
            guard_->Made(mount->Device(), folder);
        if (log_)
            log_("protection mount over " + folder);
        mounts_.emplace(folder, std::move(mount));
    }
}

std::vector<std::string> MountSet::Folders() const {
    std::vector<std::string> folders;
    for (const auto& [folder, mount] : mounts_)
        folders.push_back(folder);
    return folders;
}

std::string MountSet::FolderCoverage(const std::string& folder) const {
    for (const auto& [mounted, mount] : mounts_) {
        if (IsAtOrBelow(folder, mounted))
            return "mount " + mounted;
    }
    const MountPlan plan = PlanMounts({folder}, reserved_, CheckFolder);
    if (const auto it = plan.skipped.find(folder); it != plan.skipped.end())
        return std::string("not enforced: ") + Describe(it->second);
    return "mount " + folder;
}

std::string MountSet::Coverage(const std::string& folder) const {
    for (const auto& [mounted, mount] : mounts_) {
        if (IsAtOrBelow(folder, mounted))
            return "mount " + mounted;
    }
    const auto it = skipped_.find(folder);
    if (it != skipped_.end() && it->second != NotMounted::kInside)
        return std::string("not enforced: ") + Describe(it->second);
    return "not enforced: the mount could not be made (see the service's log)";
}

}  // namespace kv::driver::mounts
