#include "platform/LoginAccounts.h"

#include <algorithm>
#include <charconv>
#include <set>

#include "platform/Files.h"

namespace kv::platform {

namespace {

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

/// Calls `each` with every line of `text`, trimmed.
template <typename F>
void ForEachLine(std::string_view text, F each) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        each(Trimmed(text.substr(0, end)));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
}

}  // namespace

UidRange UidRangeOf(std::string_view loginDefs) {
    UidRange range;
    ForEachLine(loginDefs, [&](std::string_view line) {
        if (line.empty() || line.front() == '#')
            return;
        const std::size_t gap = line.find_first_of(" \t");
        if (gap == std::string_view::npos)
            return;
        const std::string_view key = line.substr(0, gap);
        const std::string_view value = Trimmed(line.substr(gap));
        unsigned long number = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
        if (ec != std::errc() || end != value.data() + value.size())
            return;
        if (key == "UID_MIN")
            range.min = number;
        else if (key == "UID_MAX")
            range.max = number;
    });
    return range;
}

std::vector<std::string> ShellsOf(std::string_view shellsFile) {
    std::vector<std::string> shells;
    ForEachLine(shellsFile, [&](std::string_view line) {
        if (!line.empty() && line.front() != '#')
            shells.emplace_back(line);
    });
    return shells;
}

std::vector<uid_t> LoginUids(const std::vector<PasswdEntry>& entries, UidRange range,
                             const std::vector<std::string>& shells) {
    std::set<uid_t> uids;
    for (const PasswdEntry& e : entries) {
        if (e.uid < range.min || e.uid > range.max)
            continue;
        if (std::find(shells.begin(), shells.end(), e.shell) != shells.end())
            uids.insert(static_cast<uid_t>(e.uid));
    }
    return {uids.begin(), uids.end()};
}

std::vector<PasswdEntry> PasswdEntriesOf(std::string_view passwd) {
    std::vector<PasswdEntry> entries;
    ForEachLine(passwd, [&](std::string_view line) {
        std::vector<std::string_view> fields;
        for (std::size_t start = 0;;) {
            const std::size_t colon = line.find(':', start);
            fields.push_back(line.substr(start, colon - start));
            if (colon == std::string_view::npos)
                break;
            start = colon + 1;
        }
        unsigned long uid = 0;
        if (fields.size() != 7 || fields[0].empty())
            return;
        const auto [end, ec] =
            std::from_chars(fields[2].data(), fields[2].data() + fields[2].size(), uid);
        if (ec != std::errc() || end != fields[2].data() + fields[2].size())
            return;
        entries.push_back(
            {std::string(fields[0]), uid, std::string(fields[5]), std::string(fields[6])});
    });
    return entries;
}

std::vector<uid_t> SystemLoginUids(const std::string& passwdPath) {
    std::string loginDefs;
    std::string shells;
    if (!ReadWholeFile("/etc/login.defs", &loginDefs))
        loginDefs.clear();  // the defaults
    if (!ReadWholeFile("/etc/shells", &shells))
        shells = "/bin/sh\n/bin/bash\n";  // what a Debian system lists at the least
    std::vector<PasswdEntry> entries;
    if (!passwdPath.empty()) {
        std::string text;
        if (ReadWholeFile(passwdPath, &text))
            entries = PasswdEntriesOf(text);
    } else {
        entries = SystemPasswdEntries();
    }
    return LoginUids(entries, UidRangeOf(loginDefs), ShellsOf(shells));
}

}  // namespace kv::platform
