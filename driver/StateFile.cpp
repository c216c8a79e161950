#include "driver/StateFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kv::driver {

namespace {

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

bool ReplaceFile(const std::string& path, std::string_view text, bool sync, std::string* error) {
    const std::string tmp = path + ".new";
    // The reason is the failed call's, not that of removing the new file.
    auto fail = [&](const char* what, int reason, bool made) {
        if (made)
            ::unlink(tmp.c_str());
        *error = std::string(what) + " " + tmp + ": " + std::strerror(reason);
        return false;
    };
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return fail("cannot create", errno, false);
    ::fchmod(fd, 0600);  // a file left by an earlier try keeps its own mode
    const bool written = WriteAll(fd, text) && (!sync || ::fsync(fd) == 0);
    const int writeError = errno;
    if (::close(fd) != 0 || !written)
        return fail("cannot write", written ? errno : writeError, true);
    if (::rename(tmp.c_str(), path.c_str()) != 0)
        return fail("cannot rename", errno, true);
    return true;
}

}  // namespace kv::driver
