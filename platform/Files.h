#pragma once

#include <string>

namespace kv::platform {

/// Reaches the files a process may not touch itself but may ask for: the
/// administrator's files, through the interceptor service.
class IFileBroker {
public:
    virtual ~IFileBroker() = default;
    /// Whether `path` is one of the files it reaches.
    virtual bool Handles(const std::string& path) const = 0;
    /// 0, or an errno value (ENOENT: no such file).
    virtual int Read(const std::string& path, std::string* data) = 0;
    /// Writes `data` in place of the file, or removes it when null. 0, or an errno value.
    virtual int Write(const std::string& path, const std::string* data) = 0;
};

/// Files that the process is refused (EACCES, EPERM) go to `broker` when it
/// handles them; null: none do.
void SetFileBroker(IFileBroker* broker);
/// Whether the broker reaches `path` (so its folders are not this process's to make).
bool BrokerHandles(const std::string& path);

/// Reads a whole file. False when it cannot be opened or read.
[[nodiscard]] bool ReadWholeFile(const std::string& path, std::string* data);
/// The same, with the reason: 0, or an errno value (ENOENT: no such file).
int ReadFileResult(const std::string& path, std::string* data);
bool FileExists(const std::string& path);
bool DeleteFileIfExists(const std::string& path);
/// Writes `data` to a temporary file in the same folder, syncs it and renames it
/// over `path`, so a failed write leaves the old file as it was.
[[nodiscard]] bool WriteFileAtomically(const std::string& path, const std::string& data,
                                       std::string* error);
/// The folder part of a path, without the trailing "/" (but "/" for the root).
std::string DirName(const std::string& path);

}  // namespace kv::platform
