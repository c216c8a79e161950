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
                Answer(fan_);
        }
        // Closing the group lets every waiting open through and drops the marks.
        ::_exit(0);
    }

private:
    void TakePolicies() {
        std::string newest;
        while (incoming_.size() >= 4 && incoming_.size() >= std::size_t{4} + GetU32(incoming_, 0)) {
            const std::uint32_t size = GetU32(incoming_, 0);
            newest = incoming_.substr(4, size);
            incoming_.erase(0, 4 + std::size_t{size});
        }
        if (newest.size() < 4)
            return;
        const std::uint32_t sequence = GetU32(newest, 0);
        newest.erase(0, 4);
        // The same policy again (a user reloading their rules) changes nothing:
        // the marks, and the ignore marks learnt, stay.
        OpenPolicy policy;
        if (newest != current_ && DecodeOpenPolicy(newest, &policy)) {
            current_ = std::move(newest);
            policy_ = std::move(policy);
            rules_ = std::make_unique<OpenRules>(policy_, ResolveProgram);
            Mark();
        }
        std::string ack(1, kAcknowledged);
        PutU32(&ack, sequence);
        Send(ack);
    }

    /// One frame to the service, whole or not at all (within PIPE_BUF).
    void Send(const std::string& payload) {
        const std::string frame = Frame(payload);
        [[maybe_unused]] const ssize_t w = ::write(denialFd_, frame.data(), frame.size());
    }

    /// A fresh group with the marks the policy needs (ignore marks of the
    /// old one were made for an old policy). The new group watches before the
    /// old one goes, and what waits in the old one is answered with the new
    /// policy: closing it would let every waiting open through.
    void Mark() {
        const int old = fan_;
        fan_ = -1;
        wholeFileSystems_ = policy_.WatchesFileSystems();
        if (wholeFileSystems_ || policy_.WatchesProgramFiles())
            fan_ = MakeGroup();
        if (old >= 0) {
            Answer(old);
            ::close(old);
        }
    }

    int MakeGroup() const {
        const int fan = ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC | FAN_NONBLOCK,
                                        O_RDONLY | O_CLOEXEC | O_LARGEFILE);
        if (fan < 0)
            return -1;
        if (policy_.WatchesProgramFiles()) {
            for (const std::string& file :
                 {policy_.program, policy_.settings, policy_.serviceExecutable}) {
                if (!file.empty())
                    ::fanotify_mark(fan, FAN_MARK_ADD, FAN_OPEN_PERM, AT_FDCWD, file.c_str());
            }
        }
        if (wholeFileSystems_) {
            for (const mounts::MountLine& m : mounts::ReadMountInfo()) {
                if (Watchable(m.fsType))
                    ::fanotify_mark(fan, FAN_MARK_ADD | FAN_MARK_FILESYSTEM,
                                    FAN_OPEN_PERM | FAN_ONDIR, AT_FDCWD, m.mountPoint.c_str());
            }
        }
        return fan;
    }

    /// Answers what waits in the group `fan` (it is non-blocking).
    void Answer(int fan) {
        alignas(fanotify_event_metadata) char buffer[16384];
        for (;;) {
            const ssize_t n = ::read(fan, buffer, sizeof buffer);
            if (n <= 0)
                return;
            AnswerEvents(fan, buffer, n);
        }
    }

    void AnswerEvents(int fan, char* buffer, ssize_t n) {
        auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
        for (ssize_t left = n; FAN_EVENT_OK(event, left); event = FAN_EVENT_NEXT(event, left)) {
            if (event->fd < 0)
                continue;
            fanotify_response response{event->fd, FAN_ALLOW};
            if (event->mask & FAN_OPEN_PERM)
                response.response = Decide(*event) ? FAN_ALLOW : FAN_DENY;
            [[maybe_unused]] const ssize_t w = ::write(fan, &response, sizeof response);
            ::close(event->fd);
        }
    }

    /// Whether the open of the event may go on.
    bool Decide(const fanotify_event_metadata& event) {
        if (event.pid == policy_.service || event.pid == ::getpid() || !rules_)
            return true;
        uid_t uid = 0;
        if (!FsUidOf(event.pid, &uid))
            return true;  // gone already
        const std::string path = PathOfFd(event.fd);
        struct stat st;
        if (path.empty() || ::fstat(event.fd, &st) != 0)
            return !rules_->Protects(uid);  // a protected user's unknown path is refused
        const bool folder = S_ISDIR(st.st_mode);
        std::string process = mounts::ExecutableOf(event.pid);
        // Only root's processes can be the program (see Policy::ProcessOf).
        process = ProcessNameOf(process, uid == 0 ? policy_.program : std::string());
        // Open and Read are about files; listing a folder is governed by Hide,
        // as in the protection mounts.
        const std::uint32_t operation = folder ? kList : (kOpen | kRead);
        const std::uint32_t entry =
            rules_->Decide(uid, operation, path, process, mounts::ProgramOf(event.pid), folder);
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
        // A frame within PIPE_BUF is written whole or not at all.
        denial.process = mounts::ExecutableOf(event.pid).substr(0, 1024);
        denial.operation = operation;
        denial.path = path.substr(0, DenialLog::kMaxPath);
        denial.entry = entry;
        std::string record(1, kRefused);
        EncodeDenial(denial, &record);
        Send(record);
        return false;
    }

    int policyFd_;
    int denialFd_;
    int fan_ = -1;
    bool wholeFileSystems_ = false;
    std::string incoming_;
    std::string current_;  ///< the policy message in force
    OpenPolicy policy_;
    std::unique_ptr<OpenRules> rules_;
};

}  // namespace

void RunResponder(int policyFd, int denialFd) {
    Responder(policyFd, denialFd).Run();
}

}  // namespace kv::driver::events
