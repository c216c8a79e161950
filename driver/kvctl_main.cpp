// kvctl: asks the interceptor service about its table.
#include <iostream>

#include "driver/Ctl.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return kv::driver::RunCtl(args, std::cout, std::cerr);
}
