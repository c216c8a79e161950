#pragma once

#include <sys/types.h>

#include <chrono>
#include <unordered_map>

namespace kv::driver {

/// The growing delay after wrong administrator passwords, per uid: each wrong
/// try of a uid doubles the time before that uid's next try is looked at
/// (from kFirstDelay up to kLongestDelay); a right one forgets the count.
/// Kept per uid, not per connection, so that opening many connections does
/// not buy more tries.
class PasswordThrottle {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kFirstDelay{500};
    /// Below the clients' 10 s wait for a reply.
    static constexpr std::chrono::milliseconds kLongestDelay{8000};

    /// When the next try of `uid` may be looked at (in the past when now).
    Clock::time_point NextTry(uid_t uid) const;
    /// Records a wrong try at `now`; returns when the next may be looked at.
    Clock::time_point Wrong(uid_t uid, Clock::time_point now);
    void Right(uid_t uid);

private:
    struct Tries {
        int wrong = 0;
        Clock::time_point next;
    };
    std::unordered_map<uid_t, Tries> tries_;
};

}  // namespace kv::driver
