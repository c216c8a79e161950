// File operations inside protection mounts against the same operations in a
// folder beside them without one, in one run, by an unprivileged uid (needs
// root: it mounts). The mounts are served by this process and decide every
// request for that uid's table, which forbids something the measured
// operations never do. One folder's rules let the kernel keep names and
// attributes; the other's (a Hide entry) make every answer caller-dependent,
// so each operation is a round trip to the service.
// Goals, as ratios to the folder without protection, where the rules allow
// keeping: stat at most 1.5x, open+close at most 10x, create+unlink at most
// 4x; sequential write at least 70% and read at least 80% of its speed; a
// decision with 100,000 entries in the caller's table at most 1.5x the cost
// with 10 entries.
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "driver/EntryTable.h"
#include "driver/Policy.h"
#include "driver/mounts/MountSet.h"

namespace {

using Clock = std::chrono::steady_clock;
using kv::driver::Entry;

constexpr std::size_t kBlock = 1 << 20;
constexpr std::size_t kFileBytes = 256u << 20;

/// Nanoseconds per round of `op`, the best of five runs of `rounds`.
double NanosPerOp(int rounds, const std::function<void(int)>& op) {
    double best = 1e30;
    for (int run = 0; run < 5; ++run) {
        const auto start = Clock::now();
        for (int i = 0; i < rounds; ++i)
            op(i);
        const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        best = std::min(best, ns / rounds);
    }
    return best;
}

/// MB/s of writing, then of reading, a file of kFileBytes in 1 MiB blocks.
std::pair<double, double> Throughput(const std::string& path) {
    std::vector<char> block(kBlock, 'x');
    auto seconds = [](Clock::time_point since) {
        return std::chrono::duration<double>(Clock::now() - since).count();
    };
    double write = 0;
    double read = 0;
    for (int run = 0; run < 3; ++run) {
        ::unlink(path.c_str());
        auto start = Clock::now();
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        for (std::size_t done = 0; done < kFileBytes; done += kBlock) {
            if (::write(fd, block.data(), kBlock) != static_cast<ssize_t>(kBlock))
                std::abort();
        }
        ::close(fd);
        write = std::max(write, kFileBytes / 1e6 / seconds(start));
        start = Clock::now();
        fd = ::open(path.c_str(), O_RDONLY);
        while (::read(fd, block.data(), kBlock) > 0) {
        }
        ::close(fd);
        read = std::max(read, kFileBytes / 1e6 / seconds(start));
    }
    ::unlink(path.c_str());
    return {write, read};
}

struct Figures {
    double stat = 0, open = 0, create = 0, write = 0, read = 0;
};

Figures Measure(const std::string& folder) {
    const std::string file = folder + "/file";
    ::close(::open(file.c_str(), O_WRONLY | O_CREAT, 0644));
    Figures f;
    struct stat st;
    f.stat = NanosPerOp(20000, [&](int) { ::stat(file.c_str(), &st); });
    f.open = NanosPerOp(20000, [&](int) { ::close(::open(file.c_str(), O_RDONLY)); });
    const std::string made = folder + "/made";
    f.create = NanosPerOp(5000, [&](int) {
        ::close(::open(made.c_str(), O_WRONLY | O_CREAT, 0644));
        ::unlink(made.c_str());
    });
    std::tie(f.write, f.read) = Throughput(folder + "/big");
    return f;
}

constexpr uid_t kUid = 65534;

/// The measuring uid's table: a rule on each measured folder that the
/// measured operations never meet (on the second, a Hide entry whose
/// exclusions spare the measured files), plus `filler` entries elsewhere.
std::shared_ptr<const kv::driver::Policy> PolicyFor(const std::string& folder,
                                                    const std::string& dependent,
                                                    std::size_t filler) {
    kv::driver::TableSet tables("");
    kv::driver::EntryTable& table = tables.Of(kUid);
    std::string error;
    (void)table.Add(Entry{0x20, folder + "/*.keep", "ExcludeFiles", "*", "kv"}, &error);
    (void)table.Add(Entry{0x200, dependent + "/*", "file;made;big", "*", "kv"}, &error);
    for (std::size_t i = 0; i < filler; ++i)
        (void)table.Add(
            Entry{0x1E7830, "/srv/none/user" + std::to_string(i) + "/*", "ExcludeFiles", "*", "kv"},
            &error);
    table.SetActive(true);
    return kv::driver::BuildPolicy(tables, filler + 1);
}

/// Runs `measure` as kUid in a child process; its figures.
Figures AsUser(const std::function<Figures()>& measure) {
    int fds[2];
    if (::pipe(fds) != 0)
        std::abort();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        if (::setgroups(0, nullptr) != 0 || ::setresgid(kUid, kUid, kUid) != 0 ||
            ::setresuid(kUid, kUid, kUid) != 0)
            ::_exit(1);
        const Figures f = measure();
        const bool sent = ::write(fds[1], &f, sizeof f) == static_cast<ssize_t>(sizeof f);
        ::_exit(sent ? 0 : 1);
    }
    ::close(fds[1]);
    Figures f;
    if (::read(fds[0], &f, sizeof f) != static_cast<ssize_t>(sizeof f))
        std::abort();
    ::close(fds[0]);
    ::waitpid(pid, nullptr, 0);
    return f;
}

