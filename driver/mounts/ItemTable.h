#pragma once

#define FUSE_USE_VERSION 312
#include <fuse_lowlevel.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "driver/mounts/ContentStamp.h"

namespace kv::driver::mounts {

/// An open O_PATH descriptor of an item, closed when the last holder lets go.
class ItemFd {
public:
    explicit ItemFd(int fd) : fd_(fd) {}
    ~ItemFd();
    ItemFd(const ItemFd&) = delete;
    ItemFd& operator=(const ItemFd&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};
using ItemFdRef = std::shared_ptr<const ItemFd>;

/// The items of one protection mount that the kernel knows (its inode
/// numbers are pointers to them). An item keeps how to find it again, a
/// file handle of its file system, or its name in its folder, and an open
/// descriptor only while it is among the kMaxOpen most recently used: so the
/// service's descriptors stay bounded however many items are looked up.
class ItemTable {
public:
    /// Open descriptors kept at most (besides the folder's own and those in use).
    static constexpr std::size_t kMaxOpen = 512;

    struct Item {
        dev_t dev = 0;
        ino_t ino = 0;
        std::uint64_t lookups = 0;
        /// Where the item was last looked up, for decisions by path.
        std::shared_ptr<Item> parent;
        std::string name;
        /// A struct file_handle of the folder's file system; empty when the
        /// item is elsewhere or its file system gives none.
        std::vector<unsigned char> handle;
        /// The open descriptor, or null while closed.
        ItemFdRef fd;
        std::list<Item*>::iterator recent;
        bool inRecent = false;
        /// A folder that owner, group and others may all search, without an
        /// ACL: names in it look the same to every caller's rights.
        std::atomic<bool> openToAll{false};
        /// What the kernel's cached pages of a file hold.
        ContentStamp content;
    };

    /// `folderFd` is an O_PATH handle on `folder`; the table owns it.
    ItemTable(std::string folder, int folderFd);
    ~ItemTable();
    ItemTable(const ItemTable&) = delete;
    ItemTable& operator=(const ItemTable&) = delete;

    Item& Get(fuse_ino_t ino);
    Item& Root() { return *root_; }
    /// The path of an item as the entries name it.
    std::string PathOf(const Item& item);
    /// The path of `name` inside the folder `parent`.
    std::string ChildPath(const Item& parent, const char* name);
    /// Finds or makes the item of `st`, found as `name` in `parent` (whose
    /// open descriptor is `parentFd`), counting one lookup, and records where
    /// it was found. Null with errno set on failure.
    Item* Remember(Item& parent, int parentFd, const char* name, const struct stat& st);
    void Forget(fuse_ino_t ino, std::uint64_t count);
    /// Records that the item `dev`/`ino` is now `newName` in `newParent`.
    void Moved(Item& newParent, const char* newName, dev_t dev, ino_t ino);
    /// An open descriptor of `item`, opened again when it was closed. Null
    /// with errno set when the item cannot be found any more (ESTALE).
    ItemFdRef FdOf(Item& item);

    /// "/proc/self/fd/N" or "/proc/self/fd/N/name": reaches an item from a
    /// descriptor for the calls that take none.
    static std::string ProcPathOf(int fd, const char* name);
    /// The inode number the kernel knows `item` by.
    fuse_ino_t InoOf(const Item& item) const {
        return &item == root_.get() ? FUSE_ROOT_ID : reinterpret_cast<fuse_ino_t>(&item);
    }
    /// Every name (parent, name) and item the kernel may keep.
    void Known(std::vector<std::pair<fuse_ino_t, std::string>>* names,
               std::vector<fuse_ino_t>* items);

    /// Items known, and descriptors open now (the folder's included).
    std::size_t Items();
    std::size_t OpenDescriptors();

private:
    std::shared_ptr<Item> RefOf(const Item& item);
    /// Opens `item` again (without the lock).
    int Reopen(Item& item);
    /// Keeps `item`'s descriptor as the most recently used (under the lock),
    /// closing the least recently used ones beyond kMaxOpen.
    void Touch(Item& item);
    void Close(Item& item);

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
    std::shared_ptr<Item> root_;
    /// The folder opened for reading: open_by_handle_at takes no O_PATH descriptor.
    int mountFd_ = -1;
    std::mutex mutex_;
    std::unordered_map<Key, std::shared_ptr<Item>, KeyHash> items_;
    std::list<Item*> recent_;  ///< items with an open descriptor, most recent first
};

}  // namespace kv::driver::mounts
