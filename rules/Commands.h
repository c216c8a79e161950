#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "rules/RulesContext.h"
#include "rules/Schema.h"

namespace kv {

class IPrompts;
class TModifiedFlag;

/// The four protection commands (ReadOnly, Full, Custom, Reset) on the
/// selection of the focused view: they write the protection keys, keep the
/// keys above and below consistent and set the markers as they go.
class TProtectionCommands {
public:
    /// Opens the options dialog for the focused selection after a Custom
    /// command; true when it was confirmed.
    using EditOptions = std::function<bool(int tag)>;

    static constexpr const char* kParentFolderMessage =
        "The parent folder must have ReadOnly or Custom Protection !";
    static constexpr const char* kMessageTitle = "Kestrava";

    TProtectionCommands(RulesContext context, IPrompts& prompts, TModifiedFlag& modified,
                        EditOptions editOptions)
        : ctx_(context),
          prompts_(prompts),
          modified_(modified),
          editOptions_(std::move(editOptions)) {}

    /// Handler of cmdReadOnly (1), cmdUnaccessable (2), cmdCustom (3), cmdReset (-1).
    void cmdReadOnlyExecute(int tag);
    /// Applies kind t to every selected list entry.
    void ApplyToListSelection(int t);
    /// Stores kind t (-1 removes it) for the file `name` in the folder `folder`.
    void ApplyToFile(const std::string& name, const std::string& folder, int t);
    /// Gives a folder node kind t (-1 removes it), with its subtree's markers.
    void ApplyProtection(NodeRef node, int t);
    /// The settings part of ApplyProtection, including the breaking up of
    /// folders above that covered the node with another kind.
    void WriteNodeKeys(NodeRef node, int t);

    /// The four protection actions are enabled exactly when the focused view
    /// has a selection.
    bool ActionsEnabled() const;

private:
    std::string Key(NodeRef node) const;
    void MarkLoadedBelow(NodeRef node, int t);
    /// The option entries that give `folder` its Custom protection: its own, or
    /// those of the nearest folder above it that holds a Custom key of its own.
    std::vector<std::pair<Option, std::string>> CoveringOptions(NodeRef folder) const;

    RulesContext ctx_;
    IPrompts& prompts_;
    TModifiedFlag& modified_;
    EditOptions editOptions_;
};

}  // namespace kv
