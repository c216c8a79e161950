#include "rules/Commands.h"

#include <utility>
#include <vector>

#include "platform/Prompts.h"
#include "principals/ModifiedFlag.h"
#include "rules/Schema.h"
#include "settings/Encript.h"

namespace kv {

namespace {

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(';', start);
        items.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return items;
}

std::string JoinList(const std::vector<std::string>& items) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0)
            text.push_back(';');
        text.append(items[i]);
    }
    return text;
}

}  // namespace

std::string TProtectionCommands::Key(NodeRef node) const {
    return ProtectionKey(PrincipalPrefix(ctx_.principals), ctx_.tree.NodePath(node));
}

bool TProtectionCommands::ActionsEnabled() const {
    if (ctx_.list.HasFocus() && !ctx_.list.SelectedPositions().empty())
        return true;
    return ctx_.tree.HasFocus() && static_cast<bool>(ctx_.tree.Selected());
}

void TProtectionCommands::cmdReadOnlyExecute(int tag) {
    IFileList& list = ctx_.list;
    IFolderTree& tree = ctx_.tree;
    if (list.HasFocus()) {
        const std::vector<int> selected = list.SelectedPositions();
        if (!selected.empty()) {
            if (list.Marker(selected.front()) == kKindCustom && tag == kKindCustom) {
                editOptions_(tag);
            } else {
                ApplyToListSelection(tag);
                if (tag == kKindCustom && !editOptions_(tag))
                    cmdReadOnlyExecute(kKindNone);
            }
            return;
        }
    }
    if (tree.HasFocus()) {
        const NodeRef node = tree.Selected();
        if (!node)
            return;
        if (tree.Marker(node) == kKindCustom && tag == kKindCustom) {
            editOptions_(tag);
        } else {
            ApplyProtection(node, tag);
            if (tag == kKindCustom && !editOptions_(tag))
                cmdReadOnlyExecute(kKindNone);
        }
    }
}

void TProtectionCommands::ApplyToListSelection(int t) {
    IFolderTree& tree = ctx_.tree;
    IFileList& list = ctx_.list;
    const NodeRef folder = tree.Selected();
    if (!folder)
        return;
    const int offset = ListOffset(tree, folder);
    for (const int position : list.SelectedPositions()) {
        const int k = position - offset;
        if (k < 0)
            continue;  // the parent entry stands for no item of its own
        if (const NodeRef child = tree.Child(folder, k)) {
            ApplyProtection(child, t);
            list.SetMarker(position, t);
            continue;
        }
        if (tree.Marker(folder) == kKindFull) {
            prompts_.Message(kParentFolderMessage, kMessageTitle, Buttons::Ok, MessageIcon::None);
            continue;
        }
        ApplyToFile(list.Caption(position), tree.NodePath(folder), t);
        list.SetMarker(position, t);
    }
}

void TProtectionCommands::ApplyToFile(const std::string& name, const std::string& folder, int t) {
    TEncriptor& store = ctx_.store;
    modified_.Set(true);
    const std::string prefix = PrincipalPrefix(ctx_.principals);
    const std::string folderKey = ProtectionKey(prefix, folder);
    const std::string fileKey = ProtectionKey(prefix, ctx_.style.Join(folder, name));
    const std::string exclusions = OptionKey(folderKey, Option::ExcludeFiles);

    if (t == kKindNone) {
        store.DeleteKey(fileKey);
        DeleteOptionKeys(store, fileKey);
        const std::string list = store.ReadString(exclusions, "");
        if (!list.empty()) {
            std::vector<std::string> kept;
            for (std::string& item : SplitList(list)) {
                if (item != name)
                    kept.push_back(std::move(item));
            }
            store.WriteString(exclusions, JoinList(kept));
        }
        return;
    }

    if (ReadIntegerOr(store, folderKey, 0) != 0) {
        const std::string list = store.ReadString(exclusions, "");
        store.WriteString(exclusions, list.empty() ? name : list + ";" + name);
    }
    store.WriteInteger(fileKey, t + kFileKindOffset);
    if (t == kKindCustom) {
        store.WriteString(OptionKey(fileKey, Option::Processes),
                          ReadKindDefault(store, Option::Processes, kKindCustom));
        store.WriteString(OptionKey(fileKey, Option::ExcludeProc),
                          ReadKindDefault(store, Option::ExcludeProc, kKindCustom));
        store.WriteInteger(OptionKey(fileKey, Option::dwOperation), CustomDefaultMask(store));
    }
}

