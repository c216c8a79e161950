#include "driver/mounts/ContentStamp.h"

namespace kv::driver::mounts {

ContentStamp::Stamp ContentStamp::Of(const struct stat& st) {
    return Stamp{true, st.st_size, st.st_mtim, st.st_ctim};
}

bool ContentStamp::Same(const Stamp& a, const Stamp& b) {
    return a.known && b.known && a.size == b.size && a.mtime.tv_sec == b.mtime.tv_sec &&
           a.mtime.tv_nsec == b.mtime.tv_nsec && a.ctime.tv_sec == b.ctime.tv_sec &&
           a.ctime.tv_nsec == b.ctime.tv_nsec;
}

bool ContentStamp::Opened(const struct stat& now) {
    const Stamp stamp = Of(now);
    std::lock_guard lock(mutex_);
    const bool same = Same(stamp_, stamp);
    stamp_ = stamp;
    return same;
}

void ContentStamp::Changed(const struct stat& before, const struct stat& after) {
    std::lock_guard lock(mutex_);
    stamp_ = Same(stamp_, Of(before)) ? Of(after) : Stamp{};
}

void ContentStamp::Forget() {
    std::lock_guard lock(mutex_);
    stamp_ = Stamp{};
}

}  // namespace kv::driver::mounts
