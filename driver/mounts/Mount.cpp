#include "driver/mounts/Mount.h"

#include "driver/mounts/MountInfo.h"
#include "driver/mounts/ProtectionFs.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace kv::driver::mounts {

namespace {

/// Flags that keep the mount no more permissive than the file system it covers.
unsigned long MountFlags(int folderFd) {
    unsigned long flags = 0;
    struct statvfs st;
    if (::fstatvfs(folderFd, &st) == 0) {
        if (st.f_flag & ST_NOSUID)
            flags |= MS_NOSUID;
        if (st.f_flag & ST_NODEV)
            flags |= MS_NODEV;
        if (st.f_flag & ST_NOEXEC)
            flags |= MS_NOEXEC;
        if (st.f_flag & ST_RDONLY)
            flags |= MS_RDONLY;
    }
    return flags;
}

/// Interrupts a serving thread's blocking read (installed without SA_RESTART).
void Wake(int) {}

void InstallWakeSignal() {
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_handler = Wake;
        ::sigemptyset(&action.sa_mask);
        ::sigaction(Mount::kWakeSignal, &action, nullptr);
        return true;
    }();
    (void)installed;
}

/// The mount attributes of MountFlags for the new mount interface.
unsigned int MountAttributes(unsigned long flags) {
    unsigned int attributes = 0;
    if (flags & MS_NOSUID)
        attributes |= MOUNT_ATTR_NOSUID;
    if (flags & MS_NODEV)
        attributes |= MOUNT_ATTR_NODEV;
    if (flags & MS_NOEXEC)
        attributes |= MOUNT_ATTR_NOEXEC;
    if (flags & MS_RDONLY)
        attributes |= MOUNT_ATTR_RDONLY;
    return attributes;
}

#ifndef MOVE_MOUNT_BENEATH
#define MOVE_MOUNT_BENEATH 0x00000200
#endif

/// Mounts the file system of `device` beneath the top mount at `at`; its
/// device number ("major:minor"), or the empty text with errno set.
std::string MountBeneath(int device, int folderFd, const std::string& at) {
    const int fs = ::fsopen("fuse", FSOPEN_CLOEXEC);
    if (fs < 0)
        return {};
    const std::string fd = std::to_string(device);
    const bool configured = ::fsconfig(fs, FSCONFIG_SET_STRING, "source", "kestrava", 0) == 0 &&
                            ::fsconfig(fs, FSCONFIG_SET_STRING, "subtype", "kestrava", 0) == 0 &&
                            ::fsconfig(fs, FSCONFIG_SET_STRING, "fd", fd.c_str(), 0) == 0 &&
                            ::fsconfig(fs, FSCONFIG_SET_STRING, "rootmode", "40000", 0) == 0 &&
                            ::fsconfig(fs, FSCONFIG_SET_STRING, "user_id", "0", 0) == 0 &&
                            ::fsconfig(fs, FSCONFIG_SET_STRING, "group_id", "0", 0) == 0 &&
                            ::fsconfig(fs, FSCONFIG_SET_FLAG, "allow_other", nullptr, 0) == 0 &&
                            ::fsconfig(fs, FSCONFIG_CMD_CREATE, nullptr, nullptr, 0) == 0;
    const int mounted =
        configured ? ::fsmount(fs, FSMOUNT_CLOEXEC, MountAttributes(MountFlags(folderFd))) : -1;
    const int error = errno;
    ::close(fs);
    if (mounted < 0) {
        errno = error;
        return {};
    }
    // Without asking the file system, which answers only once it is served.
    struct statx st;
    std::string number;
    if (::statx(mounted, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_TYPE, &st) == 0 &&
        ::move_mount(mounted, "", AT_FDCWD, at.c_str(),
                     MOVE_MOUNT_F_EMPTY_PATH | MOVE_MOUNT_BENEATH) == 0)
        number = std::to_string(st.stx_dev_major) + ":" + std::to_string(st.stx_dev_minor);
    const int moveError = errno;
    ::close(mounted);  // a mount never attached goes with its descriptor
    errno = moveError;
    return number;
}

/// Sets how far the kernel reads ahead in files of the mount with the
/// block-device number `device` ("major:minor"). 512 KiB read sequential
/// files fastest here: twice as many round trips at the default 128 KiB,
/// and a reply of 1 MiB with its header no longer fits the pipe it is
/// spliced through.
void SetReadAhead(const std::string& device) {
    constexpr const char* kReadAheadKb = "512";
    if (device.empty())
        return;
    const std::string path = "/sys/class/bdi/" + device + "/read_ahead_kb";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    (void)!::write(fd, kReadAheadKb, std::strlen(kReadAheadKb));
    ::close(fd);
}

}  // namespace

