#include "platform/Registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <unordered_set>

#include "platform/Accounts.h"
#include "platform/Files.h"
#include "platform/RegFile.h"

namespace kv::platform {
namespace {

using regfile::Document;
using regfile::SameName;

constexpr char kProfileImagePath[] = "ProfileImagePath";

/// Key path components; empty ones (doubled or outer "\") are dropped.
std::vector<std::string> Split(std::string_view path) {
    std::vector<std::string> parts;
    while (!path.empty()) {
        const std::size_t bs = path.find('\\');
        if (bs != 0)
            parts.emplace_back(path.substr(0, bs));
        if (bs == std::string_view::npos)
            break;
        path.remove_prefix(bs + 1);
    }
    return parts;
}

std::string Join(const std::vector<std::string>& parts, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count && i < parts.size(); ++i) {
        if (i)
            out += '\\';
        out += parts[i];
    }
    return out;
}

std::string Normalize(std::string_view path) {
    const auto parts = Split(path);
    return Join(parts, parts.size());
}

/// True when `key` lies strictly below `parent` ("" is the hive's root).
bool IsUnder(std::string_view key, std::string_view parent) {
    if (parent.empty())
        return !key.empty();
    return key.size() > parent.size() && key[parent.size()] == '\\' &&
           SameName(key.substr(0, parent.size()), parent);
}

bool ExistsIn(const std::vector<std::string>& paths, std::string_view path) {
    if (path.empty())
        return true;
    for (const auto& p : paths) {
        if (SameName(p, path) || IsUnder(p, path))
            return true;
    }
    return false;
}

/// Names of the direct subkeys of `path` among `paths`, first spelling kept.
void AddSubKeys(const std::vector<std::string>& paths, std::string_view path,
                std::vector<std::string>* names) {
    std::unordered_set<std::string> seen;
    for (const auto& n : *names)
        seen.insert(regfile::FoldCase(n));
    for (const auto& p : paths) {
        if (!IsUnder(p, path))
            continue;
        std::string_view rest(p);
        rest.remove_prefix(path.empty() ? 0 : path.size() + 1);
        const std::string_view name = rest.substr(0, rest.find('\\'));
        if (seen.insert(regfile::FoldCase(name)).second)
            names->emplace_back(name);
    }
}

std::vector<std::string> KeyPaths(const Document& doc) {
    std::vector<std::string> paths;
    for (const auto& key : doc.keys)
        paths.push_back(key.path);
    return paths;
}

regfile::Key* FindKey(Document& doc, std::string_view path) {
    for (auto& key : doc.keys) {
        if (SameName(key.path, path))
            return &key;
    }
    return nullptr;
}

const regfile::Value* FindValue(const Document& doc, std::string_view path, std::string_view name) {
    for (const auto& key : doc.keys) {
        if (!SameName(key.path, path))
            continue;
        for (const auto& v : key.values) {
            if (SameName(v.name, name))
                return &v;
        }
    }
    return nullptr;
}

bool MakeFolders(const std::string& folder) {
    struct stat st;
    if (::stat(folder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    const std::string parent = DirName(folder);
    if (parent != folder && !MakeFolders(parent))
        return false;
    return ::mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
}

std::string UtcStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::gmtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%dT%H%M%SZ", &tm);
    return buf;
}

/// Serialises the read-modify-write of a hive between processes (and
/// registry objects), so that two writers never drop each other's change.
/// The lock is on the hive's folder, which leaves no lock file behind;
/// readers need none, as every write replaces the file in one rename.
class WriteLock {
public:
    explicit WriteLock(const std::string& file) {
        if (file.empty())
            return;
        const std::string folder = DirName(file);
        if (!MakeFolders(folder))
            return;  // the write fails later when it cannot store the file
        fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        while (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~WriteLock() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

private:
    int fd_ = -1;
};

/// One hive file as it is on disk right now.
struct Snapshot {
    bool readable = true;  ///< false: something is there that cannot be read
    std::string raw;
    regfile::ParseResult parsed;
};

class FileRegistry final : public IRegistry {
public:
    explicit FileRegistry(RegistrySources sources) : sources_(std::move(sources)) {}

    bool KeyExists(Hive hive, std::string_view path) const override {
        const Snapshot snap = Load(hive);
        return Exists(hive, snap.parsed.document, Normalize(path));
    }

    bool CreateKey(Hive hive, std::string_view path) override {
        const std::string key = Normalize(path);
        const WriteLock lock(FileOf(hive));
        Snapshot snap = Load(hive);
        Document& doc = snap.parsed.document;
        // A computed key already exists; it is never copied into the file.
        if (Exists(hive, doc, key))
            return true;
        if (ReadOnly(hive, doc, key) || !WritableKey(key))
            return false;
        AddKey(doc, key);
        return Store(hive, snap);
    }

    bool DeleteKeyTree(Hive hive, std::string_view path) override {
        const std::string key = Normalize(path);
        if (key.empty())
            return false;  // the hive itself stays
        const WriteLock lock(FileOf(hive));
        Snapshot snap = Load(hive);
        if (!snap.readable)
            return false;  // whether the key is there cannot be known
        auto& keys = snap.parsed.document.keys;
        const std::size_t before = keys.size();
        std::erase_if(keys, [&](const regfile::Key& k) {
            return SameName(k.path, key) || IsUnder(k.path, key);
        });
        if (keys.size() != before && !Store(hive, snap))
            return false;
        // A computed key (the accounts) cannot be deleted: it is there afterwards.
        return !Exists(hive, snap.parsed.document, key);
    }

    std::vector<std::string> SubKeyNames(Hive hive, std::string_view path) const override {
        const Snapshot snap = Load(hive);
        const std::string key = Normalize(path);
        std::vector<std::string> names;
        AddSubKeys(KeyPaths(snap.parsed.document), key, &names);
        AddSubKeys(ComputedKeys(hive, snap.parsed.document), key, &names);
        return names;
    }

    bool HasSubKey(Hive hive, std::string_view path, std::string_view name) const override {
        for (const auto& n : SubKeyNames(hive, path)) {
            if (SameName(n, name))
                return true;
        }
        return false;
    }

    std::optional<RegistryValue> ReadValue(Hive hive, std::string_view path,
                                           std::string_view name) const override {
        const Snapshot snap = Load(hive);
        return Read(hive, snap.parsed.document, Normalize(path), name);
    }

    std::optional<std::string> ReadString(Hive hive, std::string_view path,
                                          std::string_view name) const override {
        auto value = ReadValue(hive, path, name);
        if (!value || value->type != RegistryValue::Type::String)
            return std::nullopt;
        return std::move(value->text);
    }

    bool WriteString(Hive hive, std::string_view path, std::string_view name,
                     std::string_view data) override {
        if (!regfile::Writable(data))
            return false;
        RegistryValue value;
        value.type = RegistryValue::Type::String;
        value.text = std::string(data);
        return Write(hive, path, name, std::move(value));
    }

    bool WriteBinary(Hive hive, std::string_view path, std::string_view name,
                     const std::vector<std::uint8_t>& data) override {
        RegistryValue value;
        value.type = RegistryValue::Type::Binary;
        value.bytes = data;
        return Write(hive, path, name, std::move(value));
    }

    bool WriteDword(Hive hive, std::string_view path, std::string_view name,
                    std::uint32_t data) override {
        RegistryValue value;
        value.type = RegistryValue::Type::Dword;
        value.dword = data;
        return Write(hive, path, name, std::move(value));
    }

    bool DeleteValue(Hive hive, std::string_view path, std::string_view name) override {
        const std::string key = Normalize(path);
        const WriteLock lock(FileOf(hive));
        Snapshot snap = Load(hive);
        if (!snap.readable)
            return false;
        Document& doc = snap.parsed.document;
        if (regfile::Key* k = FindKey(doc, key)) {
            const std::size_t before = k->values.size();
            std::erase_if(k->values,
                          [&](const regfile::Value& v) { return SameName(v.name, name); });
            if (k->values.size() != before && !Store(hive, snap))
                return false;
        }
        // A computed value shows through again once the file's own is gone.
        return !Read(hive, doc, key, name).has_value();
    }

private:
    const std::string& FileOf(Hive hive) const {
        return hive == Hive::LocalMachine ? sources_.localMachineFile : sources_.currentUserFile;
    }

    static const char* HiveName(Hive hive) {
        return hive == Hive::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
    }

    Snapshot Load(Hive hive) const {
        Snapshot snap;
        const std::string& file = FileOf(hive);
        if (file.empty()) {
            snap.readable = false;
            return snap;
        }
        struct stat st;
        if (::stat(file.c_str(), &st) == 0 ? !S_ISREG(st.st_mode) : !BrokerHandles(file)) {
            snap.readable = errno == ENOENT;  // no file yet: an empty hive
            return snap;
        }
        // A hive the process may not read itself may come through the broker.
        if (const int error = ReadFileResult(file, &snap.raw); error != 0) {
            snap.readable = error == ENOENT;
            snap.raw.clear();
            return snap;
        }
        snap.parsed = regfile::Parse(snap.raw, HiveName(hive));
        return snap;
    }

    bool Store(Hive hive, const Snapshot& snap) {
        if (!snap.readable)
            return false;
        const std::string& file = FileOf(hive);
        if (!BrokerHandles(file) && !MakeFolders(DirName(file)))
            return false;
        // The rewrite drops every line that did not parse. Those lines may be
        // someone's data (a hand edit, a value type this program does not
        // know, a half-written file), so the file as it was is kept beside the
        // hive first; if that copy cannot be made, nothing is rewritten.
        if (snap.parsed.badLines > 0 && !SaveDamagedCopy(file, snap.raw))
            return false;
        std::string error;
        return WriteFileAtomically(file, regfile::Write(snap.parsed.document, HiveName(hive)),
                                   &error);
    }

    static bool SaveDamagedCopy(const std::string& file, const std::string& raw) {
        const std::string base = file + ".damaged-" + UtcStamp();
        std::string copy = base;
        for (int n = 1; FileExists(copy); ++n)
            copy = base + "-" + std::to_string(n);
        std::string error;
        return WriteFileAtomically(copy, raw, &error);
    }

    static bool WritableKey(const std::string& key) {
        return regfile::Writable(key) && key.find(']') == std::string::npos;
    }

    bool ProfilesComputed(Hive hive, const Document& doc) const {
        return hive == Hive::LocalMachine && sources_.accounts &&
               !ExistsIn(KeyPaths(doc), kProfileListKey);
    }

    std::optional<std::string> ComputedLoginName(Hive hive, const Document& doc) const {
        if (hive != Hive::LocalMachine || !sources_.loginName ||
            FindValue(doc, kControlKey, kCurrentUserValue))
            return std::nullopt;
        std::string name = sources_.loginName();
        if (name.empty())
            return std::nullopt;
        return name;
    }

    std::vector<Account> Accounts(Hive hive, const Document& doc) const {
        return ProfilesComputed(hive, doc) ? sources_.accounts() : std::vector<Account>{};
    }

    /// The keys that exist without being in the file, in enumeration order.
    std::vector<std::string> ComputedKeys(Hive hive, const Document& doc) const {
        std::vector<std::string> keys;
        if (ProfilesComputed(hive, doc)) {
            keys.emplace_back(kProfileListKey);
            for (const auto& account : sources_.accounts())
                keys.push_back(std::string(kProfileListKey) + "\\" + account.name);
        }
        if (ComputedLoginName(hive, doc))
            keys.emplace_back(kControlKey);
        return keys;
    }

    bool Exists(Hive hive, const Document& doc, const std::string& key) const {
        return ExistsIn(KeyPaths(doc), key) || ExistsIn(ComputedKeys(hive, doc), key);
    }

    /// The computed profile list is read only.
    bool ReadOnly(Hive hive, const Document& doc, const std::string& key) const {
        return ProfilesComputed(hive, doc) &&
               (SameName(key, kProfileListKey) || IsUnder(key, kProfileListKey));
    }

    std::optional<RegistryValue> Read(Hive hive, const Document& doc, const std::string& key,
                                      std::string_view name) const {
        if (const regfile::Value* v = FindValue(doc, key, name))
            return v->data;
        RegistryValue value;
        if (SameName(key, kControlKey) && SameName(name, kCurrentUserValue)) {
            if (auto login = ComputedLoginName(hive, doc)) {
                value.text = std::move(*login);
                return value;
            }
        }
        if (IsUnder(key, kProfileListKey) && SameName(name, kProfileImagePath)) {
            for (const auto& account : Accounts(hive, doc)) {
                if (SameName(key, std::string(kProfileListKey) + "\\" + account.name)) {
                    value.text = account.home;
                    return value;
                }
            }
        }
        return std::nullopt;
    }

    /// Adds the sections for `key` and its missing parents, spelled as the
    /// parts that exist already, after the subtree of the deepest one.
    static void AddKey(Document& doc, const std::string& key) {
        const auto parts = Split(key);
        const auto paths = KeyPaths(doc);
        std::vector<std::string> spelled;
        std::size_t existing = 0;
        for (; existing < parts.size(); ++existing) {
            std::vector<std::string> names;
            AddSubKeys(paths, Join(spelled, spelled.size()), &names);
            const std::string* match = nullptr;
            for (const auto& n : names) {
                if (SameName(n, parts[existing]))
                    match = &n;
            }
            if (!match)
                break;
            spelled.push_back(*match);
        }
        const std::string anchor = Join(spelled, spelled.size());
        std::size_t at = doc.keys.size();
        if (!anchor.empty()) {
            for (std::size_t i = 0; i < doc.keys.size(); ++i) {
                if (SameName(doc.keys[i].path, anchor) || IsUnder(doc.keys[i].path, anchor))
                    at = i + 1;
            }
        }
        std::vector<regfile::Key> added;
        for (std::size_t i = existing; i < parts.size(); ++i) {
            spelled.push_back(parts[i]);
            added.push_back(regfile::Key{Join(spelled, spelled.size()), {}});
        }
        if (parts.empty() && !FindKey(doc, ""))
            added.push_back(regfile::Key{"", {}});
        doc.keys.insert(doc.keys.begin() + static_cast<std::ptrdiff_t>(at), added.begin(),
                        added.end());
        // Parents that exist only through their subkeys get a section of their
        // own, placed before their first subkey, as an export lists them. Then
        // a key stays when its last subkey is deleted.
        for (std::size_t level = 1; level <= existing; ++level) {
            const std::string parent = Join(spelled, level);
            if (FindKey(doc, parent))
                continue;
            for (std::size_t i = 0; i < doc.keys.size(); ++i) {
                if (IsUnder(doc.keys[i].path, parent)) {
                    doc.keys.insert(doc.keys.begin() + static_cast<std::ptrdiff_t>(i),
                                    regfile::Key{parent, {}});
                    break;
                }
            }
        }
    }

    bool Write(Hive hive, std::string_view path, std::string_view name, RegistryValue value) {
        const std::string key = Normalize(path);
        if (!regfile::Writable(name) || !WritableKey(key))
            return false;
        const WriteLock lock(FileOf(hive));
        Snapshot snap = Load(hive);
        Document& doc = snap.parsed.document;
        if (ReadOnly(hive, doc, key))
            return false;
        regfile::Key* k = FindKey(doc, key);
        if (!k) {
            AddKey(doc, key);
            k = FindKey(doc, key);
        }
        bool set = false;
        for (auto& v : k->values) {
            if (SameName(v.name, name)) {
                v.data = value;
                set = true;
            }
        }
        if (!set)
            k->values.push_back(regfile::Value{std::string(name), std::move(value)});
        return Store(hive, snap);
    }

    RegistrySources sources_;
};

bool UsableUserName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\n\r") == std::string::npos && name.find('\0') == std::string::npos;
}

}  // namespace

std::unique_ptr<IRegistry> OpenRegistry(RegistrySources sources) {
    return std::make_unique<FileRegistry>(std::move(sources));
}

std::unique_ptr<IRegistry> OpenMachineRegistry(const std::string& machineDir,
                                               const std::string& userName) {
    RegistrySources sources;
    const std::string folder = machineDir + "/registry";
    sources.localMachineFile = folder + "/HKLM.reg";
    // A user name that is no plain file name leaves the user hive unusable
    // rather than reaching outside the folder.
    if (UsableUserName(userName))
        sources.currentUserFile = folder + "/HKCU/" + userName + ".reg";
    sources.accounts = SystemAccounts;
    sources.loginName = LoginName;
    return OpenRegistry(std::move(sources));
}

std::string LoginName() {
    return AccountNameOf(::geteuid());
}

}  // namespace kv::platform
