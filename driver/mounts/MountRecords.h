#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kv::driver::mounts {

/// What the service keeps of each protection mount it made, so that a
/// successor finds them after a crash: a mount of a service that died stays
/// in place and answers nothing (every operation fails, none passes) until
/// the successor puts its own beneath it and detaches it.
struct MountRecord {
    std::string device;  ///< "major:minor" of the mount
    std::string folder;  ///< the folder as the entries name it
    /// Where the folder's own file system is mounted, and the folder's file
    /// handle there (hex): the folder is opened again from them, since its
    /// path leads into the dead mount, and found wherever it was moved.
    std::string lowerMount;
    std::string handle;
    bool operator==(const MountRecord&) const = default;
};

/// The records file: one line per mount, fields separated by tabs; lines
/// that do not parse are skipped (the file is the service's own, root's alone).
std::string SerializeMountRecords(const std::vector<MountRecord>& records);
std::vector<MountRecord> ParseMountRecords(std::string_view text);
std::vector<MountRecord> ReadMountRecords(const std::string& path);
/// Writes the file atomically (temporary file + rename), mode 0600.
bool WriteMountRecords(const std::string& path, const std::vector<MountRecord>& records);

/// The record of a folder about to be mounted over (open as `folderFd`):
/// its handle and lower mount. Empty fields when its file system gives no handle.
MountRecord RecordFolder(const std::string& folder, int folderFd);
/// Opens the folder of `record` again (O_PATH) without passing through any
/// mount over it; -1 with errno set when it cannot.
int OpenRecordedFolder(const MountRecord& record);

}  // namespace kv::driver::mounts
