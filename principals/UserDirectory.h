#pragma once

#include <functional>
#include <string>

#include "platform/Registry.h"
#include "principals/ModifiedFlag.h"
#include "principals/PrincipalTree.h"
#include "settings/Encript.h"

namespace kv {

/// Who the principals are: the users of the system's profile list, the
/// pseudo-user "Unknown User" and the administrator's groups; how the tree is
/// built from the settings and written back.
class TUserDirectory {
public:
    TUserDirectory(TEncriptor& store, platform::IRegistry& registry, TPrincipalTree& tree,
                   TModifiedFlag& modified);

    /// Shows the current user's name (the status bar's third panel).
    void OnCurrentUserShown(std::function<void(const std::string&)> show) {
        showUser_ = std::move(show);
    }

    /// Identifies the logged-on user; "Unknown User" unless the system names a
    /// profile that existed when the known users were last recorded.
    void LoadCurrentUser();
    /// Rebuilds the tree from the stored groups and the profile list.
    void LoadUserGroups();
    /// Writes the group keys into the settings held in memory.
    void SaveUserGroups();
    /// Rewrites the "CurUsers_" flags from the profile list.
    void SaveKnownUsers();
    /// Save: groups, known users, the file. False (with the reason) when the
    /// file could not be written; the modified flag then stays set.
    bool cmdSaveExecute(std::string* error);

    /// The window caption for the selected node.
    std::string CaptionText() const;

    const std::string& CurrentUserName() const { return currentUserName_; }
    /// Subkey names of the profile list in enumeration order (empty when it cannot be opened).
    std::vector<std::string> ProfileNames() const;
    /// Whether an account of the profile list is not yet recorded as known
    /// (a save records it).
    bool HasUnsavedUsers() const;

private:
    /// "GroupCount", 0 when damaged, bounded by the store's size.
    int StoredGroupCount() const;
    static constexpr int kMaxUnnamedGroups = 1000;

    TEncriptor& store_;
    platform::IRegistry& registry_;
    TPrincipalTree& tree_;
    TModifiedFlag& modified_;
    std::string currentUserName_ = kUnknownUser;
    std::function<void(const std::string&)> showUser_;
};

inline constexpr char kGroupCountKey[] = "GroupCount";
inline constexpr char kGroupKeySuffix[] = "_Group";
inline constexpr char kGroupNameSuffix[] = "_GroupName";
inline constexpr char kKnownUserPrefix[] = "CurUsers_";

}  // namespace kv
