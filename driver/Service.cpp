#include "driver/Service.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kv::driver {

namespace {

constexpr uid_t kNoUid = static_cast<uid_t>(-1);

}  // namespace

Service::Service(ServiceOptions options)
    : options_(std::move(options)),
      tables_(options_.statePath),
      denials_(std::make_shared<DenialLog>(options_.log)),
      connections_({options_.stallTimeout, options_.idleTimeout}, options_.log) {
    tables_.SetPrograms(options_.programs);
    if (options_.programsStamp)
        programsStamp_ = options_.programsStamp();
}

Service::~Service() {
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
    if (::pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    if (!socket_.Listen(options_.socketPath, error))
        return false;
    // Before the service reports ready, so before any session can begin.
    LoadAtStart();
    std::size_t entries = 0;
    std::size_t active = 0;
    for (const auto& [uid, table] : tables_.All()) {
        entries += table.Count();
        active += table.Active() ? 1 : 0;
    }
    Log("listening on " + options_.socketPath + " with " + std::to_string(tables_.All().size()) +
        " tables (" + std::to_string(active) + " active, " + std::to_string(entries) + " entries)");
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
    Reply reply = Dispatch(request, client);
    if (reply.output.size() > request.outputSize)
        return Failure(reply.returned);
    return reply;
}

Reply Service::Dispatch(const Request& request, Client& client) {
    switch (request.code) {
        case code::kSelectUid:
            // Root, or a user who gave the administrator's password (checked
            // before the request got here), may act on another uid's table;
            // every uid (kNoUid) is for reading the denial log.
            if (client.uid != 0 && !options_.authority)
                return Failure();
            client.target = static_cast<uid_t>(request.uid);
            client.everyUid = request.uid == kNoUid;
            return Success();
        case code::kReadFile:
            return ReadFile(request, client.uid);
        case code::kWriteFile:
            return WriteFile(request, client);
        case code::kCheckPassword:
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
        case code::kGetDenials:
            return Denials(request, client);
        case code::kGetTables:
            return TablesReply(client);
        case code::kLoadEveryAccount: {
            const int loaded = LoadEveryAccount(Origin::kStart);
            if (loaded < 0)
                return Failure();
            PublishPolicy();
            return Success(static_cast<std::uint32_t>(loaded));
        }
        case code::kGetMounts: {
            const std::vector<std::string> folders =
                options_.mountedFolders ? options_.mountedFolders() : std::vector<std::string>{};
            Reply reply = Success(static_cast<std::uint32_t>(folders.size()));
            for (const std::string& folder : folders)
                reply.output += folder + '\0';
            return reply;
        }
        default:
            return HandleTableRequest(request, client);
    }
}

Reply Service::HandleTableRequest(const Request& request, Client& client) {
    const uid_t uid = client.Target();
    EntryTable& table = tables_.Of(uid);
    std::string error;
    switch (request.code) {
        case code::kAddEntry: {
            Entry entry;
            if (!EntryFromRecord(request.record, &entry))
                return Failure();
            if (!table.Add(entry, &error)) {
                Log(error);
                return Failure();
            }
            table.SetOrigin(Origin::kEntries);
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
        case code::kCheck: {
            // The process named as the engines see it: a path's file, or
            // the program users call by that name.
            ProgramId program;
            if (request.process.find('/') != std::string::npos) {
                program = ProgramIdOf(request.process);
            } else if (const auto found = options_.programs ? options_.programs(request.process)
                                                            : std::vector<ProgramId>{};
                       !found.empty()) {
                program = found.front();
            }
            return Success(table.Index()
                               ->Decide(request.operation, request.path, request.process, program)
                               .entry);
        }
        case code::kLoadRules:
            return LoadRules(request, uid, table);
        case code::kSessionOpened:
            return SessionOpened(uid);
        case code::kGetDenialCount:
            return Success(denials_->CountOf(uid));
        case code::kSetOrigin: {
            const auto origin = OriginOf(request.origin);
            if (!origin)
                return Failure();
            table.SetOrigin(*origin);
            return Success();
        }
        case code::kGetCoverage:
            return Coverage(table);
        case code::kGetFolderCoverage: {
            Reply reply = Success();
            reply.output = options_.folderCoverage
                               ? options_.folderCoverage(request.path)
                               : "not enforced: the service is not running as root";
            reply.returned = static_cast<std::uint32_t>(reply.output.size());
            return reply;
        }
        case code::kGetEntry: {
            if (request.index >= table.Count())
                return Failure();
            Reply reply = Success();
            reply.output = EncodeEntryOutput(table.Entries()[request.index]);
            reply.returned = static_cast<std::uint32_t>(reply.output.size());
            return reply;
        }
        default:
            return Failure();
    }
}

Reply Service::Coverage(const EntryTable& table) {
    Reply reply = Success(table.Count());
    for (const Entry& e : table.Entries()) {
        std::string how;
        if (!table.Active())
            how = "not enforced: the table is not active";
        else
            how = options_.coverageOf ? options_.coverageOf(EntryFolder(e.FileMask))
                                      : "not enforced: the service is not running as root";
        if (e.dwOperation == 0 && table.Active())
            how = "nothing to enforce: the entry forbids nothing";
        else if ((e.dwOperation & kNoCounterpartBits) && !how.starts_with("not enforced"))
            how += kNoCounterpartNote;
        reply.output += how + '\0';
    }
    return reply;
}

Reply Service::Denials(const Request& request, const Client& client) {
    // Root sees every uid's refusals unless it selected one; the
    // administrator at another account once they selected every uid.
    const bool every = (client.uid == 0 || client.everyUid) && client.target == kNoUid;
    const uid_t whose = every ? kNoUid : client.Target();
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

Reply Service::LoadRules(const Request& request, uid_t uid, EntryTable& table) {
    if (!options_.authority) {
        Log("cannot load rules for uid " + std::to_string(uid) + ": the service keeps no settings");
        return Failure();
    }
    std::string error;
    const std::string own = options_.authority->PrincipalOf(uid, &error);
    std::string principal = request.principal.value_or("");
    if (principal.empty())
        principal = own;
    if (principal.empty()) {
        Log("cannot load rules for uid " + std::to_string(uid) + ": " + error);
        return Failure();
    }
    // The account's own rules are a session's; another principal's are a test.
    if (!LoadPrincipal(uid, principal, principal == own ? Origin::kSession : Origin::kTest))
        return Failure();
    PublishPolicy();
    Log("loaded " + std::to_string(table.Count()) + " entries of " + principal + " for uid " +
        std::to_string(uid));
    return Success(table.Count());
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

void Service::Process(Client& client) {
    if (client.Held(std::chrono::steady_clock::now()))
        return;
    for (int frames = 0; frames < kFramesPerTurn && Connections::HasFrame(client); ++frames) {
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
                if (consumed) {
                    client.in.erase(0, 4 + std::size_t{length});
                    ++client.answered;
                }
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
        ++client.answered;
    }
    if (client.eof && !client.closing && !Connections::FrameWaits(client)) {
        // The client stopped sending: a frame cut short is answered as malformed.
        if (!client.in.empty())
            client.out += EncodeReply(Failure());
        client.in.clear();
        client.closing = true;
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
        fds.push_back({socket_.Fd(), POLLIN, 0});
        connections_.AddPollEntries(&fds, now);
        int timeout = std::min(1000, connections_.MillisecondsUntilTimeout(now));
        if (options_.programsStamp && now - programsChecked_ >= std::chrono::seconds(1)) {
            // An upgraded program is another file: its name is resolved again.
            programsChecked_ = now;
            std::string stamp = options_.programsStamp();
            if (stamp != programsStamp_) {
                programsStamp_ = std::move(stamp);
                tables_.RefreshPrograms();
                policyStale_ = true;
            }
        }
        const bool indexDue = tables_.IndexStale() || policyStale_;
        if (indexDue)
            timeout = std::min(timeout, kIndexDelayMs);
        for (const Client& c : connections_.All()) {
            if (c.Held(now)) {
                const auto wait = std::chrono::ceil<std::chrono::milliseconds>(c.holdUntil - now);
                timeout = std::min<int>(timeout, static_cast<int>(wait.count()));
            } else if (Connections::HasFrame(c)) {
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
        if (ready == 0 && indexDue && timeout > 0) {
            if (policyStale_)
                PublishPolicy();
            tables_.CompileIndexes();
        }
        if (ready > 0) {
            if (fds[0].revents != 0)
                stopping = true;
            connections_.ReadReady(fds, 2);
            if (fds[1].revents & POLLIN)
                connections_.Accept(socket_.Fd());
        }
        for (Client& c : connections_.All())
            Process(c);
        // Changes reach the state file before their replies are sent.
        if (!tables_.SaveIfDue(std::chrono::steady_clock::now(), &error))
            Log(error);
        connections_.Flush([this](Client& c) { staged_ -= c.staging.size(); });
    }
    if (!tables_.Flush(&error))
        Log(error);
    connections_.CloseAll();
    socket_.Close();
    Log("stopped");
}

}  // namespace kv::driver
