// Prints the cost of loading, flushing and looking up entries in stores of
// growing size. Goal: one lookup at 100,000 entries costs at most 2x one at 1,000.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "settings/Encript.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

std::string KeyName(int i) {
    return "u_USER" + std::to_string(i % 97) + "_P_/home/user" + std::to_string(i % 97) +
           "/projects/folder" + std::to_string(i);
}

}  // namespace

int main() {
    const auto dir = std::filesystem::temp_directory_path() / "kv-bench-settings";
    std::filesystem::create_directories(dir);
    constexpr int kLookups = 100000;
    double perLookup1000 = 0;
    double perLookupLargest = 0;
    std::printf("%10s %12s %12s %16s %14s\n", "entries", "load (ms)", "flush (ms)",
                "100k lookups(ms)", "ns per lookup");
    for (int n : {1000, 10000, 100000}) {
        const std::string path = (dir / ("kv" + std::to_string(n) + ".dat")).string();
        std::filesystem::remove(path);
        {
            kv::TEncriptor store(path, true);
            for (int i = 0; i < n; ++i)
                store.WriteInteger(KeyName(i), 1 + i % 3);
            store.Flush(true);
        }
        auto t = Clock::now();
        kv::TEncriptor store(path, true);
        const double load = Seconds(t);

        t = Clock::now();
        store.Flush(true);
        const double flush = Seconds(t);

        std::mt19937 rng(7);
        std::vector<std::string> names;
        for (int i = 0; i < 1000; ++i)
            names.push_back(KeyName(static_cast<int>(rng() % n)));
        // Best of five rounds: the figure of a quiet moment on a shared machine.
        long sum = 0;
        double lookups = 1e9;
        for (int round = 0; round < 5; ++round) {
            t = Clock::now();
            for (int i = 0; i < kLookups; ++i)
                sum += store.ReadInteger(names[i % names.size()], 0);
            lookups = std::min(lookups, Seconds(t));
        }
        const double perLookup = lookups / kLookups * 1e9;
        if (n == 1000)
            perLookup1000 = perLookup;
        perLookupLargest = perLookup;
        std::printf("%10d %12.2f %12.2f %16.2f %14.1f%s\n", n, load * 1e3, flush * 1e3,
                    lookups * 1e3, perLookup, sum == 0 ? " (no hits!)" : "");
        std::filesystem::remove(path);
    }
    const double ratio = perLookupLargest / perLookup1000;
    std::printf("lookup cost ratio 100,000 / 1,000 entries: %.2f (goal <= 2.00): %s\n", ratio,
                ratio <= 2.0 ? "met" : "NOT met");
    std::filesystem::remove_all(dir);
    return 0;
}