std::unique_ptr<Mount> Mount::Create(const std::string& folder, const PublishedPolicy& policy,
                                     std::string* error) {
    const int folderFd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folderFd < 0) {
        *error = "cannot open " + folder + ": " + std::strerror(errno);
        return nullptr;
    }
    return CreateAt(folder, folderFd, folder, Placement::kOnTop, policy, error);
}

std::unique_ptr<Mount> Mount::CreateAt(const std::string& folder, int folderFd,
                                       const std::string& at, Placement placement,
                                       const PublishedPolicy& policy, std::string* error) {
    std::unique_ptr<Mount> mount(new Mount());
    mount->folder_ = folder;
    mount->record_ = RecordFolder(folder, folderFd);
    mount->fs_ = std::make_unique<ProtectionFs>(folder, folderFd, policy);

    // The service mounts the device itself (it runs as root) and hands the
    // open device to the session as "/dev/fd/N".
    const int device = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (device < 0) {
        *error = std::string("cannot open /dev/fuse: ") + std::strerror(errno);
        return nullptr;
    }
    if (placement == Placement::kBeneath) {
        mount->device_ = MountBeneath(device, folderFd, at);
        if (mount->device_.empty()) {
            *error = "cannot mount beneath the mount at " + at + ": " + std::strerror(errno);
            ::close(device);
            return nullptr;
        }
    } else {
        const std::string options =
            "fd=" + std::to_string(device) + ",rootmode=40000,user_id=0,group_id=0,allow_other";
        if (::mount("kestrava", at.c_str(), std::string(kMountType).c_str(), MountFlags(folderFd),
                    options.c_str()) != 0) {
            *error = "cannot mount over " + at + ": " + std::strerror(errno);
            ::close(device);
            return nullptr;
        }
        const std::vector<MountLine> mounts = ReadMountInfo();
        const MountLine* top = TopMountAt(mounts, at);
        mount->device_ = top && top->fsType == kMountType ? top->device : std::string();
    }

    std::string program = "kvvxd";
    char* argv[] = {program.data(), nullptr};
    fuse_args args = FUSE_ARGS_INIT(1, argv);
    mount->session_ = fuse_session_new(&args, &ProtectionFs::Operations(),
                                       sizeof(fuse_lowlevel_ops), mount->fs_.get());
    const std::string deviceName = "/dev/fd/" + std::to_string(device);
    if (!mount->session_ || fuse_session_mount(mount->session_, deviceName.c_str()) != 0) {
        *error = "cannot start a file system session for " + folder;
        mount->Detach();
        if (mount->session_)
            fuse_session_destroy(mount->session_);
        else
            ::close(device);
        mount->session_ = nullptr;
        return nullptr;
    }
    mount->fs_->Notifier().Start(mount->session_);
    InstallWakeSignal();
    mount->running_ = kThreads;
    for (int i = 0; i < kThreads; ++i) {
        mount->threads_.emplace_back([m = mount.get()] {
            m->Serve();
            --m->running_;
        });
    }
    return mount;
}

MountRecord Mount::Record() const {
    MountRecord record = record_;
    record.device = device_;
    return record;
}

std::string Mount::Location() const {
    const std::vector<MountLine> mounts = ReadMountInfo();
    const MountLine* ours = FindMount(mounts, device_);
    return ours ? ours->mountPoint : std::string();
}

void Mount::Detach() {
    DetachIfTopmost(device_);
}

void Mount::Serve() {
    ProtectionFs::PrepareServingThread();
    // Each request wakes one blocked reader, so idle threads cost nothing.
    fuse_buf buffer{};
    while (!stopping_.load() && !fuse_session_exited(session_)) {
        const int n = fuse_session_receive_buf(session_, &buffer);
        if (n == -EINTR || n == -EAGAIN)
            continue;
        if (n <= 0)
            break;  // unmounted (0) or a failing device
        fuse_session_process_buf(session_, &buffer);
        // The first request is the kernel's INIT, which sets the read-ahead
        // from what the session answered: only after it may it be raised.
        if (!readAheadSet_.exchange(true))
            SetReadAhead(device_);
    }
    std::free(buffer.mem);
}

void Mount::Unmount() {
    // Detach first, so no new request comes in by path; then stop the
    // threads and close the device, which ends the connection.
    Detach();
    stopping_ = true;
    // A thread may be about to block when the signal comes: signal again
    // until every thread has seen the stop.
    while (running_.load() > 0) {
        for (std::thread& t : threads_)
            ::pthread_kill(t.native_handle(), kWakeSignal);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    for (std::thread& t : threads_)
        t.join();
    threads_.clear();
    if (fs_)
        fs_->Notifier().Stop();
    if (session_) {
        fuse_session_exit(session_);
        fuse_session_destroy(session_);  // closes the device: the connection ends
        session_ = nullptr;
    }
}

Mount::~Mount() {
    Unmount();
}

}  // namespace kv::driver::mounts
