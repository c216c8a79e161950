#include "driver/mounts/OpenHolders.h"

namespace kv::driver::mounts {

void OpenHolders::Add(pid_t pid, dev_t dev, ino_t ino) {
    std::lock_guard lock(mutex_);
    ++counts_[{pid, dev, ino}];
}

void OpenHolders::Remove(pid_t pid, dev_t dev, ino_t ino) {
    std::lock_guard lock(mutex_);
    const auto it = counts_.find({pid, dev, ino});
    if (it != counts_.end() && --it->second == 0)
        counts_.erase(it);
}

bool OpenHolders::Holds(pid_t pid, dev_t dev, ino_t ino) const {
    std::lock_guard lock(mutex_);
    return counts_.contains({pid, dev, ino});
}

OpenHolders& Holders() {
    static OpenHolders holders;
    return holders;
}

}  // namespace kv::driver::mounts
