#pragma once

#include <sys/types.h>

#include <string>

#include "driver/Matcher.h"

namespace kv::driver::mounts {

/// The file name of the executable that process `pid` runs, from the kernel
/// ("/proc/PID/exe"), never from a name the process gives itself. Empty when
/// the process is gone or is a kernel thread.
std::string ExecutableOf(pid_t pid);

/// The identity of the executable file that process `pid` runs (through
/// "/proc/PID/exe", so a file renamed or replaced since is still told
/// apart); unknown when the process is gone.
ProgramId ProgramOf(pid_t pid);

/// The calling thread's file-system identity (fsuid, fsgid and supplementary
/// groups) set to a caller's for the lifetime of the object, so that the
/// file system checks the caller's rights and gives created files to the
/// caller. Only this thread is affected.
class ActAs {
public:
    ActAs(uid_t uid, gid_t gid, const gid_t* groups, int groupCount);
    ~ActAs();
    ActAs(const ActAs&) = delete;
    ActAs& operator=(const ActAs&) = delete;

    /// False when the identity could not be taken; the operation must then be refused.
    bool Ok() const { return ok_; }

private:
    bool ok_ = false;
};

}  // namespace kv::driver::mounts
