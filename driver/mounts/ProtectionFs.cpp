#include "driver/mounts/ProtectionFs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "driver/mounts/Caller.h"
#include "driver/mounts/Gate.h"
#include "driver/mounts/Identity.h"
#include "driver/mounts/OpenHolders.h"
#include "driver/mounts/OpenQuota.h"
#include "driver/mounts/OperationBits.h"

namespace kv::driver::mounts {

namespace {

ProtectionFs& Fs(fuse_req_t req) {
    return *static_cast<ProtectionFs*>(fuse_req_userdata(req));
}

/// "/proc/self/fd/N": reaches the item of an O_PATH handle for the calls that
/// take no handle (open, xattrs, link) with the caller's rights.
std::string ProcPath(int fd) {
    return ItemTable::ProcPathOf(fd, nullptr);
}

/// The supplementary groups of a request's caller. The kernel gives them only
/// through /proc (a costly read), so each serving thread keeps those of the
/// last few processes for a moment, keyed by process, uid and gid: a process
/// that changes its groups without changing uid or gid (which needs
/// privilege) is seen with the new ones at most kGroupsFresh later.
constexpr auto kGroupsFresh = std::chrono::milliseconds(500);

const std::vector<gid_t>& GroupsOf(fuse_req_t req, const fuse_ctx* ctx) {
    struct Known {
        pid_t pid = 0;
        uid_t uid = 0;
        gid_t gid = 0;
        std::chrono::steady_clock::time_point read;
        std::vector<gid_t> groups;
    };
    thread_local std::array<Known, 8> known;
    thread_local std::size_t next = 0;
    const auto now = std::chrono::steady_clock::now();
    for (Known& k : known) {
        if (k.pid == ctx->pid && k.uid == ctx->uid && k.gid == ctx->gid && k.pid != 0 &&
            now - k.read < kGroupsFresh)
            return k.groups;
    }
    Known& slot = known[next++ % known.size()];
    slot.groups.resize(64);
    int count = fuse_req_getgroups(req, 64, slot.groups.data());
    if (count > 64) {
        slot.groups.resize(static_cast<std::size_t>(count));
        count = fuse_req_getgroups(req, count, slot.groups.data());
    }
    // Groups gained between the two reads are not in the buffer: only what
    // was read counts (resizing up would add group 0, root's).
    count = std::min(count, static_cast<int>(slot.groups.size()));
    // A process that is gone acts with its own uid and gid only.
    slot.groups.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    slot.pid = count >= 0 ? ctx->pid : 0;
    slot.uid = ctx->uid;
    slot.gid = ctx->gid;
    slot.read = now;
    return slot.groups;
}

/// Makes the serving thread act as the caller of `req`; false (with the
/// request answered) when the caller's identity cannot be taken.
bool ActFor(fuse_req_t req) {
    const fuse_ctx* ctx = fuse_req_ctx(req);
    const std::vector<gid_t>& groups = GroupsOf(req, ctx);
    if (ActAsCaller(ctx->uid, ctx->gid, groups.data(), static_cast<int>(groups.size())))
        return true;
    fuse_reply_err(req, EPERM);
    return false;
}

/// Sets the thread's umask to the caller's when the kernel left it to us,
/// for the lifetime of the object (0 otherwise: the kernel applied it).
class CallerUmask {
public:
    CallerUmask(fuse_req_t req, const ProtectionFs& fs) : set_(fs.CallerUmaskSent()) {
        if (set_)
            ::umask(fuse_req_ctx(req)->umask);
    }
    ~CallerUmask() {
        if (set_)
            ::umask(0);
    }
    CallerUmask(const CallerUmask&) = delete;
    CallerUmask& operator=(const CallerUmask&) = delete;

private:
    bool set_;
};

/// One request: its caller, the policy snapshot it is decided with, and the
/// caller's identity to act with.
class Call {
public:
    explicit Call(fuse_req_t req)
        : req_(req),
          ctx_(fuse_req_ctx(req)),
          policy_(Fs(req).Policy().Current()),
          gate_(*policy_, ctx_->uid, ctx_->pid) {}

    Gate& gate() { return gate_; }
    const Policy& policy() const { return *policy_; }
    uid_t uid() const { return ctx_->uid; }

    /// Acts as the caller from now on; false (with the request answered)
    /// when the caller's identity cannot be taken.
    bool Act() { return ActFor(req_); }

private:
    fuse_req_t req_;
    const fuse_ctx* ctx_;
    std::shared_ptr<const Policy> policy_;
    Gate gate_;
};

/// Something a caller holds open through the mount, counted against that
/// uid's share of the service's descriptors while it lives.
struct Counted {
    uid_t uid = 0;
    bool counted = false;

