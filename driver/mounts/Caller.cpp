#include "driver/mounts/Caller.h"

#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/syscall.h>
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

// glibc's setgroups() changes every thread of the process; the raw system call
// changes only this one, which is what a server thread acting for one caller needs.
ActAs::ActAs(uid_t uid, gid_t gid, const gid_t* groups, int groupCount) {
    if (::syscall(SYS_setgroups, static_cast<long>(groupCount), groups) != 0)
        return;
    ::setfsgid(gid);
    ::setfsuid(uid);
    // setfsuid/setfsgid report the previous value; check that the new one holds.
    ok_ = static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1))) == uid &&
          static_cast<gid_t>(::setfsgid(static_cast<gid_t>(-1))) == gid;
}

ActAs::~ActAs() {
    ::setfsuid(0);
    ::setfsgid(0);
    ::syscall(SYS_setgroups, 0L, nullptr);
}

}  // namespace kv::driver::mounts
