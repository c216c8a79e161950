#pragma once

#include <sys/types.h>

#include <cstddef>
#include <mutex>
#include <unordered_map>

namespace kv::driver::mounts {

/// Files and folders held open through the protection mounts, per uid. Each
/// holds a descriptor of the service, so a uid other than root may hold only
/// a share of the service's descriptors: no user can leave the service
/// without descriptors, and so without answers, for everyone else.
class OpenQuota {
public:
    /// `share`: what one uid may hold at most.
    explicit OpenQuota(std::size_t share) : share_(share) {}
    /// The quota of the service's process: an eighth of its descriptor limit.
    static OpenQuota& OfService();

    /// Counts one more open item for `uid`; false (nothing counted) when it
    /// holds its share already.
    bool Take(uid_t uid);
    void Give(uid_t uid);
    std::size_t Share() const { return share_; }

private:
    std::size_t share_;
    std::mutex mutex_;
    std::unordered_map<uid_t, std::size_t> held_;
};

}  // namespace kv::driver::mounts
