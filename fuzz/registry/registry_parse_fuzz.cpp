// Feeds arbitrary bytes to the REGEDIT4 reader, as a damaged or hand-edited
// registry file would, and checks that what it keeps is written back and
// read again unchanged and without complaint.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/RegFile.h"

namespace {

using namespace kv::platform;

bool SameValue(const RegistryValue& a, const RegistryValue& b) {
    return a.type == b.type && a.text == b.text && a.bytes == b.bytes && a.dword == b.dword;
}

bool SameDocument(const regfile::Document& a, const regfile::Document& b) {
    if (a.keys.size() != b.keys.size())
        return false;
    for (std::size_t i = 0; i < a.keys.size(); ++i) {
        const auto& x = a.keys[i];
        const auto& y = b.keys[i];
        if (x.path != y.path || x.values.size() != y.values.size())
            return false;
        for (std::size_t j = 0; j < x.values.size(); ++j) {
            if (x.values[j].name != y.values[j].name ||
                !SameValue(x.values[j].data, y.values[j].data))
                return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const regfile::ParseResult first = regfile::Parse(text, "HKEY_LOCAL_MACHINE");
    const std::string written = regfile::Write(first.document, "HKEY_LOCAL_MACHINE");
    const regfile::ParseResult again = regfile::Parse(written, "HKEY_LOCAL_MACHINE");
    if (again.badLines != 0 || !SameDocument(first.document, again.document))
        std::abort();
    // Names never repeat within their scope (compared without case).
    for (std::size_t i = 0; i < again.document.keys.size(); ++i) {
        for (std::size_t j = i + 1; j < again.document.keys.size(); ++j) {
            if (regfile::SameName(again.document.keys[i].path, again.document.keys[j].path))
                std::abort();
        }
    }
    return 0;
}
