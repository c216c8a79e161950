#pragma once

#define FUSE_USE_VERSION 312
#include <fuse_lowlevel.h>
#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <string>
#include <unordered_map>

#include "driver/Policy.h"

namespace kv::driver::mounts {

/// The pass-through file system of one protection mount. It serves the folder
/// it is mounted over from a handle on that folder opened before mounting, so
/// the files stay where they are. Every request is decided for its caller
/// (uid and executable) by the current policy and then carried out with the
/// caller's own file-system identity. Nothing is cached by the kernel that
/// could let one caller's answer serve another: names and attributes expire
/// at once.
class ProtectionFs {
public:
    /// `folderFd` is an O_PATH handle on `folder`; the file system owns it.
    ProtectionFs(std::string folder, int folderFd, const PublishedPolicy& policy);
    ~ProtectionFs();
    ProtectionFs(const ProtectionFs&) = delete;
    ProtectionFs& operator=(const ProtectionFs&) = delete;

    static const fuse_lowlevel_ops& Operations();

    struct Inode {
        int fd = -1;
        dev_t dev = 0;
        ino_t ino = 0;
        std::uint64_t lookups = 0;
        /// Where the item was last looked up, for decisions by path.
        std::shared_ptr<Inode> parent;
        std::string name;
        ~Inode();
    };

    const std::string& Folder() const { return folder_; }
    const PublishedPolicy& Policy() const { return policy_; }

    Inode& Get(fuse_ino_t ino);
    /// The path of an inode as the entries name it.
    std::string PathOf(const Inode& inode);
    /// The path of `name` inside the folder `parent`.
    std::string ChildPath(const Inode& parent, const char* name);
    /// Finds or makes the inode of `st` (found as `name` in `parent`),
    /// counting one lookup, and records where it was found. Null with errno
    /// set on failure.
    Inode* Remember(Inode& parent, const char* name, const struct stat& st);
    void Forget(fuse_ino_t ino, std::uint64_t count);
    /// Records that the item `dev`/`ino` is now `newName` in `newParent`.
    void Moved(Inode& newParent, const char* newName, dev_t dev, ino_t ino);

private:
    /// The shared reference of a known inode (the caller holds the lock), or null.
    std::shared_ptr<Inode> RefOf(const Inode& inode);

    struct Key {
        dev_t dev;
        ino_t ino;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& k) const {
            return std::hash<std::uint64_t>()(k.ino) ^ (std::hash<std::uint64_t>()(k.dev) << 1);
        }
    };

    std::string folder_;
    const PublishedPolicy& policy_;
    std::shared_ptr<Inode> root_;
    std::shared_mutex mutex_;
    std::unordered_map<Key, std::shared_ptr<Inode>, KeyHash> inodes_;
};

}  // namespace kv::driver::mounts
