#include "driver/mounts/ProtectionFs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "driver/mounts/Caller.h"
#include "driver/mounts/Gate.h"
#include "driver/mounts/OpenHolders.h"
#include "driver/mounts/OperationBits.h"

namespace kv::driver::mounts {

namespace {

ProtectionFs& Fs(fuse_req_t req) {
    return *static_cast<ProtectionFs*>(fuse_req_userdata(req));
}

/// "/proc/self/fd/N": reaches the item of an O_PATH handle for the calls that
/// take no handle (open, xattrs, link) with the caller's rights.
struct ProcPath {
    explicit ProcPath(int fd) { std::snprintf(text, sizeof text, "/proc/self/fd/%d", fd); }
    char text[40];
};

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
    // A process that is gone acts with its own uid and gid only.
    slot.groups.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    slot.pid = count >= 0 ? ctx->pid : 0;
    slot.uid = ctx->uid;
    slot.gid = ctx->gid;
    slot.read = now;
    return slot.groups;
}

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

    /// Acts as the caller; null (with the request answered) when the
    /// caller's identity cannot be taken.
    std::unique_ptr<ActAs> Act() {
        const std::vector<gid_t>& groups = GroupsOf(req_, ctx_);
        auto as = std::make_unique<ActAs>(ctx_->uid, ctx_->gid, groups.data(),
                                          static_cast<int>(groups.size()));
        if (!as->Ok()) {
            as.reset();
            fuse_reply_err(req_, EPERM);
        }
        return as;
    }

private:
    fuse_req_t req_;
    const fuse_ctx* ctx_;
    std::shared_ptr<const Policy> policy_;
    Gate gate_;
};

