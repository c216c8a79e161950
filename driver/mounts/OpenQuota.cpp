#include "driver/mounts/OpenQuota.h"

#include <sys/resource.h>

#include <algorithm>

namespace kv::driver::mounts {

OpenQuota& OpenQuota::OfService() {
    static OpenQuota quota([] {
        rlimit limit{};
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
            return std::size_t{1} << 17;
        return std::max<std::size_t>(64, static_cast<std::size_t>(limit.rlim_cur / 8));
    }());
    return quota;
}

bool OpenQuota::Take(uid_t uid) {
    if (uid == 0)
        return true;
    std::lock_guard lock(mutex_);
    std::size_t& held = held_[uid];
    if (held >= share_)
        return false;
    ++held;
    return true;
}

void OpenQuota::Give(uid_t uid) {
    if (uid == 0)
        return;
    std::lock_guard lock(mutex_);
    const auto it = held_.find(uid);
    if (it == held_.end())
        return;
    if (--it->second == 0)
        held_.erase(it);
}

}  // namespace kv::driver::mounts
