#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kv::driver {

/// One refused operation.
struct Denial {
    std::uint32_t sequence = 0;  ///< 1 for the first refusal since the service started
    std::int64_t time = 0;       ///< seconds since the epoch
    uid_t uid = 0;
    pid_t pid = 0;
    std::string process;          ///< the executable's path
    std::uint32_t operation = 0;  ///< the operation bits that were asked for
    std::string path;
    std::uint32_t entry = 0;  ///< index of the refusing entry
};

/// The refusals of the enforcement engines: the latest kCapacity kept in a
/// ring for `kvctl log`, a count per uid since its protection was started,
/// and one line each for the system log, at most kLinesPerSecond on average
/// (bursts of kBurst); the lines that do not fit are counted and said in
/// the next line that does. Safe to use from every thread.
class DenialLog {
public:
    static constexpr std::size_t kCapacity = 4096;
    static constexpr std::size_t kMaxPath = 1024;  ///< longer paths are cut
    static constexpr double kLinesPerSecond = 10;
    static constexpr double kBurst = 50;

    explicit DenialLog(std::function<void(const std::string&)> systemLog = {});

    void Add(Denial denial);
    /// Kept refusals after `sequence`, of `uid` only unless it is -1.
    std::vector<Denial> After(std::uint32_t sequence, uid_t uid) const;
    /// Refusals of `uid` since ResetCount(uid).
    std::uint32_t CountOf(uid_t uid) const;
    void ResetCount(uid_t uid);
    /// Lines the rate limit kept from the system log so far.
    std::uint64_t Suppressed() const;

private:
    /// Whether a line may go to the system log now (the lock is held).
    bool TakeLineToken(std::chrono::steady_clock::time_point now);

    std::function<void(const std::string&)> systemLog_;
    mutable std::mutex mutex_;
    std::deque<Denial> ring_;
    std::uint32_t sequence_ = 0;
    std::map<uid_t, std::uint32_t> counts_;
    double tokens_ = kBurst;
    std::chrono::steady_clock::time_point refilled_;
    std::uint64_t suppressed_ = 0;
    std::uint64_t suppressedUnsaid_ = 0;
};

/// `text` with control characters shown as "?": file names may hold line
/// breaks and terminal escapes, and log lines and terminals must not obey them.
std::string PrintableText(std::string_view text);

/// The names of the operation bits in `operation` ("Read|Write"); "Lookup"
/// for none (only Full refuses that).
std::string OperationNames(std::uint32_t operation);

}  // namespace kv::driver