/// An open file: its descriptor and the caller and policy it was allowed for,
/// so that reads and writes are decided again only when either changes.
struct OpenFile {
    int fd = -1;
    uid_t uid = 0;
    std::uint64_t generation = 0;
    /// The process that opened it and the item, while it holds it (OpenHolders).
    pid_t pid = 0;
    dev_t dev = 0;
    ino_t ino = 0;
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

struct OpenDir {
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

/// Answers with an entry for `name` in `parent` after the caller made it.
void ReplyEntry(fuse_req_t req, ProtectionFs& fs, Gate& gate, ProtectionFs::Inode& parent,
                const char* name) {
    struct stat st;
    if (::fstatat(parent.fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        fuse_reply_err(req, errno);
        return;
    }
    // What the kernel keeps of a reply is what stat shows without asking again.
    gate.HideTimes(fs.ChildPath(parent, name), &st);
    ProtectionFs::Inode* inode = fs.Remember(parent, name, st);
    if (!inode) {
        fuse_reply_err(req, errno);
        return;
    }
    fuse_entry_param e{};
    e.ino = reinterpret_cast<fuse_ino_t>(inode);
    e.attr = st;
    fuse_reply_entry(req, &e);
}

void Init(void*, fuse_conn_info* conn) {
    // The kernel kills set-user-ID bits itself (our writes run as root).
    conn->want &= ~FUSE_CAP_HANDLE_KILLPRIV;
    // Listings are filtered per caller; the kernel looks names up itself.
    conn->want &= ~(FUSE_CAP_READDIRPLUS | FUSE_CAP_READDIRPLUS_AUTO);
    if (conn->capable & FUSE_CAP_SPLICE_WRITE)
        conn->want |= FUSE_CAP_SPLICE_WRITE;
    if (conn->capable & FUSE_CAP_SPLICE_MOVE)
        conn->want |= FUSE_CAP_SPLICE_MOVE;
    conn->time_gran = 1;
}

void Lookup(fuse_req_t req, fuse_ino_t parentIno, const char* name) {
    ProtectionFs& fs = Fs(req);
    ProtectionFs::Inode& parent = fs.Get(parentIno);
    Call call(req);
    const std::string path = fs.ChildPath(parent, name);
    struct stat st;
    {
        auto as = call.Act();
        if (!as)
            return;
        // Done as the caller: needs the caller's search right on the folder.
        if (::fstatat(parent.fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return (void)fuse_reply_err(req, errno);
    }
    if (const int refused = call.gate().Check(bits::Lookup(), path, S_ISDIR(st.st_mode)))
        return (void)fuse_reply_err(req, refused);
    ProtectionFs::Inode* inode = fs.Remember(parent, name, st);
    if (!inode)
        return (void)fuse_reply_err(req, errno);
    fuse_entry_param e{};
    e.ino = reinterpret_cast<fuse_ino_t>(inode);
    // What the kernel keeps of a lookup is what stat shows without asking again.
    call.gate().HideTimes(path, &st);
    e.attr = st;
    fuse_reply_entry(req, &e);
}

void Forget(fuse_req_t req, fuse_ino_t ino, std::uint64_t count) {
    Fs(req).Forget(ino, count);
    fuse_reply_none(req);
}

void ForgetMulti(fuse_req_t req, std::size_t count, fuse_forget_data* forgets) {
    for (std::size_t i = 0; i < count; ++i)
        Fs(req).Forget(forgets[i].ino, forgets[i].nlookup);
    fuse_reply_none(req);
}

void GetAttr(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    ProtectionFs& fs = Fs(req);
    ProtectionFs::Inode& inode = fs.Get(ino);
    Call call(req);
    const std::string path = fs.PathOf(inode);
    const bool opened =
        fi != nullptr || Holders().Holds(fuse_req_ctx(req)->pid, inode.dev, inode.ino);
    struct stat st;
    if (::fstatat(inode.fd, "", &st, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) != 0)
        return (void)fuse_reply_err(req, errno);
    if (const int refused = call.gate().Check(bits::GetAttr(opened), path, S_ISDIR(st.st_mode)))
        return (void)fuse_reply_err(req, refused);
    call.gate().HideTimes(path, &st);
    fuse_reply_attr(req, &st, 0);
}

void SetAttr(fuse_req_t req, fuse_ino_t ino, struct stat* attr, int toSet, fuse_file_info* fi) {
    ProtectionFs& fs = Fs(req);
    ProtectionFs::Inode& inode = fs.Get(ino);
    Call call(req);
    struct stat before;
    const bool folder =
        ::fstatat(inode.fd, "", &before, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(before.st_mode);
    if (const int refused = call.gate().Check(bits::SetAttr(toSet), fs.PathOf(inode), folder))
        return (void)fuse_reply_err(req, refused);
    auto as = call.Act();
    if (!as)
        return;
    const ProcPath proc(inode.fd);
    const int fileFd = fi ? FileOf(fi)->fd : -1;
    int rc = 0;
    if (toSet & FUSE_SET_ATTR_MODE)
        rc = fileFd >= 0 ? ::fchmod(fileFd, attr->st_mode) : ::chmod(proc.text, attr->st_mode);
    if (rc == 0 && (toSet & (FUSE_SET_ATTR_UID | FUSE_SET_ATTR_GID))) {
        const uid_t uid = (toSet & FUSE_SET_ATTR_UID) ? attr->st_uid : static_cast<uid_t>(-1);
        const gid_t gid = (toSet & FUSE_SET_ATTR_GID) ? attr->st_gid : static_cast<gid_t>(-1);
        rc = ::fchownat(inode.fd, "", uid, gid, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW);
    }
    if (rc == 0 && (toSet & FUSE_SET_ATTR_SIZE))
        rc =
            fileFd >= 0 ? ::ftruncate(fileFd, attr->st_size) : ::truncate(proc.text, attr->st_size);
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
        rc = fileFd >= 0 ? ::futimens(fileFd, times) : ::utimensat(AT_FDCWD, proc.text, times, 0);
    }
    if (rc != 0)
        return (void)fuse_reply_err(req, errno);
    struct stat st;
    if (::fstatat(inode.fd, "", &st, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) != 0)
        return (void)fuse_reply_err(req, errno);
    fuse_reply_attr(req, &st, 0);
}

void ReadLink(fuse_req_t req, fuse_ino_t ino) {
    ProtectionFs& fs = Fs(req);
    ProtectionFs::Inode& inode = fs.Get(ino);
    Call call(req);
    if (const int refused = call.gate().Check(bits::Lookup(), fs.PathOf(inode)))
        return (void)fuse_reply_err(req, refused);
    char target[PATH_MAX + 1];
    const ssize_t n = ::readlinkat(inode.fd, "", target, sizeof target - 1);
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
    ProtectionFs::Inode& parent = fs.Get(parentIno);
    Call call(req);
    if (const int refused = call.gate().Check(bits, fs.ChildPath(parent, name)))
        return (void)fuse_reply_err(req, refused);
    {
        auto as = call.Act();
        if (!as)
            return;
        if (make(parent.fd) != 0)
            return (void)fuse_reply_err(req, errno);
    }
    ReplyEntry(req, fs, call.gate(), parent, name);
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
    ProtectionFs::Inode& inode = fs.Get(ino);
    ProtectionFs::Inode& newParent = fs.Get(newParentIno);
    Call call(req);
    // A second name for an item is a way round its entry, as a rename is.
    int refused = call.gate().Check(bits::LinkSource(), fs.PathOf(inode));
    if (!refused)
        refused = call.gate().Check(bits::LinkTarget(), fs.ChildPath(newParent, newName));
    if (refused)
        return (void)fuse_reply_err(req, refused);
    {
        auto as = call.Act();
        if (!as)
            return;
        const ProcPath proc(inode.fd);
        if (::linkat(AT_FDCWD, proc.text, newParent.fd, newName, AT_SYMLINK_FOLLOW) != 0)
            return (void)fuse_reply_err(req, errno);
    }
    ReplyEntry(req, fs, call.gate(), newParent, newName);
}

/// unlink and rmdir.
void Remove(fuse_req_t req, fuse_ino_t parentIno, const char* name, bool folder) {
    ProtectionFs& fs = Fs(req);
    ProtectionFs::Inode& parent = fs.Get(parentIno);
    Call call(req);
    const std::string path = fs.ChildPath(parent, name);
    int refused = call.gate().Check(bits::Remove(folder), path, folder);
    if (!refused && folder)
        refused = call.gate().CheckHolds(op::kDirDelete, path);
    if (refused)
        return (void)fuse_reply_err(req, refused);
    auto as = call.Act();
    if (!as)
        return;
    if (::unlinkat(parent.fd, name, folder ? AT_REMOVEDIR : 0) != 0)
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
    ProtectionFs::Inode& parent = fs.Get(parentIno);
    ProtectionFs::Inode& newParent = fs.Get(newParentIno);
    Call call(req);
    const std::string from = fs.ChildPath(parent, name);
    const std::string to = fs.ChildPath(newParent, newName);
    struct stat source;
    struct stat target;
    if (::fstatat(parent.fd, name, &source, AT_SYMLINK_NOFOLLOW) != 0)
        return (void)fuse_reply_err(req, errno);
    const bool targetExists = ::fstatat(newParent.fd, newName, &target, AT_SYMLINK_NOFOLLOW) == 0;
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
    if (!refused && targetExists) {
        if (S_ISDIR(target.st_mode))
            refused = gate.CheckHolds(op::kReplace, to);
    }
    if (refused)
        return (void)fuse_reply_err(req, refused);
    {
        auto as = call.Act();
        if (!as)
            return;
        if (::renameat2(parent.fd, name, newParent.fd, newName, flags) != 0)
            return (void)fuse_reply_err(req, errno);
    }
    fs.Moved(newParent, newName, source.st_dev, source.st_ino);
    if ((flags & RENAME_EXCHANGE) && targetExists)
        fs.Moved(parent, name, target.st_dev, target.st_ino);
    fuse_reply_err(req, 0);
}

/// Opens the item of `inode` for the caller and answers the request.
void OpenAs(fuse_req_t req, Call& call, const ProcPath& proc, int flags, fuse_file_info* fi) {
    auto file = std::make_unique<OpenFile>();
    {
        auto as = call.Act();
        if (!as)
            return;
        file->fd =
            ::open(proc.text, (flags & ~(O_CREAT | O_EXCL | O_NOCTTY | O_NOFOLLOW)) | O_CLOEXEC);
        if (file->fd < 0)
            return (void)fuse_reply_err(req, errno);
    }
    file->uid = call.uid();
    file->generation = call.policy().Generation();
    // Only a caller with rules can be refused its attributes.
    if (struct stat st; call.gate().Protected() && ::fstat(file->fd, &st) == 0)
        Hold(req, *file, st);
    fi->fh = reinterpret_cast<std::uint64_t>(file.release());
    fi->keep_cache = 1;
    fi->noflush = 1;
    if (fuse_reply_open(req, fi) == -ENOENT)
        Drop(FileOf(fi));
}

void Open(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    ProtectionFs& fs = Fs(req);
    ProtectionFs::Inode& inode = fs.Get(ino);
    Call call(req);
    if (const int refused = call.gate().Check(bits::Open(fi->flags), fs.PathOf(inode)))
        return (void)fuse_reply_err(req, refused);
    OpenAs(req, call, ProcPath(inode.fd), fi->flags, fi);
}

void Create(fuse_req_t req, fuse_ino_t parentIno, const char* name, mode_t mode,
            fuse_file_info* fi) {
    ProtectionFs& fs = Fs(req);
    ProtectionFs::Inode& parent = fs.Get(parentIno);
    Call call(req);
    if (const int refused = call.gate().Check(bits::Create(fi->flags), fs.ChildPath(parent, name)))
        return (void)fuse_reply_err(req, refused);
    auto file = std::make_unique<OpenFile>();
    {
        auto as = call.Act();
        if (!as)
            return;
        file->fd = ::openat(parent.fd, name, (fi->flags | O_CREAT | O_CLOEXEC) & ~O_NOFOLLOW, mode);
        if (file->fd < 0)
            return (void)fuse_reply_err(req, errno);
    }
    struct stat st;
    if (::fstat(file->fd, &st) != 0) {
        const int error = errno;
        ::close(file->fd);
        return (void)fuse_reply_err(req, error);
    }
    ProtectionFs::Inode* inode = fs.Remember(parent, name, st);
    if (!inode) {
        const int error = errno;
        ::close(file->fd);
        return (void)fuse_reply_err(req, error);
    }
    file->uid = call.uid();
    file->generation = call.policy().Generation();
    if (call.gate().Protected())
        Hold(req, *file, st);
    fi->fh = reinterpret_cast<std::uint64_t>(file.release());
    fi->keep_cache = 1;
    fi->noflush = 1;
    fuse_entry_param e{};
    e.ino = reinterpret_cast<fuse_ino_t>(inode);
    call.gate().HideTimes(fs.ChildPath(parent, name), &st);
    e.attr = st;
    if (fuse_reply_create(req, &e, fi) == -ENOENT)
        Drop(FileOf(fi));
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
    return gate.Check(bit, fs.PathOf(fs.Get(ino)));
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
    fuse_bufvec out = FUSE_BUFVEC_INIT(fuse_buf_size(in));
    out.buf[0].flags = static_cast<fuse_buf_flags>(FUSE_BUF_IS_FD | FUSE_BUF_FD_SEEK);
    out.buf[0].fd = file.fd;
    out.buf[0].pos = off;
    const ssize_t n = fuse_buf_copy(&out, in, static_cast<fuse_buf_copy_flags>(0));
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
    if (const int refused = call.gate().Check(bits::Fallocate(), fs.PathOf(fs.Get(ino))))
        return (void)fuse_reply_err(req, refused);
    fuse_reply_err(req, ::fallocate(file.fd, mode, offset, length) == 0 ? 0 : errno);
}

void Lseek(fuse_req_t req, fuse_ino_t, off_t off, int whence, fuse_file_info* fi) {
    const off_t at = ::lseek(FileOf(fi)->fd, off, whence);
    if (at < 0)
        return (void)fuse_reply_err(req, errno);
    fuse_reply_lseek(req, at);
}

void OpenDirectory(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    ProtectionFs& fs = Fs(req);
    ProtectionFs::Inode& inode = fs.Get(ino);
    Call call(req);
    if (const int refused = call.gate().Check(bits::OpenDirectory(), fs.PathOf(inode), true))
        return (void)fuse_reply_err(req, refused);
    auto dir = std::make_unique<OpenDir>();
    {
        auto as = call.Act();
        if (!as)
            return;
        const int fd = ::open(ProcPath(inode.fd).text, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return (void)fuse_reply_err(req, errno);
        dir->dir = ::fdopendir(fd);
        if (!dir->dir) {
            const int error = errno;
            ::close(fd);
            return (void)fuse_reply_err(req, error);
        }
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
    const std::string folder = filter ? fs.PathOf(fs.Get(ino)) : std::string();
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
    struct statvfs st;
    if (::fstatvfs(Fs(req).Get(ino).fd, &st) != 0)
        return (void)fuse_reply_err(req, errno);
    fuse_reply_statfs(req, &st);
}

void Access(fuse_req_t req, fuse_ino_t ino, int mask) {
    ProtectionFs& fs = Fs(req);
    ProtectionFs::Inode& inode = fs.Get(ino);
    Call call(req);
    if (const int refused = call.gate().Check(bits::Access(mask), fs.PathOf(inode)))
        return (void)fuse_reply_err(req, refused);
    auto as = call.Act();
    if (!as)
        return;
    const int rc = ::faccessat(AT_FDCWD, ProcPath(inode.fd).text, mask, AT_EACCESS);
    fuse_reply_err(req, rc == 0 ? 0 : errno);
}

/// Extended attributes are reached through the item's /proc path; symbolic
/// links carry none that a user may set.
template <typename Do>
void Xattr(fuse_req_t req, fuse_ino_t ino, std::uint32_t bits, Do run) {
    ProtectionFs& fs = Fs(req);
    ProtectionFs::Inode& inode = fs.Get(ino);
    Call call(req);
    if (const int refused = call.gate().Check(bits, fs.PathOf(inode)))
        return (void)fuse_reply_err(req, refused);
    struct stat st;
    if (::fstatat(inode.fd, "", &st, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode))
        return (void)fuse_reply_err(req, ENOTSUP);
    auto as = call.Act();
    if (!as)
        return;
    run(ProcPath(inode.fd).text);
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

ProtectionFs::Inode::~Inode() {
    if (fd >= 0)
        ::close(fd);
}

ProtectionFs::ProtectionFs(std::string folder, int folderFd, const PublishedPolicy& policy)
    : folder_(std::move(folder)), policy_(policy), root_(std::make_shared<Inode>()) {
    root_->fd = folderFd;
    struct stat st;
    if (::fstat(folderFd, &st) == 0) {
        root_->dev = st.st_dev;
        root_->ino = st.st_ino;
    }
    root_->lookups = 1;
}

ProtectionFs::~ProtectionFs() = default;

const fuse_lowlevel_ops& ProtectionFs::Operations() {
    static const fuse_lowlevel_ops ops = MakeOperations();
    return ops;
}

ProtectionFs::Inode& ProtectionFs::Get(fuse_ino_t ino) {
    return ino == FUSE_ROOT_ID ? *root_ : *reinterpret_cast<Inode*>(ino);
}

std::string ProtectionFs::PathOf(const Inode& inode) {
    std::shared_lock lock(mutex_);
    std::vector<const std::string*> names;
    for (const Inode* at = &inode; at->parent; at = at->parent.get())
        names.push_back(&at->name);
    std::string path = folder_;
    for (auto it = names.rbegin(); it != names.rend(); ++it)
        (path += '/') += **it;
    return path;
}

std::string ProtectionFs::ChildPath(const Inode& parent, const char* name) {
    return PathOf(parent) + "/" + name;
}

std::shared_ptr<ProtectionFs::Inode> ProtectionFs::RefOf(const Inode& inode) {
    if (&inode == root_.get())
        return root_;
    const auto it = inodes_.find({inode.dev, inode.ino});
    return it == inodes_.end() ? nullptr : it->second;
}

ProtectionFs::Inode* ProtectionFs::Remember(Inode& parent, const char* name,
                                            const struct stat& st) {
    const Key key{st.st_dev, st.st_ino};
    if (key == Key{root_->dev, root_->ino}) {
        errno = ELOOP;  // the folder itself seen through a link inside it
        return nullptr;
    }
    std::shared_ptr<Inode> found;
    {
        std::unique_lock lock(mutex_);
        if (const auto it = inodes_.find(key); it != inodes_.end()) {
            found = it->second;
            ++found->lookups;
        }
    }
    if (!found) {
        // Opened outside the lock; another thread may have made it meanwhile.
        const int fd = ::openat(parent.fd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            return nullptr;
        std::unique_lock lock(mutex_);
        auto& slot = inodes_[key];
        if (!slot) {
            slot = std::make_shared<Inode>();
            slot->fd = fd;
            slot->dev = st.st_dev;
            slot->ino = st.st_ino;
        } else {
            ::close(fd);
        }
        ++slot->lookups;
        found = slot;
    }
    std::unique_lock lock(mutex_);
    std::shared_ptr<Inode> parentRef = RefOf(parent);
    if (parentRef && (found->parent != parentRef || found->name != name)) {
        found->parent = std::move(parentRef);
        found->name = name;
    }
    return found.get();
}

void ProtectionFs::Forget(fuse_ino_t ino, std::uint64_t count) {
    if (ino == FUSE_ROOT_ID)
        return;
    Inode& inode = Get(ino);
    std::unique_lock lock(mutex_);
    inode.lookups -= std::min(inode.lookups, count);
    if (inode.lookups == 0)
        inodes_.erase({inode.dev, inode.ino});
}

void ProtectionFs::Moved(Inode& newParent, const char* newName, dev_t dev, ino_t ino) {
    std::unique_lock lock(mutex_);
    const auto it = inodes_.find({dev, ino});
    std::shared_ptr<Inode> newParentRef = RefOf(newParent);
    if (it == inodes_.end() || !newParentRef)
        return;
    it->second->parent = std::move(newParentRef);
    it->second->name = newName;
}

}  // namespace kv::driver::mounts
