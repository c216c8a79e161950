#pragma once

#include <sys/types.h>

namespace kv::driver::mounts {

/// The identity a serving thread acts with. A thread acting as a caller has
/// the caller's fsuid, fsgid and supplementary groups and, unless the caller
/// is root, no capability in effect, so that the file system checks the caller's rights, gives
/// created files to the caller, and keeps reserves, quotas and limits as it would for the caller.
/// Only the calling thread is affected, and a thread keeps the identity until another is asked for,
/// so that a run of requests of one caller costs no switch.
///
/// Acts as the caller; does nothing when the thread already does. False when
/// the identity could not be taken: the operation must then be refused.
[[nodiscard]] bool ActAsCaller(uid_t uid, gid_t gid, const gid_t* groups, int groupCount);
/// Back to the service's own identity (root, its capabilities in effect).
void ActAsService();
/// Whether the calling thread acts as the service itself now.
bool ActingAsService();

/// The service's own identity for the lifetime of the object, the thread's
/// previous one restored after (for the few calls that need privilege, such
/// as opening an item by its file handle).
class AsService {
public:
    AsService();
    ~AsService();
    AsService(const AsService&) = delete;
    AsService& operator=(const AsService&) = delete;

private:
    bool wasCaller_ = false;
};

}  // namespace kv::driver::mounts
