#include "driver/mounts/MountSet.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "driver/mounts/ItemTable.h"
#include "driver/mounts/Mount.h"
#include "driver/mounts/MountInfo.h"
#include "driver/mounts/ProtectionFs.h"

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

MountSet::MountSet(std::vector<std::string> reserved, std::string recordsPath,
                   std::function<void(const std::string&)> log)
    : reserved_(std::move(reserved)), recordsPath_(std::move(recordsPath)), log_(std::move(log)) {
    FindLeftMounts();
}

MountSet::~MountSet() {
    // A folder moved away with a folder above it is protected again where
    // it is now at the next start.
    std::vector<MountRecord> moved;
    for (const Mount* mount : All()) {
        const std::string location = mount->Location();
        if (!location.empty() && location != mount->Folder()) {
            moved.push_back(mount->Record());
            moved.back().device = kMovedDevice;
        }
    }
    mounts_.clear();
    elsewhere_.clear();
    retiring_.clear();
    if (!recordsPath_.empty() && !WriteMountRecords(recordsPath_, moved))
        Log("cannot write " + recordsPath_ + ": " + std::strerror(errno));
}

void MountSet::Log(const std::string& line) const {
    if (log_)
        log_(line);
}

std::vector<const Mount*> MountSet::All() const {
    std::vector<const Mount*> all;
    for (const auto& [folder, mount] : mounts_)
        all.push_back(mount.get());
    for (const auto& [location, mount] : elsewhere_)
        all.push_back(mount.get());
    return all;
}

void MountSet::FindLeftMounts() {
    if (recordsPath_.empty())
        return;
    const std::vector<MountLine> mounts = ReadMountInfo();
    for (const MountRecord& record : ReadMountRecords(recordsPath_)) {
        if (record.device == kMovedDevice) {
            moved_.push_back(record);
            continue;
        }
        const MountLine* line = FindMount(mounts, record.device);
        if (!line)
            continue;
        // Only a mount whose service is gone: it answers nothing.
        struct stat st;
        if (::stat(line->mountPoint.c_str(), &st) == 0 || errno != ENOTCONN)
            continue;
        dead_.push_back({record, line->mountPoint});
        Log("found the mount of a service that ended over " + line->mountPoint);
    }
}

void MountSet::DetachDead(const Dead& dead) {
    DetachIfTopmost(dead.record.device);
}

std::unique_ptr<Mount> MountSet::TakeOver(const Dead& dead, std::string* error) {
    const std::string& folder = dead.record.folder;
    const int folderFd = OpenRecordedFolder(dead.record);
    if (folderFd < 0) {
        *error = "cannot open " + folder + " again by its handle: " + std::strerror(errno);
        DetachDead(dead);
        return nullptr;
    }
    std::unique_ptr<Mount> mount = Mount::CreateAt(folder, ::dup(folderFd), dead.location,
                                                   Mount::Placement::kBeneath, policy_, error);
    if (mount) {
        DetachDead(dead);
        ::close(folderFd);
        Log("took over the protection of " + folder + " at " + dead.location);
        return mount;
    }
    // A kernel without mounts beneath: the folder is uncovered for a moment.
    Log(*error + "; replacing the mount at " + dead.location + " instead");
    DetachDead(dead);
    return Mount::CreateAt(folder, folderFd, dead.location, Mount::Placement::kOnTop, policy_,
                           error);
}

void MountSet::Place(std::unique_ptr<Mount> mount, const std::string& location) {
    if (location == mount->Folder())
        mounts_[location] = std::move(mount);
    else
        elsewhere_[location] = std::move(mount);
}

