#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "driver/Policy.h"

namespace kv::driver::events {

/// The open events: fanotify permission events for the entries that no
/// protection mount can reach (patterns that begin with "*", the root,
/// system folders), and the program's own files for the entries that
/// protect them. A child process, the responder, answers the events, so
/// that a service that is stopped (SIGSTOP) or busy never keeps another
/// program's open waiting: the responder decides with the last policy it got.
/// It ends, and every mark with it, when the service ends in any way. Only
/// the open-time bits are enforced: Open, Read, Full, and List for opening a
/// folder (fanotify does not tell whether an open is for writing).
class OpenEvents {
public:
    /// `program`, `settings`, `service`: the program's executable, its
    /// settings file and the service's executable (the files watched for the
    /// entries that protect the program's own files).
    OpenEvents(std::string program, std::string settings, std::string service,
               std::function<void(const std::string&)> log);
    ~OpenEvents();
    OpenEvents(const OpenEvents&) = delete;
    OpenEvents& operator=(const OpenEvents&) = delete;

    /// Forks the responder; call before any thread starts.
    [[nodiscard]] bool Start(std::string* error);
    bool Running() const { return child_ > 0; }
    /// Sends the responder the entries of `policy` it enforces (service thread).
    void Apply(const std::shared_ptr<const Policy>& policy);
    /// Ends the responder (its marks go with it) and waits for it.
    void Stop();

private:
    void Relay();

    std::string program_;
    std::string settings_;
    std::string self_;
    std::function<void(const std::string&)> log_;
    pid_t child_ = -1;
    int toChild_ = -1;    ///< policies, framed
    int fromChild_ = -1;  ///< refusals, framed
    int wake_[2] = {-1, -1};
    std::thread relay_;
    std::mutex mutex_;
    std::string pending_;  ///< the newest policy not yet begun
    std::shared_ptr<const Policy> latest_;
    std::uint32_t sent_ = 0;   ///< policies sent, numbered
    std::uint32_t acked_ = 0;  ///< the latest the responder watches for
    std::condition_variable acknowledged_;
    bool stopping_ = false;
};

/// What the responder sends back, after each frame's length: a refusal
/// (kRefused, then the record) or the number of the policy it now watches
/// for (kAcknowledged, then that number).
inline constexpr char kRefused = 'D';
inline constexpr char kAcknowledged = 'A';
/// How long Apply waits for the responder to watch the new policy.
inline constexpr std::chrono::milliseconds kAcknowledgeWait{1000};

/// The responder's life: answers open events after the policies read from
/// `policyFd` and reports refusals on `denialFd`, until `policyFd` ends.
[[noreturn]] void RunResponder(int policyFd, int denialFd);

}  // namespace kv::driver::events
