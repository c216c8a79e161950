// The open-event responder: a child of the service that answers fanotify
// permission events with the last policy the service sent.
#include <fcntl.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "driver/DenialLog.h"
#include "driver/events/OpenEvents.h"
#include "driver/events/OpenRules.h"
#include "driver/mounts/Caller.h"
#include "driver/mounts/MountInfo.h"

namespace kv::driver::events {

namespace {

constexpr std::uint32_t kOpen = 0x4;
constexpr std::uint32_t kRead = 0x40;
constexpr std::uint32_t kList = 0x200;

/// File systems that hold no one's files, or are served by a process
/// (FUSE, the protection mounts among them): never watched as a whole.
bool Watchable(const std::string& type) {
    static const std::set<std::string> kSkipped = {
        "proc",    "sysfs",       "cgroup", "cgroup2",    "devpts",   "mqueue",   "debugfs",
        "tracefs", "securityfs",  "pstore", "bpf",        "fusectl",  "configfs", "hugetlbfs",
        "autofs",  "binfmt_misc", "nsfs",   "rpc_pipefs", "efivarfs", "devtmpfs"};
    return !kSkipped.contains(type) && !type.starts_with("fuse");
}

/// The file-system uid of process `pid`; false when it is gone.
bool FsUidOf(pid_t pid, uid_t* uid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
    FILE* f = std::fopen(path, "re");
    if (!f)
        return false;
    char line[256];
    bool found = false;
    while (std::fgets(line, sizeof line, f)) {
        unsigned long real = 0, effective = 0, saved = 0, fs = 0;
        if (std::sscanf(line, "Uid: %lu %lu %lu %lu", &real, &effective, &saved, &fs) == 4) {
            *uid = static_cast<uid_t>(fs);
            found = true;
            break;
        }
    }
    std::fclose(f);
    return found;
}

std::string PathOfFd(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[4096];
    const ssize_t n = ::readlink(link, target, sizeof target);
    return n > 0 && static_cast<std::size_t>(n) < sizeof target
               ? std::string(target, static_cast<std::size_t>(n))
               : std::string();
}

class Responder {
public:
    Responder(int policyFd, int denialFd) : policyFd_(policyFd), denialFd_(denialFd) {}

    [[noreturn]] void Run() {
        char buffer[65536];
        for (;;) {
            pollfd fds[2] = {{policyFd_, POLLIN, 0}, {fan_, POLLIN, 0}};
            if (::poll(fds, fan_ >= 0 ? 2 : 1, -1) < 0 && errno != EINTR)
                break;
            if (fds[0].revents & (POLLIN | POLLHUP)) {
                const ssize_t n = ::read(policyFd_, buffer, sizeof buffer);
                if (n <= 0)
                    break;  // the service ended
                incoming_.append(buffer, static_cast<std::size_t>(n));
                TakePolicies();
            }
            if (fan_ >= 0 && (fds[1].revents & POLLIN))
                Answer();
        }
        // Closing the group lets every waiting open through and drops the marks.
        ::_exit(0);
    }

private:
    void TakePolicies() {
        std::string newest;
        while (incoming_.size() >= 4 && incoming_.size() >= 4 + GetU32(incoming_, 0)) {
            const std::uint32_t size = GetU32(incoming_, 0);
            newest = incoming_.substr(4, size);
            incoming_.erase(0, 4 + std::size_t{size});
        }
        if (newest.empty())
            return;
        OpenPolicy policy;
        if (!DecodeOpenPolicy(newest, &policy))
            return;
        policy_ = std::move(policy);
        rules_ = std::make_unique<OpenRules>(policy_);
        Mark();
    }

