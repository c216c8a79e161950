#pragma once

#include <string>
#include <vector>

namespace kv::platform {

/// Why the window system cannot be reached, judged from the environment and
/// the command line before the application object exists: empty when a
/// display may be there (the platform plugin has the last word).
std::string MissingDisplay(const std::vector<std::string>& args);

/// While it exists, a fatal message of the window toolkit (a display named by
/// DISPLAY that cannot be opened, a platform plugin that cannot start) ends the
/// process with "kv: no display: " and the reason on stderr and exit code 1,
/// instead of the toolkit's abort. Made around the application object's
/// construction.
class FatalDisplayGuard {
public:
    FatalDisplayGuard();
    ~FatalDisplayGuard();
    FatalDisplayGuard(const FatalDisplayGuard&) = delete;
    FatalDisplayGuard& operator=(const FatalDisplayGuard&) = delete;
};

inline constexpr char kNoDisplayPrefix[] = "kv: no display: ";

}  // namespace kv::platform
