#include "enforce/ServiceWatch.h"

#include <algorithm>

namespace kv {

TServiceWatch::TServiceWatch(std::function<bool()> connect, bool answers, Clock::duration first,
                             Clock::duration longest)
    : connect_(std::move(connect)),
      answers_(answers),
      first_(first),
      longest_(std::max(first, longest)),
      wait_(first) {}

TServiceWatch::Change TServiceWatch::Poll(Clock::time_point now) {
    if (answers_ || now < nextTry_)
        return Change::None;
    if (connect_())
        return Observe(true, now);
    nextTry_ = now + wait_;
    wait_ = std::min(wait_ * 2, longest_);
    return Change::None;
}

TServiceWatch::Change TServiceWatch::Observe(bool answers, Clock::time_point now) {
    if (answers == answers_)
        return Change::None;
    answers_ = answers;
    if (answers)
        return Change::Appeared;
    // A service that just went away may be restarting: try again soon.
    wait_ = first_;
    nextTry_ = now + first_;
    return Change::Gone;
}

}  // namespace kv
