#include "driver/PasswordThrottle.h"

#include <algorithm>

namespace kv::driver {

PasswordThrottle::Clock::time_point PasswordThrottle::NextTry(uid_t uid) const {
    const auto it = tries_.find(uid);
    return it == tries_.end() ? Clock::time_point{} : it->second.next;
}

PasswordThrottle::Clock::time_point PasswordThrottle::Wrong(uid_t uid, Clock::time_point now) {
    Tries& t = tries_[uid];
    t.wrong = std::min(t.wrong + 1, 16);
    auto delay = kFirstDelay;
    for (int i = 1; i < t.wrong && delay < kLongestDelay; ++i)
        delay *= 2;
    t.next = now + std::min(delay, kLongestDelay);
    return t.next;
}

void PasswordThrottle::Right(uid_t uid) {
    tries_.erase(uid);
}

}  // namespace kv::driver
