// File operations inside protection mounts against the same operations in a
// folder beside them without one, in one run, by an unprivileged uid (needs
// root: it mounts). The mounts are served by this process and decide every
// request for that uid's table, which forbids something the measured
// operations never do. One folder's rules let the kernel keep names and
// attributes; the other's (a Hide entry) make every answer caller-dependent,
// so each operation is a round trip to the service. Beside them: an empty
// FUSE file system that caches nothing (the cost of one round trip, which no
// decision made in the service can go below) and bindfs when installed.
// Goals, as ratios to the folder without protection, where the rules allow
// keeping: stat at most 1.5x, open+close at most 10x, create+unlink at most
// 4x, none slower than bindfs; sequential write at least 70% of its speed, a
// first read 40%, a read again 80%; a decision with 100,000 entries in the
// caller's table at most 1.5x the cost with 10 entries.
#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
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

#include "EmptyFs.h"
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

struct Figures {
    double stat = 0, open = 0, create = 0;
    /// MB/s: writing a file, reading it with nothing of it cached in front of
    /// the folder's own file system, and reading it again.
    double write = 0, firstRead = 0, readAgain = 0;
};

/// Writes a file of kFileBytes in 1 MiB blocks, then reads it, and again, into
/// `f`. `dropCached`: the first read starts with none of the file's pages
/// kept by the mount (the folder's own file system keeps its own).
void Throughput(const std::string& path, bool dropCached, Figures* f) {
    std::vector<char> block(kBlock, 'x');
    auto seconds = [](Clock::time_point since) {
        return std::chrono::duration<double>(Clock::now() - since).count();
    };
    auto readAll = [&](bool drop) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        if (drop)
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        const auto start = Clock::now();
        std::size_t total = 0;
        for (ssize_t n; (n = ::read(fd, block.data(), kBlock)) > 0;)
            total += static_cast<std::size_t>(n);
        const double mbs = kFileBytes / 1e6 / seconds(start);
        ::close(fd);
        if (total != kFileBytes)
            std::abort();
        return mbs;
    };
    for (int run = 0; run < 3; ++run) {
        ::unlink(path.c_str());
        const auto start = Clock::now();
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        for (std::size_t done = 0; done < kFileBytes; done += kBlock) {
            if (::write(fd, block.data(), kBlock) != static_cast<ssize_t>(kBlock))
                std::abort();
        }
        ::close(fd);
        f->write = std::max(f->write, kFileBytes / 1e6 / seconds(start));
        f->firstRead = std::max(f->firstRead, readAll(dropCached));
        // The kernel moves pages touched a second time to its active list,
        // which costs on that read: a file read again means the best of two.
        f->readAgain = std::max({f->readAgain, readAll(false), readAll(false)});
    }
    ::unlink(path.c_str());
}

/// Stat and open+close of `file`.
void Metadata(const std::string& file, Figures* f) {
    struct stat st;
    f->stat = NanosPerOp(20000, [&](int) { ::stat(file.c_str(), &st); });
    f->open = NanosPerOp(20000, [&](int) { ::close(::open(file.c_str(), O_RDONLY)); });
}

Figures Measure(const std::string& folder, bool dropCached) {
    const std::string file = folder + "/file";
    ::close(::open(file.c_str(), O_WRONLY | O_CREAT, 0644));
    Figures f;
    Metadata(file, &f);
    const std::string made = folder + "/made";
    f.create = NanosPerOp(5000, [&](int) {
        ::close(::open(made.c_str(), O_WRONLY | O_CREAT, 0644));
        ::unlink(made.c_str());
    });
    Throughput(folder + "/big", dropCached, &f);
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
    std::printf("%-16s %10.2f %10.2f %-5s ratio %6.2f  goal %s %.2f  %s\n", what, plain, mounted,
                unit, ratio, higherIsBetter ? ">=" : "<=", goal, met ? "met" : "MISSED");
}

/// A figure of another file system beside the plain folder's.
void Beside(const char* what, double plain, double other, const char* unit) {
    std::printf("%-16s %10.2f %10.2f %-5s ratio %6.2f\n", what, plain, other, unit, other / plain);
}

