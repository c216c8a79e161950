// kvset: writes "name=value" lines into a settings file through the settings
// store, so that scripts can prepare a kv.dat the program reads as its own.
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "settings/Encript.h"

namespace {

const char kUsage[] =
    "usage: kvset FILE < LINES\n"
    "  writes every \"name=value\" line of standard input into the settings file FILE\n"
    "  (created when missing) as the program writes an entry; other entries stay.\n"
    "  Empty lines are skipped; any other line without a name and \"=\" writes nothing.\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
        std::cerr << kUsage;
        return 2;
    }
    // Every line is checked before the file is touched.
    std::vector<std::pair<std::string, std::string>> entries;
    std::string line;
    for (int number = 1; std::getline(std::cin, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos || equals == 0) {
            std::cerr << "kvset: line " << number << " is not name=value: " << line << "\n";
            return 2;
        }
        entries.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    }
    kv::TEncriptor store(argv[1], true);
    for (const auto& [name, value] : entries)
        store.WriteString(name, value);
    if (!store.Flush(true)) {
        std::cerr << "kvset: " << argv[1] << " could not be written: " << store.LastError() << "\n";
        return 1;
    }
    return 0;
}