    /// A fresh group with the marks the policy needs (ignore marks of the
    /// old one were made for an old policy).
    void Mark() {
        if (fan_ >= 0)
            ::close(fan_);
        fan_ = -1;
        wholeFileSystems_ = policy_.WatchesFileSystems();
        if (!wholeFileSystems_ && !policy_.WatchesProgramFiles())
            return;
        fan_ = ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC | FAN_NONBLOCK,
                               O_RDONLY | O_CLOEXEC | O_LARGEFILE);
        if (fan_ < 0)
            return;
        if (policy_.WatchesProgramFiles()) {
            for (const std::string& file :
                 {policy_.program, policy_.settings, policy_.serviceExecutable}) {
                if (!file.empty())
                    ::fanotify_mark(fan_, FAN_MARK_ADD, FAN_OPEN_PERM, AT_FDCWD, file.c_str());
            }
        }
        if (wholeFileSystems_) {
            for (const mounts::MountLine& m : mounts::ReadMountInfo()) {
                if (Watchable(m.fsType))
                    ::fanotify_mark(fan_, FAN_MARK_ADD | FAN_MARK_FILESYSTEM,
                                    FAN_OPEN_PERM | FAN_ONDIR, AT_FDCWD, m.mountPoint.c_str());
            }
        }
    }

    void Answer() {
        alignas(fanotify_event_metadata) char buffer[16384];
        const ssize_t n = ::read(fan_, buffer, sizeof buffer);
        if (n <= 0)
            return;
        auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
        for (ssize_t left = n; FAN_EVENT_OK(event, left); event = FAN_EVENT_NEXT(event, left)) {
            if (event->fd < 0)
                continue;
            fanotify_response response{event->fd, FAN_ALLOW};
            if (event->mask & FAN_OPEN_PERM)
                response.response = Decide(*event) ? FAN_ALLOW : FAN_DENY;
            [[maybe_unused]] const ssize_t w = ::write(fan_, &response, sizeof response);
            ::close(event->fd);
        }
    }

    /// Whether the open of the event may go on.
    bool Decide(const fanotify_event_metadata& event) {
        if (event.pid == policy_.service || event.pid == ::getpid() || !rules_)
            return true;
        const std::string path = PathOfFd(event.fd);
        struct stat st;
        if (path.empty() || ::fstat(event.fd, &st) != 0)
            return true;
        const bool folder = S_ISDIR(st.st_mode);
        uid_t uid = 0;
        if (!FsUidOf(event.pid, &uid))
            return true;  // gone already
        std::string process = mounts::ExecutableOf(event.pid);
        process = ProcessNameOf(process, policy_.program);
        const std::uint32_t operation = folder ? (kOpen | kList) : (kOpen | kRead);
        const std::uint32_t entry = rules_->Decide(uid, operation, path, process);
        if (entry == kAllowed) {
            // Nothing can match it: its later opens need not come here.
            if (wholeFileSystems_ && !rules_->CouldMatch(path))
                ::fanotify_mark(fan_,
                                FAN_MARK_ADD | FAN_MARK_IGNORED_MASK | FAN_MARK_IGNORED_SURV_MODIFY,
                                FAN_OPEN_PERM | (folder ? FAN_ONDIR : 0), event.fd, nullptr);
            return true;
        }
        Denial denial;
        denial.uid = uid;
        denial.pid = event.pid;
        denial.process = mounts::ExecutableOf(event.pid);
        denial.operation = operation;
        denial.path = path;
        denial.entry = entry;
        std::string record;
        EncodeDenial(denial, &record);
        std::string frame;
        PutU32(&frame, static_cast<std::uint32_t>(record.size()));
        frame += record;
        [[maybe_unused]] const ssize_t w = ::write(denialFd_, frame.data(), frame.size());
        return false;
    }

    int policyFd_;
    int denialFd_;
    int fan_ = -1;
    bool wholeFileSystems_ = false;
    std::string incoming_;
    OpenPolicy policy_;
    std::unique_ptr<OpenRules> rules_;
};

}  // namespace

void RunResponder(int policyFd, int denialFd) {
    Responder(policyFd, denialFd).Run();
}

}  // namespace kv::driver::events
