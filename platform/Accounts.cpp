#include "platform/Accounts.h"

#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string_view>

#include "platform/Files.h"
#include "platform/LoginAccounts.h"
#include "platform/RegFile.h"

namespace kv::platform {
namespace {

bool CannotLogOn(std::string_view shell) {
    const std::size_t slash = shell.rfind('/');
    const std::string_view base = slash == std::string_view::npos ? shell : shell.substr(slash + 1);
    return base == "nologin" || base == "false";
}

}  // namespace

std::vector<Account> LoginAccounts(const std::vector<PasswdEntry>& entries) {
    std::vector<Account> accounts;
    for (const PasswdEntry& e : entries) {
        if (e.name.empty())
            continue;
        const bool root = e.uid == 0;
        // An account whose home folder does not exist yet can log on all the same.
        if (!root && (e.uid < 1000 || CannotLogOn(e.shell)))
            continue;
        bool seen = false;
        for (const Account& a : accounts)
            seen = seen || regfile::SameName(a.name, e.name);
        if (!seen)
            accounts.push_back(Account{e.name, e.home});
    }
    return accounts;
}

std::vector<PasswdEntry> SystemPasswdEntries() {
    // getpwent keeps one cursor per process.
    static std::mutex mutex;
    std::vector<PasswdEntry> entries;
    std::lock_guard<std::mutex> lock(mutex);
    ::setpwent();
    while (const passwd* pw = ::getpwent()) {
        entries.push_back(PasswdEntry{pw->pw_name ? pw->pw_name : "", pw->pw_uid,
                                      pw->pw_dir ? pw->pw_dir : "",
                                      pw->pw_shell ? pw->pw_shell : ""});
    }
    ::endpwent();
    return entries;
}

std::vector<Account> SystemAccounts() {
    return LoginAccounts(SystemPasswdEntries());
}

std::vector<Account> AccountsFromPasswdFile(const std::string& path) {
    std::string text;
    if (!ReadWholeFile(path, &text))
        return {};
    return LoginAccounts(PasswdEntriesOf(text));
}

std::string AccountNameOf(uid_t uid) {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd pw{};
    passwd* found = nullptr;
    while (::getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) == ERANGE)
        buffer.resize(buffer.size() * 2);
    if (!found || !found->pw_name)
        return uid == 0 ? "root" : "";
    return found->pw_name;
}

std::optional<uid_t> UidOfAccount(const std::string& name) {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd pw{};
    passwd* found = nullptr;
    while (::getpwnam_r(name.c_str(), &pw, buffer.data(), buffer.size(), &found) == ERANGE)
        buffer.resize(buffer.size() * 2);
    if (!found)
        return std::nullopt;
    return found->pw_uid;
}

bool RunsAsRoot() {
    return ::geteuid() == 0;
}

void KeepMemoryPrivate() {
    ::prctl(PR_SET_DUMPABLE, 0);
}

}  // namespace kv::platform
