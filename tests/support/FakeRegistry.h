#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "settings/EntryList.h"

namespace kv::test {

/// An in-memory registry: keys compared without case, subkeys in creation order.
class FakeRegistry : public platform::IRegistry {
public:
    struct Key {
        std::string name;
        std::vector<Key> subkeys;
        std::vector<std::pair<std::string, platform::RegistryValue>> values;
    };

    bool KeyExists(platform::Hive hive, std::string_view path) const override {
        return Find(hive, path) != nullptr;
    }
    bool CreateKey(platform::Hive hive, std::string_view path) override {
        Key* key = &Root(hive);
        for (const std::string& part : Split(path)) {
            Key* sub = Child(*key, part);
            if (!sub) {
                key->subkeys.push_back(Key{part, {}, {}});
                sub = &key->subkeys.back();
            }
            key = sub;
        }
        return true;
    }
    bool DeleteKeyTree(platform::Hive hive, std::string_view path) override {
        auto parts = Split(path);
        if (parts.empty())
            return false;
        const std::string last = parts.back();
        parts.pop_back();
        Key* parent = &Root(hive);
        for (const auto& p : parts) {
            parent = Child(*parent, p);
            if (!parent)
                return true;
        }
        auto& subs = parent->subkeys;
        subs.erase(std::remove_if(subs.begin(), subs.end(),
                                  [&](const Key& k) { return EqualNoCase(k.name, last); }),
                   subs.end());
        return true;
    }
    std::vector<std::string> SubKeyNames(platform::Hive hive,
                                         std::string_view path) const override {
        std::vector<std::string> names;
        if (const Key* key = Find(hive, path)) {
            for (const Key& sub : key->subkeys)
                names.push_back(sub.name);
        }
        return names;
    }
    bool HasSubKey(platform::Hive hive, std::string_view path,
                   std::string_view name) const override {
        const Key* key = Find(hive, path);
        return key && Child(const_cast<Key&>(*key), std::string(name)) != nullptr;
    }
    std::optional<platform::RegistryValue> ReadValue(platform::Hive hive, std::string_view path,
                                                     std::string_view name) const override {
        const Key* key = Find(hive, path);
        if (!key)
            return std::nullopt;
        for (const auto& [n, v] : key->values) {
            if (EqualNoCase(n, name))
                return v;
        }
        return std::nullopt;
    }
    std::optional<std::string> ReadString(platform::Hive hive, std::string_view path,
                                          std::string_view name) const override {
        auto v = ReadValue(hive, path, name);
        if (!v || v->type != platform::RegistryValue::Type::String)
            return std::nullopt;
        return v->text;
    }
    bool WriteString(platform::Hive hive, std::string_view path, std::string_view name,
                     std::string_view data) override {
        platform::RegistryValue v;
        v.text = std::string(data);
        return Put(hive, path, name, v);
    }
    bool WriteBinary(platform::Hive hive, std::string_view path, std::string_view name,
                     const std::vector<std::uint8_t>& data) override {
        platform::RegistryValue v;
        v.type = platform::RegistryValue::Type::Binary;
        v.bytes = data;
        return Put(hive, path, name, v);
    }
    bool WriteDword(platform::Hive hive, std::string_view path, std::string_view name,
                    std::uint32_t data) override {
        platform::RegistryValue v;
        v.type = platform::RegistryValue::Type::Dword;
        v.dword = data;
        return Put(hive, path, name, v);
    }
    bool DeleteValue(platform::Hive hive, std::string_view path, std::string_view name) override {
        Key* key = const_cast<Key*>(Find(hive, path));
        if (!key)
            return true;
        auto& vals = key->values;
        vals.erase(std::remove_if(vals.begin(), vals.end(),
                                  [&](const auto& p) { return EqualNoCase(p.first, name); }),
                   vals.end());
        return true;
    }

    /// A machine with the given profiles and logged-on user.
    void SetProfiles(const std::vector<std::string>& users) {
        for (const auto& u : users) {
            CreateKey(platform::Hive::LocalMachine,
                      std::string(platform::kProfileListKey) + "\\" + u);
        }
    }
    void SetCurrentUser(const std::string& user) {
        WriteString(platform::Hive::LocalMachine, platform::kControlKey,
                    platform::kCurrentUserValue, user);
    }

private:
    static std::vector<std::string> Split(std::string_view path) {
        std::vector<std::string> parts;
        std::string part;
        for (char c : path) {
            if (c == '\\') {
                if (!part.empty())
                    parts.push_back(part);
                part.clear();
            } else {
                part += c;
            }
        }
        if (!part.empty())
            parts.push_back(part);
        return parts;
    }
    Key& Root(platform::Hive hive) {
        return hive == platform::Hive::LocalMachine ? machine_ : user_;
    }
    const Key& Root(platform::Hive hive) const {
        return hive == platform::Hive::LocalMachine ? machine_ : user_;
    }
    static Key* Child(Key& key, const std::string& name) {
        for (Key& sub : key.subkeys) {
            if (EqualNoCase(sub.name, name))
                return &sub;
        }
        return nullptr;
    }
    const Key* Find(platform::Hive hive, std::string_view path) const {
        const Key* key = &Root(hive);
        for (const std::string& part : Split(path)) {
            key = Child(const_cast<Key&>(*key), part);
            if (!key)
                return nullptr;
        }
        return key;
    }
    bool Put(platform::Hive hive, std::string_view path, std::string_view name,
             const platform::RegistryValue& v) {
        CreateKey(hive, path);
        Key* key = const_cast<Key*>(Find(hive, path));
        for (auto& [n, old] : key->values) {
            if (EqualNoCase(n, name)) {
                old = v;
                return true;
            }
        }
        key->values.emplace_back(std::string(name), v);
        return true;
    }

    Key machine_;
    Key user_;
};

}  // namespace kv::test