/// Mounts bindfs (when installed) from `from` over `at` with its own default
/// caching, the classic FUSE pass-through; false when it is not there.
bool MountBindfs(const std::string& from, const std::string& at) {
    if (::access("/usr/bin/bindfs", X_OK) != 0)
        return false;
    const std::string command = "/usr/bin/bindfs -o allow_other " + from + " " + at;
    return std::system(command.c_str()) == 0;
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
    const std::string empty = base + "/empty";
    const std::string bindfsFrom = base + "/bindfs-from";
    const std::string bindfs = base + "/bindfs";
    for (const std::string& folder : {plain, kept, dependent, empty, bindfsFrom, bindfs}) {
        ::mkdir(folder.c_str(), 0777);
        ::chmod(folder.c_str(), 0777);
    }

    const Figures native = AsUser([&] { return Measure(plain, false); });
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
        mounted = AsUser([&] { return Measure(kept, true); });
        roundTrips = AsUser([&] { return Measure(dependent, true); });
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
    Figures floor;
    bool floorMeasured = false;
    if (auto fs = kv::bench::EmptyFs::MountAt(empty)) {
        floor = AsUser([&] {
            Figures f;
            Metadata(empty + "/file", &f);
            return f;
        });
        floorMeasured = true;
    }
    Figures other;
    const bool bindfsMeasured = MountBindfs(bindfsFrom, bindfs);
    if (bindfsMeasured) {
        other = AsUser([&] { return Measure(bindfs, true); });
        ::umount2(bindfs.c_str(), MNT_DETACH);
    }

    std::printf("as uid %u; ratios to the plain folder\n", static_cast<unsigned>(kUid));
    std::printf("%-16s %10s %10s\n", "", "plain", "protected");
    Row("stat", native.stat / 1000, mounted.stat / 1000, "us", 1.5, false);
    Row("open+close", native.open / 1000, mounted.open / 1000, "us", 10, false);
    Row("create+unlink", native.create / 1000, mounted.create / 1000, "us", 4, false);
    Row("write 256 MiB", native.write, mounted.write, "MB/s", 0.7, true);
    Row("first read", native.firstRead, mounted.firstRead, "MB/s", 0.4, true);
    Row("read again", native.readAgain, mounted.readAgain, "MB/s", 0.8, true);
    std::printf("caller-dependent rules (every request a round trip):\n");
    Beside("stat", native.stat / 1000, roundTrips.stat / 1000, "us");
    Beside("open+close", native.open / 1000, roundTrips.open / 1000, "us");
    Beside("create+unlink", native.create / 1000, roundTrips.create / 1000, "us");
    Beside("write 256 MiB", native.write, roundTrips.write, "MB/s");
    Beside("first read", native.firstRead, roundTrips.firstRead, "MB/s");
    Beside("read again", native.readAgain, roundTrips.readAgain, "MB/s");
    Row("stat, 100k vs 10", decisions.stat / 1000, decisions100k.stat / 1000, "us", 1.5, false);
    if (floorMeasured) {
        std::printf("an empty FUSE file system, nothing cached (the floor of a round trip):\n");
        Beside("stat", native.stat / 1000, floor.stat / 1000, "us");
        Beside("open+close", native.open / 1000, floor.open / 1000, "us");
    } else {
        std::printf("an empty FUSE file system: could not mount one\n");
    }
    if (bindfsMeasured) {
        std::printf("bindfs, its default caching (protected where it keeps names: ratio to it):\n");
        Row("stat", other.stat / 1000, mounted.stat / 1000, "us", 1, false);
        Row("open+close", other.open / 1000, mounted.open / 1000, "us", 1, false);
        Row("create+unlink", other.create / 1000, mounted.create / 1000, "us", 1, false);
        Beside("write 256 MiB", native.write, other.write, "MB/s");
        Beside("first read", native.firstRead, other.firstRead, "MB/s");
        Beside("read again", native.readAgain, other.readAgain, "MB/s");
    } else {
        std::printf("bindfs: not installed, not measured\n");
    }
    std::string cleanup = "rm -rf " + base;
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
