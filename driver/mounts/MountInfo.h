#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kv::driver::mounts {

/// One line of /proc/self/mountinfo.
struct MountLine {
    std::string device;  ///< "major:minor"
    std::string mountPoint;
    std::string fsType;
    std::string source;
    int id = 0;  ///< the mount's id (as name_to_handle_at reports it)
    int parent = 0;
};

/// The file system type of protection mounts.
inline constexpr std::string_view kMountType = "fuse.kestrava";

/// Parses mountinfo text (octal escapes such as "\040" undone); lines that
/// do not parse are skipped.
std::vector<MountLine> ParseMountInfo(std::string_view text);
/// The mounts of this process's mount namespace, in mount order.
std::vector<MountLine> ReadMountInfo();
/// The protection mount with device number `device`, wherever it is now (a
/// folder above it may have been moved), or null.
const MountLine* FindMount(const std::vector<MountLine>& mounts, std::string_view device);
/// Detaches (lazily) the protection mount with device number `device`,
/// wherever it is now (a folder above it may have moved), and only while it
/// is the top-most mount there: never another's stacked on it.
void DetachIfTopmost(std::string_view device);
/// The top-most mount at `folder` (the one no other mount there is stacked
/// on; a mount put beneath another is listed after it), or null.
const MountLine* TopMountAt(const std::vector<MountLine>& mounts, std::string_view folder);

}  // namespace kv::driver::mounts
