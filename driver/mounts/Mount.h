#pragma once

#include <signal.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "driver/Policy.h"
#include "driver/mounts/MountRecords.h"

struct fuse_session;

namespace kv::driver::mounts {

class ProtectionFs;

/// One protection mount: the folder's handle is opened first, the file system
/// is mounted over the folder and served by a few threads of this process.
/// Detached, it is served on until its last user is gone (files open in it,
/// working folders), while new lookups reach the plain folder.
class Mount {
public:
    static constexpr int kThreads = 4;
    /// Interrupts a serving thread's blocking read when the mount stops.
    static constexpr int kWakeSignal = SIGUSR2;

    /// Where the new mount goes at `at`: over what is there, or beneath the
    /// mount at the top there (which is then detached by the caller), so the
    /// folder is never uncovered in between.
    enum class Placement { kOnTop, kBeneath };

    /// Null with a reason when the folder cannot be opened or mounted over.
    static std::unique_ptr<Mount> Create(const std::string& folder, const PublishedPolicy& policy,
                                         std::string* error);
    /// A mount at `at` serving the folder open as `folderFd` (an O_PATH
    /// descriptor it takes), whose items the entries name under `folder`.
    static std::unique_ptr<Mount> CreateAt(const std::string& folder, int folderFd,
                                           const std::string& at, Placement placement,
                                           const PublishedPolicy& policy, std::string* error);
    ~Mount();
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;

    /// The folder as the entries name it.
    const std::string& Folder() const { return folder_; }
    /// The mount's device number ("major:minor") as the kernel lists it.
    const std::string& Device() const { return device_; }
    /// Where the mount is now (a folder above it may have been moved), or
    /// the empty text once it is detached.
    std::string Location() const;
    /// What a successor needs to find this mount after a crash.
    MountRecord Record() const;
    /// The file system it serves (for tests and figures).
    ProtectionFs& Fs() { return *fs_; }

    /// Detaches the mount lazily; it is served until its last user is gone.
    void Detach();
    /// Whether a detached mount has no user left (its threads have ended).
    bool Finished() const { return running_.load() == 0; }

private:
    Mount() = default;
    void Serve();
    void Unmount();

    std::string folder_;
    std::string device_;
    MountRecord record_;
    std::unique_ptr<ProtectionFs> fs_;
    fuse_session* session_ = nullptr;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> readAheadSet_{false};
    std::atomic<int> running_{0};
    std::vector<std::thread> threads_;
};

}  // namespace kv::driver::mounts
