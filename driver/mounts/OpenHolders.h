#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <tuple>

namespace kv::driver::mounts {

/// Which processes hold which items of the protection mounts open, so that
/// asking for the attributes of a file one has open (fstat, which the kernel
/// sends like a stat by path) is told apart from asking by path. Processes
/// are told by the pid the kernel gives with each request.
class OpenHolders {
public:
    void Add(pid_t pid, dev_t dev, ino_t ino);
    void Remove(pid_t pid, dev_t dev, ino_t ino);
    bool Holds(pid_t pid, dev_t dev, ino_t ino) const;

private:
    using Key = std::tuple<pid_t, dev_t, ino_t>;
    mutable std::mutex mutex_;
    std::map<Key, std::uint32_t> counts_;
};

/// The holders of every protection mount of the service.
OpenHolders& Holders();

}  // namespace kv::driver::mounts
