#include "driver/mounts/Identity.h"

#include <linux/capability.h>
#include <sys/fsuid.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace kv::driver::mounts {

namespace {

struct ThreadIdentity {
    bool caller = false;
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
    bool capsKnown = false;
    __user_cap_data_struct caps[_LINUX_CAPABILITY_U32S_3]{};
};

thread_local ThreadIdentity t_identity;

__user_cap_header_struct CapHeader() {
    return {_LINUX_CAPABILITY_VERSION_3, 0};  // pid 0: this thread
}

/// The capabilities in effect: none, or every permitted one.
bool SetEffective(bool all) {
    ThreadIdentity& id = t_identity;
    if (!id.capsKnown) {
        __user_cap_header_struct header = CapHeader();
        if (::syscall(SYS_capget, &header, id.caps) != 0)
            return false;
        id.capsKnown = true;
    }
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3];
    for (int i = 0; i < _LINUX_CAPABILITY_U32S_3; ++i) {
        data[i] = id.caps[i];
        data[i].effective = all ? id.caps[i].permitted : 0;
    }
    __user_cap_header_struct header = CapHeader();
    return ::syscall(SYS_capset, &header, data) == 0;
}

// glibc's setgroups() changes every thread of the process; the raw system
// call changes only this one, which is what a thread acting for one caller needs.
void BackToService() {
    SetEffective(true);
    ::setfsuid(0);
    ::setfsgid(0);
    ::syscall(SYS_setgroups, 0L, nullptr);
    t_identity.caller = false;
}

}  // namespace

bool ActAsCaller(uid_t uid, gid_t gid, const gid_t* groups, int groupCount) {
    ThreadIdentity& id = t_identity;
    if (id.caller && id.uid == uid && id.gid == gid &&
        std::equal(id.groups.begin(), id.groups.end(), groups, groups + groupCount))
        return true;
    if (id.caller)
        BackToService();
    if (::syscall(SYS_setgroups, static_cast<long>(groupCount), groups) != 0)
        return false;
    ::setfsgid(gid);
    ::setfsuid(uid);
    // setfsuid/setfsgid report the previous value; check that the new one holds.
    const bool taken = static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1))) == uid &&
                       static_cast<gid_t>(::setfsgid(static_cast<gid_t>(-1))) == gid;
    id.caller = true;  // so that BackToService undoes what was done
    // Root's own requests keep root's powers; anyone else's have none.
    if (!taken || (uid != 0 && !SetEffective(false))) {
        BackToService();
        return false;
    }
    id.uid = uid;
    id.gid = gid;
    id.groups.assign(groups, groups + groupCount);
    return true;
}

void ActAsService() {
    if (t_identity.caller)
        BackToService();
}

bool ActingAsService() {
    return !t_identity.caller;
}

AsService::AsService() : wasCaller_(t_identity.caller) {
    ActAsService();
}

AsService::~AsService() {
    if (!wasCaller_)
        return;
    const ThreadIdentity& id = t_identity;
    // The identity that was left is taken again (it was taken before).
    const std::vector<gid_t> groups = id.groups;
    (void)ActAsCaller(id.uid, id.gid, groups.data(), static_cast<int>(groups.size()));
}

}  // namespace kv::driver::mounts
