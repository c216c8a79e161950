#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driver/DenialLog.h"

namespace kv {

/// Reads the service's denial log and its per-uid counts for the
/// administrator. Each question uses a connection of its own, as a uid
/// selected on a connection stays selected for it.
class TDenialReader {
public:
    /// `devicePath`: the service's socket; empty: the default one.
    explicit TDenialReader(std::string devicePath = {});

    /// The administrator's password, which lets an account other than root
    /// read every uid's refusals.
    void SetPassword(std::string password) { password_ = std::move(password); }

    /// The refusals of `uid` since its protection was last started; nullopt
    /// when the service does not answer or refuses (only root or the
    /// administrator's password may ask for another uid than the caller's).
    std::optional<std::uint32_t> CountOf(uid_t uid) const;
    /// The kept refusals after `sequence`, oldest first (root, or with the
    /// administrator's password: every uid's; others: their own); nullopt
    /// when the service does not answer.
    std::optional<std::vector<driver::Denial>> After(std::uint32_t sequence) const;
    /// The file mask of entry `index` of `uid`'s table; empty when unknown.
    std::string EntryMask(uid_t uid, std::uint32_t index) const;

private:
    std::string devicePath_;
    std::optional<std::string> password_;
};

}  // namespace kv
