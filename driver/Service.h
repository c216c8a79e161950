#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/Authority.h"
#include "driver/DenialLog.h"
#include "driver/EntryTable.h"
#include "driver/PasswordThrottle.h"
#include "driver/Policy.h"
#include "driver/Protocol.h"

namespace kv::driver {

struct ServiceOptions {
    std::string socketPath;
    /// Empty: the table lives in memory only.
    std::string statePath;
    /// Receives one line per event worth logging; null logs nothing.
    std::function<void(const std::string&)> log;
    /// A client that leaves a frame unfinished, or its replies unread, this
    /// long is dropped.
    std::chrono::milliseconds stallTimeout{30000};
    /// Called on the service thread after the policy changed (a table was
    /// activated, deactivated, cleared, or changed while active); the
    /// enforcement engines follow it.
    std::function<void(const std::shared_ptr<const Policy>&)> policyChanged;
    /// The folders the engines protect with mounts now (for kvctl status).
    std::function<std::vector<std::string>()> mountedFolders;
    /// How an entry naming a folder is enforced (for kvctl status).
    std::function<std::string(const std::string& folder)> coverageOf;
    /// The administrator's settings. Null: no password is known, so every
    /// request is open to every caller, and no rules can be loaded.
    IAuthority* authority = nullptr;
    /// The program's executable: the only file whose processes count as the
    /// program's own. Empty: no process does.
    std::string programPath;
};

/// Options with a socket and a state file and nothing else.
inline ServiceOptions OptionsFor(std::string socketPath, std::string statePath) {
    ServiceOptions options;
    options.socketPath = std::move(socketPath);
    options.statePath = std::move(statePath);
    return options;
}

/// The interceptor service: one thread polls the listening socket and every
/// client with non-blocking sockets. A client gets at most kFramesPerTurn
/// requests answered per turn, is not read while kMaxPendingOutput bytes of
/// replies wait for it, and is dropped when it leaves a frame unfinished for
/// the stall timeout; so no client can hold the others up. A frame longer than
/// kMaxFrameBody is answered with failure and the connection closed (it
/// cannot be skipped safely); any other malformed request is answered with
/// failure and the connection kept.
///
/// A caller other than root cannot weaken its own protection without the
/// administrator's password: clearing or deactivating an active table, and
/// loading another principal's rules, need it. A wrong password holds that
/// caller's connection (its reply and its later frames) for a growing delay,
/// while every other client is served as before.
class Service {
public:
    static constexpr std::size_t kMaxClients = 512;
    static constexpr std::size_t kMaxPendingOutput = 256 * 1024;
    static constexpr int kFramesPerTurn = 32;
    /// After changes, the index is compiled and published once requests
    /// pause this long (or at once for a check), not after every change.
    static constexpr int kIndexDelayMs = 20;

    explicit Service(ServiceOptions options);
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    /// Loads the state and listens on the socket (mode 0666, its folder
    /// created when missing). Fails when another service answers there or the
    /// path is taken by something that is not a socket.
    [[nodiscard]] bool Start(std::string* error);
    /// Serves until RequestStop; then writes the state and removes the socket.
    void Run();
    /// Safe to call from a signal handler or another thread.
    void RequestStop();

    /// Answers one request body as if sent by `uid` (what Run does for each frame).
    Reply HandleBody(std::string_view body, uid_t uid = 0);
    TableSet& Tables() { return tables_; }
    DenialLog& Denials() { return *denials_; }
    /// The policy the engines enforce now.
    std::shared_ptr<const Policy> CurrentPolicy() const { return policy_.Current(); }

private:
    struct Client {
        int fd = -1;
        std::string in;
        std::string out;
        bool closing = false;  // no more requests; close once `out` is sent
        bool eof = false;      // the client has shut down its sending side
        int malformed = 0;
        std::chrono::steady_clock::time_point lastProgress;
        uid_t uid = static_cast<uid_t>(-1);     // from the kernel (SO_PEERCRED)
        uid_t target = static_cast<uid_t>(-1);  // whose table the requests act on
        /// Neither answered nor written to before this time (a wrong password).
        std::chrono::steady_clock::time_point holdUntil;
        /// The new content of a file being written in parts.
        std::uint32_t stagingFile = 0;
        std::string staging;
    };
    /// Largest content of a file written through the service, and of all
    /// contents being written at once (so idle writers cannot hoard memory).
    static constexpr std::size_t kMaxFileSize = 16 * 1024 * 1024;
    static constexpr std::size_t kMaxStaged = 64 * 1024 * 1024;
    /// Whether `request` of `client` would weaken a protection and so needs the
    /// administrator's password.
    bool NeedsPassword(const Request& request, const Client& client);
    /// Checks the password of such a request. True when it may go on; false
    /// when its failure reply was queued (and the client held), or when the
    /// client must wait for its next try (nothing consumed).
    bool PasswordAllows(const Request& request, Client& client, bool* consumed);
    Reply LoadRules(const Request& request, uid_t uid, EntryTable& table);
    static bool Held(const Client& client, std::chrono::steady_clock::time_point now) {
        return now < client.holdUntil;
    }
    /// Answers `request` of `client` (its uid and selected table).
    Reply Handle(const Request& request, Client& client);
    Reply ReadFile(const Request& request, uid_t caller);
    Reply WriteFile(const Request& request, Client& client);
    /// Publishes the policy of the active tables and tells the engines.
    void PublishPolicy();
    void Accept();
    void ReadFrom(Client& client);
    /// Whether a whole frame (or an oversized length) waits in the client's input.
    static bool FrameWaits(const Client& client);
    /// Whether such a frame may be answered now (the client reads its replies).
    static bool HasFrame(const Client& client);
    /// Answers up to kFramesPerTurn waiting frames.
    void Process(Client& client);
    void WriteTo(Client& client);
    void Log(const std::string& line) const;

    ServiceOptions options_;
    TableSet tables_;
    PublishedPolicy policy_;
    PasswordThrottle throttle_;
    std::size_t staged_ = 0;  ///< bytes of all files being written in parts
    std::shared_ptr<DenialLog> denials_;
    std::uint64_t generation_ = 0;
    /// A table that is active changed and its policy is not published yet.
    bool policyStale_ = false;
    int listenFd_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::vector<Client> clients_;
    dev_t socketDev_ = 0;
    ino_t socketIno_ = 0;
};

}  // namespace kv::driver
