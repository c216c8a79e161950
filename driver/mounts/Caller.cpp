#include "driver/mounts/Caller.h"

#include <unistd.h>

#include <string>
#include <string_view>

#include "driver/Policy.h"

namespace kv::driver::mounts {

namespace {

/// "/proc/PID/exe": the link to the executable a process runs.
std::string ExeLink(pid_t pid) {
    return "/proc/" + std::to_string(pid) + "/exe";
}

}  // namespace

std::string ExecutableOf(pid_t pid) {
    if (pid <= 0)
        return {};
    char target[4096];
    const ssize_t n = ::readlink(ExeLink(pid).c_str(), target, sizeof target);
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
    return pid > 0 ? ProgramIdOf(ExeLink(pid)) : ProgramId{};
}

}  // namespace kv::driver::mounts
