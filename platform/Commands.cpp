#include "platform/Commands.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kv::platform {

std::string FindProgram(const std::string& name) {
    const char* env = std::getenv("PATH");
    std::string path = std::string(env ? env : "/usr/bin:/bin") + ":/usr/sbin:/sbin";
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t colon = path.find(':', start);
        const std::string folder =
            path.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (!folder.empty()) {
            const std::string candidate = folder + "/" + name;
            if (::access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    return {};
}

int RunCommand(const std::vector<std::string>& argv, const std::string& input, std::string* output,
               std::string* error) {
    output->clear();
    if (argv.empty()) {
        *error = "no command";
        return -1;
    }
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        return *error = std::string("pipe: ") + std::strerror(errno), -1;
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        return *error = std::string("pipe: ") + std::strerror(errno), -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    if (pid < 0) {
        ::close(in[1]);
        ::close(out[0]);
        return *error = std::string("fork: ") + std::strerror(errno), -1;
    }
    // The input is small (a password typed twice): it fits the pipe.
    const auto previous = ::signal(SIGPIPE, SIG_IGN);
    [[maybe_unused]] const ssize_t written = ::write(in[1], input.data(), input.size());
    ::close(in[1]);
    ::signal(SIGPIPE, previous);
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        output->append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status)) {
        *error = argv[0] + " ended by a signal";
        return -1;
    }
    if (WEXITSTATUS(status) == 127)
        *error = argv[0] + " could not be run";
    return WEXITSTATUS(status);
}

}  // namespace kv::platform
