#pragma once

#include <functional>
#include <utility>

namespace kv {

/// The process-wide flag of unsaved changes: set by every command that changes
/// the tree or the settings, cleared by Save and the end of startup. Enables
/// Save and makes closing the window ask to save.
///
/// Edits of the group tree reach the settings only with Save, so the program
/// options' OK, which writes the settings but not the tree, clears the flag
/// only while no tree edit is pending (SettingsSaved).
class TModifiedFlag {
public:
    bool Get() const { return value_; }
    void Set(bool value = true) {
        if (!value)
            treeEdited_ = false;
        if (value_ == value)
            return;
        value_ = value;
        if (onChange_)
            onChange_(value_);
    }
    /// Everything was saved, the tree included.
    void Clear() { Set(false); }
    /// The group tree changed: only Save writes it.
    void SetTreeEdited() {
        treeEdited_ = true;
        Set();
    }
    /// The settings reached the file but the tree did not: the flag stays set
    /// while the tree holds edits.
    void SettingsSaved() {
        if (!treeEdited_)
            Clear();
    }
    bool TreeEdited() const { return treeEdited_; }
    void OnChange(std::function<void(bool)> callback) { onChange_ = std::move(callback); }

private:
    bool value_ = false;
    bool treeEdited_ = false;
    std::function<void(bool)> onChange_;
};

}  // namespace kv
