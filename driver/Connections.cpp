#include "driver/Connections.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "driver/Protocol.h"

namespace kv::driver {

namespace {

int OpenReserve() {
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

}  // namespace

Connections::Connections(Timeouts timeouts, std::function<void(const std::string&)> log)
    : timeouts_(timeouts), log_(std::move(log)), reserveFd_(OpenReserve()) {}

Connections::~Connections() {
    CloseAll();
    if (reserveFd_ >= 0)
        ::close(reserveFd_);
}

void Connections::Log(const std::string& line) const {
    if (log_)
        log_(line);
}

std::size_t Connections::CountOf(uid_t uid) const {
    return static_cast<std::size_t>(
        std::count_if(clients_.begin(), clients_.end(),
                      [uid](const Client& c) { return c.uid == uid && !c.closing; }));
}

void Connections::Accept(int listenFd) {
    for (;;) {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if ((errno == EMFILE || errno == ENFILE) && reserveFd_ >= 0) {
                // Take the waiting connection with the reserve and close it:
                // that client is refused, and the socket is no longer ready.
                ::close(reserveFd_);
                const int refused = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
                if (refused >= 0)
                    ::close(refused);
                reserveFd_ = OpenReserve();
                if (!loggedFull_)
                    Log("out of descriptors: refusing connections");
                loggedFull_ = true;
                if (refused >= 0)
                    continue;
                return;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                Log(std::string("accept: ") + std::strerror(errno));
            return;
        }
        loggedFull_ = false;
        // Connections never take the descriptors the mounts and the
        // sanitizers of a test build need: a margin of the limit stays free.
        rlimit limit{};
        if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
            static_cast<rlim_t>(fd) + std::min<rlim_t>(kKeptFree, limit.rlim_cur / 4) >=
                limit.rlim_cur) {
            ::close(fd);
            continue;
        }
        ucred cred{};
        socklen_t length = sizeof cred;
        if (clients_.size() >= kMaxClients ||
            ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0 ||
            (cred.uid != 0 && CountOf(cred.uid) >= kMaxPerUid)) {
            ::close(fd);
            continue;
        }
        Client client;
        client.fd = fd;
        client.uid = cred.uid;
        client.accepted = client.lastProgress = std::chrono::steady_clock::now();
        clients_.push_back(std::move(client));
    }
}

void Connections::AddPollEntries(std::vector<pollfd>* fds,
                                 std::chrono::steady_clock::time_point now) const {
    for (const Client& c : clients_) {
        short events = 0;
        if (!c.closing && !c.eof && c.out.size() < kMaxPendingOutput &&
            c.in.size() < 4 + kMaxFrameBody)
            events |= POLLIN;
        if (!c.out.empty() && !c.Held(now))
            events |= POLLOUT;
        // Nothing awaited (a held client that hung up): poll would still
        // report the hang-up at once and the loop would spin until the hold
        // ends. A negative descriptor keeps the entry's place unpolled.
        fds->push_back({events != 0 ? c.fd : -1, events, 0});
    }
}

void Connections::ReadReady(const std::vector<pollfd>& fds, std::size_t first) {
    // Clients accepted after the poll set was made are polled next turn.
    for (std::size_t i = first; i < fds.size() && i - first < clients_.size(); ++i) {
        if (fds[i].revents & (POLLIN | POLLHUP | POLLERR))
            ReadFrom(clients_[i - first]);
    }
}

void Connections::ReadFrom(Client& client) {
    char buffer[16384];
    const ssize_t n = ::recv(client.fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
        return;
    if (n == 0) {
        client.eof = true;  // the client may still read what is owed to it
        return;
    }
    if (n < 0) {
        client.closing = true;
        client.out.clear();
        return;
    }
    client.in.append(buffer, static_cast<std::size_t>(n));
    client.lastProgress = std::chrono::steady_clock::now();
}

bool Connections::FrameWaits(const Client& client) {
    if (client.closing || client.in.size() < 4)
        return false;
    const std::uint32_t length = GetU32(client.in, 0);
    return length > kMaxFrameBody || client.in.size() >= 4 + std::size_t{length};
}

void Connections::WriteTo(Client& client) {
    while (!client.out.empty()) {
        const ssize_t n = ::send(client.fd, client.out.data(), client.out.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (n <= 0) {
            client.out.clear();
            client.closing = true;
            return;
        }
        client.out.erase(0, static_cast<std::size_t>(n));
        client.lastProgress = std::chrono::steady_clock::now();
    }
}

void Connections::Flush(const std::function<void(Client&)>& released) {
    const auto now = std::chrono::steady_clock::now();
    for (Client& c : clients_) {
        if (!c.out.empty() && !c.Held(now))
            WriteTo(c);
        const bool stalled = (!c.in.empty() || !c.out.empty() || !c.staging.empty()) &&
                             now - c.lastProgress > timeouts_.stall;
        // A connection that never sent a whole request only takes a place.
        const bool idle = c.answered == 0 && !c.closing && !FrameWaits(c) &&
                          now - c.accepted > timeouts_.idle && !c.Held(now);
        if (stalled || idle) {
            if (stalled)
                Log("dropping a client that stalled");
            c.closing = true;
            c.out.clear();
        }
    }
    std::erase_if(clients_, [&](Client& c) {
        if (!(c.closing && c.out.empty()))
            return false;
        released(c);
        ::close(c.fd);
        return true;
    });
}

int Connections::MillisecondsUntilTimeout(std::chrono::steady_clock::time_point now) const {
    auto until = std::min(timeouts_.stall, timeouts_.idle);
    for (const Client& c : clients_) {
        if (c.answered == 0 && !c.closing) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(c.accepted + timeouts_.idle - now);
            until = std::min(until, std::max(left, std::chrono::milliseconds(1)));
        }
    }
    return static_cast<int>(until.count());
}

void Connections::CloseAll() {
    for (Client& c : clients_)
        ::close(c.fd);
    clients_.clear();
}

}  // namespace kv::driver