void TProtectionCommands::ApplyProtection(NodeRef node, int t) {
    IFolderTree& tree = ctx_.tree;
    tree.SetMarker(node, t);
    modified_.Set(true);
    WriteNodeKeys(node, t);
    if (!tree.HasChildren(node) || !SubFoldersReach(ctx_.store, t))
        return;
    MarkLoadedBelow(node, t);
    if (node == tree.Selected()) {
        const int offset = ListOffset(tree, node);
        const int children = tree.ChildCount(node);
        const int entries = ctx_.list.Count();
        for (int i = 0; i < children && i + offset < entries; ++i)
            ctx_.list.SetMarker(i + offset, t);
    }
}

void TProtectionCommands::MarkLoadedBelow(NodeRef node, int t) {
    IFolderTree& tree = ctx_.tree;
    const int count = tree.ChildCount(node);
    for (int i = 0; i < count; ++i) {
        const NodeRef child = tree.Child(node, i);
        tree.SetMarker(child, t);
        MarkLoadedBelow(child, t);
    }
}

void TProtectionCommands::WriteNodeKeys(NodeRef node, int t) {
    TEncriptor& store = ctx_.store;
    IFolderTree& tree = ctx_.tree;
    const std::string path = tree.NodePath(node);
    const std::string key = Key(node);

    // 1. The node's old keys; when the new kind reaches subfolders, also every
    //    key of the folders and files below it.
    store.DeleteKey(key);
    if (SubFoldersReach(store, t)) {
        DeleteOptionKeys(store, key);
        if (ctx_.style.IsRoot(path))
            store.DeleteKeysWithPrefix(key);
        else
            store.DeleteKeysWithPrefix(key + ctx_.style.Separator());
    }
    // 2. A node that becomes Custom starts without options of its own.
    if (tree.Marker(node) == kKindCustom)
        DeleteOptionKeys(store, key);
    // 3.
    if (t != kKindNone)
        store.WriteInteger(key, t);

    // 4. Folders above that cover the node with another kind are broken up:
    //    their protection is pushed down onto the other marked children. A
    //    child that had the Custom protection from above takes the options of
    //    the folder that held it, or it would fall back to the kind defaults.
    for (NodeRef above = tree.Parent(node); above; above = tree.Parent(above)) {
        const int marker = tree.Marker(above);
        if (tree.Level(above) <= 0 || marker == kKindNone || !SubFoldersReach(store, marker) ||
            marker == t) {
            break;
        }
        const std::vector<std::pair<Option, std::string>> covering =
            marker == kKindCustom ? CoveringOptions(above)
                                  : std::vector<std::pair<Option, std::string>>{};
        const std::string aboveKey = Key(above);
        store.DeleteKey(aboveKey);
        if (marker == kKindCustom)
            DeleteOptionKeys(store, aboveKey);
        tree.SetMarker(above, kKindNone);
        const int count = tree.ChildCount(above);
        for (int i = 0; i < count; ++i) {
            const NodeRef child = tree.Child(above, i);
            const int childMarker = tree.Marker(child);
            if (child == node || childMarker == kKindNone)
                continue;
            const std::string childKey = Key(child);
            const bool inherited = ReadIntegerOr(store, childKey, 0) == 0;
            store.WriteInteger(childKey, childMarker);
            if (inherited && childMarker == marker) {
                for (const auto& [option, value] : covering)
                    store.WriteString(OptionKey(childKey, option), value);
            }
        }
    }
}

std::vector<std::pair<Option, std::string>> TProtectionCommands::CoveringOptions(
    NodeRef folder) const {
    const TEncriptor& store = ctx_.store;
    IFolderTree& tree = ctx_.tree;
    // The protection of a folder without a Custom key of its own comes from above.
    NodeRef holder = folder;
    while (holder && ReadIntegerOr(store, Key(holder), 0) != kKindCustom)
        holder = tree.Parent(holder);
    std::vector<std::pair<Option, std::string>> options;
    if (!holder)
        return options;
    const std::string key = Key(holder);
    for (const OptionInfo& info : kOptions) {
        const std::string name = OptionKey(key, info.option);
        const std::string absent(1, '\0');
        std::string value = store.ReadString(name, absent);
        if (value != absent)
            options.emplace_back(info.option, std::move(value));
    }
    return options;
}

}  // namespace kv
