#pragma once

#include <functional>
#include <string>

#include "rules/Commands.h"
#include "rules/Markers.h"
#include "rules/ProtectionOptions.h"

namespace kv {

class IPrompts;
class TModifiedFlag;
class TEncriptor;
class IPrincipalSelection;

/// The protection rules of the main window in one object: markers, the four
/// protection commands and the protection options dialog. The window builds it
/// once with its components and calls it from its action handlers; it
/// subscribes itself to the tree's expanded event and the list's filled event.
class TProtectionController {
public:
    TProtectionController(TEncriptor& store, IPrompts& prompts, TModifiedFlag& modified,
                          const IPrincipalSelection& principals, IFolderTree& tree, IFileList& list,
                          IOptionsDialogRunner& optionsDialog,
                          const PathStyle& style = PathStyle::Native());
    ~TProtectionController();
    TProtectionController(const TProtectionController&) = delete;
    TProtectionController& operator=(const TProtectionController&) = delete;

    /// Names the principal in the window caption (first step of UserGroupsChange).
    void SetUpdateCaption(std::function<void()> updateCaption) {
        updateCaption_ = std::move(updateCaption);
    }
    /// Receives the list's folder for the status bar's simple text.
    void SetStatusText(std::function<void(const std::string&)> statusText) {
        markers_.SetStatusText(std::move(statusText));
    }

    /// Selection change of the principal tree.
    void UserGroupsChange();
    void DriveView1Expanded(NodeRef node) { markers_.DriveView1Expanded(node); }
    void DirView1DirUpdated() { markers_.DirView1DirUpdated(); }

    /// cmdReadOnly, cmdUnaccessable, cmdCustom, cmdReset (tag 1, 2, 3, -1).
    void cmdReadOnlyExecute(int tag) { commands_.cmdReadOnlyExecute(tag); }
    /// cmdROpt, cmdFullOpt, cmdCustomOpt (tag 1, 2, 3).
    void cmdCustomOptExecute(int tag) { options_.EditProtectionOptions(tag); }
    bool EditProtectionOptions(int tag) { return options_.EditProtectionOptions(tag); }
    /// Enabled state of the four protection actions, for ActionList1Update.
    bool ProtectionActionsEnabled() const { return commands_.ActionsEnabled(); }
    /// cmdicon, cmdSmIcon, cmdList, cmdReport.
    void SetViewStyle(ViewStyle style) { list_.SetStyle(style); }

    TProtectionMarkers& Markers() { return markers_; }
    TProtectionCommands& Commands() { return commands_; }
    TProtectionOptions& Options() { return options_; }

private:
    IFolderTree& tree_;
    IFileList& list_;
    TProtectionMarkers markers_;
    TProtectionOptions options_;
    TProtectionCommands commands_;
    std::function<void()> updateCaption_;
};

}  // namespace kv
