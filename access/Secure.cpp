#include "access/Secure.h"

#include "settings/EntryList.h"

namespace kv {

bool PasswordsMatch(std::string_view typed, std::string_view expected) {
    return EqualNoCase(typed, expected);
}

void WipeString(std::string& text) {
    volatile char* p = text.data();
    for (std::size_t i = 0; i < text.size(); ++i)
        p[i] = 0;
    text.clear();
}

}  // namespace kv
