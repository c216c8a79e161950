#include "driver/mounts/Caller.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string_view>

namespace kv::driver::mounts {

std::string ExecutableOf(pid_t pid) {
    if (pid <= 0)
        return {};
    char link[32];
    std::snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(pid));
    char target[4096];
    const ssize_t n = ::readlink(link, target, sizeof target);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target)
        return {};
    std::string_view path(target, static_cast<std::size_t>(n));
    // An executable replaced or removed since it started keeps its name.
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.ends_with(kDeleted))
        path.remove_suffix(kDeleted.size());
    return std::string(path);
}

ProgramId ProgramOf(pid_t pid) {
    if (pid <= 0)
        return {};
    char link[32];
    std::snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(pid));
    struct stat st;
    if (::stat(link, &st) != 0)
        return {};
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

}  // namespace kv::driver::mounts
