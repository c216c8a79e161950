#include "driver/events/OpenRules.h"

#include <string_view>

namespace kv::driver::events {

namespace {

void PutText(std::string* out, const std::string& text) {
    *out += text;
    out->push_back('\0');
}

bool GetText(std::string_view bytes, std::size_t* pos, std::string* text) {
    const std::size_t nul = bytes.find('\0', *pos);
    if (nul == std::string_view::npos)
        return false;
    *text = std::string(bytes.substr(*pos, nul - *pos));
    *pos = nul + 1;
    return true;
}

bool GetWord(std::string_view bytes, std::size_t* pos, std::uint32_t* value) {
    if (bytes.size() < *pos + 4)
        return false;
    *value = GetU32(bytes, *pos);
    *pos += 4;
    return true;
}

}  // namespace

bool OpenPolicy::WatchesProgramFiles() const {
    for (const auto& [uid, list] : entries) {
        for (const auto& [index, e] : list) {
            if (IsSelfProtection(e))
                return true;
        }
    }
    return false;
}

bool OpenPolicy::WatchesFileSystems() const {
    for (const auto& [uid, list] : entries) {
        for (const auto& [index, e] : list) {
            if (!IsSelfProtection(e))
                return true;
        }
    }
    return false;
}

std::string Frame(const std::string& payload) {
    std::string frame;
    PutU32(&frame, static_cast<std::uint32_t>(payload.size()));
    return frame + payload;
}

std::string EncodeOpenPolicy(const OpenPolicy& policy) {
    std::string out;
    PutU32(&out, static_cast<std::uint32_t>(policy.service));
    PutText(&out, policy.program);
    PutText(&out, policy.settings);
    PutText(&out, policy.serviceExecutable);
    PutU32(&out, static_cast<std::uint32_t>(policy.entries.size()));
    for (const auto& [uid, list] : policy.entries) {
        PutU32(&out, static_cast<std::uint32_t>(uid));
        PutU32(&out, static_cast<std::uint32_t>(list.size()));
        for (const auto& [index, e] : list) {
            PutU32(&out, index);
            const std::string entry = EncodeEntryOutput(e);
            PutU32(&out, static_cast<std::uint32_t>(entry.size()));
            out += entry;
        }
    }
    return out;
}

bool DecodeOpenPolicy(std::string_view bytes, OpenPolicy* policy) {
    *policy = OpenPolicy{};
    std::size_t pos = 0;
    std::uint32_t service = 0;
    std::uint32_t users = 0;
    if (!GetWord(bytes, &pos, &service) || !GetText(bytes, &pos, &policy->program) ||
        !GetText(bytes, &pos, &policy->settings) ||
        !GetText(bytes, &pos, &policy->serviceExecutable) || !GetWord(bytes, &pos, &users))
        return false;
    policy->service = static_cast<pid_t>(service);
    for (std::uint32_t u = 0; u < users; ++u) {
        std::uint32_t uid = 0;
        std::uint32_t count = 0;
        if (!GetWord(bytes, &pos, &uid) || !GetWord(bytes, &pos, &count))
            return false;
        auto& list = policy->entries[static_cast<uid_t>(uid)];
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint32_t index = 0;
            std::uint32_t size = 0;
            Entry e;
            if (!GetWord(bytes, &pos, &index) || !GetWord(bytes, &pos, &size) ||
                bytes.size() < pos + size || !DecodeEntryOutput(bytes.substr(pos, size), &e))
                return false;
            pos += size;
            list.emplace_back(index, std::move(e));
        }
    }
    return pos == bytes.size();
}

OpenPolicy OpenPolicyOf(const Policy& policy, pid_t service, const std::string& program,
                        const std::string& settings, const std::string& serviceExecutable) {
    OpenPolicy open;
    open.service = service;
    open.program = program;
    open.settings = settings;
    open.serviceExecutable = serviceExecutable;
    for (const auto& [uid, rules] : policy.Users()) {
        if (!rules.openEntries.empty())
            open.entries[uid] = rules.openEntries;
    }
    return open;
}

OpenRules::OpenRules(const OpenPolicy& policy, const ProgramResolver& programs) {
    std::vector<Entry> any;
    for (const auto& [uid, list] : policy.entries) {
        User& user = users_[uid];
        std::vector<Entry> entries;
        for (const auto& [index, e] : list) {
            entries.push_back(e);
            user.tableIndex.push_back(index);
            // Whoever opens it, whatever it excludes: could this entry match?
            any.push_back({0x400, e.FileMask, "", "*", ""});
        }
        user.index = std::make_unique<MatchIndex>(entries, programs);
    }
    any_ = std::make_unique<MatchIndex>(any);
}

std::uint32_t OpenRules::Decide(uid_t uid, std::uint32_t operation, std::string_view path,
                                std::string_view process, ProgramId program, bool folder) const {
    const auto it = users_.find(uid);
    if (it == users_.end())
        return kAllowed;
    const Decision d = it->second.index->Decide(operation, path, process, program, folder);
    return d.refused ? it->second.tableIndex[d.entry] : kAllowed;
}

bool OpenRules::CouldMatch(std::string_view path) const {
    return any_->Decide(0x4, path, "any").refused;
}

}  // namespace kv::driver::events
