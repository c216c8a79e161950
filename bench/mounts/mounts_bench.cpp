// File operations inside a protection mount against the same operations in
// a folder beside it without one, in one run (needs root: it mounts). The
// mount is served by this process and decides every request for this
// process's table, which forbids something the measured operations never do.
// Goals, as ratios to the folder without protection: stat at most 3x,
// open+close at most 10x, create+unlink at most 6x; sequential write at least
// 70% and read at least 80% of its speed; a decision with 100,000 entries in
// the caller's table at most 1.5x the cost with 10 entries.
#include <fcntl.h>
#include <sys/stat.h>
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

/// This uid's table: a rule on the measured folder that the measured
/// operations never meet, plus `filler` entries on other folders.
std::shared_ptr<const kv::driver::Policy> PolicyFor(const std::string& folder, std::size_t filler) {
    kv::driver::TableSet tables("");
    kv::driver::EntryTable& table = tables.Of(::getuid());
    std::string error;
    (void)table.Add(Entry{0x20, folder + "/*.keep", "ExcludeFiles", "*", "kv"}, &error);
    for (std::size_t i = 0; i < filler; ++i)
        (void)table.Add(
            Entry{0x1E7830, "/srv/none/user" + std::to_string(i) + "/*", "ExcludeFiles", "*", "kv"},
            &error);
    table.SetActive(true);
    return kv::driver::BuildPolicy(tables, filler + 1);
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
    const std::string plain = base + "/plain";
    const std::string protectedFolder = base + "/protected";
    ::mkdir(plain.c_str(), 0755);
    ::mkdir(protectedFolder.c_str(), 0755);

    const Figures native = Measure(plain);
    Figures mounted;
    double decision10 = 0;
    double decision100k = 0;
    double besideStat = 0;
    {
        kv::driver::mounts::MountSet mounts({}, "", nullptr);
        mounts.Apply(PolicyFor(protectedFolder, 9));
        if (mounts.Folders().empty()) {
            std::printf("bench_mounts: could not mount over %s\n", protectedFolder.c_str());
            return 1;
        }
        mounted = Measure(protectedFolder);
        const std::string plainFile = plain + "/file";
        struct stat plainSt;
        besideStat = NanosPerOp(20000, [&](int) { ::stat(plainFile.c_str(), &plainSt); });
        const std::string file = protectedFolder + "/file";
        struct stat st;
        decision10 = NanosPerOp(20000, [&](int) { ::stat(file.c_str(), &st); });
        mounts.Apply(PolicyFor(protectedFolder, 99999));
        decision100k = NanosPerOp(20000, [&](int) { ::stat(file.c_str(), &st); });
        mounts.Apply(std::make_shared<const kv::driver::Policy>());
    }

    std::printf("%-16s %10s %10s\n", "", "plain", "protected");
    Row("stat", native.stat / 1000, mounted.stat / 1000, "us", 3, false);
    Row("open+close", native.open / 1000, mounted.open / 1000, "us", 10, false);
    Row("create+unlink", native.create / 1000, mounted.create / 1000, "us", 6, false);
    Row("write 256 MiB", native.write, mounted.write, "MB/s", 0.7, true);
    Row("read 256 MiB", native.read, mounted.read, "MB/s", 0.8, true);
    Row("stat, 100k vs 10", decision10 / 1000, decision100k / 1000, "us", 1.5, false);
    std::printf("outside the mount, while it is there: stat %.2f us (before: %.2f us)\n",
                besideStat / 1000, native.stat / 1000);
    std::string cleanup = "rm -rf " + base;
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
