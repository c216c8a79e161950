#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "driver/Protocol.h"

namespace kv::driver {

/// Exit codes of kvctl.
namespace ctl_exit {
inline constexpr int kOk = 0;           ///< done; for check: allowed
inline constexpr int kRefused = 1;      ///< check: the operation is refused
inline constexpr int kUsage = 2;        ///< bad command line
inline constexpr int kNoService = 3;    ///< no service answers on the device socket
inline constexpr int kFailed = 4;       ///< the service refused or broke off a request
inline constexpr int kNotEnforced = 5;  ///< check: an entry refuses it, but no engine enforces that
}  // namespace ctl_exit

/// kvctl with its arguments (without the program name):
///   [--device PATH] status | entries | check --op NAME --process NAME PATH
int RunCtl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

/// Why the engines do not enforce `operation` of an entry whose coverage
/// answer (kvctl status) is `coverage`; empty when they do.
std::string NotEnforcedReason(std::string_view coverage, std::uint32_t operation);

/// One entry as a JSON object on one line (texts are escaped byte by byte).
std::string EntryJson(std::uint32_t index, const Entry& entry);

}  // namespace kv::driver
