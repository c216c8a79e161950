#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace kv::platform {

namespace {

IFileBroker* g_broker = nullptr;

/// Whether a call that failed with `error` on `path` goes to the broker.
bool ForBroker(int error, const std::string& path) {
    return (error == EACCES || error == EPERM) && g_broker && g_broker->Handles(path);
}

}  // namespace

void SetFileBroker(IFileBroker* broker) {
    g_broker = broker;
}

bool BrokerHandles(const std::string& path) {
    return g_broker && g_broker->Handles(path);
}

bool ReadWholeFile(const std::string& path, std::string* data) {
    return ReadFileResult(path, data) == 0;
}

int ReadFileResult(const std::string& path, std::string* data) {
    data->clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        return ForBroker(error, path) ? g_broker->Read(path, data) : error;
    }
    char buffer[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        data->append(buffer, static_cast<std::size_t>(n));
    }
    const int error = ok ? 0 : (errno ? errno : EIO);
    ::close(fd);
    if (!ok)
        data->clear();
    return error;
}

bool FileExists(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0)
        return true;
    std::string ignored;
    return ForBroker(errno, path) && g_broker->Read(path, &ignored) == 0;
}

bool DeleteFileIfExists(const std::string& path) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT)
        return true;
    return ForBroker(errno, path) && g_broker->Write(path, nullptr) == 0;
}

std::string DirName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

bool WriteFileAtomically(const std::string& path, const std::string& data, std::string* error) {
    auto fail = [error](const char* what) {
        if (error)
            *error = std::string(what) + ": " + std::strerror(errno);
        return false;
    };
    std::string tmpl = path + ".XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0 && ForBroker(errno, path)) {
        const int error = g_broker->Write(path, &data);
        errno = error;
        return error == 0 || fail("the interceptor service did not write it");
    }
    if (fd < 0)
        return fail("cannot create a temporary file");
    const std::string tmp(name.data());

    struct stat old;
    const mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    ::fchmod(fd, mode);

    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            const int saved = errno;
            ::close(fd);
            ::unlink(tmp.c_str());
            errno = saved;
            return fail("cannot write");
        }
        written += static_cast<std::size_t>(n);
    }
    const bool synced = ::fsync(fd) == 0;
    const int syncErrno = errno;
    const bool closed = ::close(fd) == 0;
    if (!synced || !closed) {
        const int saved = synced ? errno : syncErrno;
        ::unlink(tmp.c_str());
        errno = saved;
        return fail("cannot flush");
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        const int saved = errno;
        ::unlink(tmp.c_str());
        errno = saved;
        return fail("cannot replace the file");
    }
    return true;
}

}  // namespace kv::platform
