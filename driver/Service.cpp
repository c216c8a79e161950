#include "driver/Service.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kv::driver {

namespace {

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

Reply Failure(std::uint32_t returned = 0) {
    return Reply{false, returned, {}};
}
Reply Success(std::uint32_t returned = 0) {
    return Reply{true, returned, {}};
}

}  // namespace

Service::Service(ServiceOptions options)
    : options_(std::move(options)),
      tables_(options_.statePath),
      denials_(std::make_shared<DenialLog>(options_.log)) {}

Service::~Service() {
    for (Client& c : clients_)
        ::close(c.fd);
    if (listenFd_ >= 0)
        ::close(listenFd_);
    for (int fd : stopPipe_) {
        if (fd >= 0)
            ::close(fd);
    }
}

void Service::Log(const std::string& line) const {
    if (options_.log)
        options_.log(line);
}

bool Service::Start(std::string* error) {
    std::string reason;
    switch (tables_.Load(&reason)) {
        case TableSet::LoadOutcome::kLoaded:
            break;
        case TableSet::LoadOutcome::kDamaged:
            Log(reason);
            break;
        case TableSet::LoadOutcome::kUnreadable:
            *error = reason;
            return false;
    }
    if (!options_.statePath.empty() && !MakeFolders(FolderOf(options_.statePath))) {
        *error = "cannot create the folder of " + options_.statePath + ": " + std::strerror(errno);
        return false;
    }
    const std::string& path = options_.socketPath;
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
    if (::pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listenFd_ < 0) {
        *error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    if (::bind(listenFd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        ::chmod(path.c_str(), 0666) != 0 || ::listen(listenFd_, 128) != 0) {
        *error = "cannot listen on " + path + ": " + std::strerror(errno);
        return false;
    }
    if (::lstat(path.c_str(), &st) == 0) {
        socketDev_ = st.st_dev;
        socketIno_ = st.st_ino;
    }
    std::size_t entries = 0;
    std::size_t active = 0;
    for (const auto& [uid, table] : tables_.All()) {
        entries += table.Count();
        active += table.Active() ? 1 : 0;
    }
    Log("listening on " + path + " with " + std::to_string(tables_.All().size()) + " tables (" +
        std::to_string(active) + " active, " + std::to_string(entries) + " entries)");
    PublishPolicy();
    return true;
}

void Service::RequestStop() {
    if (stopPipe_[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(stopPipe_[1], &byte, 1);
    }
}

void Service::PublishPolicy() {
    policy_.Publish(BuildPolicy(tables_, ++generation_, options_.programPath, denials_));
    policyStale_ = false;
    if (options_.policyChanged)
        options_.policyChanged(policy_.Current());
}

Reply Service::Handle(const Request& request, Client& client) {
    std::string error;
    if (request.code == code::kSelectUid) {
        // Only root may act on another uid's table.
        if (client.uid != 0 || request.uid == static_cast<std::uint32_t>(-1))
            return Failure();
        client.target = static_cast<uid_t>(request.uid);
        return Success();
    }
    if (request.code == code::kReadFile)
        return ReadFile(request, client.uid);
    if (request.code == code::kWriteFile)
        return WriteFile(request, client);
    const uid_t uid = client.target == static_cast<uid_t>(-1) ? client.uid : client.target;
    EntryTable& table = tables_.Of(uid);
    switch (request.code) {
        case code::kAddEntry: {
            Entry entry;
            if (!EntryFromRecord(request.record, &entry))
                return Failure();
            // A user's own additions (without the administrator's password)
            // stay the user's business: see EntryTable::OwnAdditions.
            if (client.uid != 0 && options_.authority) {
                const IAuthority::Password verdict = options_.authority->Check(request.password);
                if (verdict != IAuthority::Password::Right && verdict != IAuthority::Password::None)
                    table.MarkOwnAdditions();
            }
            if (!table.Add(entry, &error)) {
                Log(error);
                return Failure();
            }
            policyStale_ = policyStale_ || table.Active();
            return Success();
        }
        case code::kActivate:
        case code::kDeactivate: {
            const bool active = request.code == code::kActivate;
            const bool changed = table.Active() != active;
            table.SetActive(active);
            if (changed && active)
                denials_->ResetCount(uid);
            if (changed || policyStale_)
                PublishPolicy();
            return Success();
        }
        case code::kClear: {
            const bool wasEnforced = table.Active() && table.Count() > 0;
            table.Clear();
            if (wasEnforced)
                PublishPolicy();
            return Success();
        }
        case code::kCount:
            return Success(table.Count());
        case code::kGetActive:
            return Success(table.Active() ? 1 : 0);
        case code::kCheck:
            return Success(
                table.Index()->Decide(request.operation, request.path, request.process).entry);
        case code::kLoadRules:
            return LoadRules(request, uid, table);
        case code::kCheckPassword: {
            // With a password, only reached once it was found right (or none is set).
            if (!options_.authority)
                return Success(0);
            switch (options_.authority->Check(request.password)) {
                case IAuthority::Password::None:
                    return Success(0);
                case IAuthority::Password::Right:
                    return Success(1);
                default:
                    return Failure();
            }
        }
        case code::kGetDenials: {
            // Root sees every uid's refusals unless it selected one.
            const uid_t whose = client.uid == 0 && client.target == static_cast<uid_t>(-1)
                                    ? static_cast<uid_t>(-1)
                                    : uid;
            Reply reply = Success();
            for (const Denial& d : denials_->After(request.index, whose)) {
                std::string record;
                EncodeDenial(d, &record);
                if (reply.output.size() + record.size() > request.outputSize)
                    break;
                reply.output += record;
                ++reply.returned;
            }
            return reply;
        }
        case code::kGetDenialCount:
            return Success(denials_->CountOf(uid));
        case code::kGetCoverage: {
            Reply reply = Success(table.Count());
            for (const Entry& e : table.Entries()) {
                const std::string folder = EntryFolder(e.FileMask);
                std::string how;
                if (!table.Active())
                    how = "not enforced: the table is not active";
                else if (table.OwnAdditions() && NeedsOpenEvents(folder) && !IsSelfProtection(e))
                    how =
                        "not enforced: open events serve the administrator's entries only, and "
                        "this table holds entries added without the password";
                else
                    how = options_.coverageOf ? options_.coverageOf(folder)
                                              : "not enforced: the service is not running as root";
                reply.output += how + '\0';
            }
            if (reply.output.size() > request.outputSize)
                return Failure(reply.returned);
            return reply;
        }
        case code::kGetMounts: {
            const std::vector<std::string> folders =
                options_.mountedFolders ? options_.mountedFolders() : std::vector<std::string>{};
            Reply reply = Success(static_cast<std::uint32_t>(folders.size()));
            for (const std::string& folder : folders)
                reply.output += folder + '\0';
            if (reply.output.size() > request.outputSize)
                return Failure(reply.returned);
            return reply;
        }
        case code::kGetEntry: {
            if (request.index >= table.Count())
                return Failure();
            Reply reply = Success();
            reply.output = EncodeEntryOutput(table.Entries()[request.index]);
            reply.returned = static_cast<std::uint32_t>(reply.output.size());
            if (reply.output.size() > request.outputSize)
                return Failure(reply.returned);
            return reply;
        }
        default:
            return Failure();
    }
}

Reply Service::LoadRules(const Request& request, uid_t uid, EntryTable& table) {
    if (!options_.authority) {
        Log("cannot load rules for uid " + std::to_string(uid) + ": the service keeps no settings");
        return Failure();
    }
    std::string error;
    std::string principal = request.principal.value_or("");
    if (principal.empty())
        principal = options_.authority->PrincipalOf(uid, &error);
    std::vector<Entry> entries;
    if (principal.empty() || !options_.authority->Compile(principal, &entries, &error)) {
        Log("cannot load rules for uid " + std::to_string(uid) + ": " + error);
        return Failure();
    }
    table.Clear();
    for (const Entry& entry : entries) {
        if (!table.Add(entry, &error))
            Log(error);
    }
    table.SetActive(true);
    denials_->ResetCount(uid);
    PublishPolicy();
    Log("loaded " + std::to_string(table.Count()) + " entries of " + principal + " for uid " +
        std::to_string(uid));
    return Success(table.Count());
}

bool Service::NeedsPassword(const Request& request, const Client& client) {
    if (client.uid == 0 || !options_.authority)
        return false;
    const uid_t uid = client.target == static_cast<uid_t>(-1) ? client.uid : client.target;
    const EntryTable* table = tables_.Find(uid);
    const bool active = table && table->Active();
    switch (request.code) {
        case code::kClear:
            return active && table->Count() > 0;
        case code::kDeactivate:
            return active;
        case code::kLoadRules: {
            if (!request.principal || request.principal->empty())
                return false;
            std::string error;
            return *request.principal != options_.authority->PrincipalOf(uid, &error);
        }
        case code::kCheckPassword:
            return request.password.has_value();  // without one it only asks whether one is set
        case code::kReadFile:
        case code::kWriteFile:
            return true;
        default:
            return false;
    }
}

bool Service::PasswordAllows(const Request& request, Client& client, bool* consumed) {
    *consumed = false;
    const auto now = std::chrono::steady_clock::now();
    if (const auto next = throttle_.NextTry(client.uid); now < next) {
        client.holdUntil = next;
        client.lastProgress = next;
        return false;
    }
    switch (options_.authority->Check(request.password)) {
        case IAuthority::Password::None:
            return true;
        case IAuthority::Password::Right:
            throttle_.Right(client.uid);
            return true;
        case IAuthority::Password::Unknown:
            Log("the settings cannot be read: a request of uid " + std::to_string(client.uid) +
                " that needs the administrator's password is refused");
            break;
        case IAuthority::Password::Wrong:
            Log("wrong administrator's password from uid " + std::to_string(client.uid));
            break;
    }
    client.holdUntil = throttle_.Wrong(client.uid, now);
    client.lastProgress = client.holdUntil;
    client.out += EncodeReply(Failure());
    *consumed = true;
    return false;
}

Reply Service::ReadFile(const Request& request, uid_t caller) {
    if (!options_.authority)
        return Failure(ENOSYS);
    std::string data;
    if (const int error = options_.authority->ReadFile(request.file, caller, &data); error != 0)
        return Failure(static_cast<std::uint32_t>(error));
    Reply reply = Success(static_cast<std::uint32_t>(data.size()));
    if (request.offset < data.size())
        reply.output = data.substr(request.offset, request.outputSize);
    return reply;
}

Reply Service::WriteFile(const Request& request, Client& client) {
    if (!options_.authority)
        return Failure(ENOSYS);
    if (request.flags & kFileRemove) {
        const int error = options_.authority->WriteFile(request.file, client.uid, nullptr);
        return error == 0 ? Success() : Failure(static_cast<std::uint32_t>(error));
    }
    auto drop = [this, &client] {
        staged_ -= client.staging.size();
        client.stagingFile = 0;
        client.staging.clear();
        client.staging.shrink_to_fit();
    };
    if (request.flags & kFileFirst) {
        drop();
        client.stagingFile = request.file;
    }
    if (client.stagingFile != request.file || client.stagingFile == 0)
        return Failure(EINVAL);  // a part of a file that was never begun
    if (client.staging.size() + request.data.size() > kMaxFileSize ||
        staged_ + request.data.size() > kMaxStaged) {
        drop();
        return Failure(EFBIG);
    }
    client.staging += request.data;
    staged_ += request.data.size();
    if (!(request.flags & kFileLast))
        return Success();
    const int error =
        options_.authority->WriteFile(client.stagingFile, client.uid, &client.staging);
    if (error == 0)
        Log("uid " + std::to_string(client.uid) + " wrote file " +
            std::to_string(client.stagingFile));
    drop();
    return error == 0 ? Success() : Failure(static_cast<std::uint32_t>(error));
}

Reply Service::HandleBody(std::string_view body, uid_t uid) {
    Request request;
    std::string error;
    if (!DecodeRequest(body, &request, &error))
        return Failure();
    Client client;
    client.uid = uid;
    return Handle(request, client);
}

void Service::Accept() {
    for (;;) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                Log(std::string("accept: ") + std::strerror(errno));
            return;
        }
        if (clients_.size() >= kMaxClients) {
            ::close(fd);
            continue;
        }
        ucred cred{};
        socklen_t length = sizeof cred;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0) {
            ::close(fd);
            continue;
        }
        Client client;
        client.fd = fd;
        client.uid = cred.uid;
        client.lastProgress = std::chrono::steady_clock::now();
        clients_.push_back(std::move(client));
    }
}

