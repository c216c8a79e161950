// Feeds arbitrary bytes to the boot configuration file's editor, as a damaged
// or hand-edited msdos.sys would, and checks what the boot keys policy
// promises: on sets the three keys once, a second on changes nothing, off
// removes them, and off on a text without them leaves every byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "options/Hardening.h"
#include "options/ProfileText.h"

namespace {

using namespace kv;

const char* const kKeys[] = {kBootKeys, kBootMenu, kBootWarn};

bool HasNoKeys(const std::string& text) {
    const ProfileText profile(text);
    for (const char* key : kKeys) {
        if (profile.Read(kBootOptionsSection, key))
            return false;
    }
    return true;
}

// Off only removes lines: what is left appears in `text` in the same order.
bool IsSubsequence(const std::string& part, const std::string& text) {
    std::size_t at = 0;
    for (char c : text) {
        if (at < part.size() && part[at] == c)
            ++at;
    }
    return at == part.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    const std::string removed = BootKeysApplied(text, false);
    if (!IsSubsequence(removed, text) || !HasNoKeys(removed))
        std::abort();
    if (HasNoKeys(text) && removed != text)
        std::abort();

    const std::string on = BootKeysApplied(text, true);
    const ProfileText profile(on);
    for (const char* key : kKeys) {
        if (profile.Read(kBootOptionsSection, key) != "0")
            std::abort();
    }
    if (BootKeysApplied(on, true) != on)
        std::abort();
    const std::string off = BootKeysApplied(on, false);
    if (!HasNoKeys(off) || BootKeysApplied(off, false) != off)
        std::abort();
    return 0;
}
