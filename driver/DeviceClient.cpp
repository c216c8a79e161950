#include "driver/DeviceClient.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kv::driver {

std::string DefaultDevicePath() {
    if (const char* env = std::getenv("KESTRAVA_DEVICE"); env && *env)
        return env;
    // One service for the machine: every user's program talks to it.
    return "/run/kestrava/VEVUZ";
}

DeviceClient::~DeviceClient() {
    Close();
}

void DeviceClient::Close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool DeviceClient::Open(const std::string& path, std::string* error, int timeoutMs) {
    Close();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) {
        *error = "device path \"" + path + "\" is empty or too long";
        return false;
    }
    std::memcpy(addr.sun_path, path.data(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        *error = "cannot connect to " + path + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    fd_ = fd;
    path_ = path;
    timeoutMs_ = timeoutMs;
    exchanges_ = 0;
    ucred cred{};
    socklen_t length = sizeof cred;
    peerUid_ = ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) == 0
                   ? cred.uid
                   : static_cast<uid_t>(-1);
    return true;
}

bool DeviceClient::Transact(const Request& request, Reply* reply, std::string* error) {
    return TransactRaw(EncodeRequest(request), reply, error);
}

bool DeviceClient::TransactRaw(const std::string& frame, Reply* reply, std::string* error) {
    if (fd_ < 0) {
        *error = "the device is not open";
        return false;
    }
    bool unanswered = false;
    if (Exchange(frame, reply, error, &unanswered)) {
        ++exchanges_;
        return true;
    }
    if (!unanswered || exchanges_ > 0)
        return false;
    const std::string path = path_;
    if (!Open(path, error, timeoutMs_))
        return false;
    if (!Exchange(frame, reply, error, &unanswered))
        return false;
    ++exchanges_;
    return true;
}

bool DeviceClient::Exchange(const std::string& frame, Reply* reply, std::string* error,
                            bool* unanswered) {
    *unanswered = false;
    auto fail = [&](const std::string& what) {
        *error = what;
        Close();
        return false;
    };
    std::size_t sent = 0;
    while (sent < frame.size()) {
        const ssize_t n = ::send(fd_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *unanswered = n < 0 && (errno == EPIPE || errno == ECONNRESET);
            return fail(std::string("send: ") + (n == 0 ? "short write" : std::strerror(errno)));
        }
        sent += static_cast<std::size_t>(n);
    }
    std::string header;
    auto readExact = [&](std::string* out, std::size_t size) {
        out->resize(size);
        std::size_t got = 0;
        while (got < size) {
            const ssize_t n = ::recv(fd_, out->data() + got, size - got, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                *unanswered = errno == ECONNRESET && out == &header && got == 0;
                *error = std::string("receive: ") + std::strerror(errno);
                return false;
            }
            if (n == 0) {
                *unanswered = out == &header && got == 0;
                *error = "the service closed the connection";
                return false;
            }
            got += static_cast<std::size_t>(n);
        }
        return true;
    };
    if (!readExact(&header, 4))
        return fail(*error);
    const std::uint32_t length = GetU32(header, 0);
    if (length < kReplyHeaderSize || length > kMaxFrameBody)
        return fail("reply length " + std::to_string(length) + " out of range");
    std::string body;
    if (!readExact(&body, length))
        return fail(*error);
    if (!DecodeReply(body, reply, error))
        return fail(*error);
    return true;
}

}  // namespace kv::driver
