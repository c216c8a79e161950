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

}  // namespace kv::driver::mounts
