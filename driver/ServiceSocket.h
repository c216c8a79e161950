#pragma once

#include <sys/types.h>

#include <string>

namespace kv::driver {

/// Makes `path` and the folders above it (mode 0755) when missing.
[[nodiscard]] bool MakeFolders(const std::string& path);
/// The folder of a file's path ("." when it has none).
std::string FolderOf(const std::string& path);

/// The service's listening socket: made at `path` (mode 0666, its folder
/// created when missing) in place of a socket left by a service that died;
/// refused when another service answers there or the path is something else.
class ServiceSocket {
public:
    ServiceSocket() = default;
    ~ServiceSocket();
    ServiceSocket(const ServiceSocket&) = delete;
    ServiceSocket& operator=(const ServiceSocket&) = delete;

    [[nodiscard]] bool Listen(const std::string& path, std::string* error);
    /// Stops listening and removes the socket file, if it is still this one.
    void Close();
    int Fd() const { return fd_; }

private:
    std::string path_;
    int fd_ = -1;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
};

}  // namespace kv::driver
