#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <poll.h>

namespace kv::driver {

/// One client connection of the service.
struct Client {
    int fd = -1;
    std::string in;
    std::string out;
    bool closing = false;  // no more requests; close once `out` is sent
    bool eof = false;      // the client has shut down its sending side
    int malformed = 0;
    /// Whole requests answered on this connection.
    std::uint64_t answered = 0;
    std::chrono::steady_clock::time_point accepted;
    std::chrono::steady_clock::time_point lastProgress;
    uid_t uid = static_cast<uid_t>(-1);     // from the kernel (SO_PEERCRED)
    uid_t target = static_cast<uid_t>(-1);  // whose table the requests act on
    /// The administrator selected every uid: the denial log shows them all.
    bool everyUid = false;
    /// Neither answered nor written to before this time (a wrong password).
    std::chrono::steady_clock::time_point holdUntil;
    /// The new content of a file being written in parts.
    std::uint32_t stagingFile = 0;
    std::string staging;

    bool Held(std::chrono::steady_clock::time_point now) const { return now < holdUntil; }
    /// The uid whose table the requests act on.
    uid_t Target() const { return target == static_cast<uid_t>(-1) ? uid : target; }
};

/// The connections of the service: accepting, reading and writing with
/// non-blocking sockets, and dropping the ones that hold resources without
/// using them. No uid can take more than kMaxPerUid connections, so one user
/// never uses up the connections of the others; a connection that has not
/// sent a whole request within the idle timeout is closed; one that leaves a
/// frame unfinished, or its replies unread, for the stall timeout is dropped.
class Connections {
public:
    static constexpr std::size_t kMaxClients = 512;
    /// Connections of one uid other than root at once.
    static constexpr std::size_t kMaxPerUid = 16;
    static constexpr std::size_t kMaxPendingOutput = 256 * 1024;
    /// Descriptors left free for everything else (a quarter of a lower limit).
    static constexpr unsigned kKeptFree = 64;

    struct Timeouts {
        std::chrono::milliseconds stall{30000};
        std::chrono::milliseconds idle{5000};
    };

    Connections(Timeouts timeouts, std::function<void(const std::string&)> log);
    ~Connections();
    Connections(const Connections&) = delete;
    Connections& operator=(const Connections&) = delete;

    /// Accepts every waiting connection on `listenFd`. When the service is out
    /// of descriptors, the waiting connection is taken with a descriptor kept
    /// in reserve and closed at once, so the listening socket never stays
    /// ready for nothing (a busy loop).
    void Accept(int listenFd);
    /// Adds the poll entries of every client to `fds` (in client order).
    void AddPollEntries(std::vector<pollfd>* fds, std::chrono::steady_clock::time_point now) const;
    /// Reads from the clients whose entries (from `first` on) report input.
    void ReadReady(const std::vector<pollfd>& fds, std::size_t first);
    /// Sends what is owed, drops clients that stalled or idled, and closes
    /// the finished ones; `released` is told of each client closed.
    void Flush(const std::function<void(Client&)>& released);
    /// How long until a timeout of some client may fire.
    int MillisecondsUntilTimeout(std::chrono::steady_clock::time_point now) const;
    /// Closes every connection.
    void CloseAll();

    std::vector<Client>& All() { return clients_; }
    std::size_t CountOf(uid_t uid) const;

    /// Whether a whole frame (or an oversized length) waits in the client's input.
    static bool FrameWaits(const Client& client);
    /// Whether such a frame may be answered now (the client reads its replies).
    static bool HasFrame(const Client& client) {
        return client.out.size() < kMaxPendingOutput && FrameWaits(client);
    }

private:
    void ReadFrom(Client& client);
    void WriteTo(Client& client);
    void Log(const std::string& line) const;

    Timeouts timeouts_;
    std::function<void(const std::string&)> log_;
    std::vector<Client> clients_;
    int reserveFd_ = -1;
    bool loggedFull_ = false;
};

}  // namespace kv::driver
