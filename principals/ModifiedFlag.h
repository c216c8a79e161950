#pragma once

#include <functional>
#include <utility>

namespace kv {

/// The process-wide flag of unsaved changes: set by every command that changes
/// the tree or the settings, cleared by Save, the program options' OK and the
/// end of startup. Enables Save and makes closing the window ask to save.
class TModifiedFlag {
public:
    bool Get() const { return value_; }
    void Set(bool value = true) {
        if (value_ == value)
            return;
        value_ = value;
        if (onChange_)
            onChange_(value_);
    }
    void Clear() { Set(false); }
    void OnChange(std::function<void(bool)> callback) { onChange_ = std::move(callback); }

private:
    bool value_ = false;
    std::function<void(bool)> onChange_;
};

}  // namespace kv
