// Feeds state files to the reader; what it accepts must survive being
// written and read again.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "driver/EntryTable.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using kv::driver::EntryTable;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<kv::driver::Entry> entries;
    std::vector<kv::driver::Entry> again;
    bool active = false;
    bool activeAgain = false;
    std::string error;
    if (!EntryTable::Parse(text, &entries, &active, &error))
        return 0;
    if (!EntryTable::Parse(EntryTable::Serialize(entries, active), &again, &activeAgain, &error) ||
        again != entries || activeAgain != active)
        std::abort();
    return 0;
}
