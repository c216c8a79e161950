// kvsession: the PAM session hook (run by pam_exec when a session opens).
// Whatever happens, it exits 0 within about a second: a logon never waits
// on, or fails for, the protection service.
#include <signal.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/LoginAccounts.h"
#include "session/SessionHook.h"

namespace {

void GiveUp(int) {
    ::_exit(0);  // the hard ceiling on a logon's wait
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

int main(int argc, char** argv) {
    ::signal(SIGALRM, GiveUp);
    ::signal(SIGPIPE, SIG_IGN);
    ::alarm(1);
    kv::session::HookOptions options;
    // The device only from the command line: the environment of a session
    // is partly its user's, and must not choose the service.
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--device")
            options.devicePath = argv[++i];
    }
    options.uidOf = kv::platform::UidOfAccount;
    ::openlog("kvsession", LOG_PID, LOG_AUTHPRIV);
    options.log = [](const std::string& line) { ::syslog(LOG_WARNING, "%s", line.c_str()); };
    kv::session::RunSessionHook({Env("PAM_TYPE"), Env("PAM_USER"), Env("PAM_SERVICE")}, options);
    return 0;
}
