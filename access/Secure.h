#pragma once

#include <string>
#include <string_view>

namespace kv {

/// The password prompt's comparison: equal after upper-casing the letters "a"
/// to "z" only (every other byte must match as it is); nothing is trimmed.
/// Takes the same time for every guess of a given length.
bool PasswordsMatch(std::string_view typed, std::string_view expected);

/// Overwrites the bytes of `text` in a way the compiler may not drop, then empties it.
void WipeString(std::string& text);

/// A text that is wiped when it goes out of scope (for copies of a password).
class TWipedString {
public:
    TWipedString() = default;
    explicit TWipedString(std::string text) : text_(std::move(text)) {}
    TWipedString(const TWipedString&) = delete;
    TWipedString& operator=(const TWipedString&) = delete;
    ~TWipedString() { WipeString(text_); }

    const std::string& str() const { return text_; }
    std::string& str() { return text_; }

private:
    std::string text_;
};

}  // namespace kv
