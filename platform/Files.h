#pragma once

#include <string>

namespace kv::platform {

/// Reads a whole file. False when it cannot be opened or read.
[[nodiscard]] bool ReadWholeFile(const std::string& path, std::string* data);
bool FileExists(const std::string& path);
bool DeleteFileIfExists(const std::string& path);
/// Writes `data` to a temporary file in the same folder, syncs it and renames it
/// over `path`, so a failed write leaves the old file as it was.
[[nodiscard]] bool WriteFileAtomically(const std::string& path, const std::string& data,
                                       std::string* error);
/// The folder part of a path, without the trailing "/" (but "/" for the root).
std::string DirName(const std::string& path);

}  // namespace kv::platform
