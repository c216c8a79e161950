#pragma once

#include <chrono>
#include <functional>

namespace kv {

/// Whether the interceptor service answers, and when to try again to reach
/// it once it did not. A window started before the service, or left running
/// while the service restarts, notices it coming and going. A try costs one
/// connect on a local socket, yet a window waiting for a service that never
/// comes waits longer between tries, up to `longest`.
class TServiceWatch {
public:
    using Clock = std::chrono::steady_clock;
    enum class Change { None, Appeared, Gone };

    /// `connect` tries to open the connection again; true when the service answers.
    explicit TServiceWatch(std::function<bool()> connect, bool answers,
                           Clock::duration first = std::chrono::seconds(1),
                           Clock::duration longest = std::chrono::seconds(8));

    /// Tries to connect when no service answered and the wait is over.
    Change Poll(Clock::time_point now);
    /// What a request found: whether the service answered it.
    Change Observe(bool answers, Clock::time_point now);

    bool Answers() const { return answers_; }
    /// When the next try is due while no service answers.
    Clock::time_point NextTry() const { return nextTry_; }

private:
    std::function<bool()> connect_;
    bool answers_;
    Clock::duration first_;
    Clock::duration longest_;
    Clock::duration wait_;
    Clock::time_point nextTry_{};
};

}  // namespace kv
