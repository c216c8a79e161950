#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv::platform {

/// One entry of a folder as the browsing views show it.
struct FolderEntry {
    std::string name;
    bool isFolder = false;  ///< a folder, or a link to one
    /// False only when the folder certainly has no subfolders (its link count
    /// says so); true when it has some or the file system does not tell.
    bool mayHaveSubfolders = false;
    bool isLink = false;
    bool writable = true;  ///< the owner may write it
    std::int64_t size = 0;
    std::int64_t modified = 0;  ///< seconds since the epoch
};

/// Lists a folder without "." and "..". False (with the system's reason in
/// `error`) when it cannot be opened; unreadable entries are listed as files.
bool ListFolder(const std::string& path, std::vector<FolderEntry>* entries, std::string* error);

}  // namespace kv::platform
