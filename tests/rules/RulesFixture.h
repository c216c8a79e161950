#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "../support/ScriptedPrompts.h"
#include "../support/TempDir.h"
#include "FakeViews.h"
#include "principals/ModifiedFlag.h"
#include "rules/ProtectionController.h"
#include "settings/Encript.h"

namespace kv::test {

/// Every entry of the store whose name begins with `prefix`, name -> value.
inline std::map<std::string, std::string> Entries(const TEncriptor& store,
                                                  const std::string& prefix) {
    std::map<std::string, std::string> result;
    for (int i = 0; i < store.EntryCount(); ++i) {
        const std::string name = store.EntryName(i);
        if (name.compare(0, prefix.size(), prefix) == 0)
            result[name] = store.ReadString(name, "");
    }
    return result;
}

/// A store, the fake views and the controller over them; `Style()` picks the
/// path style ("/" or "C:\").
class RulesFixture {
public:
    explicit RulesFixture(const PathStyle& style, const std::string& root)
        : style(style),
          store(dir.File("kv.dat"), false, style.Names()),
          tree(style, root),
          list(tree),
          controller(store, prompts, modified, principals, tree, list, dialog, style) {
        principals.User("Bob");
    }

    FakeTree::Node* Node(const std::string& path) { return tree.Find(path); }
    int MarkerOf(const std::string& path) { return tree.Find(path)->marker; }
    void SelectInTree(const std::string& path) {
        tree.selected = tree.Find(path);
        tree.focus = true;
        list.focus = false;
    }
    /// Selects a folder in the tree, fills the list with files and moves the
    /// focus to the list with the given entries selected.
    void OpenInList(const std::string& path, const std::vector<std::string>& files) {
        tree.selected = tree.Find(path);
        list.Fill(files);
        tree.focus = false;
        list.focus = true;
    }
    std::map<std::string, std::string> Keys() { return Entries(store, "u_Bob_P_"); }

    const PathStyle& style;
    TempDir dir;
    TEncriptor store;
    FakeTree tree;
    FakeList list;
    FakePrincipals principals;
    ScriptedPrompts prompts;
    ScriptedOptionsDialog dialog;
    TModifiedFlag modified;
    TProtectionController controller;
};

}  // namespace kv::test
