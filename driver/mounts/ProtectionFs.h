#pragma once

#define FUSE_USE_VERSION 312
#include <fuse_lowlevel.h>
#include <sys/stat.h>

#include <atomic>
#include <string>

#include "driver/Policy.h"
#include "driver/mounts/ItemTable.h"
#include "driver/mounts/Notifier.h"

namespace kv::driver::mounts {

/// The pass-through file system of one protection mount. It serves the folder
/// it is mounted over from a handle on that folder opened before mounting, so
/// the files stay where they are. Every request is decided for its caller
/// (uid and executable) by the current policy and then carried out with the
/// caller's own identity. The kernel keeps names and attributes for a moment
/// only where no active entry can make them differ between callers, where
/// every caller may search the folder, and never for a file with several
/// names; what a policy change makes caller-dependent is taken back at once.
class ProtectionFs {
public:
    /// `folderFd` is an O_PATH handle on `folder`; the file system owns it.
    ProtectionFs(std::string folder, int folderFd, const PublishedPolicy& policy);
    ~ProtectionFs();
    ProtectionFs(const ProtectionFs&) = delete;
    ProtectionFs& operator=(const ProtectionFs&) = delete;

    static const fuse_lowlevel_ops& Operations();
    /// Prepares a thread that serves requests: its own umask (0: the kernel
    /// or the request gives the caller's), so created items get exactly the
    /// mode the caller asked for.
    static void PrepareServingThread();

    using Item = ItemTable::Item;

    const std::string& Folder() const { return folder_; }
    const PublishedPolicy& Policy() const { return policy_; }
    ItemTable& Items() { return items_; }
    mounts::Notifier& Notifier() { return notifier_; }
    /// How long the kernel may keep the name `path` (of an item with
    /// attributes `st`, in `parent`), and the item's attributes, under
    /// `policy`: kKeepSeconds or 0.
    static constexpr double kKeepSeconds = 1.0;
    double EntryTimeout(const driver::Policy& policy, const Item& parent, std::string_view path,
                        const struct stat& st) const;
    double AttrTimeout(const driver::Policy& policy, std::string_view path,
                       const struct stat& st) const;
    /// Records whether the folder `item` (reached by `path`, attributes `st`)
    /// is open to every caller's search.
    static void NoteFolder(Item& item, const std::string& path, const struct stat& st);
    /// Whether the kernel leaves the caller's umask to us (it sends it with
    /// each request that creates an item).
    bool CallerUmaskSent() const { return callerUmask_.load(); }
    void SetCallerUmaskSent(bool sent) { callerUmask_ = sent; }

private:
    std::string folder_;
    const PublishedPolicy& policy_;
    ItemTable items_;
    mounts::Notifier notifier_;
    std::atomic<bool> callerUmask_{false};
};

}  // namespace kv::driver::mounts
