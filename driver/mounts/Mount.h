#pragma once

#include <signal.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "driver/Policy.h"

struct fuse_session;

namespace kv::driver::mounts {

class ProtectionFs;

/// One protection mount: the folder's handle is opened first, the file system
/// is mounted over the folder and served by a few threads of this process
/// until the object goes. A mount left by a service that died is detached
/// by the service's MountGuard.
class Mount {
public:
    static constexpr int kThreads = 4;
    /// Interrupts a serving thread's blocking read when the mount stops.
    static constexpr int kWakeSignal = SIGUSR2;

    /// Null with a reason when the folder cannot be opened or mounted over.
    static std::unique_ptr<Mount> Create(const std::string& folder, const PublishedPolicy& policy,
                                         std::string* error);
    ~Mount();
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;

    const std::string& Folder() const { return folder_; }
    /// The mount's device number ("major:minor") as the kernel lists it.
    const std::string& Device() const { return device_; }

private:
    Mount() = default;
    void Serve();
    void Unmount();

    std::string folder_;
    std::string device_;
    std::unique_ptr<ProtectionFs> fs_;
    fuse_session* session_ = nullptr;
    std::atomic<bool> stopping_{false};
    std::atomic<int> running_{0};
    std::vector<std::thread> threads_;
};

}  // namespace kv::driver::mounts
