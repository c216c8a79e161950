// Reads the service's refusals the way the window does for an account other
// than root, and prints what it found:  RefusalsClient DEVICE UID PASSWORD|-
// "count=N" (N: the refusals of UID, or "-" when refused) and "log=" with the
// uid of each refusal in the log.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "enforce/DenialReader.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: RefusalsClient DEVICE UID PASSWORD|-\n");
        return 2;
    }
    kv::TDenialReader reader(argv[1]);
    if (std::string(argv[3]) != "-")
        reader.SetPassword(argv[3]);
    const auto count = reader.CountOf(static_cast<uid_t>(std::strtoul(argv[2], nullptr, 10)));
    std::printf("count=%s\nlog=", count ? std::to_string(*count).c_str() : "-");
    if (const auto log = reader.After(0)) {
        for (const auto& denial : *log)
            std::printf("%u ", static_cast<unsigned>(denial.uid));
    }
    std::printf("\n");
    return 0;
}
