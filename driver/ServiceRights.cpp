// Which requests need the administrator's password, and its check.
#include "driver/Service.h"

namespace kv::driver {

bool Service::NeedsPassword(const Request& request, const Client& client) {
    if (client.uid == 0 || !options_.authority)
        return false;
    const uid_t uid = client.Target();
    switch (request.code) {
        // The table is the administrator's: a user changes it only by loading
        // the rules the settings give that user (kLoadRules).
        case code::kAddEntry:
        case code::kActivate:
        case code::kClear:
        case code::kSetOrigin:
        case code::kLoadEveryAccount:
            return true;
        case code::kDeactivate: {
            const EntryTable* table = tables_.Find(uid);
            return table && table->Active();
        }
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
        // Another uid's table, count and refusals are the administrator's to see.
        case code::kSelectUid:
            return true;
        default:
            return false;
    }
}

bool Service::PasswordAllows(const Request& request, Client& client, bool* consumed) {
    *consumed = false;
    const auto now = std::chrono::steady_clock::now();
    const IAuthority::Password verdict = options_.authority->Check(request.password);
    if (verdict == IAuthority::Password::None)
        return true;
    if (!request.password && verdict == IAuthority::Password::Wrong) {
        // No guess was made: refused at once, and no try is counted.
        client.out += EncodeReply(Failure());
        *consumed = true;
        return false;
    }
    if (const auto next = throttle_.NextTry(client.uid); now < next) {
        client.holdUntil = next;
        client.lastProgress = next;
        return false;
    }
    switch (verdict) {
        case IAuthority::Password::None:
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

}  // namespace kv::driver
