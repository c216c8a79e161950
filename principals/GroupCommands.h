#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/Prompts.h"
#include "principals/ModifiedFlag.h"
#include "principals/PrincipalTree.h"

namespace kv {

/// What the group dialog `TNewGrFrm` is asked to show: the name field (a new
/// group), or the list to choose a user or a group from.
struct GroupDialogRequest {
    bool choose = false;
    std::string caption = "New Users Group";
    std::string label = "Enter New Group Name :";
    std::vector<std::string> items;
    std::string text;  ///< initial text of the field
};

/// Runs the group dialog modally; the typed or chosen text on OK, nothing on Cancel.
class IGroupDialog {
public:
    virtual ~IGroupDialog() = default;
    virtual std::optional<std::string> Run(const GroupDialogRequest& request) = 0;
};

/// The four commands that edit the groups of the principal tree.
class TGroupCommands {
public:
    TGroupCommands(TPrincipalTree& tree, TModifiedFlag& modified, IPrompts& prompts,
                   IGroupDialog& dialog);

    void cmdNewGroupExecute();
    void cmdDelGroupExecute();
    /// `profiles`: the profile list's subkey names, in enumeration order.
    void cmdMoveUserExecute(const std::vector<std::string>& profiles);
    void cmdRemUserExecute();

    /// Enabled states of the commands for the current selection.
    bool CanDeleteGroup() const;
    bool CanRemoveUser() const;
    bool CanMoveUser() const;

private:
    TPrincipalTree& tree_;
    TModifiedFlag& modified_;
    IPrompts& prompts_;
    IGroupDialog& dialog_;
};

inline constexpr char kEmptyGroupName[] = "A group needs a name !";
inline constexpr char kUnderscoreGroupName[] = "A group name may not contain \"_\" !";
/// Follow the quoted name typed in the chooser that names no offered entry.
inline constexpr char kNotAGroupText[] = " is not one of the groups offered: nothing was changed.";
inline constexpr char kNotAUserText[] = " is not one of the users offered: nothing was changed.";
inline constexpr char kBadGroupName[] = "A group name may not contain \"=\" or a line break !";

}  // namespace kv
