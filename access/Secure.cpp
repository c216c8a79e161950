#include "access/Secure.h"

#include <algorithm>

namespace kv {

namespace {

unsigned char Upper(unsigned char c) {
    return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

}  // namespace

bool PasswordsMatch(std::string_view typed, std::string_view expected) {
    // Every byte of the longer text is looked at whatever the outcome, so the
    // time taken tells nothing of how much of a guess was right.
    const std::size_t length = std::max(typed.size(), expected.size());
    unsigned difference = typed.size() == expected.size() ? 0U : 1U;
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char a = i < typed.size() ? Upper(static_cast<unsigned char>(typed[i])) : 0;
        const unsigned char b =
            i < expected.size() ? Upper(static_cast<unsigned char>(expected[i])) : 0;
        difference |= static_cast<unsigned>(a ^ b);
    }
    return difference == 0;
}

void WipeString(std::string& text) {
    volatile char* p = text.data();
    for (std::size_t i = 0; i < text.size(); ++i)
        p[i] = 0;
    text.clear();
}

}  // namespace kv
