#pragma once

#include <sys/types.h>

#include <string>

namespace kv::driver::mounts {

/// A small child process that outlives the service by a moment: when the
/// service ends in any way (a crash or kill -9 included) it detaches the
/// protection mounts the service left, so no dead mount stays over a folder.
/// It detaches a folder only while the top-most mount there is still the one
/// recorded (by its device number), never a newer service's.
class MountGuard {
public:
    /// Forks the guard; call before any thread starts.
    [[nodiscard]] bool Start(std::string* error);
    /// Tells the guard about a mount made, or one taken down.
    void Made(const std::string& device, const std::string& folder);
    void Removed(const std::string& device);
    bool Running() const { return fd_ >= 0; }
    /// Lets the guard go (it detaches what is still recorded) and waits for it.
    void Stop();

private:
    void Send(const std::string& line);
    int fd_ = -1;
    pid_t pid_ = -1;
};

}  // namespace kv::driver::mounts
