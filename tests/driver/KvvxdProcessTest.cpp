// Runs the built kvvxd as the program's end-to-end tests will.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <thread>

#include "driver/DeviceClient.h"
#include "tests/support/CpuTicks.h"
#include "tests/support/TempDir.h"

namespace kv::driver {
namespace {

/// kvvxd --foreground on a temporary socket; Start returns once it printed "ready".
class Kvvxd {
public:
    Kvvxd(const std::string& socket, const std::string& state) : socket_(socket), state_(state) {
        // A service run as root leaves an open-event responder that ends just after it;
        // this process reaps it rather than the machine's init.
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    }
    ~Kvvxd() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        while (::waitpid(-1, nullptr, 0) > 0) {
        }
    }

    /// The first line the service printed on stdout; `descriptors` limits
    /// its open descriptors (soft and hard) when not 0.
    std::string Start(rlim_t descriptors = 0) {
        int out[2];
        if (::pipe(out) != 0)
            return "pipe failed";
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            ::close(out[1]);
            if (descriptors != 0) {
                const rlimit limit{descriptors, descriptors};
                ::setrlimit(RLIMIT_NOFILE, &limit);
            }
            ::execl(KVVXD_PATH, "kvvxd", "--foreground", "--socket", socket_.c_str(), "--state",
                    state_.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        std::string line;
        pollfd fd{out[0], POLLIN, 0};
        char c = 0;
        while (::poll(&fd, 1, 10000) == 1 && ::read(out[0], &c, 1) == 1 && c != '\n')
            line += c;
        ::close(out[0]);
        return line;
    }

    pid_t Pid() const { return pid_; }

    /// Sends `signal` and returns the exit status (-1 when it did not exit normally).
    int Stop(int signal) {
        ::kill(pid_, signal);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    std::string socket_;
    std::string state_;
    pid_t pid_ = -1;
};

/// Connects to the service's socket; a failure is reported with its reason.
bool Connect(DeviceClient& client, const std::string& socket) {
    std::string error;
    const bool open = client.Open(socket, &error);
    if (!open)
        ADD_FAILURE() << error;
    return open;
}

Reply Ask(DeviceClient& client, const Request& request) {
    Reply reply;
    std::string error;
    EXPECT_TRUE(client.Transact(request, &reply, &error)) << error;
    return reply;
}

using kv::test::CpuTicks;

TEST(KvvxdProcessTest, OutOfDescriptorsTheServiceRefusesConnectionsWithoutSpinning) {
    kv::test::TempDir dir;
    const std::string socket = dir.File("VEVUZ");
    Kvvxd service(socket, dir.File("state"));
    ASSERT_EQ(service.Start(24), "ready");
    // Each client sends a request, so no idle timeout frees its place.
    std::vector<std::unique_ptr<DeviceClient>> clients;
    for (int i = 0; i < 40; ++i) {
        auto client = std::make_unique<DeviceClient>();
        std::string error;
        Reply reply;
        if (client->Open(socket, &error, 1000))
            (void)client->Transact(MakeRequest(code::kCount), &reply, &error);
        clients.push_back(std::move(client));
    }
    const long before = CpuTicks(service.Pid());
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_LT(CpuTicks(service.Pid()) - before, sysconf(_SC_CLK_TCK) / 4)
        << "the service waits instead of waking for a connection it cannot take";
    clients.clear();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    DeviceClient client;
    ASSERT_TRUE(Connect(client, socket));
    EXPECT_TRUE(Ask(client, MakeRequest(code::kCount)).success) << "and answers once they went";
}

TEST(KvvxdProcessTest, ReadyMeansConnectableAndStateOutlivesTheProcess) {
    kv::test::TempDir dir;
    const std::string socket = dir.File("VEVUZ");
    const std::string state = dir.File("state");
    {
        Kvvxd service(socket, state);
        ASSERT_EQ(service.Start(), "ready");
        DeviceClient client;
        ASSERT_TRUE(Connect(client, socket));
        Request add = MakeRequest(code::kAddEntry);
        add.record.FileMask = "/home/a/*";
        add.record.Processes = "*";
        for (int i = 0; i < 3; ++i)
            EXPECT_TRUE(Ask(client, add).success);
        EXPECT_TRUE(Ask(client, MakeRequest(code::kActivate)).success);
        EXPECT_EQ(service.Stop(SIGTERM), 0);
        std::string error;
        EXPECT_FALSE(client.Open(socket, &error)) << "the socket is gone after SIGTERM";
    }
    {
        Kvvxd service(socket, state);
        ASSERT_EQ(service.Start(), "ready");
        DeviceClient client;
        ASSERT_TRUE(Connect(client, socket));
        EXPECT_EQ(Ask(client, MakeRequest(code::kCount)).returned, 3u);
        EXPECT_EQ(Ask(client, MakeRequest(code::kGetActive)).returned, 1u);
        EXPECT_TRUE(Ask(client, MakeRequest(code::kClear)).success);
        EXPECT_EQ(service.Stop(SIGINT), 0);
    }
}

// Under systemd (Type=notify) the service says it is ready once its socket
// accepts, and that it is stopping when asked to end.
TEST(KvvxdProcessTest, TellsTheServiceManagerWhenItIsReadyAndWhenItStops) {
    test::TempDir dir;
    const std::string notify = dir.File("notify");
    const int manager = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", notify.c_str());
    ASSERT_EQ(::bind(manager, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    auto next = [manager] {
        pollfd fd{manager, POLLIN, 0};
        char message[256] = {};
        if (::poll(&fd, 1, 10000) != 1)
            return std::string("(nothing)");
        const ssize_t n = ::recv(manager, message, sizeof message - 1, 0);
        return std::string(message, n > 0 ? static_cast<std::size_t>(n) : 0);
    };
    ::setenv("NOTIFY_SOCKET", notify.c_str(), 1);
    Kvvxd service(dir.File("VEVUZ"), dir.File("state"));
    const std::string ready = service.Start();
    ::unsetenv("NOTIFY_SOCKET");
    ASSERT_EQ(ready, "ready");
    const std::string message = next();
    EXPECT_EQ(message.rfind("READY=1\nMAINPID=", 0), 0U) << message;
    DeviceClient client;
    EXPECT_TRUE(Connect(client, dir.File("VEVUZ"))) << "ready means connectable";
    EXPECT_EQ(service.Stop(SIGTERM), 0);
    EXPECT_EQ(next(), "STOPPING=1");
    ::close(manager);
}

TEST(KvvxdProcessTest, AServiceKilledOutrightLeavesAStateThatRestarts) {
    kv::test::TempDir dir;
    const std::string socket = dir.File("VEVUZ");
    const std::string state = dir.File("state");
    {
        Kvvxd service(socket, state);
        ASSERT_EQ(service.Start(), "ready");
        DeviceClient client;
        ASSERT_TRUE(Connect(client, socket));
        Request add = MakeRequest(code::kAddEntry);
        add.record.FileMask = "/x";
        EXPECT_TRUE(Ask(client, add).success);
        EXPECT_TRUE(Ask(client, MakeRequest(code::kActivate)).success);
        service.Stop(SIGKILL);
    }
    Kvvxd service(socket, state);
    ASSERT_EQ(service.Start(), "ready") << "a stale socket does not stop a restart";
    DeviceClient client;
    ASSERT_TRUE(Connect(client, socket));
    EXPECT_EQ(Ask(client, MakeRequest(code::kCount)).returned, 1u);
    EXPECT_EQ(Ask(client, MakeRequest(code::kGetActive)).returned, 1u);
    EXPECT_EQ(service.Stop(SIGTERM), 0);
}

/// Runs kvctl with `args`; returns its exit code and fills its stdout.
int Kvctl(const std::string& args, std::string* out) {
    FILE* pipe = ::popen((std::string(KVCTL_PATH) + " " + args + " 2>/dev/null").c_str(), "r");
    if (!pipe)
        return -1;
    out->clear();
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe))
        *out += buffer;
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(KvvxdProcessTest, KvctlReportsThroughItsExitCode) {
    kv::test::TempDir dir;
    const std::string socket = dir.File("VEVUZ");
    std::string out;
    EXPECT_EQ(Kvctl("--device " + socket + " status", &out), 3) << "no service";
    Kvvxd service(socket, dir.File("state"));
    ASSERT_EQ(service.Start(), "ready");
    EXPECT_EQ(Kvctl("--device " + socket + " status", &out), 0);
    EXPECT_EQ(out, "uid: " + std::to_string(::getuid()) +
                       "\nentries: 0\nactive: no\nprotection mounts: 0\nrefused since protection "
                       "started: 0\nenforcement of the entries:\n" +
                       (::getuid() == 0 ? "tables: 0\n" : ""));
    EXPECT_EQ(Kvctl("--device " + socket + " check --op Open --process vim /x", &out), 0);
    EXPECT_EQ(out, "allowed (protection is not active now)\n");
    EXPECT_EQ(Kvctl("--device " + socket + " check --op Nope --process vim /x", &out), 2);
    EXPECT_EQ(service.Stop(SIGTERM), 0);
}

}  // namespace
}  // namespace kv::driver
