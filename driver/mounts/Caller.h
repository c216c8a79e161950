#pragma once

#include <sys/types.h>

#include <string>

namespace kv::driver::mounts {

/// The file name of the executable that process `pid` runs, from the kernel
/// ("/proc/PID/exe"), never from a name the process gives itself. Empty when
/// the process is gone or is a kernel thread.
std::string ExecutableOf(pid_t pid);

}  // namespace kv::driver::mounts
