#pragma once

#include <sys/types.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace kv::test {

/// Clock ticks of CPU time that process `pid` has used (user and system).
inline long CpuTicks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long utime = 0;
    long stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stol(field);
        if (i == 15)
            stime = std::stol(field);
    }
    return utime + stime;
}

}  // namespace kv::test
