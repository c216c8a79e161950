#include "EmptyFs.h"

#define FUSE_USE_VERSION 312
#include <fcntl.h>
#include <fuse_lowlevel.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace kv::bench {

namespace {

constexpr fuse_ino_t kFile = 2;

struct stat AttrOf(fuse_ino_t ino) {
    struct stat st {};
    st.st_ino = ino;
    st.st_nlink = ino == FUSE_ROOT_ID ? 2 : 1;
    st.st_mode = ino == FUSE_ROOT_ID ? (S_IFDIR | 0755) : (S_IFREG | 0644);
    return st;
}

void Lookup(fuse_req_t req, fuse_ino_t parent, const char* name) {
    if (parent != FUSE_ROOT_ID || std::strcmp(name, "file") != 0)
        return (void)fuse_reply_err(req, ENOENT);
    fuse_entry_param e{};
    e.ino = kFile;
    e.attr = AttrOf(kFile);
    fuse_reply_entry(req, &e);
}

void GetAttr(fuse_req_t req, fuse_ino_t ino, fuse_file_info*) {
    const struct stat st = AttrOf(ino);
    fuse_reply_attr(req, &st, 0);
}

void Open(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
    fi->keep_cache = 1;
    fi->noflush = 1;
    fuse_reply_open(req, fi);
}

void Release(fuse_req_t req, fuse_ino_t, fuse_file_info*) {
    fuse_reply_err(req, 0);
}

fuse_lowlevel_ops Operations() {
    fuse_lowlevel_ops ops{};
    ops.lookup = Lookup;
    ops.getattr = GetAttr;
    ops.open = Open;
    ops.release = Release;
    return ops;
}

}  // namespace

struct EmptyFs::State {
    std::string at;
    fuse_session* session = nullptr;
    std::vector<std::thread> threads;
};

std::unique_ptr<EmptyFs> EmptyFs::MountAt(const std::string& at) {
    const int device = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (device < 0)
        return nullptr;
    const std::string options =
        "fd=" + std::to_string(device) + ",rootmode=40000,user_id=0,group_id=0,allow_other";
    if (::mount("kvbench", at.c_str(), "fuse.kvbench", MS_NOSUID | MS_NODEV, options.c_str()) !=
        0) {
        ::close(device);
        return nullptr;
    }
    std::unique_ptr<EmptyFs> fs(new EmptyFs);
    fs->state_ = std::make_unique<State>();
    fs->state_->at = at;
    static const fuse_lowlevel_ops ops = Operations();
    std::string program = "bench";
    char* argv[] = {program.data(), nullptr};
    fuse_args args = FUSE_ARGS_INIT(1, argv);
    fs->state_->session = fuse_session_new(&args, &ops, sizeof ops, nullptr);
    const std::string deviceName = "/dev/fd/" + std::to_string(device);
    if (!fs->state_->session || fuse_session_mount(fs->state_->session, deviceName.c_str()) != 0) {
        ::umount2(at.c_str(), MNT_DETACH);
        if (!fs->state_->session)
            ::close(device);
        return nullptr;
    }
    // As many serving threads as the protection mounts have callers of one
    // uid waiting on them here: one at a time.
    for (int i = 0; i < 2; ++i) {
        fs->state_->threads.emplace_back([session = fs->state_->session] {
            fuse_buf buffer{};
            for (;;) {
                const int n = fuse_session_receive_buf(session, &buffer);
                if (n == -EINTR || n == -EAGAIN)
                    continue;
                if (n <= 0)
                    break;
                fuse_session_process_buf(session, &buffer);
            }
            std::free(buffer.mem);
        });
    }
    return fs;
}

EmptyFs::~EmptyFs() {
    if (!state_ || !state_->session)
        return;
    // Unmounted with no user left, the connection ends and every reader returns.
    ::umount2(state_->at.c_str(), MNT_DETACH);
    for (std::thread& t : state_->threads)
        t.join();
    fuse_session_destroy(state_->session);
}

}  // namespace kv::bench
