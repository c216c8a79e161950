#include "rules/Schema.h"

#include "principals/PrincipalSelection.h"
#include "settings/Encript.h"

namespace kv {

const OptionInfo& InfoOf(Option option) {
    return kOptions[static_cast<std::size_t>(option)];
}

std::uint32_t MaskBitOfBox(std::string_view box) {
    for (const MaskBit& bit : kMaskBits) {
        if (bit.box == box)
            return bit.value;
    }
    return 0;
}

std::string PrincipalPrefix(const IPrincipalSelection& selection) {
    const std::optional<SelectedPrincipal> node = selection.Selected();
    if (!node)
        return {};
    const std::string_view prefix = node->kind == PrincipalKind::Group ? kGroupPrefix : kUserPrefix;
    return std::string(prefix) + node->text;
}

std::string ProtectionKey(std::string_view prefix, std::string_view itemPath) {
    std::string key;
    key.reserve(prefix.size() + kProtectionInfix.size() + itemPath.size());
    key.append(prefix).append(kProtectionInfix).append(itemPath);
    return key;
}

bool IsOptionKey(const TEncriptor& store, std::string_view key) {
    for (const OptionInfo& info : kOptions) {
        if (!key.ends_with(info.suffix))
            continue;
        const std::string item(key.substr(0, key.size() - info.suffix.size()));
        if (!store.ReadString(item, "").empty())
            return true;
        for (const OptionInfo& other : kOptions) {
            if (other.option != info.option &&
                !store.ReadString(OptionKey(item, other.option), "").empty())
                return true;
        }
    }
    return false;
}

std::string OptionKey(std::string_view protectionKey, Option option) {
    std::string key(protectionKey);
    key.append(InfoOf(option).suffix);
    return key;
}

std::string KindDefaultName(Option option, int kind) {
    return std::string(InfoOf(option).defaultLiteral) + std::to_string(kind);
}

void DeleteOptionKeys(TEncriptor& store, std::string_view protectionKey) {
    for (const OptionInfo& info : kOptions)
        store.DeleteKey(OptionKey(protectionKey, info.option));
}

std::int32_t ReadIntegerOr(const TEncriptor& store, std::string_view name, std::int32_t def) {
    try {
        return store.ReadInteger(name, def);
    } catch (const EConvertError&) {
        return def;
    }
}

bool SubFoldersReach(const TEncriptor& store, int kind) {
    return store.ReadBool(KindDefaultName(Option::SubFolders, kind), kBuiltInSubFolders);
}

std::int32_t CustomDefaultMask(const TEncriptor& store) {
    return ReadIntegerOr(store, KindDefaultName(Option::dwOperation, kKindCustom),
                         kBuiltInCustomMask);
}

std::string ReadKindDefault(const TEncriptor& store, Option option, int kind) {
    return store.ReadString(KindDefaultName(option, kind), InfoOf(option).builtIn);
}

std::int32_t MaskOfKind(const TEncriptor& store, int kind, std::string_view key) {
    switch (kind) {
        case kKindReadOnly:
        case kKindReadOnlyFile:
            return static_cast<std::int32_t>(kReadOnlyMask);
        case kKindFull:
        case kKindFullFile:
            return static_cast<std::int32_t>(kFullMask);
        case kKindCustom:
            return CustomDefaultMask(store);
        case kModeCustomFolder:
        case kKindCustomFile:
            return ReadIntegerOr(store, OptionKey(key, Option::dwOperation),
                                 CustomDefaultMask(store));
        default:
            return 0;
    }
}

int MarkerOfStoredKind(int kind) {
    if (kind >= kKindReadOnly && kind <= kKindCustom)
        return kind;
    if (kind >= kKindReadOnlyFile && kind <= kKindCustomFile)
        return kind - kFileKindOffset;
    return kKindNone;
}

}  // namespace kv