void Row(const char* what, double plain, double mounted, const char* unit, double goal,
         bool higherIsBetter) {
    const double ratio = mounted / plain;
    const bool met = higherIsBetter ? ratio >= goal : ratio <= goal;
    std::printf("%-16s %10.2f %10.2f %-6s ratio %5.2f  goal %s %.2f  %s\n", what, plain, mounted,
                unit, ratio, higherIsBetter ? ">=" : "<=", goal, met ? "met" : "MISSED");
}

}  // namespace

int main() {
    if (::geteuid() != 0) {
        std::printf("bench_mounts: skipped, protection mounts need root\n");
        return 0;
    }
    char tmpl[] = "/tmp/kvbench.XXXXXX";
    const std::string base = ::mkdtemp(tmpl);
    ::chmod(base.c_str(), 0755);
    const std::string plain = base + "/plain";
    const std::string kept = base + "/protected";
    const std::string dependent = base + "/caller-dependent";
    for (const std::string& folder : {plain, kept, dependent}) {
        ::mkdir(folder.c_str(), 0777);
        ::chmod(folder.c_str(), 0777);
    }

    const Figures native = AsUser([&] { return Measure(plain); });
    Figures mounted;
    Figures roundTrips;
    Figures decisions;
    Figures decisions100k;
    {
        kv::driver::mounts::MountSet mounts({}, "", nullptr);
        mounts.Apply(PolicyFor(kept, dependent, 8));
        if (mounts.Folders().size() != 2) {
            std::printf("bench_mounts: could not mount over %s\n", base.c_str());
            return 1;
        }
        mounted = AsUser([&] { return Measure(kept); });
        roundTrips = AsUser([&] { return Measure(dependent); });
        const std::string file = dependent + "/file";
        auto statOnly = [&] {
            Figures f;
            struct stat st;
            f.stat = NanosPerOp(20000, [&](int) { ::stat(file.c_str(), &st); });
            return f;
        };
        decisions = AsUser(statOnly);
        mounts.Apply(PolicyFor(kept, dependent, 99998));
        decisions100k = AsUser(statOnly);
        mounts.Apply(std::make_shared<const kv::driver::Policy>());
    }

    std::printf("as uid %u; ratios to the plain folder\n", static_cast<unsigned>(kUid));
    std::printf("%-16s %10s %10s\n", "", "plain", "protected");
    Row("stat", native.stat / 1000, mounted.stat / 1000, "us", 1.5, false);
    Row("open+close", native.open / 1000, mounted.open / 1000, "us", 10, false);
    Row("create+unlink", native.create / 1000, mounted.create / 1000, "us", 4, false);
    Row("write 256 MiB", native.write, mounted.write, "MB/s", 0.7, true);
    Row("read 256 MiB", native.read, mounted.read, "MB/s", 0.8, true);
    std::printf("caller-dependent rules (every request a round trip):\n");
    std::printf("%-16s %10.2f %10.2f us     ratio %5.2f\n", "stat", native.stat / 1000,
                roundTrips.stat / 1000, roundTrips.stat / native.stat);
    std::printf("%-16s %10.2f %10.2f us     ratio %5.2f\n", "open+close", native.open / 1000,
                roundTrips.open / 1000, roundTrips.open / native.open);
    std::printf("%-16s %10.2f %10.2f us     ratio %5.2f\n", "create+unlink", native.create / 1000,
                roundTrips.create / 1000, roundTrips.create / native.create);
    Row("stat, 100k vs 10", decisions.stat / 1000, decisions100k.stat / 1000, "us", 1.5, false);
    std::printf("bindfs and an empty FUSE file system are not measured here\n");
    std::string cleanup = "rm -rf " + base;
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