    Counted() = default;
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;
    ~Counted() {
        if (counted)
            OpenQuota::OfService().Give(uid);
    }
    /// Counts it for the uid `caller`; false (with the request answered)
    /// when that uid holds its share already.
    bool Count(fuse_req_t req, uid_t caller) {
        uid = caller;
        counted = OpenQuota::OfService().Take(caller);
        if (!counted)
            fuse_reply_err(req, EMFILE);
        return counted;
    }
};

/// An open file: its descriptor and the caller and policy it was allowed for,
/// so that reads and writes are decided again only when either changes.
struct OpenFile : Counted {
    int fd = -1;
    std::uint64_t generation = 0;
    /// The process that opened it and the item, while it holds it (OpenHolders).
    pid_t pid = 0;
    dev_t dev = 0;
    ino_t ino = 0;
};

/// A change made through the mount to an item, which the kernel makes to
/// its cached pages of it too: the item's content stamp follows it.
class ContentChange {
public:
    ContentChange(ItemTable::Item& item, int fd) : item_(item), fd_(fd) {
        known_ = ::fstatat(fd, "", &before_, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) == 0;
    }
    ~ContentChange() {
        struct stat after;
        if (known_ && ::fstatat(fd_, "", &after, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) == 0)
            item_.content.Changed(before_, after);
        else
            item_.content.Forget();
    }
    ContentChange(const ContentChange&) = delete;
    ContentChange& operator=(const ContentChange&) = delete;

private:
    ItemTable::Item& item_;
    int fd_;
    bool known_ = false;
    struct stat before_;
};

/// Records that the request's process holds `file` of `item` open.
void Hold(fuse_req_t req, OpenFile& file, const struct stat& item) {
    file.pid = fuse_req_ctx(req)->pid;
    file.dev = item.st_dev;
    file.ino = item.st_ino;
    Holders().Add(file.pid, file.dev, file.ino);
}

/// Closes an open file that is no longer held.
void Drop(OpenFile* file) {
    if (file->pid != 0)
        Holders().Remove(file->pid, file->dev, file->ino);
    ::close(file->fd);
    delete file;
}

struct OpenDir : Counted {
    DIR* dir = nullptr;
    off_t offset = 0;
    dirent* entry = nullptr;
};

OpenFile* FileOf(fuse_file_info* fi) {
    return reinterpret_cast<OpenFile*>(fi->fh);
}
OpenDir* DirOf(fuse_file_info* fi) {
    return reinterpret_cast<OpenDir*>(fi->fh);
}

using Item = ProtectionFs::Item;

/// The open descriptor of the item `ino`; null (with the request answered)
/// when it cannot be found any more.
ItemFdRef FdFor(fuse_req_t req, Item& item) {
    ItemFdRef fd = Fs(req).Items().FdOf(item);
    if (!fd)
        fuse_reply_err(req, errno);
    return fd;
}

/// How long the kernel may keep the entry `e` for the name `path` in `parent`.
void FillTimeouts(ProtectionFs& fs, const Call& call, const Item& parent, const std::string& path,
                  fuse_entry_param* e) {
    e->attr_timeout = fs.AttrTimeout(call.policy(), path, e->attr);
    e->entry_timeout = fs.EntryTimeout(call.policy(), parent, path, e->attr);
}

/// After an entry was sent: takes it back at once when the policy changed
/// while it was decided.
void TakeBackIfStale(ProtectionFs& fs, const Call& call, const Item& parent, const char* name,
                     const fuse_entry_param& e) {
    if (e.attr_timeout > 0 && fs.Policy().Current()->Generation() != call.policy().Generation())
        fs.Notifier().Item(fs.Items().InoOf(parent), name, e.ino);
}

/// Fills the timeouts of `e` for the name `path` in `parent` and sends it.
void SendEntry(fuse_req_t req, ProtectionFs& fs, const Call& call, Item& parent,
               const std::string& path, const char* name, fuse_entry_param* e) {
    FillTimeouts(fs, call, parent, path, e);
    fuse_reply_entry(req, e);
    TakeBackIfStale(fs, call, parent, name, *e);
}

/// Answers with an entry for `name` in `parent` (open as `parentFd`) after
/// the caller looked it up or made it.
void ReplyEntry(fuse_req_t req, ProtectionFs& fs, Call& call, Item& parent, int parentFd,
                const char* name) {
    struct stat st;
    if (::fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return (void)fuse_reply_err(req, errno);
    // What the kernel keeps of a reply is what stat shows without asking again.
    call.gate().HideTimes(fs.Items().ChildPath(parent, name), &st);
    Item* item = fs.Items().Remember(parent, parentFd, name, st);
    if (!item)
        return (void)fuse_reply_err(req, errno);
    if (S_ISDIR(st.st_mode))
        ProtectionFs::NoteFolder(*item, ItemTable::ProcPathOf(parentFd, name), st);
    fuse_entry_param e{};
    e.ino = reinterpret_cast<fuse_ino_t>(item);
    e.attr = st;
    SendEntry(req, fs, call, parent, fs.Items().ChildPath(parent, name), name, &e);
}

void Init(void* userdata, fuse_conn_info* conn) {
    // The kernel removes set-user-ID bits and file capabilities before it
    // sends a write, as without the mount.
    conn->want &= ~FUSE_CAP_HANDLE_KILLPRIV;
    // The kernel keeps a file's pages from one open to the next only when
    // the open says the file did not change since (its content stamp), not
    // whenever a modification time it sees differs from the one it kept,
    // which after every write through the mount it does.
    conn->want &= ~FUSE_CAP_AUTO_INVAL_DATA;
    if (conn->capable & FUSE_CAP_EXPLICIT_INVAL_DATA)
        conn->want |= FUSE_CAP_EXPLICIT_INVAL_DATA;
    // Listings are filtered per caller; the kernel looks names up itself.
    conn->want &= ~(FUSE_CAP_READDIRPLUS | FUSE_CAP_READDIRPLUS_AUTO);
    if (conn->capable & FUSE_CAP_SPLICE_WRITE)
        conn->want |= FUSE_CAP_SPLICE_WRITE;
    if (conn->capable & FUSE_CAP_SPLICE_MOVE)
        conn->want |= FUSE_CAP_SPLICE_MOVE;
    // The caller's umask comes with each request, so that the lower file
    // system applies it, or a default ACL of the folder instead, as without us.
    if (conn->capable & FUSE_CAP_DONT_MASK) {
        conn->want |= FUSE_CAP_DONT_MASK;
        static_cast<ProtectionFs*>(userdata)->SetCallerUmaskSent(true);
    }
    conn->time_gran = 1;
}

void Lookup(fuse_req_t req, fuse_ino_t parentIno, const char* name) {
    ProtectionFs& fs = Fs(req);
    Item& parent = fs.Items().Get(parentIno);
    Call call(req);
    const ItemFdRef parentFd = FdFor(req, parent);
    // Done as the caller: needs the caller's search right on the folder.
    if (!parentFd || !call.Act())
        return;
    // Whether the name is a folder decides for entries without their subfolders.
    struct stat st;
    const bool folder = call.gate().Protected() &&
                        ::fstatat(parentFd->Get(), name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                        S_ISDIR(st.st_mode);
    if (const int refused =
            call.gate().Check(bits::Lookup(), fs.Items().ChildPath(parent, name), folder))
        return (void)fuse_reply_err(req, refused);
    ReplyEntry(req, fs, call, parent, parentFd->Get(), name);
}

void Forget(fuse_req_t req, fuse_ino_t ino, std::uint64_t count) {
    Fs(req).Items().Forget(ino, count);
    fuse_reply_none(req);
}

void ForgetMulti(fuse_req_t req, std::size_t count, fuse_forget_data* forgets) {
    for (std::size_t i = 0; i < count; ++i)
        Fs(req).Items().Forget(forgets[i].ino, forgets[i].nlookup);
    fuse_reply_none(req);
}

void GetAttr(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    ProtectionFs& fs = Fs(req);
    Item& item = fs.Items().Get(ino);
    Call call(req);
    const std::string path = fs.Items().PathOf(item);
    const ItemFdRef fd = FdFor(req, item);
    if (!fd)
        return;
    struct stat st;
    if (::fstatat(fd->Get(), "", &st, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) != 0)
        return (void)fuse_reply_err(req, errno);
    // A read, or an fstat of a file the caller holds open, is no asking by path.
    const bool opened =
        fi != nullptr || Holders().Holds(fuse_req_ctx(req)->pid, st.st_dev, st.st_ino);
    if (const int refused = call.gate().Check(bits::GetAttr(opened), path, S_ISDIR(st.st_mode)))
        return (void)fuse_reply_err(req, refused);
    call.gate().HideTimes(path, &st);
    if (S_ISDIR(st.st_mode))
        ProtectionFs::NoteFolder(item, ProcPath(fd->Get()), st);
    const double timeout = fs.AttrTimeout(call.policy(), path, st);
    fuse_reply_attr(req, &st, timeout);
    if (timeout > 0 && fs.Policy().Current()->Generation() != call.policy().Generation())
        fs.Notifier().Item(0, {}, ino);
}

void SetAttr(fuse_req_t req, fuse_ino_t ino, struct stat* attr, int toSet, fuse_file_info* fi) {
    ProtectionFs& fs = Fs(req);
    Item& item = fs.Items().Get(ino);
    Call call(req);
    const ItemFdRef fd = FdFor(req, item);
    if (!fd)
        return;
    struct stat before;
    const bool folder =
        ::fstatat(fd->Get(), "", &before, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(before.st_mode);
    if (const int refused =
            call.gate().Check(bits::SetAttr(toSet), fs.Items().PathOf(item), folder))
        return (void)fuse_reply_err(req, refused);
    if (!call.Act())
        return;
    const std::string proc = ProcPath(fd->Get());
    const int fileFd = fi ? FileOf(fi)->fd : -1;
    std::optional<ContentChange> change;
    if (!folder)
        change.emplace(item, fd->Get());
    int rc = 0;
    if (toSet & FUSE_SET_ATTR_MODE)
        rc = fileFd >= 0 ? ::fchmod(fileFd, attr->st_mode) : ::chmod(proc.c_str(), attr->st_mode);
    if (rc == 0 && (toSet & (FUSE_SET_ATTR_UID | FUSE_SET_ATTR_GID))) {
        const uid_t uid = (toSet & FUSE_SET_ATTR_UID) ? attr->st_uid : static_cast<uid_t>(-1);
        const gid_t gid = (toSet & FUSE_SET_ATTR_GID) ? attr->st_gid : static_cast<gid_t>(-1);
        rc = ::fchownat(fd->Get(), "", uid, gid, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW);
    }
    if (rc == 0 && (toSet & FUSE_SET_ATTR_SIZE))
        rc = fileFd >= 0 ? ::ftruncate(fileFd, attr->st_size)
                         : ::truncate(proc.c_str(), attr->st_size);
    if (rc == 0 && (toSet & (FUSE_SET_ATTR_ATIME | FUSE_SET_ATTR_MTIME | FUSE_SET_ATTR_ATIME_NOW |
                             FUSE_SET_ATTR_MTIME_NOW))) {
        timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
        if (toSet & FUSE_SET_ATTR_ATIME_NOW)
            times[0].tv_nsec = UTIME_NOW;
        else if (toSet & FUSE_SET_ATTR_ATIME)
            times[0] = attr->st_atim;
        if (toSet & FUSE_SET_ATTR_MTIME_NOW)
            times[1].tv_nsec = UTIME_NOW;
        else if (toSet & FUSE_SET_ATTR_MTIME)
            times[1] = attr->st_mtim;
        rc =
            fileFd >= 0 ? ::futimens(fileFd, times) : ::utimensat(AT_FDCWD, proc.c_str(), times, 0);
    }
    if (rc != 0)
        return (void)fuse_reply_err(req, errno);
    change.reset();
    struct stat st;
    if (::fstatat(fd->Get(), "", &st, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) != 0)
        return (void)fuse_reply_err(req, errno);
    fuse_reply_attr(req, &st, 0);
    // Who may search a folder decides which names the kernel may keep.
    if (S_ISDIR(st.st_mode) &&
        (toSet & (FUSE_SET_ATTR_MODE | FUSE_SET_ATTR_UID | FUSE_SET_ATTR_GID))) {
        ProtectionFs::NoteFolder(item, ProcPath(fd->Get()), st);
        fs.Notifier().AllLater();
    }
}

void ReadLink(fuse_req_t req, fuse_ino_t ino) {
    ProtectionFs& fs = Fs(req);
    Item& item = fs.Items().Get(ino);
    Call call(req);
    if (const int refused = call.gate().Check(bits::Lookup(), fs.Items().PathOf(item)))
        return (void)fuse_reply_err(req, refused);
    const ItemFdRef fd = FdFor(req, item);
    if (!fd)
        return;
    char target[PATH_MAX + 1];
    const ssize_t n = ::readlinkat(fd->Get(), "", target, sizeof target - 1);
    if (n < 0)
        return (void)fuse_reply_err(req, errno);
    target[n] = '\0';
    fuse_reply_readlink(req, target);
}

/// mknod, mkdir and symlink: decided on the new item's path, made by the caller.
template <typename Make>
void MakeItem(fuse_req_t req, fuse_ino_t parentIno, const char* name, std::uint32_t bits,
              Make make) {
    ProtectionFs& fs = Fs(req);
    Item& parent = fs.Items().Get(parentIno);
    Call call(req);
    if (const int refused = call.gate().Check(bits, fs.Items().ChildPath(parent, name)))
        return (void)fuse_reply_err(req, refused);
    const ItemFdRef parentFd = FdFor(req, parent);
    if (!parentFd || !call.Act())
        return;
    {
        CallerUmask umask(req, fs);
        if (make(parentFd->Get()) != 0)
            return (void)fuse_reply_err(req, errno);
    }
    ReplyEntry(req, fs, call, parent, parentFd->Get(), name);
}

void MkNod(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode, dev_t rdev) {
    MakeItem(req, parent, name, bits::Make(false),
             [&](int dirFd) { return ::mknodat(dirFd, name, mode, rdev); });
}

void MkDir(fuse_req_t req, fuse_ino_t parent, const char* name, mode_t mode) {
    MakeItem(req, parent, name, bits::Make(true),
             [&](int dirFd) { return ::mkdirat(dirFd, name, mode); });
}

void SymLink(fuse_req_t req, const char* link, fuse_ino_t parent, const char* name) {
    MakeItem(req, parent, name, bits::Make(false),
             [&](int dirFd) { return ::symlinkat(link, dirFd, name); });
}

void Link(fuse_req_t req, fuse_ino_t ino, fuse_ino_t newParentIno, const char* newName) {
    ProtectionFs& fs = Fs(req);
    Item& item = fs.Items().Get(ino);
    Item& newParent = fs.Items().Get(newParentIno);
    Call call(req);
    // A second name for an item is a way round its entry, as a rename is.
    int refused = call.gate().Check(bits::LinkSource(), fs.Items().PathOf(item));
    if (!refused)
        refused = call.gate().Check(bits::LinkTarget(), fs.Items().ChildPath(newParent, newName));
    if (refused)
        return (void)fuse_reply_err(req, refused);
    const ItemFdRef fd = FdFor(req, item);
    const ItemFdRef newParentFd = fd ? FdFor(req, newParent) : nullptr;
    if (!newParentFd || !call.Act())
        return;
    const std::string proc = ProcPath(fd->Get());
    if (::linkat(AT_FDCWD, proc.c_str(), newParentFd->Get(), newName, AT_SYMLINK_FOLLOW) != 0)
        return (void)fuse_reply_err(req, errno);
    ReplyEntry(req, fs, call, newParent, newParentFd->Get(), newName);
}

/// unlink and rmdir.
void Remove(fuse_req_t req, fuse_ino_t parentIno, const char* name, bool folder) {
    ProtectionFs& fs = Fs(req);
    Item& parent = fs.Items().Get(parentIno);
    Call call(req);
    const std::string path = fs.Items().ChildPath(parent, name);
    int refused = call.gate().Check(bits::Remove(folder), path, folder);
    if (!refused && folder)
        refused = call.gate().CheckHolds(op::kDirDelete, path);
    if (refused)
        return (void)fuse_reply_err(req, refused);
    const ItemFdRef parentFd = FdFor(req, parent);
    if (!parentFd || !call.Act())
        return;
    if (::unlinkat(parentFd->Get(), name, folder ? AT_REMOVEDIR : 0) != 0)
        return (void)fuse_reply_err(req, errno);
    fuse_reply_err(req, 0);
}

void Unlink(fuse_req_t req, fuse_ino_t parent, const char* name) {
    Remove(req, parent, name, false);
}

void RmDir(fuse_req_t req, fuse_ino_t parent, const char* name) {
    Remove(req, parent, name, true);
}

void Rename(fuse_req_t req, fuse_ino_t parentIno, const char* name, fuse_ino_t newParentIno,
            const char* newName, unsigned int flags) {
    ProtectionFs& fs = Fs(req);
    Item& parent = fs.Items().Get(parentIno);
    Item& newParent = fs.Items().Get(newParentIno);
    Call call(req);
    const std::string from = fs.Items().ChildPath(parent, name);
    const std::string to = fs.Items().ChildPath(newParent, newName);
    const ItemFdRef parentFd = FdFor(req, parent);
    const ItemFdRef newParentFd = parentFd ? FdFor(req, newParent) : nullptr;
    if (!newParentFd || !call.Act())
        return;
    struct stat source;
    struct stat target;
    if (::fstatat(parentFd->Get(), name, &source, AT_SYMLINK_NOFOLLOW) != 0)
        return (void)fuse_reply_err(req, errno);
    const bool targetExists =
        ::fstatat(newParentFd->Get(), newName, &target, AT_SYMLINK_NOFOLLOW) == 0;
    Gate& gate = call.gate();
    int refused = gate.Check(bits::RenameSource(), from, S_ISDIR(source.st_mode));
    // Moving a folder would carry protected items out of their entries' reach.
    if (!refused && S_ISDIR(source.st_mode))
        refused = gate.CheckHolds(op::kRename, from);
    if (!refused)
        refused = gate.Check(bits::RenameTarget(&parent == &newParent, targetExists,
                                                targetExists && S_ISDIR(target.st_mode),
                                                (flags & RENAME_EXCHANGE) != 0),
                             to, S_ISDIR((targetExists ? target : source).st_mode));
    if (!refused && targetExists && S_ISDIR(target.st_mode))
        refused = gate.CheckHolds(op::kReplace, to);
    if (refused)
        return (void)fuse_reply_err(req, refused);
    if (::renameat2(parentFd->Get(), name, newParentFd->Get(), newName, flags) != 0)
        return (void)fuse_reply_err(req, errno);
    fs.Items().Moved(newParent, newName, source.st_dev, source.st_ino);
    if ((flags & RENAME_EXCHANGE) && targetExists)
        fs.Items().Moved(parent, name, target.st_dev, target.st_ino);
    fuse_reply_err(req, 0);
}

/// Answers an open or create with the file `file` opened for the caller.
void ReplyOpened(fuse_req_t req, Call& call, Item& item, std::unique_ptr<OpenFile> file,
                 fuse_file_info* fi, const fuse_entry_param* entry) {
    file->generation = call.policy().Generation();
    struct stat st;
    const bool known = ::fstat(file->fd, &st) == 0;
    // Only a caller with rules can be refused its attributes.
    if (known && call.gate().Protected())
        Hold(req, *file, st);
    // The kernel drops its cached pages unless the file is as they hold it.
    fi->keep_cache = known && item.content.Opened(st);
    if (!known)
        item.content.Forget();
    fi->fh = reinterpret_cast<std::uint64_t>(file.release());
    fi->noflush = 1;
    const int rc = entry ? fuse_reply_create(req, entry, fi) : fuse_reply_open(req, fi);
    if (rc == -ENOENT)
        Drop(FileOf(fi));
}

void Open(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    ProtectionFs& fs = Fs(req);
    Item& item = fs.Items().Get(ino);
    Call call(req);
    if (const int refused = call.gate().Check(bits::Open(fi->flags), fs.Items().PathOf(item)))
        return (void)fuse_reply_err(req, refused);
    const ItemFdRef fd = FdFor(req, item);
    if (!fd || !call.Act())
        return;
    auto file = std::make_unique<OpenFile>();
    if (!file->Count(req, call.uid()))
        return;
    file->fd = ::open(ProcPath(fd->Get()).c_str(),
                      (fi->flags & ~(O_CREAT | O_EXCL | O_NOCTTY | O_NOFOLLOW)) | O_CLOEXEC);
    if (file->fd < 0)
        return (void)fuse_reply_err(req, errno);
    ReplyOpened(req, call, item, std::move(file), fi, nullptr);
}

void Create(fuse_req_t req, fuse_ino_t parentIno, const char* name, mode_t mode,
            fuse_file_info* fi) {
    ProtectionFs& fs = Fs(req);
    Item& parent = fs.Items().Get(parentIno);
    Call call(req);
    if (const int refused =
            call.gate().Check(bits::Create(fi->flags), fs.Items().ChildPath(parent, name)))
        return (void)fuse_reply_err(req, refused);
    const ItemFdRef parentFd = FdFor(req, parent);
    if (!parentFd || !call.Act())
        return;
    auto file = std::make_unique<OpenFile>();
    if (!file->Count(req, call.uid()))
        return;
    {
        CallerUmask umask(req, fs);
        file->fd =
            ::openat(parentFd->Get(), name, (fi->flags | O_CREAT | O_CLOEXEC) & ~O_NOFOLLOW, mode);
    }
    if (file->fd < 0)
        return (void)fuse_reply_err(req, errno);
    struct stat st;
    Item* item = nullptr;
    if (::fstat(file->fd, &st) == 0)
        item = fs.Items().Remember(parent, parentFd->Get(), name, st);
    if (!item) {
        const int error = errno;
        ::close(file->fd);
        return (void)fuse_reply_err(req, error);
    }
    fuse_entry_param e{};
    e.ino = reinterpret_cast<fuse_ino_t>(item);
    e.attr = st;
    const std::string path = fs.Items().ChildPath(parent, name);
    call.gate().HideTimes(path, &e.attr);
    FillTimeouts(fs, call, parent, path, &e);
    ReplyOpened(req, call, *item, std::move(file), fi, &e);
    TakeBackIfStale(fs, call, parent, name, e);
}

/// Whether reads or writes on an open file are still allowed: decided again
/// when another caller uses the descriptor or the policy changed since.
int CheckTransfer(fuse_req_t req, fuse_ino_t ino, OpenFile& file, std::uint32_t bit) {
    const fuse_ctx* ctx = fuse_req_ctx(req);
    ProtectionFs& fs = Fs(req);
    const auto policy = fs.Policy().Current();
    if (ctx->uid == file.uid && policy->Generation() == file.generation)
        return 0;
    Gate gate(*policy, ctx->uid, ctx->pid);
    return gate.Check(bit, fs.Items().PathOf(fs.Items().Get(ino)));
}

void Read(fuse_req_t req, fuse_ino_t ino, std::size_t size, off_t off, fuse_file_info* fi) {
    OpenFile& file = *FileOf(fi);
    if (const int refused = CheckTransfer(req, ino, file, op::kRead))
        return (void)fuse_reply_err(req, refused);
    fuse_bufvec buf = FUSE_BUFVEC_INIT(size);
    buf.buf[0].flags = static_cast<fuse_buf_flags>(FUSE_BUF_IS_FD | FUSE_BUF_FD_SEEK);
    buf.buf[0].fd = file.fd;
    buf.buf[0].pos = off;
    fuse_reply_data(req, &buf, FUSE_BUF_SPLICE_MOVE);
}

void WriteBuf(fuse_req_t req, fuse_ino_t ino, fuse_bufvec* in, off_t off, fuse_file_info* fi) {
    OpenFile& file = *FileOf(fi);
    if (const int refused = CheckTransfer(req, ino, file, op::kWrite))
        return (void)fuse_reply_err(req, refused);
    // As the caller: the file system's reserve for root is not the caller's.
    if (!ActFor(req))
        return;
    fuse_bufvec out = FUSE_BUFVEC_INIT(fuse_buf_size(in));
    out.buf[0].flags = static_cast<fuse_buf_flags>(FUSE_BUF_IS_FD | FUSE_BUF_FD_SEEK);
    out.buf[0].fd = file.fd;
    out.buf[0].pos = off;
    ssize_t n;
    {
        ContentChange change(Fs(req).Items().Get(ino), file.fd);
        n = fuse_buf_copy(&out, in, static_cast<fuse_buf_copy_flags>(0));
    }
    if (n < 0)
        return (void)fuse_reply_err(req, static_cast<int>(-n));
    fuse_reply_write(req, static_cast<std::size_t>(n));
}

void Release(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
    Drop(FileOf(fi));
    fuse_reply_err(req, 0);
}

void Fsync(fuse_req_t req, fuse_ino_t, int dataOnly, fuse_file_info* fi) {
    const int fd = FileOf(fi)->fd;
    fuse_reply_err(req, (dataOnly ? ::fdatasync(fd) : ::fsync(fd)) == 0 ? 0 : errno);
}

void Fallocate(fuse_req_t req, fuse_ino_t ino, int mode, off_t offset, off_t length,
               fuse_file_info* fi) {
    OpenFile& file = *FileOf(fi);
    ProtectionFs& fs = Fs(req);
    Call call(req);
    if (const int refused =
            call.gate().Check(bits::Fallocate(), fs.Items().PathOf(fs.Items().Get(ino))))
        return (void)fuse_reply_err(req, refused);
    if (!call.Act())
        return;
    int rc;
    {
        ContentChange change(fs.Items().Get(ino), file.fd);
        rc = ::fallocate(file.fd, mode, offset, length);
    }
    fuse_reply_err(req, rc == 0 ? 0 : errno);
}

void Lseek(fuse_req_t req, fuse_ino_t, off_t off, int whence, fuse_file_info* fi) {
    const off_t at = ::lseek(FileOf(fi)->fd, off, whence);
    if (at < 0)
        return (void)fuse_reply_err(req, errno);
    fuse_reply_lseek(req, at);
}

void OpenDirectory(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    ProtectionFs& fs = Fs(req);
    Item& item = fs.Items().Get(ino);
    Call call(req);
    if (const int refused = call.gate().Check(bits::OpenDirectory(), fs.Items().PathOf(item), true))
        return (void)fuse_reply_err(req, refused);
    const ItemFdRef fd = FdFor(req, item);
    if (!fd || !call.Act())
        return;
    auto dir = std::make_unique<OpenDir>();
    if (!dir->Count(req, call.uid()))
        return;
    const int dirFd = ::open(ProcPath(fd->Get()).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return (void)fuse_reply_err(req, errno);
    dir->dir = ::fdopendir(dirFd);
    if (!dir->dir) {
        const int error = errno;
        ::close(dirFd);
        return (void)fuse_reply_err(req, error);
    }
    fi->fh = reinterpret_cast<std::uint64_t>(dir.release());
    if (fuse_reply_open(req, fi) == -ENOENT) {
        ::closedir(DirOf(fi)->dir);
        delete DirOf(fi);
    }
}

void ReadDirectory(fuse_req_t req, fuse_ino_t ino, std::size_t size, off_t offset,
                   fuse_file_info* fi) {
    ProtectionFs& fs = Fs(req);
    OpenDir& dir = *DirOf(fi);
    Call call(req);
    const bool filter = call.gate().Protected();
    const std::string folder = filter ? fs.Items().PathOf(fs.Items().Get(ino)) : std::string();
    if (offset != dir.offset) {
        ::seekdir(dir.dir, offset);
        dir.entry = nullptr;
        dir.offset = offset;
    }
    std::vector<char> buffer(size);
    std::size_t used = 0;
    for (;;) {
        if (!dir.entry) {
            errno = 0;
            dir.entry = ::readdir(dir.dir);
            if (!dir.entry) {
                if (errno != 0 && used == 0)
                    return (void)fuse_reply_err(req, errno);
                break;
            }
        }
        const char* name = dir.entry->d_name;
        const off_t next = dir.entry->d_off;
        const bool dots = std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
        if (filter && !dots &&
            call.gate().Hidden(folder == "/" ? "/" + std::string(name) : folder + "/" + name,
                               dir.entry->d_type == DT_DIR)) {
            dir.entry = nullptr;
            dir.offset = next;
            continue;
        }
        struct stat st {};
        st.st_ino = dir.entry->d_ino;
        st.st_mode = static_cast<mode_t>(dir.entry->d_type) << 12;
        const std::size_t length =
            fuse_add_direntry(req, buffer.data() + used, size - used, name, &st, next);
        if (length > size - used)
            break;
        used += length;
        dir.entry = nullptr;
        dir.offset = next;
    }
    fuse_reply_buf(req, buffer.data(), used);
}

void ReleaseDirectory(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
    OpenDir* dir = DirOf(fi);
    ::closedir(dir->dir);
    delete dir;
    fuse_reply_err(req, 0);
}

void FsyncDirectory(fuse_req_t req, fuse_ino_t, int dataOnly, fuse_file_info* fi) {
    const int fd = ::dirfd(DirOf(fi)->dir);
    fuse_reply_err(req, (dataOnly ? ::fdatasync(fd) : ::fsync(fd)) == 0 ? 0 : errno);
}

void StatFs(fuse_req_t req, fuse_ino_t ino) {
    const ItemFdRef fd = FdFor(req, Fs(req).Items().Get(ino));
    if (!fd)
        return;
    struct statvfs st;
    if (::fstatvfs(fd->Get(), &st) != 0)
        return (void)fuse_reply_err(req, errno);
    fuse_reply_statfs(req, &st);
}

void Access(fuse_req_t req, fuse_ino_t ino, int mask) {
    ProtectionFs& fs = Fs(req);
    Item& item = fs.Items().Get(ino);
    Call call(req);
    if (const int refused = call.gate().Check(bits::Access(mask), fs.Items().PathOf(item)))
        return (void)fuse_reply_err(req, refused);
    const ItemFdRef fd = FdFor(req, item);
    if (!fd || !call.Act())
        return;
    const int rc = ::faccessat(AT_FDCWD, ProcPath(fd->Get()).c_str(), mask, AT_EACCESS);
    fuse_reply_err(req, rc == 0 ? 0 : errno);
}

/// Extended attributes are reached through the item's /proc path; symbolic
/// links carry none that a user may set.
template <typename Do>
void Xattr(fuse_req_t req, fuse_ino_t ino, std::uint32_t bits, Do run) {
    ProtectionFs& fs = Fs(req);
    Item& item = fs.Items().Get(ino);
    Call call(req);
    if (const int refused = call.gate().Check(bits, fs.Items().PathOf(item)))
        return (void)fuse_reply_err(req, refused);
    const ItemFdRef fd = FdFor(req, item);
    if (!fd)
        return;
    struct stat st {};
    if (::fstatat(fd->Get(), "", &st, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode))
        return (void)fuse_reply_err(req, ENOTSUP);
    if (!call.Act())
        return;
    run(ProcPath(fd->Get()).c_str());
    // An ACL of a folder decides which names the kernel may keep.
    if ((bits & op::kAttrSet) && S_ISDIR(st.st_mode) &&
        ::fstatat(fd->Get(), "", &st, AT_EMPTY_PATH) == 0) {
        ProtectionFs::NoteFolder(item, ProcPath(fd->Get()), st);
        fs.Notifier().AllLater();
    }
}

void SetXattr(fuse_req_t req, fuse_ino_t ino, const char* name, const char* value, std::size_t size,
              int flags) {
    Xattr(req, ino, bits::SetXattr(), [&](const char* path) {
        fuse_reply_err(req, ::setxattr(path, name, value, size, flags) == 0 ? 0 : errno);
    });
}

void RemoveXattr(fuse_req_t req, fuse_ino_t ino, const char* name) {
    Xattr(req, ino, bits::SetXattr(), [&](const char* path) {
        fuse_reply_err(req, ::removexattr(path, name) == 0 ? 0 : errno);
    });
}

/// getxattr and listxattr: the size alone when `size` is 0, else the bytes.
template <typename Get>
void ReplyXattrBytes(fuse_req_t req, std::size_t size, Get get) {
    if (size == 0) {
        const ssize_t n = get(nullptr, 0);
        return n < 0 ? (void)fuse_reply_err(req, errno)
                     : (void)fuse_reply_xattr(req, static_cast<std::size_t>(n));
    }
    std::vector<char> value(size);
    const ssize_t n = get(value.data(), size);
    if (n < 0)
        return (void)fuse_reply_err(req, errno);
    fuse_reply_buf(req, value.data(), static_cast<std::size_t>(n));
}

void GetXattr(fuse_req_t req, fuse_ino_t ino, const char* name, std::size_t size) {
    Xattr(req, ino, bits::GetXattr(), [&](const char* path) {
        ReplyXattrBytes(req, size, [&](char* value, std::size_t length) {
            return ::getxattr(path, name, value, length);
        });
    });
}

void ListXattr(fuse_req_t req, fuse_ino_t ino, std::size_t size) {
    Xattr(req, ino, bits::GetXattr(), [&](const char* path) {
        ReplyXattrBytes(req, size, [&](char* value, std::size_t length) {
            return ::listxattr(path, value, length);
        });
    });
}

fuse_lowlevel_ops MakeOperations() {
    fuse_lowlevel_ops ops{};
    ops.init = Init;
    ops.lookup = Lookup;
    ops.forget = Forget;
    ops.forget_multi = ForgetMulti;
    ops.getattr = GetAttr;
    ops.setattr = SetAttr;
    ops.readlink = ReadLink;
    ops.mknod = MkNod;
    ops.mkdir = MkDir;
    ops.symlink = SymLink;
    ops.link = Link;
    ops.unlink = Unlink;
    ops.rmdir = RmDir;
    ops.rename = Rename;
    ops.open = Open;
    ops.create = Create;
    ops.read = Read;
    ops.write_buf = WriteBuf;
    ops.release = Release;
    ops.fsync = Fsync;
    ops.fallocate = Fallocate;
    ops.lseek = Lseek;
    ops.opendir = OpenDirectory;
    ops.readdir = ReadDirectory;
    ops.releasedir = ReleaseDirectory;
    ops.fsyncdir = FsyncDirectory;
    ops.statfs = StatFs;
    ops.access = Access;
    ops.setxattr = SetXattr;
    ops.getxattr = GetXattr;
    ops.listxattr = ListXattr;
    ops.removexattr = RemoveXattr;
    return ops;
}

}  // namespace

ProtectionFs::ProtectionFs(std::string folder, int folderFd, const PublishedPolicy& policy)
    : folder_(folder),
      policy_(policy),
      items_(std::move(folder), folderFd),
      notifier_([this](std::vector<std::pair<fuse_ino_t, std::string>>* names,
                       std::vector<fuse_ino_t>* items) { items_.Known(names, items); }) {
    struct stat st;
    if (::fstat(folderFd, &st) == 0)
        NoteFolder(items_.Root(), ProcPath(folderFd), st);
}

void ProtectionFs::NoteFolder(Item& item, const std::string& path, const struct stat& st) {
    bool open = (st.st_mode & 0111) == 0111;
    if (open) {
        const ssize_t acl = ::getxattr(path.c_str(), "system.posix_acl_access", nullptr, 0);
        open = acl < 0 && (errno == ENODATA || errno == ENOTSUP);
    }
    item.openToAll = open;
}

double ProtectionFs::AttrTimeout(const driver::Policy& policy, std::string_view path,
                                 const struct stat& st) const {
    // Another name of a file may lie under other entries.
    if (!S_ISDIR(st.st_mode) && st.st_nlink > 1)
        return 0;
    return policy.CallerDependent(path) ? 0 : kKeepSeconds;
}

double ProtectionFs::EntryTimeout(const driver::Policy& policy, const Item& parent,
                                  std::string_view path, const struct stat& st) const {
    return parent.openToAll && AttrTimeout(policy, path, st) > 0 ? kKeepSeconds : 0;
}

ProtectionFs::~ProtectionFs() = default;

const fuse_lowlevel_ops& ProtectionFs::Operations() {
    static const fuse_lowlevel_ops ops = MakeOperations();
    return ops;
}

void ProtectionFs::PrepareServingThread() {
    // The umask belongs to the file-system context, shared by the threads
    // of a process unless one takes its own.
    if (::unshare(CLONE_FS) == 0)
        ::umask(0);
}

}  // namespace kv::driver::mounts
