#include "driver/ServiceSocket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kv::driver {

bool MakeFolders(const std::string& path) {
    if (path.empty() || path == "/" || path == ".")
        return true;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash)))
        return false;
    return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, std::max<std::size_t>(slash, 1));
}

ServiceSocket::~ServiceSocket() {
    Close();
}

bool ServiceSocket::Listen(const std::string& path, std::string* error) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) {
        *error = "socket path \"" + path + "\" is empty or too long";
        return false;
    }
    std::memcpy(addr.sun_path, path.data(), path.size());
    if (!MakeFolders(FolderOf(path))) {
        *error = "cannot create the folder of " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            *error = path + " exists and is not a socket";
            return false;
        }
        const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool answered =
            probe >= 0 &&
            ::connect(probe, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
        if (probe >= 0)
            ::close(probe);
        if (answered) {
            *error = "another service is listening on " + path;
            return false;
        }
        ::unlink(path.c_str());  // left behind by a service that died
    }
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) {
        *error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        ::chmod(path.c_str(), 0666) != 0 || ::listen(fd_, 128) != 0) {
        *error = "cannot listen on " + path + ": " + std::strerror(errno);
        return false;
    }
    path_ = path;
    if (::lstat(path.c_str(), &st) == 0) {
        dev_ = st.st_dev;
        ino_ = st.st_ino;
    }
    return true;
}

void ServiceSocket::Close() {
    if (fd_ < 0)
        return;
    ::close(fd_);
    fd_ = -1;
    struct stat st;
    if (!path_.empty() && ::lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ &&
        st.st_ino == ino_)
        ::unlink(path_.c_str());
}

}  // namespace kv::driver