void Service::ReadFrom(Client& client) {
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

bool Service::FrameWaits(const Client& client) {
    if (client.closing || client.in.size() < 4)
        return false;
    const std::uint32_t length = GetU32(client.in, 0);
    return length > kMaxFrameBody || client.in.size() >= 4 + std::size_t{length};
}

bool Service::HasFrame(const Client& client) {
    return client.out.size() < kMaxPendingOutput && FrameWaits(client);
}

void Service::Process(Client& client) {
    if (Held(client, std::chrono::steady_clock::now()))
        return;
    for (int frames = 0; frames < kFramesPerTurn && HasFrame(client); ++frames) {
        const std::uint32_t length = GetU32(client.in, 0);
        if (length > kMaxFrameBody) {
            client.out += EncodeReply(Failure());
            client.closing = true;
            client.in.clear();
            Log("closing a client that sent a frame of " + std::to_string(length) + " bytes");
            return;
        }
        const std::string_view body = std::string_view(client.in).substr(4, length);
        Request request;
        std::string error;
        Reply reply;
        if (DecodeRequest(body, &request, &error)) {
            bool consumed = false;
            if (NeedsPassword(request, client) && !PasswordAllows(request, client, &consumed)) {
                if (consumed)
                    client.in.erase(0, 4 + std::size_t{length});
                return;
            }
            reply = Handle(request, client);
        } else {
            reply = Failure();
            if (++client.malformed <= 5)
                Log("malformed request: " + error);
        }
        client.out += EncodeReply(reply);
        client.in.erase(0, 4 + std::size_t{length});
    }
    if (client.eof && !client.closing && !FrameWaits(client)) {
        // The client stopped sending: a frame cut short is answered as malformed.
        if (!client.in.empty())
            client.out += EncodeReply(Failure());
        client.in.clear();
        client.closing = true;
    }
}

void Service::WriteTo(Client& client) {
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

void Service::Run() {
    std::vector<pollfd> fds;
    bool stopping = false;
    std::string error;
    while (!stopping) {
        const auto now = std::chrono::steady_clock::now();
        fds.clear();
        fds.push_back({stopPipe_[0], POLLIN, 0});
        fds.push_back({listenFd_, POLLIN, 0});
        for (const Client& c : clients_) {
            short events = 0;
            if (!c.closing && !c.eof && c.out.size() < kMaxPendingOutput &&
                c.in.size() < 4 + kMaxFrameBody)
                events |= POLLIN;
            if (!c.out.empty() && !Held(c, now))
                events |= POLLOUT;
            fds.push_back({c.fd, events, 0});
        }
        int timeout = static_cast<int>(std::min<std::int64_t>(1000, options_.stallTimeout.count()));
        if (tables_.IndexStale() || policyStale_)
            timeout = std::min(timeout, kIndexDelayMs);
        for (const Client& c : clients_) {
            if (Held(c, now)) {
                const auto wait = std::chrono::ceil<std::chrono::milliseconds>(c.holdUntil - now);
                timeout = std::min<int>(timeout, static_cast<int>(wait.count()));
            } else if (HasFrame(c)) {
                timeout = 0;
            }
        }
        if (const int save = tables_.MillisecondsUntilSave(now); save >= 0)
            timeout = std::min(timeout, save);
        const int ready = ::poll(fds.data(), fds.size(), timeout);
        if (ready < 0 && errno != EINTR) {
            Log(std::string("poll: ") + std::strerror(errno));
            break;
        }
        // A quiet moment after changes (no frame waiting, no save due): compile
        // and publish, rather than after every change of a bulk load.
        if (ready == 0 && timeout == kIndexDelayMs) {
            if (policyStale_)
                PublishPolicy();
            tables_.CompileIndexes();
        }
        if (ready > 0) {
            if (fds[0].revents != 0)
                stopping = true;
            if (fds[1].revents & POLLIN)
                Accept();
            // Clients accepted just now are not in fds yet; they are polled next turn.
            for (std::size_t i = 2; i < fds.size(); ++i) {
                Client& c = clients_[i - 2];
                if (fds[i].revents & (POLLIN | POLLHUP | POLLERR))
                    ReadFrom(c);
            }
        }
        for (Client& c : clients_)
            Process(c);
        // Changes reach the state file before their replies are sent.
        if (!tables_.SaveIfDue(std::chrono::steady_clock::now(), &error))
            Log(error);
        const auto after = std::chrono::steady_clock::now();
        for (Client& c : clients_) {
            if (!c.out.empty() && !Held(c, after))
                WriteTo(c);
            const bool stalled = (!c.in.empty() || !c.out.empty() || !c.staging.empty()) &&
                                 after - c.lastProgress > options_.stallTimeout;
            if (stalled) {
                Log("dropping a client that stalled");
                c.closing = true;
                c.out.clear();
            }
        }
        std::erase_if(clients_, [this](const Client& c) {
            if (c.closing && c.out.empty()) {
                staged_ -= c.staging.size();
                ::close(c.fd);
                return true;
            }
            return false;
        });
    }
    if (!tables_.Flush(&error))
        Log(error);
    for (Client& c : clients_)
        ::close(c.fd);
    clients_.clear();
    ::close(listenFd_);
    listenFd_ = -1;
    struct stat st;
    if (::lstat(options_.socketPath.c_str(), &st) == 0 && st.st_dev == socketDev_ &&
        st.st_ino == socketIno_)
        ::unlink(options_.socketPath.c_str());
    Log("stopped");
}

}  // namespace kv::driver
