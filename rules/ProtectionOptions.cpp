#include "rules/ProtectionOptions.h"

#include "principals/ModifiedFlag.h"
#include "rules/Schema.h"
#include "settings/Encript.h"

namespace kv {

std::string OptionsCaption(int mode, const std::string& itemPath) {
    switch (mode) {
        case kKindReadOnly:
            return "ReadOnly Protection Options";
        case kKindFull:
            return "Full Protection Options";
        case kKindCustom:
            return "Default Custom Protection Options";
        default:
            return "Custom Protection Options for \"" + itemPath + "\"";
    }
}

std::string OptionsHelpTopic(int mode) {
    switch (mode) {
        case kKindReadOnly:
            return "Topic140";
        case kKindFull:
            return "Topic150";
        default:
            return "Topic160";
    }
}

FixedOptionsLock LockFixedOptions(int mode) {
    FixedOptionsLock lock;
    if (mode == kKindReadOnly || mode == kKindFull) {
        lock.maskBoxes = false;
        lock.subFolders = mode == kKindReadOnly;
        lock.filePatterns = mode != kKindFull;
    }
    return lock;
}

TProtectionOptions::Choice TProtectionOptions::ChooseMode(int tag) const {
    const IFolderTree& tree = ctx_.tree;
    const IFileList& list = ctx_.list;
    const NodeRef selected = tree.Selected();
    if (tag == kKindCustom && list.HasFocus() && selected) {
        const std::vector<int> entries = list.SelectedPositions();
        if (!entries.empty() && list.Marker(entries.front()) == kKindCustom) {
            const int k = entries.front() - ListOffset(tree, selected);
            if (k >= tree.ChildCount(selected)) {
                return {kKindCustomFile,
                        ctx_.style.Join(tree.NodePath(selected), list.Caption(entries.front()))};
            }
            if (k >= 0)
                return {kModeCustomFolder, tree.NodePath(tree.Child(selected, k))};
        }
    } else if (tag == kKindCustom && tree.HasFocus() && selected &&
               tree.Marker(selected) == kKindCustom) {
        return {kModeCustomFolder, tree.NodePath(selected)};
    }
    return {tag, {}};
}

bool TProtectionOptions::EditProtectionOptions(int tag) {
    const Choice choice = ChooseMode(tag);
    if (choice.mode != kKindReadOnly && choice.mode != kKindFull && choice.mode != kKindCustom &&
        choice.mode != kModeCustomFolder && choice.mode != kKindCustomFile) {
        return false;
    }
    const OptionsDialogState state = LoadOptions(choice.path, choice.mode);
    OptionsFields result = state.fields;
    if (!runner_.Run(state, &result))
        return false;
    StoreOptions(state, result);
    return true;
}

OptionsDialogState TProtectionOptions::LoadOptions(const std::string& path, int mode) const {
    const TEncriptor& store = ctx_.store;
    OptionsDialogState state;
    state.mode = mode;
    state.itemPath = path;
    state.caption = OptionsCaption(mode, path);
    state.helpTopic = OptionsHelpTopic(mode);
    state.setDefaultVisible = mode == kModeCustomFolder;
    state.lock = LockFixedOptions(mode);

    OptionsFields& f = state.fields;
    if (mode == kModeCustomFolder || mode == kKindCustomFile) {
        const std::string key = ProtectionKey(PrincipalPrefix(ctx_.principals), path);
        const auto text = [&](Option option) {
            return store.ReadString(OptionKey(key, option),
                                    ReadKindDefault(store, option, kKindCustom));
        };
        f.proc = text(Option::Processes);
        f.exProc = text(Option::ExcludeProc);
        f.exFiles = text(Option::ExcludeFiles);
        f.incFiles = text(Option::IncludeFiles);
        f.subFolders =
            store.ReadBool(OptionKey(key, Option::SubFolders), SubFoldersReach(store, kKindCustom));
        f.mask = static_cast<std::uint32_t>(MaskOfKind(store, mode, key));
    } else {
        f.proc = ReadKindDefault(store, Option::Processes, mode);
        f.exProc = ReadKindDefault(store, Option::ExcludeProc, mode);
        f.exFiles = ReadKindDefault(store, Option::ExcludeFiles, mode);
        f.incFiles = ReadKindDefault(store, Option::IncludeFiles, mode);
        f.subFolders = SubFoldersReach(store, mode);
        f.mask = static_cast<std::uint32_t>(MaskOfKind(store, mode, {}));
    }
    f.mask &= kAllMaskBits;  // the boxes hold the nineteen bits only
    return state;
}

void TProtectionOptions::StoreOptions(const OptionsDialogState& shown,
                                      const OptionsFields& result) {
    TEncriptor& store = ctx_.store;
    const int mode = shown.mode;
    // Controls the mode disables keep the values they were loaded with.
    OptionsFields f = result;
    if (!shown.lock.filePatterns) {
        f.incFiles = shown.fields.incFiles;
        f.exFiles = shown.fields.exFiles;
    }
    if (!shown.lock.subFolders)
        f.subFolders = shown.fields.subFolders;
    if (!shown.setDefaultVisible)
        f.setDefault = false;

    const bool fixed = mode == kKindReadOnly || mode == kKindFull;
    const std::int32_t mask = fixed ? 0 : static_cast<std::int32_t>(f.mask & kAllMaskBits);

    const auto storeDefaults = [&](int kind) {
        store.WriteString(KindDefaultName(Option::Processes, kind), f.proc);
        store.WriteString(KindDefaultName(Option::ExcludeProc, kind), f.exProc);
        store.WriteString(KindDefaultName(Option::ExcludeFiles, kind), f.exFiles);
        store.WriteString(KindDefaultName(Option::IncludeFiles, kind), f.incFiles);
        store.WriteBool(KindDefaultName(Option::SubFolders, kind), f.subFolders);
    };
    if (fixed)
        storeDefaults(mode);
    if (mode == kKindCustom || f.setDefault)
        storeDefaults(kKindCustom);

    const std::string key = ProtectionKey(PrincipalPrefix(ctx_.principals), shown.itemPath);
    if (mode == kModeCustomFolder) {
        store.WriteInteger(key, kKindCustom);
        store.WriteString(OptionKey(key, Option::Processes), f.proc);
        store.WriteString(OptionKey(key, Option::ExcludeProc), f.exProc);
        store.WriteString(OptionKey(key, Option::ExcludeFiles), f.exFiles);
        store.WriteString(OptionKey(key, Option::IncludeFiles), f.incFiles);
        store.WriteBool(OptionKey(key, Option::SubFolders), f.subFolders);
        store.WriteInteger(OptionKey(key, Option::dwOperation), mask);
    } else if (mode == kKindCustomFile) {
        store.WriteInteger(key, kKindCustomFile);
        store.WriteString(OptionKey(key, Option::Processes), f.proc);
        store.WriteString(OptionKey(key, Option::ExcludeProc), f.exProc);
        store.WriteInteger(OptionKey(key, Option::dwOperation), mask);
    }
    if (mode == kKindCustom || (mode == kModeCustomFolder && f.setDefault))
        store.WriteInteger(KindDefaultName(Option::dwOperation, kKindCustom), mask);
    modified_.Set(true);
}

}  // namespace kv
