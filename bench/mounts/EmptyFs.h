#pragma once

#include <memory>
#include <string>

namespace kv::bench {

/// A FUSE file system that holds one empty file, "file", and answers every
/// request at once without caching anything: what a stat or an open costs
/// when it must reach a file system's server at all, on this machine.
class EmptyFs {
public:
    /// Mounts it over the folder `at` (needs root); null when it cannot.
    static std::unique_ptr<EmptyFs> MountAt(const std::string& at);
    ~EmptyFs();
    EmptyFs(const EmptyFs&) = delete;
    EmptyFs& operator=(const EmptyFs&) = delete;

private:
    EmptyFs() = default;
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace kv::bench
