#include "driver/events/OpenEvents.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "driver/DenialLog.h"
#include "driver/events/OpenRules.h"

namespace kv::driver::events {

OpenEvents::OpenEvents(std::string program, std::string settings, std::string service,
                       std::function<void(const std::string&)> log)
    : program_(std::move(program)),
      settings_(std::move(settings)),
      self_(std::move(service)),
      log_(std::move(log)) {}

OpenEvents::~OpenEvents() {
    Stop();
}

bool OpenEvents::Start(std::string* error) {
    int policy[2];
    int denials[2];
    if (::pipe2(policy, O_CLOEXEC) != 0 || ::pipe2(denials, O_CLOEXEC) != 0 ||
        ::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    child_ = ::fork();
    if (child_ < 0) {
        *error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (child_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::signal(SIGTERM, SIG_DFL);
        ::signal(SIGINT, SIG_DFL);
        // Only its own two pipes: no other end held open by it (the mount
        // guard waits for the end of its pipe).
        ::dup2(policy[0], 3);
        ::dup2(denials[1], 4);
        ::close_range(5, ~0U, 0);
        ::fcntl(4, F_SETFL, O_NONBLOCK);  // a full pipe drops refusals, never waits
        RunResponder(3, 4);
    }
    ::close(policy[0]);
    ::close(denials[1]);
    toChild_ = policy[1];
    fromChild_ = denials[0];
    ::fcntl(toChild_, F_SETFL, O_NONBLOCK);
    relay_ = std::thread([this] { Relay(); });
    return true;
}

void OpenEvents::Apply(const std::shared_ptr<const Policy>& policy) {
    if (child_ <= 0)
        return;
    std::string payload;
    const std::uint32_t sequence = ++sent_;
    PutU32(&payload, sequence);
    payload += EncodeOpenPolicy(OpenPolicyOf(*policy, ::getpid(), program_, settings_, self_));
    {
        const std::lock_guard lock(mutex_);
        pending_ = Frame(payload);
        latest_ = policy;
    }
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);
    // Protection started is protection in force: wait (a bounded moment, so
    // a stopped responder cannot hold the service) until the responder
    // watches what the policy asks.
    std::unique_lock lock(mutex_);
    acknowledged_.wait_for(lock, kAcknowledgeWait,
                           [this, sequence] { return acked_ >= sequence || stopping_; });
}

void OpenEvents::Relay() {
    std::string sending;
    std::string received;
    char buffer[65536];
    for (;;) {
        {
            const std::lock_guard lock(mutex_);
            if (stopping_)
                return;
            if (sending.empty() && !pending_.empty())
                sending.swap(pending_);
        }
        pollfd fds[3] = {{wake_[0], POLLIN, 0},
                         {fromChild_, POLLIN, 0},
                         {toChild_, static_cast<short>(sending.empty() ? 0 : POLLOUT), 0}};
        if (::poll(fds, 3, -1) < 0 && errno != EINTR)
            return;
        if (fds[0].revents & POLLIN) {
            while (::read(wake_[0], buffer, sizeof buffer) > 0) {
            }
        }
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            const ssize_t n = ::read(fromChild_, buffer, sizeof buffer);
            if (n <= 0) {
                if (log_)
                    log_("the open-event responder ended");
                return;
            }
            received.append(buffer, static_cast<std::size_t>(n));
            if (received.size() >= 4 && GetU32(received, 0) > 65536) {
                if (log_)
                    log_("the open-event responder sent a damaged refusal");
                received.clear();
            }
            while (received.size() >= 4 &&
                   received.size() >= std::size_t{4} + GetU32(received, 0)) {
                const std::uint32_t size = GetU32(received, 0);
                const std::string_view payload = std::string_view(received).substr(4, size);
                if (!payload.empty() && payload[0] == kAcknowledged && payload.size() == 5) {
                    const std::lock_guard lock(mutex_);
                    acked_ = GetU32(payload, 1);
                    acknowledged_.notify_all();
                } else if (!payload.empty() && payload[0] == kRefused) {
                    Denial denial;
                    std::size_t offset = 0;
                    std::shared_ptr<const Policy> policy;
                    {
                        const std::lock_guard lock(mutex_);
                        policy = latest_;
                    }
                    if (DecodeDenial(payload.substr(1), &offset, &denial) && policy &&
                        policy->Denials())
                        policy->Denials()->Add(std::move(denial));
                }
                received.erase(0, 4 + std::size_t{size});
            }
        }
        if (!sending.empty() && (fds[2].revents & POLLOUT)) {
            const ssize_t n = ::write(toChild_, sending.data(), sending.size());
            if (n > 0)
                sending.erase(0, static_cast<std::size_t>(n));
        }
    }
}

void OpenEvents::Stop() {
    if (child_ <= 0)
        return;
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        acknowledged_.notify_all();
    }
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);
    if (relay_.joinable())
        relay_.join();
    ::close(toChild_);  // the responder ends at the end of its pipe
    ::waitpid(child_, nullptr, 0);
    ::close(fromChild_);
    for (int& fd : wake_) {
        ::close(fd);
        fd = -1;
    }
    child_ = -1;
}

}  // namespace kv::driver::events
