#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/Authority.h"
#include "driver/Connections.h"
#include "driver/DenialLog.h"
#include "driver/EntryTable.h"
#include "driver/PasswordThrottle.h"
#include "driver/Policy.h"
#include "driver/Protocol.h"
#include "driver/ServiceSocket.h"

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
    /// A connection that has not sent a whole request this long is closed.
    std::chrono::milliseconds idleTimeout{5000};
    /// Called on the service thread after the policy changed (a table was
    /// activated, deactivated, cleared, or changed while active); the
    /// enforcement engines follow it.
    std::function<void(const std::shared_ptr<const Policy>&)> policyChanged;
    /// The folders the engines protect with mounts now (for kvctl status).
    std::function<std::vector<std::string>()> mountedFolders;
    /// How an entry naming a folder is enforced (for kvctl status).
    std::function<std::string(const std::string& folder)> coverageOf;
    /// How an entry naming a folder would be enforced, whether or not a table
    /// names it now (for the window's markers).
    std::function<std::string(const std::string& folder)> folderCoverage;
    /// The administrator's settings. Null: no password is known, so every
    /// request is open to every caller, and no rules can be loaded.
    IAuthority* authority = nullptr;
    /// The uids of the login accounts of the machine (login.defs' UID_MIN to
    /// UID_MAX, with a login shell). Null: none beyond the accounts the
    /// settings know.
    std::function<std::vector<uid_t>()> loginAccounts;
    /// The program's executable: the only file whose processes count as the
    /// program's own. Empty: no process does.
    std::string programPath;
    /// How program names in entries find the executables users call by them.
    ProgramResolver programs = ResolveProgram;
    /// Changes when the programs may have changed (then the names are
    /// resolved again and the policy rebuilt); looked at once a second.
    std::function<std::string()> programsStamp = ProgramFoldersStamp;
};

/// Options with a socket and a state file and nothing else.
inline ServiceOptions OptionsFor(std::string socketPath, std::string statePath) {
    ServiceOptions options;
    options.socketPath = std::move(socketPath);
    options.statePath = std::move(statePath);
    return options;
}

/// The interceptor service: one thread polls the listening socket and every
/// client with non-blocking sockets (see Connections). A client gets at most
/// kFramesPerTurn requests answered per turn, so no client can hold the others
/// up. A frame longer than kMaxFrameBody is answered with failure and the
/// connection closed (it cannot be skipped safely); any other malformed
/// request is answered with failure and the connection kept.
///
/// When the service keeps the administrator's settings, a caller other than
/// root changes its table only by loading its own rules from them (the logon
/// start) or with the administrator's password: adding, activating,
/// deactivating and clearing need it, and so does loading another
/// principal's rules. A wrong password holds that caller's connection (its
/// reply and its later frames) for a growing delay, while every other client
/// is served as before.
class Service {
public:
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
    /// Largest content of a file written through the service, and of all
    /// contents being written at once (so idle writers cannot hoard memory).
    static constexpr std::size_t kMaxFileSize = 16 * 1024 * 1024;
    static constexpr std::size_t kMaxStaged = 64 * 1024 * 1024;
    /// Whether `request` of `client` would change or weaken a protection and
    /// so needs the administrator's password.
    bool NeedsPassword(const Request& request, const Client& client);
    /// Checks the password of such a request. True when it may go on; false
    /// when its failure reply was queued (and the client held, unless it gave
    /// no password at all), or when the client must wait for its next try
    /// (nothing consumed).
    bool PasswordAllows(const Request& request, Client& client, bool* consumed);
    Reply LoadRules(const Request& request, uid_t uid, EntryTable& table);
    /// Compiles `principal` into the table of `uid` and activates it; false
    /// (the table left as it was) when the settings cannot be read. The
    /// policy is not published: the caller does that once.
    bool LoadPrincipal(uid_t uid, const std::string& principal, Origin origin);
    /// Loads the table of every account the settings know and, with the
    /// rules the settings give an unknown account, of every other login
    /// account (root excepted: the administrator's own processes stay free).
    /// The number of tables loaded, or -1 when the settings cannot be read.
    /// The caller publishes the policy.
    int LoadEveryAccount(Origin origin);
    /// As LoadEveryAccount, with the accounts the settings know already read.
    int LoadAccounts(const std::vector<uid_t>& known, Origin origin);
    /// At the service's start: every account's table, when the settings ask
    /// for automatic protection.
    void LoadAtStart();
    /// A session of `uid` opens: its own rules, when automatic protection is on.
    Reply SessionOpened(uid_t uid);
    /// Output of kGetTables.
    Reply TablesReply(const Client& client);
    /// Answers `request` of `client` (its uid and selected table); an
    /// output larger than the request allows is refused with its size needed.
    Reply Handle(const Request& request, Client& client);
    Reply Dispatch(const Request& request, Client& client);
    Reply HandleTableRequest(const Request& request, Client& client);
    Reply Coverage(const EntryTable& table);
    Reply Denials(const Request& request, const Client& client);
    Reply ReadFile(const Request& request, uid_t caller);
    Reply WriteFile(const Request& request, Client& client);
    void DropStaging(Client& client);
    /// Publishes the policy of the active tables and tells the engines.
    void PublishPolicy();
    /// Answers up to kFramesPerTurn waiting frames.
    void Process(Client& client);
    void Log(const std::string& line) const;

    ServiceOptions options_;
    TableSet tables_;
    std::string programsStamp_;
    std::chrono::steady_clock::time_point programsChecked_{};
    PublishedPolicy policy_;
    PasswordThrottle throttle_;
    std::size_t staged_ = 0;  ///< bytes of all files being written in parts
    std::shared_ptr<DenialLog> denials_;
    std::uint64_t generation_ = 0;
    /// A table that is active changed and its policy is not published yet.
    bool policyStale_ = false;
    int stopPipe_[2] = {-1, -1};
    ServiceSocket socket_;
    Connections connections_;
};

}  // namespace kv::driver
