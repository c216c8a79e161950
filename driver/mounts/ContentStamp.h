#pragma once

#include <sys/stat.h>

#include <mutex>

namespace kv::driver::mounts {

/// What a file was (size, modification and change times) when the kernel's
/// cached pages of it through a protection mount last matched its content.
/// The kernel keeps a file's pages from one open to the next only while the
/// file has not changed since by any route but the mount itself: writes,
/// truncations and allocations through the mount change the pages as they
/// change the file, anything else shows as a different stamp.
class ContentStamp {
public:
    /// Whether the file, `now` as it is opened, is what the cached pages
    /// hold; from now on the pages are taken to hold `now`.
    bool Opened(const struct stat& now);
    /// Records a change made through the mount: the file was `before` and is
    /// `after`. When it was not what the pages held before, something else
    /// changed it too, and the pages count as unknown until the next open.
    void Changed(const struct stat& before, const struct stat& after);
    /// The pages count as unknown (a change whose outcome is not known).
    void Forget();

private:
    struct Stamp {
        bool known = false;
        off_t size = 0;
        timespec mtime{};
        timespec ctime{};
    };
    static Stamp Of(const struct stat& st);
    static bool Same(const Stamp& a, const Stamp& b);

    std::mutex mutex_;
    Stamp stamp_;
};

}  // namespace kv::driver::mounts
