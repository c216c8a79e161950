// kvvxd: the interceptor service.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "driver/DeviceClient.h"
#include "driver/Service.h"
#include "driver/SystemdNotify.h"
#include "driver/events/OpenEvents.h"
#include "driver/mounts/MountSet.h"
#include "enforce/SettingsAuthority.h"
#include "platform/LoginAccounts.h"
#include "platform/Paths.h"

namespace {

kv::driver::Service* g_service = nullptr;

void OnStopSignal(int) {
    if (g_service)
        g_service->RequestStop();
}

const char kUsage[] =
    "usage: kvvxd [--socket PATH] [--state PATH] [--settings PATH] [--program PATH]\n"
    "             [--passwd PATH] [--foreground | --daemon]\n"
    "  --socket PATH    the device socket (default: $KESTRAVA_DEVICE, else\n"
    "                   /run/kestrava/VEVUZ)\n"
    "  --state PATH     the state file (default: /var/lib/kestrava/kvvxd.state for root,\n"
    "                   else $XDG_STATE_HOME/kestrava/kvvxd.state)\n"
    "  --settings PATH  the administrator's settings (kv.dat): their password guards\n"
    "                   every request that would weaken a user's protection, and\n"
    "                   users' logon starts load their rules from them (default:\n"
    "                   kv.dat beside an installed kvvxd). Without settings every\n"
    "                   request is open to every user.\n"
    "  --program PATH   the program's executable, the one file whose processes count\n"
    "                   as the program (default: kv beside kvvxd)\n"
    "  --passwd PATH    take the login accounts from this passwd-format file instead\n"
    "                   of the account database (for tests)\n"
    "  --foreground   stay attached and log to stderr (the default); prints \"ready\"\n"
    "                 on stdout once the socket accepts connections\n"
    "  --daemon       detach and log to the system log once the socket is ready\n";

std::string DefaultStatePath() {
    if (::geteuid() == 0)
        return "/var/lib/kestrava/kvvxd.state";
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg)
        return std::string(xdg) + "/kestrava/kvvxd.state";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.local/state/kestrava/kvvxd.state";
    return "/tmp/kestrava-" + std::to_string(::getuid()) + "/kvvxd.state";
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string OwnExecutable() {
    char exe[4096];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    return n > 0 ? std::string(exe, static_cast<std::size_t>(n)) : std::string();
}

/// The canonical form of `path`, or `path` itself when it does not resolve.
std::string Canonical(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

/// Folders the service itself needs: its own program folder, the folder of
/// its socket and of its state file. No protection mount covers them.
std::vector<std::string> ReservedFolders(const kv::driver::ServiceOptions& options,
                                         const std::string& settingsPath) {
    std::vector<std::string> folders;
    if (const std::string exe = OwnExecutable(); !exe.empty())
        folders.push_back(FolderOf(exe));
    for (const std::string& path :
         {options.socketPath, options.statePath, settingsPath, options.programPath}) {
        if (!path.empty())
            folders.push_back(Canonical(FolderOf(path)));
    }
    return folders;
}

}  // namespace

int main(int argc, char** argv) {
    kv::driver::ServiceOptions options;
    options.socketPath = kv::driver::DefaultDevicePath();
    options.statePath = DefaultStatePath();
    options.programPath = FolderOf(OwnExecutable()) + "/kv";
    std::string settingsPath;
    std::string passwdPath;
    bool daemon = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--socket" || arg == "--state") && i + 1 < argc) {
            (arg == "--socket" ? options.socketPath : options.statePath) = argv[++i];
        } else if (arg == "--settings" && i + 1 < argc) {
            settingsPath = Canonical(argv[++i]);
        } else if (arg == "--passwd" && i + 1 < argc) {
            passwdPath = argv[++i];
        } else if (arg == "--program" && i + 1 < argc) {
            options.programPath = argv[++i];
        } else if (arg == "--foreground") {
            daemon = false;
        } else if (arg == "--daemon") {
            daemon = true;
        } else if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        } else {
            std::cerr << "kvvxd: unknown or incomplete option " << arg << "\n" << kUsage;
            return 2;
        }
    }

    int readyPipe[2] = {-1, -1};
    if (daemon) {
        if (::pipe(readyPipe) != 0) {
            std::perror("kvvxd: pipe");
            return 1;
        }
        const pid_t child = ::fork();
        if (child < 0) {
            std::perror("kvvxd: fork");
            return 1;
        }
        if (child > 0) {
            // The parent reports whether the service came up.
            ::close(readyPipe[1]);
            char byte = 0;
            const bool ready = ::read(readyPipe[0], &byte, 1) == 1;
            return ready ? 0 : 1;
        }
        ::close(readyPipe[0]);
        ::setsid();
        ::openlog("kvvxd", LOG_PID, LOG_DAEMON);
        options.log = [](const std::string& line) { ::syslog(LOG_INFO, "%s", line.c_str()); };
    } else {
        options.log = [](const std::string& line) { std::cerr << "kvvxd: " << line << std::endl; };
    }

    // An installed service keeps the settings of the program installed with it.
    if (const std::string folder = FolderOf(OwnExecutable());
        settingsPath.empty() && kv::platform::ProgramInstalled(folder))
        settingsPath = Canonical(folder + "/" + kv::platform::ProgramFiles::kSettings);
    // Processes show the canonical path of their executable.
    options.programPath = Canonical(options.programPath);
    std::unique_ptr<kv::TSettingsAuthority> authority;
    if (!settingsPath.empty()) {
        authority = std::make_unique<kv::TSettingsAuthority>(settingsPath);
        options.authority = authority.get();
        options.log("keeping the settings " + settingsPath);
        // Accounts the settings never knew get the unknown user's rules from the start.
        options.loginAccounts = [passwdPath] { return kv::platform::SystemLoginUids(passwdPath); };
    }

    ::umask(022);
    ::signal(SIGPIPE, SIG_IGN);
    // Descriptors are what the service spends per open file of its users.
    if (rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
            options.log("cannot raise the descriptor limit");
    }

    // Protection mounts need root; without it the service keeps its tables
    // and answers checks, and enforces nothing.
    std::unique_ptr<kv::driver::mounts::MountSet> mounts;
    kv::driver::events::OpenEvents openEvents(options.programPath, settingsPath, OwnExecutable(),
                                              options.log);
    if (::geteuid() == 0) {
        if (std::string eventsError; !openEvents.Start(&eventsError))
            options.log("cannot start the open-event responder: " + eventsError);
        // Recorded beside the state: a successor finds the mounts of a
        // service that died, and takes them over.
        mounts = std::make_unique<kv::driver::mounts::MountSet>(
            ReservedFolders(options, settingsPath),
            options.statePath.empty() ? std::string() : options.statePath + ".mounts", options.log);
        options.policyChanged = [&mounts,
                                 &openEvents](const std::shared_ptr<const kv::driver::Policy>& p) {
            mounts->Apply(p);
            openEvents.Apply(p);
        };
        options.mountedFolders = [&mounts] { return mounts->Folders(); };
        auto byOpenEvents = [&openEvents]() -> std::string {
            if (!openEvents.Running())
                return "not enforced: no folder to mount over, and no open events";
            return std::string(kv::driver::kOpenEventsCoverage) +
                   " (Open, Read and Full of files, Hide of folders; the other bits are not "
                   "enforced)";
        };
        options.folderCoverage = [&mounts, byOpenEvents](const std::string& folder) {
            return kv::driver::NeedsOpenEvents(folder) ? byOpenEvents()
                                                       : mounts->FolderCoverage(folder);
        };
        options.coverageOf = [&mounts, &openEvents](const std::string& folder) -> std::string {
            if (!kv::driver::NeedsOpenEvents(folder))
                return mounts->Coverage(folder);
            if (!openEvents.Running())
                return "not enforced: no folder to mount over, and no open events";
            return std::string(kv::driver::kOpenEventsCoverage) +
                   " (Open, Read and Full of files, Hide of folders; the other bits are not "
                   "enforced)";
        };
    } else {
        options.log("not running as root: protection is not enforced");
    }
    kv::driver::Service service(options);
    std::string error;
    if (!service.Start(&error)) {
        if (daemon)
            ::syslog(LOG_ERR, "%s", error.c_str());
        std::cerr << "kvvxd: " << error << "\n";
        return 1;
    }
    g_service = &service;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);

    if (daemon) {
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::close(null);
        }
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(readyPipe[1], &byte, 1);
        ::close(readyPipe[1]);
    } else {
        std::cout << "ready" << std::endl;
    }
    // Under a service manager (systemd's Type=notify): ready once the socket accepts.
    if (!kv::driver::NotifyServiceManager("READY=1\nMAINPID=" + std::to_string(::getpid())))
        options.log("could not tell the service manager that the service is ready");
    service.Run();
    kv::driver::NotifyServiceManager("STOPPING=1");
    g_service = nullptr;
    mounts.reset();
    openEvents.Stop();
    return 0;
}
