// Every account's table, loaded by the service itself: at its start (before
// any session can begin) and when the administrator's Start asks again.
#include <algorithm>
#include <set>

#include "driver/Service.h"

namespace kv::driver {

bool Service::LoadPrincipal(uid_t uid, const std::string& principal, Origin origin) {
    std::string error;
    std::vector<Entry> entries;
    if (principal.empty() || !options_.authority->Compile(principal, &entries, &error)) {
        Log("cannot load rules for uid " + std::to_string(uid) + ": " + error);
        return false;
    }
    EntryTable& table = tables_.Of(uid);
    table.Clear();
    for (const Entry& entry : entries) {
        if (!table.Add(entry, &error))
            Log(error);
    }
    table.SetActive(true);
    table.SetOrigin(origin);
    denials_->ResetCount(uid);
    return true;
}

int Service::LoadEveryAccount(Origin origin) {
    if (!options_.authority)
        return -1;
    bool automatic = false;
    std::vector<uid_t> known;
    std::string error;
    if (!options_.authority->KnownAccounts(&automatic, &known, &error)) {
        Log("cannot load every account's rules: " + error);
        return -1;
    }
    return LoadAccounts(known, origin);
}

int Service::LoadAccounts(const std::vector<uid_t>& known, Origin origin) {
    std::string error;
    std::set<uid_t> uids(known.begin(), known.end());
    if (options_.loginAccounts) {
        for (uid_t uid : options_.loginAccounts())
            uids.insert(uid);
    }
    uids.erase(0);
    int loaded = 0;
    for (uid_t uid : uids) {
        // PrincipalOf gives an account the settings never knew the unknown user's rules.
        const std::string principal = options_.authority->PrincipalOf(uid, &error);
        if (LoadPrincipal(uid, principal, origin))
            ++loaded;
        else if (principal.empty())
            Log("cannot tell the principal of uid " + std::to_string(uid) + ": " + error);
    }
    Log("loaded the tables of " + std::to_string(loaded) + " accounts (" + OriginName(origin) +
        ")");
    return loaded;
}

void Service::LoadAtStart() {
    if (!options_.authority)
        return;
    bool automatic = false;
    std::vector<uid_t> known;
    std::string error;
    if (!options_.authority->KnownAccounts(&automatic, &known, &error)) {
        // The tables kept in the state file stay in force.
        Log("the settings cannot be read, keeping the saved tables: " + error);
        return;
    }
    if (!automatic) {
        Log("automatic protection is off: the saved tables are kept, no account is loaded");
        return;
    }
    LoadAccounts(known, Origin::kBoot);
}

Reply Service::SessionOpened(uid_t uid) {
    if (!options_.authority)
        return Reply{false, 0, {}};
    // Only whether protection is automatic: no account is looked up here,
    // on the service's one thread, at every logon.
    bool automatic = false;
    std::string error;
    if (!options_.authority->KnownAccounts(&automatic, nullptr, &error)) {
        Log("a session of uid " + std::to_string(uid) + " opens, but " + error);
        return Reply{false, 0, {}};
    }
    if (!automatic)
        return Reply{true, 0, {}};
    // An account created after the start gets the unknown user's rules here.
    if (!LoadPrincipal(uid, options_.authority->PrincipalOf(uid, &error), Origin::kSession))
        return Reply{false, 0, {}};
    PublishPolicy();
    const std::uint32_t count = tables_.Of(uid).Count();
    Log("a session of uid " + std::to_string(uid) + " opens: " + std::to_string(count) +
        " entries loaded");
    return Reply{true, count, {}};
}

Reply Service::TablesReply(const Client& client) {
    // Which accounts are protected, and how, is the administrator's to see.
    if (client.uid != 0)
        return Reply{false, 0, {}};
    Reply reply{true, 0, {}};
    for (const auto& [uid, table] : tables_.All()) {
        if (table.Empty())
            continue;
        PutU32(&reply.output, uid);
        PutU32(&reply.output, table.Active() ? 1 : 0);
        PutU32(&reply.output, table.Count());
        PutU32(&reply.output, static_cast<std::uint32_t>(table.GetOrigin()));
        ++reply.returned;
    }
    return reply;
}

}  // namespace kv::driver
