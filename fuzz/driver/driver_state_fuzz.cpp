// Feeds state files to the reader; what it accepts must survive being
// written and read again.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "driver/EntryTable.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using kv::driver::TableSet;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::map<uid_t, TableSet::Stored> tables;
    std::map<uid_t, TableSet::Stored> again;
    std::string error;
    if (!TableSet::Parse(text, &tables, &error))
        return 0;
    if (!TableSet::Parse(TableSet::Serialize(tables), &again, &error) || again != tables)
        std::abort();
    return 0;
}