void MountSet::MountMovedFolders(const std::vector<std::string>& planned) {
    for (const MountRecord& record : moved_) {
        if (!std::binary_search(planned.begin(), planned.end(), record.folder))
            continue;
        const int fd = OpenRecordedFolder(record);
        if (fd < 0)
            continue;
        char where[PATH_MAX];
        const std::string link = ItemTable::ProcPathOf(fd, nullptr);
        const ssize_t n = ::readlink(link.c_str(), where, sizeof where - 1);
        struct stat byHandle;
        struct stat byPath;
        const std::string location = n > 0 ? std::string(where, static_cast<std::size_t>(n)) : "";
        // Still a folder reached by that path, and not where the entries point.
        if (location.empty() || location.front() != '/' || location == record.folder ||
            elsewhere_.contains(location) || ::fstat(fd, &byHandle) != 0 ||
            ::lstat(location.c_str(), &byPath) != 0 || byHandle.st_dev != byPath.st_dev ||
            byHandle.st_ino != byPath.st_ino || CheckFolder(location) != NotMounted::kMounted) {
            ::close(fd);
            continue;
        }
        std::string error;
        std::unique_ptr<Mount> mount =
            Mount::CreateAt(record.folder, fd, location, Mount::Placement::kOnTop, policy_, &error);
        if (!mount) {
            Log(error);
            continue;
        }
        Log("protection mount over " + location + ", where " + record.folder + " was moved");
        elsewhere_[location] = std::move(mount);
    }
    moved_.clear();
}

void MountSet::Retire(std::unique_ptr<Mount> mount) {
    Log("detaching " + mount->Folder());
    mount->Detach();
    retiring_.push_back(std::move(mount));
}

std::size_t MountSet::Retiring() {
    retiring_.remove_if([](const std::unique_ptr<Mount>& m) { return m->Finished(); });
    return retiring_.size();
}

void MountSet::Apply(const std::shared_ptr<const Policy>& policy) {
    policy_.Publish(policy);
    Retiring();
    // A mount stays while its folder is named, also when a folder above it
    // was moved away with it (its files are still the protected ones).
    const MountPlan plan =
        PlanMounts(policy->Folders(), reserved_, [this](const std::string& folder) {
            const bool left = std::any_of(dead_.begin(), dead_.end(),
                                          [&](const Dead& d) { return d.record.folder == folder; });
            return mounts_.contains(folder) || left ? NotMounted::kMounted : CheckFolder(folder);
        });
    skipped_ = plan.skipped;
    auto planned = [&](const std::string& folder) {
        return std::binary_search(plan.folders.begin(), plan.folders.end(), folder);
    };
    for (auto* set : {&mounts_, &elsewhere_}) {
        for (auto it = set->begin(); it != set->end();) {
            if (planned(it->second->Folder())) {
                // What the kernel keeps was answered under the old policy.
                it->second->Fs().Notifier().All();
                ++it;
                continue;
            }
            Retire(std::move(it->second));
            it = set->erase(it);
        }
    }
    // Mounts left by a service that died: taken over from beneath, or detached.
    for (const Dead& dead : dead_) {
        if (!planned(dead.record.folder) ||
            (dead.location == dead.record.folder && mounts_.contains(dead.location))) {
            DetachDead(dead);
            continue;
        }
        std::string error;
        if (std::unique_ptr<Mount> mount = TakeOver(dead, &error))
            Place(std::move(mount), dead.location);
        else
            Log(error);
    }
    dead_.clear();
    MountMovedFolders(plan.folders);
    for (const std::string& folder : plan.folders) {
        if (mounts_.contains(folder))
            continue;
        std::string error;
        std::unique_ptr<Mount> mount = Mount::Create(folder, policy_, &error);
        if (!mount) {
            Log(error);
            continue;
        }
        Log("protection mount over " + folder);
        mounts_.emplace(folder, std::move(mount));
    }
    SaveRecords();
}

void MountSet::SaveRecords() {
    if (recordsPath_.empty())
        return;
    std::vector<MountRecord> records;
    for (const Mount* mount : All())
        records.push_back(mount->Record());
    if (!WriteMountRecords(recordsPath_, records))
        Log("cannot write " + recordsPath_ + ": " + std::strerror(errno));
}

std::vector<std::string> MountSet::Folders() const {
    std::vector<std::string> folders;
    for (const Mount* mount : All()) {
        const std::string location = mount->Location();
        folders.push_back(location.empty() || location == mount->Folder()
                              ? mount->Folder()
                              : mount->Folder() + " (now at " + location + ")");
    }
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
