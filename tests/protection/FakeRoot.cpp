// Preloaded into the program by the protected user: every identity call says
// root. The service must not care what a process believes about itself.
#include <sys/types.h>

extern "C" {
uid_t getuid() {
    return 0;
}
uid_t geteuid() {
    return 0;
}
}
