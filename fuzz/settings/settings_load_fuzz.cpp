// Feeds arbitrary bytes to the settings file decoder and the entry list, as a
// damaged or hostile kv.dat would, and checks that the text round-trips.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "settings/EntryList.h"
#include "settings/StoreCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string file(reinterpret_cast<const char*>(data), size);
    const std::string text = kv::codec::DecodeFile(file);
    kv::EntryList list;
    list.Assign(kv::codec::SplitLines(text));
    for (std::size_t i = 0; i < list.Count(); ++i) {
        std::string_view name;
        if (kv::NameOfLine(list.LineAt(i), &name) && list.Find(name) == kv::EntryList::npos) {
            std::abort();  // every named line must be found by its name
        }
    }
    // What the store writes back must decode to the same lines.
    const std::string again = kv::codec::JoinLines(list.Lines());
    if (kv::codec::DecodeFile(kv::codec::EncodeFile(again)) != again)
        std::abort();
    return 0;
}
