// The cost of open events for everyone's opens while an entry that no mount
// can reach (here "*.secret") makes the responder watch whole file systems:
// a first open of a file waits for the responder's answer; the responder then
// tells the kernel to let that file's later opens through (an ignore mark),
// so only first opens pay. Measured by a child process (the service's own
// opens are never checked). Needs root (fanotify).
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/EntryTable.h"
#include "driver/Policy.h"
#include "driver/events/OpenEvents.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kFiles = 5000;

/// Microseconds per open+close of `count` files named `prefix`N, measured
/// in a child process.
double OpenMicros(const std::string& prefix, int count, int rounds) {
    // Names made before the fork: the child of a process with threads only
    // makes system calls.
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i)
        names.push_back(prefix + std::to_string(i));
    int out[2];
    if (::pipe(out) != 0)
        std::abort();
    const pid_t child = ::fork();
    if (child == 0) {
        const auto start = Clock::now();
        for (int r = 0; r < rounds; ++r) {
            for (int i = 0; i < count; ++i) {
                const int fd = ::open(names[static_cast<std::size_t>(i)].c_str(), O_RDONLY);
                if (fd >= 0)
                    ::close(fd);
            }
        }
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count() /
                          (count * rounds);
        [[maybe_unused]] const ssize_t n = ::write(out[1], &us, sizeof us);
        ::_exit(0);
    }
    ::close(out[1]);
    double us = -1;
    [[maybe_unused]] const ssize_t n = ::read(out[0], &us, sizeof us);
    ::close(out[0]);
    ::waitpid(child, nullptr, 0);
    return us;
}

void MakeFiles(const std::string& prefix) {
    for (int i = 0; i < kFiles; ++i)
        ::close(::open((prefix + std::to_string(i)).c_str(), O_WRONLY | O_CREAT, 0644));
}

}  // namespace

int main() {
    if (::geteuid() != 0) {
        std::printf("bench_open_events: skipped, fanotify needs root\n");
        return 0;
    }
    char tmpl[] = "/tmp/kvbench.XXXXXX";
    const std::string base = ::mkdtemp(tmpl);
    MakeFiles(base + "/plain");
    MakeFiles(base + "/watched");
    const double plain = OpenMicros(base + "/plain", kFiles, 1);

    kv::driver::events::OpenEvents events("", "", "", nullptr);
    std::string error;
    if (!events.Start(&error)) {
        std::printf("bench_open_events: %s\n", error.c_str());
        return 1;
    }
    kv::driver::TableSet tables("");
    kv::driver::EntryTable& table = tables.Of(0);
    (void)table.Add({0x400, "*.secret", "ExcludeFiles", "*", "kv"}, &error);
    table.SetActive(true);
    events.Apply(kv::driver::BuildPolicy(tables, 1));
    ::usleep(300 * 1000);  // the responder takes the policy and marks

    const double first = OpenMicros(base + "/watched", kFiles, 1);
    const double again = OpenMicros(base + "/watched", kFiles, 3);
    events.Stop();

    std::printf("open+close, no open events                     %8.2f us\n", plain);
    std::printf("open+close, first open of a file (answered)    %8.2f us  (%.1fx)\n", first,
                first / plain);
    std::printf("open+close, later opens (ignored by the kernel) %7.2f us  (%.1fx)\n", again,
                again / plain);
    const std::string cleanup = "rm -rf " + base;
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
