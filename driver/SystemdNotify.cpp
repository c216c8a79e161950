#include "driver/SystemdNotify.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace kv::driver {

bool NotifyServiceManager(const std::string& state) {
    const char* name = std::getenv("NOTIFY_SOCKET");
    if (!name || !*name)
        return true;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::size_t length = std::strlen(name);
    if ((name[0] != '/' && name[0] != '@') || length >= sizeof addr.sun_path)
        return false;
    std::memcpy(addr.sun_path, name, length);
    if (name[0] == '@')
        addr.sun_path[0] = '\0';
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
    const bool sent = ::sendto(fd, state.data(), state.size(), MSG_NOSIGNAL,
                               reinterpret_cast<const sockaddr*>(&addr),
                               size) == static_cast<ssize_t>(state.size());
    ::close(fd);
    return sent;
}

}  // namespace kv::driver
