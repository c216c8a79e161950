// Prints the cost of registry operations on hives of growing size. Every
// operation reads the file again (another process may have changed it), so
// the figures show how that scales with the number of keys.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/RegFile.h"
#include "platform/Registry.h"

namespace {

using Clock = std::chrono::steady_clock;
using kv::platform::Hive;

double MillisSince(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

std::string HiveText(int keys) {
    kv::platform::regfile::Document doc;
    for (int i = 0; i < keys; ++i) {
        kv::platform::RegistryValue v;
        v.text = "C:\\Program Files\\App" + std::to_string(i) + "\\app.exe";
        doc.keys.push_back(
            {"Software\\Vendor" + std::to_string(i % 50) + "\\Product" + std::to_string(i),
             {{"Path", v}, {"Version", v}}});
    }
    return kv::platform::regfile::Write(doc, "HKEY_LOCAL_MACHINE");
}

}  // namespace

int main() {
    const auto dir = std::filesystem::temp_directory_path() / "kv-bench-registry";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "registry");
    std::printf("%8s %10s %12s %14s %14s %14s\n", "keys", "file (KB)", "parse (ms)", "read (ms/op)",
                "subkeys(ms/op)", "write (ms/op)");
    for (int n : {100, 1000, 10000}) {
        const std::string text = HiveText(n);
        {
            std::FILE* f = std::fopen((dir / "registry/HKLM.reg").c_str(), "wb");
            std::fwrite(text.data(), 1, text.size(), f);
            std::fclose(f);
        }
        auto start = Clock::now();
        const auto parsed = kv::platform::regfile::Parse(text, "HKEY_LOCAL_MACHINE");
        const double parseMs = MillisSince(start);
        if (parsed.document.keys.size() != static_cast<std::size_t>(n))
            return 1;

        auto reg = kv::platform::OpenMachineRegistry(dir.string(), "bench");
        constexpr int kOps = 20;
        start = Clock::now();
        for (int i = 0; i < kOps; ++i) {
            if (!reg->ReadString(Hive::LocalMachine,
                                 "software\\vendor7\\product" + std::to_string(n - 43), "path"))
                return 1;
        }
        const double readMs = MillisSince(start) / kOps;
        start = Clock::now();
        for (int i = 0; i < kOps; ++i)
            reg->SubKeyNames(Hive::LocalMachine, "Software\\Vendor7");
        const double subMs = MillisSince(start) / kOps;
        start = Clock::now();
        for (int i = 0; i < kOps; ++i) {
            if (!reg->WriteDword(Hive::LocalMachine, "Software\\Vendor7\\Bench", "n",
                                 static_cast<std::uint32_t>(i)))
                return 1;
        }
        const double writeMs = MillisSince(start) / kOps;
        std::printf("%8d %10zu %12.3f %14.3f %14.3f %14.3f\n", n, text.size() / 1024, parseMs,
                    readMs, subMs, writeMs);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
