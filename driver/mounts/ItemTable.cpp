#include "driver/mounts/ItemTable.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "driver/mounts/Identity.h"

namespace kv::driver::mounts {

namespace {

/// A file handle of `name` in `dirFd`, or nothing when its file system gives none.
std::vector<unsigned char> HandleOf(int dirFd, const char* name) {
    std::vector<unsigned char> bytes(sizeof(file_handle) + MAX_HANDLE_SZ);
    auto* handle = reinterpret_cast<file_handle*>(bytes.data());
    handle->handle_bytes = MAX_HANDLE_SZ;
    int mountId = 0;
    if (::name_to_handle_at(dirFd, name, handle, &mountId, 0) != 0)
        return {};
    bytes.resize(sizeof(file_handle) + handle->handle_bytes);
    return bytes;
}

}  // namespace

ItemFd::~ItemFd() {
    if (fd_ >= 0)
        ::close(fd_);
}

ItemTable::ItemTable(std::string folder, int folderFd)
    : folder_(std::move(folder)), root_(std::make_shared<Item>()) {
    root_->fd = std::make_shared<ItemFd>(folderFd);
    struct stat st;
    if (::fstat(folderFd, &st) == 0) {
        root_->dev = st.st_dev;
        root_->ino = st.st_ino;
    }
    root_->lookups = 1;
    mountFd_ = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

ItemTable::~ItemTable() {
    if (mountFd_ >= 0)
        ::close(mountFd_);
}

ItemTable::Item& ItemTable::Get(fuse_ino_t ino) {
    return ino == FUSE_ROOT_ID ? *root_ : *reinterpret_cast<Item*>(ino);
}

std::string ItemTable::PathOf(const Item& item) {
    std::lock_guard lock(mutex_);
    std::vector<const std::string*> names;
    for (const Item* at = &item; at->parent; at = at->parent.get())
        names.push_back(&at->name);
    std::string path = folder_;
    for (auto it = names.rbegin(); it != names.rend(); ++it)
        (path += '/') += **it;
    return path;
}

std::string ItemTable::ChildPath(const Item& parent, const char* name) {
    return PathOf(parent) + "/" + name;
}

std::shared_ptr<ItemTable::Item> ItemTable::RefOf(const Item& item) {
    if (&item == root_.get())
        return root_;
    const auto it = items_.find({item.dev, item.ino});
    return it == items_.end() ? nullptr : it->second;
}

ItemTable::Item* ItemTable::Remember(Item& parent, int parentFd, const char* name,
                                     const struct stat& st) {
    const Key key{st.st_dev, st.st_ino};
    if (key == Key{root_->dev, root_->ino}) {
        errno = ELOOP;  // the folder itself seen through a link inside it
        return nullptr;
    }
    // Counted under the same lock that finds it: a forget in between could
    // otherwise erase the item this lookup is about to hand the kernel.
    auto counted = [&](Item& item) {
        ++item.lookups;
        std::shared_ptr<Item> parentRef = RefOf(parent);
        if (parentRef && (item.parent != parentRef || item.name != name)) {
            item.parent = std::move(parentRef);
            item.name = name;
        }
        return &item;
    };
    {
        std::lock_guard lock(mutex_);
        if (const auto it = items_.find(key); it != items_.end())
            return counted(*it->second);
    }
    // Opened outside the lock; another thread may have made it meanwhile.
    const int fd = ::openat(parentFd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    auto made = std::make_shared<Item>();
    made->dev = st.st_dev;
    made->ino = st.st_ino;
    // A handle opens only items of the folder's own file system.
    if (st.st_dev == root_->dev)
        made->handle = HandleOf(parentFd, name);
    made->fd = std::make_shared<ItemFd>(fd);
    std::lock_guard lock(mutex_);
    auto& slot = items_[key];
    if (!slot) {
        slot = std::move(made);
        Touch(*slot);
    }
    return counted(*slot);
}

void ItemTable::Forget(fuse_ino_t ino, std::uint64_t count) {
    if (ino == FUSE_ROOT_ID)
        return;
    Item& item = Get(ino);
    std::lock_guard lock(mutex_);
    item.lookups -= std::min(item.lookups, count);
    if (item.lookups == 0) {
        Close(item);
        items_.erase({item.dev, item.ino});
    }
}

void ItemTable::Moved(Item& newParent, const char* newName, dev_t dev, ino_t ino) {
    std::lock_guard lock(mutex_);
    const auto it = items_.find({dev, ino});
    std::shared_ptr<Item> newParentRef = RefOf(newParent);
    if (it == items_.end() || !newParentRef)
        return;
    it->second->parent = std::move(newParentRef);
    it->second->name = newName;
}

void ItemTable::Touch(Item& item) {
    if (&item == root_.get())
        return;
    if (item.inRecent)
        recent_.erase(item.recent);
    recent_.push_front(&item);
    item.recent = recent_.begin();
    item.inRecent = true;
    while (recent_.size() > kMaxOpen) {
        Item* oldest = recent_.back();
        Close(*oldest);
    }
}

void ItemTable::Close(Item& item) {
    if (item.inRecent)
        recent_.erase(item.recent);
    item.inRecent = false;
    item.fd.reset();  // closed once no request holds it
}

ItemFdRef ItemTable::FdOf(Item& item) {
    {
        std::lock_guard lock(mutex_);
        if (item.fd) {
            Touch(item);
            return item.fd;
        }
    }
    const int fd = Reopen(item);
    if (fd < 0)
        return nullptr;
    std::lock_guard lock(mutex_);
    if (!RefOf(item) || RefOf(item).get() != &item)
        return std::make_shared<ItemFd>(fd);  // forgotten, yet still a folder of known items
    if (item.fd) {
        ::close(fd);  // another request opened it meanwhile
    } else {
        item.fd = std::make_shared<ItemFd>(fd);
    }
    Touch(item);
    return item.fd;
}

int ItemTable::Reopen(Item& item) {
    if (!item.handle.empty() && mountFd_ >= 0) {
        // Needs CAP_DAC_READ_SEARCH, which a thread acting as a caller has not.
        AsService service;
        auto* handle = reinterpret_cast<file_handle*>(item.handle.data());
        const int fd = ::open_by_handle_at(mountFd_, handle, O_PATH | O_CLOEXEC);
        if (fd >= 0 || errno == ESTALE)
            return fd;
    }
    std::shared_ptr<Item> parent;
    std::string name;
    {
        std::lock_guard lock(mutex_);
        parent = item.parent;
        name = item.name;
    }
    if (!parent) {
        errno = ESTALE;
        return -1;
    }
    const ItemFdRef parentFd = FdOf(*parent);
    if (!parentFd)
        return -1;
    AsService service;
    const int fd = ::openat(parentFd->Get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_dev != item.dev || st.st_ino != item.ino) {
        ::close(fd);
        errno = ESTALE;  // another item has taken its name
        return -1;
    }
    return fd;
}

std::string ItemTable::ProcPathOf(int fd, const char* name) {
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (name && *name)
        (path += '/') += name;
    return path;
}

void ItemTable::Known(std::vector<std::pair<fuse_ino_t, std::string>>* names,
                      std::vector<fuse_ino_t>* items) {
    std::lock_guard lock(mutex_);
    items->push_back(FUSE_ROOT_ID);
    for (const auto& [key, item] : items_) {
        items->push_back(InoOf(*item));
        if (item->parent)
            names->emplace_back(InoOf(*item->parent), item->name);
    }
}

std::size_t ItemTable::Items() {
    std::lock_guard lock(mutex_);
    return items_.size();
}

std::size_t ItemTable::OpenDescriptors() {
    std::lock_guard lock(mutex_);
    return recent_.size() + 1;
}

}  // namespace kv::driver::mounts
