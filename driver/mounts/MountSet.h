#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "driver/Policy.h"

namespace kv::driver::mounts {

class Mount;
class MountGuard;

/// Why a folder that an entry names gets no protection mount.
enum class NotMounted { kMounted, kSystemFolder, kReserved, kMissing, kNotCanonical, kInside };

/// Which folders get a protection mount: those that entries name, except
/// the root and system folders, the folders the service itself needs
/// (`reserved`) and every folder above them; a folder inside another that is
/// mounted shares that mount. `isDirectory` tells whether a path is an
/// existing folder reached without symbolic links.
struct MountPlan {
    std::vector<std::string> folders;
    std::map<std::string, NotMounted> skipped;
};
MountPlan PlanMounts(const std::vector<std::string>& entryFolders,
                     const std::vector<std::string>& reserved,
                     const std::function<NotMounted(const std::string&)>& check);
/// The check on the real file system: missing, not canonical, or fine.
NotMounted CheckFolder(const std::string& folder);
const char* Describe(NotMounted reason);

/// The protection mounts of the service, made and taken down to follow the
/// policy. Used by the service thread only.
class MountSet {
public:
    MountSet(std::vector<std::string> reserved, MountGuard* guard,
             std::function<void(const std::string&)> log);
    ~MountSet();

    /// Publishes `policy` to the mounts and mounts or unmounts folders to match it.
    void Apply(const std::shared_ptr<const Policy>& policy);
    /// The folders mounted now.
    std::vector<std::string> Folders() const;
    /// How an entry naming `folder` is enforced: "mount <folder>" (the mount
    /// that covers it), or "not enforced: <why>".
    std::string Coverage(const std::string& folder) const;
    /// How an entry naming `folder` would be enforced, whether or not one
    /// does now: "mount <folder>" or "not enforced: <why>".
    std::string FolderCoverage(const std::string& folder) const;

private:
    std::vector<std::string> reserved_;
    MountGuard* guard_;
    std::function<void(const std::string&)> log_;
    PublishedPolicy policy_;
    std::map<std::string, std::unique_ptr<Mount>> mounts_;
    /// Why the folders of the last plan that got no mount of their own got none.
    std::map<std::string, NotMounted> skipped_;
};

}  // namespace kv::driver::mounts
