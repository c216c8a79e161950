#pragma once

#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "driver/Policy.h"
#include "driver/mounts/MountRecords.h"

namespace kv::driver::mounts {

class Mount;

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
///
/// A policy change never takes down the mount of a folder that stays
/// protected: the mounts decide with the new policy from the next request
/// on. A mount no longer needed is detached and served on until files open
/// in it are closed. The mounts are recorded (`recordsPath`), so that after
/// a crash, when the dead mounts refuse everything, the next service puts
/// its own beneath them before it detaches them: the folders are never
/// uncovered, also when a folder above them was moved meanwhile.
class MountSet {
public:
    MountSet(std::vector<std::string> reserved, std::string recordsPath,
             std::function<void(const std::string&)> log);
    ~MountSet();

    /// Publishes `policy` to the mounts and mounts or detaches folders to match it.
    void Apply(const std::shared_ptr<const Policy>& policy);
    /// The folders mounted now, each with where its mount is when a folder
    /// above it was moved ("/a/b (now at /a/c/b)").
    std::vector<std::string> Folders() const;
    /// How an entry naming `folder` is enforced: "mount <folder>" (the mount
    /// that covers it), or "not enforced: <why>".
    std::string Coverage(const std::string& folder) const;
    /// How an entry naming `folder` would be enforced, whether or not one
    /// does now: "mount <folder>" or "not enforced: <why>".
    std::string FolderCoverage(const std::string& folder) const;
    /// Detached mounts still served for their last users.
    std::size_t Retiring();

private:
    /// The device field of a record of a mount that was somewhere else than
    /// its folder's path when the service stopped.
    static constexpr const char* kMovedDevice = "moved";
    /// A mount left by a service that died, found at `location`.
    struct Dead {
        MountRecord record;
        std::string location;
    };
    /// Reads the records: mounts of a service that died, folders that had moved.
    void FindLeftMounts();
    /// Puts a mount beneath the dead one, then detaches the dead one.
    std::unique_ptr<Mount> TakeOver(const Dead& dead, std::string* error);
    void DetachDead(const Dead& dead);
    /// Mounts the folders recorded as moved, where they are now.
    void MountMovedFolders(const std::vector<std::string>& planned);
    void Place(std::unique_ptr<Mount> mount, const std::string& location);
    void Retire(std::unique_ptr<Mount> mount);
    void SaveRecords();
    std::vector<const Mount*> All() const;
    void Log(const std::string& line) const;

    std::vector<std::string> reserved_;
    std::string recordsPath_;
    std::function<void(const std::string&)> log_;
    PublishedPolicy policy_;
    /// Mounts at their folder's path, by folder.
    std::map<std::string, std::unique_ptr<Mount>> mounts_;
    /// Mounts of folders found moved away, by where they are.
    std::map<std::string, std::unique_ptr<Mount>> elsewhere_;
    std::list<std::unique_ptr<Mount>> retiring_;
    std::vector<Dead> dead_;
    std::vector<MountRecord> moved_;
    /// Why the folders of the last plan that got no mount of their own got none.
    std::map<std::string, NotMounted> skipped_;
};

}  // namespace kv::driver::mounts
