#include "principals/UserDirectory.h"

#include <algorithm>

namespace kv {

using platform::Hive;

TUserDirectory::TUserDirectory(TEncriptor& store, platform::IRegistry& registry,
                               TPrincipalTree& tree, TModifiedFlag& modified)
    : store_(store), registry_(registry), tree_(tree), modified_(modified) {}

int TUserDirectory::StoredGroupCount() const {
    int count = 0;
    try {
        count = store_.ReadInteger(kGroupCountKey, 0);
    } catch (const EConvertError&) {
        return 0;  // a damaged count must not keep the window from loading
    }
    // Groups whose name entry is missing are named by their number, so the
    // count may exceed the entries; a damaged huge count must not hang the window.
    return std::min(count, store_.EntryCount() + kMaxUnnamedGroups);
}

std::vector<std::string> TUserDirectory::ProfileNames() const {
    if (!registry_.KeyExists(Hive::LocalMachine, platform::kProfileListKey))
        return {};
    return registry_.SubKeyNames(Hive::LocalMachine, platform::kProfileListKey);
}

bool TUserDirectory::HasUnsavedUsers() const {
    const std::vector<std::string> names = ProfileNames();
    return std::any_of(names.begin(), names.end(), [this](const std::string& name) {
        return !store_.ReadBool(kKnownUserPrefix + name, false);
    });
}

void TUserDirectory::LoadCurrentUser() {
    std::string name = kUnknownUser;
    if (registry_.KeyExists(Hive::LocalMachine, platform::kControlKey)) {
        name =
            registry_
                .ReadString(Hive::LocalMachine, platform::kControlKey, platform::kCurrentUserValue)
                .value_or("");
    }
    if (registry_.CreateKey(Hive::LocalMachine, platform::kProfileListKey)) {
        if (name.empty() ||
            !registry_.HasSubKey(Hive::LocalMachine, platform::kProfileListKey, name)) {
            name = kUnknownUser;
        }
    }
    if (!store_.ReadBool(kKnownUserPrefix + name, false))
        name = kUnknownUser;
    currentUserName_ = name;
    if (showUser_)
        showUser_(currentUserName_);
}

void TUserDirectory::LoadUserGroups() {
    TPrincipalTree::Batch batch(tree_);
    tree_.Clear();
    const int groups = StoredGroupCount();
    for (int n = 1; n <= groups; ++n) {
        const std::string number = std::to_string(n);
        tree_.AppendTop(store_.ReadString(number + kGroupKeySuffix, number), PrincipalKind::Group);
    }
    TPrincipalTree::Node* toSelect = nullptr;
    auto place = [this](const std::string& name, PrincipalKind kind) {
        const std::string group = store_.ReadString(name + kGroupNameSuffix, "");
        // Only a group takes members: a membership naming a user leaves the user
        // at the top, as users never nest.
        TPrincipalTree::Node* parent = group.empty() ? nullptr : tree_.FindGroupByText(group);
        return parent ? tree_.AppendChild(parent, name, kind) : tree_.AppendTop(name, kind);
    };
    for (const std::string& name : ProfileNames()) {
        TPrincipalTree::Node* node = place(name, PrincipalKind::User);
        if (name == currentUserName_)
            toSelect = node;
    }
    TPrincipalTree::Node* unknown = place(kUnknownUser, PrincipalKind::UnknownUser);
    // A logon the program does not know is protected as "Unknown User": the
    // selection, the caption and the status bar all name that entry.
    if (currentUserName_ == kUnknownUser)
        toSelect = unknown;
    if (!toSelect && !tree_.TopLevel().empty())
        toSelect = tree_.DisplayOrder().front();
    tree_.Select(toSelect);
}

void TUserDirectory::SaveUserGroups() {
    const int saved = StoredGroupCount();
    for (int n = 1; n <= saved; ++n)
        store_.DeleteKey(std::to_string(n) + kGroupKeySuffix);
    store_.WriteInteger(kGroupCountKey, tree_.CountGroups());
    for (TPrincipalTree::Node* node : tree_.DisplayOrder()) {
        if (node->kind == PrincipalKind::Group) {
            store_.WriteString(std::to_string(tree_.TopLevelPosition(node)) + kGroupKeySuffix,
                               node->text);
        } else if (node->parent) {
            store_.WriteString(node->text + kGroupNameSuffix, node->parent->text);
        } else {
            store_.DeleteKey(node->text + kGroupNameSuffix);
        }
    }
}

void TUserDirectory::SaveKnownUsers() {
    if (!registry_.KeyExists(Hive::LocalMachine, platform::kProfileListKey))
        return;
    store_.DeleteKeysWithPrefix(kKnownUserPrefix);
    for (const std::string& name : ProfileNames())
        store_.WriteBool(kKnownUserPrefix + name, true);
}

bool TUserDirectory::cmdSaveExecute(std::string* error) {
    SaveUserGroups();
    SaveKnownUsers();
    if (!store_.Flush(true)) {
        if (error)
            *error = store_.LastError();
        return false;
    }
    modified_.Clear();
    return true;
}

std::string TUserDirectory::CaptionText() const {
    const auto selected = tree_.Selected();
    if (!selected)
        return "Kestrava";
    const char* what = selected->kind == PrincipalKind::Group ? "group" : "user";
    return std::string("Kestrava - Protection settings for the ") + what + " \"" + selected->text +
           "\"";
}

}  // namespace kv
