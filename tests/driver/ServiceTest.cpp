#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>

#include "tests/driver/ServiceFixture.h"

namespace kv::driver::test {
namespace {

using ServiceTest = ServiceFixture;

std::string Frame(const std::string& body) {
    std::string frame;
    PutU32(&frame, static_cast<std::uint32_t>(body.size()));
    return frame + body;
}

std::string Words(std::initializer_list<std::uint32_t> words, std::string_view tail = {}) {
    std::string body;
    for (std::uint32_t w : words)
        PutU32(&body, w);
    return body + std::string(tail);
}

/// A raw socket for writing bytes without waiting for replies.
int RawConnect(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.data(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    return fd;
}

TEST_F(ServiceTest, ServesTheFiveRequests) {
    auto client = Connect();
    EXPECT_EQ(Send(*client, code::kCount).returned, 0u);
    EXPECT_TRUE(Send(*client, code::kCount).success);
    for (const char* mask : {"/home/a/*", "/home/b/*", "*kv.dat"})
        EXPECT_TRUE(Send(*client, Add(mask)).success);
    EXPECT_EQ(Send(*client, code::kCount).returned, 3u);

    EXPECT_EQ(Send(*client, code::kGetActive).returned, 0u);
    EXPECT_TRUE(Send(*client, code::kActivate).success);
    EXPECT_EQ(Send(*client, code::kGetActive).returned, 1u);
    EXPECT_TRUE(Send(*client, code::kDeactivate).success);
    EXPECT_EQ(Send(*client, code::kGetActive).returned, 0u);

    // Another client sees the same table.
    auto other = Connect();
    EXPECT_EQ(Send(*other, code::kCount).returned, 3u);
    EXPECT_TRUE(Send(*other, code::kClear).success);
    EXPECT_EQ(Send(*client, code::kCount).returned, 0u);
}

TEST_F(ServiceTest, ChecksAndListsEntries) {
    auto client = Connect();
    ASSERT_TRUE(Send(*client, Add("/home/a/*")).success);
    ASSERT_TRUE(Send(*client, Add("/home/a/secret*", 0x400)).success);
    Request check = MakeRequest(code::kCheck);
    check.operation = 0x40;  // Read
    check.path = "/home/a/secret.txt";
    check.process = "vim";
    EXPECT_EQ(Send(*client, check).returned, 1u);
    check.process = "kv.exe";
    EXPECT_EQ(Send(*client, check).returned, kAllowed);

    Request get = MakeRequest(code::kGetEntry);
    get.index = 1;
    get.outputSize = 1000;
    const Reply reply = Send(*client, get);
    ASSERT_TRUE(reply.success);
    Entry entry;
    ASSERT_TRUE(DecodeEntryOutput(reply.output, &entry));
    EXPECT_EQ(entry, (Entry{0x400, "/home/a/secret*", "ExcludeFiles", "*", "kv"}));

    get.outputSize = 4;
    EXPECT_FALSE(Send(*client, get).success) << "output larger than the caller's buffer";
    get.index = 2;
    get.outputSize = 1000;
    EXPECT_FALSE(Send(*client, get).success) << "no such entry";
}

TEST_F(ServiceTest, ChangesReachThePublishedIndexWhenRequestsPause) {
    auto client = Connect();
    ASSERT_TRUE(Send(*client, Add("/home/a/*")).success);
    ASSERT_TRUE(Send(*client, Add("/home/b/*")).success);
    // The table was made by the service thread on the first request; only the
    // atomic published index is read here.
    const PublishedIndex& published = service_->Tables().Find(::getuid())->Published();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (published.Current()->Size() != 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(published.Current()->Decide(0x10, "/home/b/x", "vim"), (Decision{true, 1}));
}

/// A service whose program "tool" is a file the test replaces.
class ServiceProgramsTest : public ServiceFixture {
protected:
    ServiceOptions Options() override {
        ServiceOptions options = ServiceFixture::Options();
        options.programs = [this](std::string_view name) -> std::vector<ProgramId> {
            if (name != "tool")
                return {};
            std::lock_guard lock(mutex_);
            return {tool_};
        };
        options.programsStamp = [this] {
            std::lock_guard lock(mutex_);
            return std::to_string(tool_.ino);
        };
        options.policyChanged = [this](const std::shared_ptr<const Policy>& policy) {
            std::lock_guard lock(mutex_);
            policy_ = policy;
        };
        return options;
    }
    bool RefusesTool(ProgramId program) {
        std::lock_guard lock(mutex_);
        const UserRules* rules = policy_ ? policy_->For(::getuid()) : nullptr;
        return rules && rules->all->Decide(0x40, "/d/f", "/usr/bin/tool.bin", program).refused;
    }
    std::mutex mutex_;
    ProgramId tool_{7, 1};
    std::shared_ptr<const Policy> policy_;
};

TEST_F(ServiceProgramsTest, AnUpgradedProgramIsResolvedAgain) {
    auto client = Connect();
    Request add = Add("/d/*", 0x40);
    add.record.Processes = "tool";
    ASSERT_TRUE(Send(*client, add).success);
    ASSERT_TRUE(Send(*client, code::kActivate).success);
    EXPECT_TRUE(RefusesTool({7, 1}));
    {
        std::lock_guard lock(mutex_);
        tool_ = {7, 2};  // the package manager put a new file in its place
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!RefusesTool({7, 2}) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(RefusesTool({7, 2})) << "the rule follows the program to its new file";
    EXPECT_FALSE(RefusesTool({7, 1}));
}

TEST_F(ServiceTest, AFolderCoverageAnswersWhetherOrNotATableNamesTheFolder) {
    auto client = Connect();
    Request ask = MakeRequest(code::kGetFolderCoverage);
    ask.path = "/home";
    ask.outputSize = 1000;
    const Reply reply = Send(*client, ask);
    ASSERT_TRUE(reply.success);
    EXPECT_EQ(reply.output, "not enforced: the service is not running as root")
        << "a service without engines enforces nothing";
    EXPECT_EQ(reply.returned, reply.output.size());
    ask.outputSize = 4;
    EXPECT_FALSE(Send(*client, ask).success) << "output larger than the caller's buffer";
}

TEST_F(ServiceTest, MalformedRequestsFailAndTheConnectionGoesOn) {
    auto client = Connect();
    ASSERT_TRUE(Send(*client, Add("/keep/*")).success);
    const std::uint32_t add = code::kAddEntry;
    const std::string bodies[] = {
        "",
        "abc",
        Words({code::kCount, 0, 0}),
        Words({add, 0, 28, 0}),
        Words({0x12345678, 0, 0, 0}),
        Words({code::kCount, 100, 0, 0}),
        Words({code::kCount, 16, 0, 0}, "no nul"),
        Words({add, 0, 28, 0, 0, 200, 0, 0, 0, 0, 0}),
        Words({add, 0, 28, 0, 0, 44, 0, 0, 0, 0, 0}, "mask without nul"),
        Words({add, 0, 28, 0, 0, 0, 0, 0, 0, 0, 0}),  // null FileMask
        Words({code::kCheck, 0, 12, 0, 0x10, 28, 0}, std::string("/p\0", 3)),
    };
    for (const std::string& body : bodies) {
        Reply reply;
        std::string error;
        ASSERT_TRUE(client->TransactRaw(Frame(body), &reply, &error)) << error;
        EXPECT_FALSE(reply.success) << "body of " << body.size() << " bytes";
        EXPECT_EQ(Send(*client, code::kCount).returned, 1u) << "nothing added or lost";
    }
}

TEST_F(ServiceTest, AFrameCutShortByTheClientIsAnsweredWithFailure) {
    const int fd = RawConnect(SocketPath());
    const std::string whole = EncodeRequest(MakeRequest(code::kCount));
    const std::string cut = whole + whole.substr(0, whole.size() - 3);
    ASSERT_EQ(::write(fd, cut.data(), cut.size()), static_cast<ssize_t>(cut.size()));
    ::shutdown(fd, SHUT_WR);
    std::string replies;
    char buffer[256];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        replies.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    EXPECT_EQ(replies, EncodeReply(Reply{true, 0, {}}) + EncodeReply(Reply{false, 0, {}}));
    auto client = Connect();
    EXPECT_TRUE(Send(*client, code::kCount).success);
}

TEST_F(ServiceTest, AnOversizedFrameClosesOnlyItsConnection) {
    auto bad = Connect();
    auto good = Connect();
    std::string frame;
    PutU32(&frame, 0x7FFFFFFF);
    Reply reply;
    std::string error;
    ASSERT_TRUE(bad->TransactRaw(frame, &reply, &error)) << error;
    EXPECT_FALSE(reply.success);
    EXPECT_FALSE(bad->TransactRaw(EncodeRequest(MakeRequest(code::kCount)), &reply, &error));
    EXPECT_TRUE(Send(*good, code::kCount).success);
}

TEST_F(ServiceTest, ThousandsOfGarbageRequestsAreRefusedWhileTheServiceKeepsAnswering) {
    auto client = Connect();
    auto bystander = Connect();
    ASSERT_TRUE(Send(*bystander, Add("/keep/*")).success);
    std::mt19937 random(11);
    for (int i = 0; i < 5000; ++i) {
        std::string body(random() % 120, '\0');
        for (char& c : body)
            c = static_cast<char>(random());
        if (body.size() >= 4 && i % 2 == 0) {
            // A known code with garbage after it reaches the deeper checks.
            const std::uint32_t codes[] = {code::kAddEntry, code::kCount, code::kCheck,
                                           code::kGetEntry};
            std::string prefix;
            PutU32(&prefix, codes[random() % 4]);
            body.replace(0, 4, prefix);
        }
        Reply reply;
        std::string error;
        ASSERT_TRUE(client->TransactRaw(Frame(body), &reply, &error)) << error << " at " << i;
        if (i % 500 == 0) {
            EXPECT_TRUE(Send(*bystander, code::kCount).success);
        }
    }
    EXPECT_EQ(Send(*client, code::kCount).returned, 1u);
    EXPECT_EQ(Send(*bystander, code::kCount).returned, 1u);
}

TEST_F(ServiceTest, StallingAndFloodingClientsDoNotHoldOthersUp) {
    // One client leaves half a frame; another writes requests without reading.
    const int staller = RawConnect(SocketPath());
    const std::string half = EncodeRequest(MakeRequest(code::kCount)).substr(0, 10);
    ASSERT_EQ(::write(staller, half.data(), half.size()), static_cast<ssize_t>(half.size()));
    const int flooder = RawConnect(SocketPath());
    ::fcntl(flooder, F_SETFL, O_NONBLOCK);
    const std::string count = EncodeRequest(MakeRequest(code::kCount));
    std::string flood;
    for (int i = 0; i < 20000; ++i)
        flood += count;
    std::size_t written = 0;
    const auto start = std::chrono::steady_clock::now();
    auto client = Connect();
    for (int round = 0; round < 50; ++round) {
        const ssize_t n = ::send(flooder, flood.data() + written % flood.size(),
                                 flood.size() - written % flood.size(), MSG_NOSIGNAL);
        if (n > 0)
            written += static_cast<std::size_t>(n);
        EXPECT_TRUE(Send(*client, code::kCount).success);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    ::close(staller);
    ::close(flooder);
}

TEST(ServiceStallTest, AClientThatStallsMidFrameIsDropped) {
    kv::test::TempDir dir;
    ServiceOptions options = OptionsFor(dir.File("VEVUZ"), "");
    options.stallTimeout = std::chrono::milliseconds(200);
    Service service(options);
    std::string error;
    ASSERT_TRUE(service.Start(&error)) << error;
    std::thread thread([&] { service.Run(); });
    const int fd = RawConnect(options.socketPath);
    const std::string half = EncodeRequest(MakeRequest(code::kCount)).substr(0, 7);
    ASSERT_EQ(::write(fd, half.data(), half.size()), static_cast<ssize_t>(half.size()));
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char byte;
    EXPECT_EQ(::read(fd, &byte, 1), 0) << "the service closed the connection";
    ::close(fd);
    DeviceClient client;
    ASSERT_TRUE(client.Open(options.socketPath, &error)) << error;
    Reply reply;
    EXPECT_TRUE(client.Transact(MakeRequest(code::kCount), &reply, &error)) << error;
    service.RequestStop();
    thread.join();
}

TEST_F(ServiceTest, ARestartRestoresEntriesAndActiveState) {
    {
        auto client = Connect();
        ASSERT_TRUE(Send(*client, Add("/home/a/*")).success);
        ASSERT_TRUE(Send(*client, Add("/home/b/*", 0x400, "ExcludeProc;kv")).success);
        ASSERT_TRUE(Send(*client, code::kActivate).success);
    }
    StopService();
    struct stat st;
    EXPECT_NE(::lstat(SocketPath().c_str(), &st), 0) << "the socket is removed at stop";
    StartService();
    auto client = Connect();
    EXPECT_EQ(Send(*client, code::kCount).returned, 2u);
    EXPECT_EQ(Send(*client, code::kGetActive).returned, 1u);
    Request check = MakeRequest(code::kCheck);
    check.operation = 0x4;
    check.path = "/home/b/x";
    check.process = "vim";
    EXPECT_EQ(Send(*client, check).returned, 1u);

    ASSERT_TRUE(Send(*client, code::kDeactivate).success);
    StopService();
    StartService();
    auto again = Connect();
    EXPECT_EQ(Send(*again, code::kGetActive).returned, 0u);
}

/// Runs `body` in a child process with uid and gid `uid`; its exit code.
template <typename Body>
int AsUid(uid_t uid, Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0)
            ::_exit(90);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

TEST_F(ServiceTest, EveryUidHasItsOwnTableAndOnlyRootAddressesAnother) {
    if (::getuid() != 0)
        GTEST_SKIP() << "needs root to run a client as another uid";
    ASSERT_EQ(::chmod(dir_.Path().c_str(), 0755), 0);  // the other uid reaches the socket
    const int child = AsUid(65534, [this]() -> int {
        DeviceClient client;
        std::string error;
        if (!client.Open(SocketPath(), &error, 5000))
            return 1;
        Reply reply;
        Request select = MakeRequest(code::kSelectUid);
        select.uid = 0;
        if (!client.Transact(Add("/srv/nobody/*"), &reply, &error) || !reply.success)
            return 2;
        if (!client.Transact(MakeRequest(code::kActivate), &reply, &error) || !reply.success)
            return 3;
        if (!client.Transact(select, &reply, &error) || reply.success)
            return 4;  // a user may not reach root's table
        if (!client.Transact(MakeRequest(code::kCount), &reply, &error) || reply.returned != 1)
            return 5;  // and stays on its own
        return 0;
    });
    ASSERT_EQ(child, 0);
    auto root = Connect();
    EXPECT_EQ(Send(*root, code::kCount).returned, 0u) << "root's table is untouched";
    EXPECT_EQ(Send(*root, code::kGetActive).returned, 0u);
    Request select = MakeRequest(code::kSelectUid);
    select.uid = 65534;
    ASSERT_TRUE(Send(*root, select).success);
    EXPECT_EQ(Send(*root, code::kCount).returned, 1u);
    EXPECT_EQ(Send(*root, code::kGetActive).returned, 1u);

    const auto policy = service_->CurrentPolicy();
    ASSERT_NE(policy->For(65534), nullptr) << "the active table is in the policy";
    EXPECT_EQ(policy->For(0), nullptr) << "an inactive table is not";
    EXPECT_EQ(policy->Folders(), std::vector<std::string>{"/srv/nobody"});
}

TEST_F(ServiceTest, TheSocketLetsEveryUserConnectAndTheStateIsTheServicesOwn) {
    auto client = Connect();
    ASSERT_TRUE(Send(*client, code::kActivate).success);
    struct stat st;
    ASSERT_EQ(::stat(SocketPath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0666u);
    ASSERT_EQ(::stat(StatePath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0022, 0u) << "nobody else may write the state";
}

TEST_F(ServiceTest, ASecondServiceOnTheSameSocketIsRefused) {
    Service second(OptionsFor(SocketPath(), dir_.File("state2")));
    std::string error;
    EXPECT_FALSE(second.Start(&error));
    EXPECT_NE(error.find("another service"), std::string::npos) << error;
    auto client = Connect();
    EXPECT_TRUE(Send(*client, code::kCount).success) << "the first one still serves";
}

TEST(ServiceStartTest, AStaleSocketIsReplacedButOtherFilesAreLeftAlone) {
    kv::test::TempDir dir;
    const std::string path = dir.File("VEVUZ");
    {
        // A socket file without a listener, as a killed service leaves it.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, path.data(), path.size());
        ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
        ::close(fd);
    }
    std::string error;
    {
        Service service(OptionsFor(path, ""));
        EXPECT_TRUE(service.Start(&error)) << error;
    }
    const std::string plain = dir.File("plain");
    kv::test::WriteFile(plain, "data");
    Service service(OptionsFor(plain, ""));
    EXPECT_FALSE(service.Start(&error));
    EXPECT_NE(error.find("not a socket"), std::string::npos) << error;
    EXPECT_EQ(kv::test::ReadFile(plain), "data");
}

}  // namespace
}  // namespace kv::driver::test

namespace kv::driver::test {
namespace {

TEST(ServiceConnectionsTest, OneUsersIdleConnectionsNeverShutOutAnother) {
    if (::getuid() != 0)
        GTEST_SKIP() << "needs root to connect as two uids";
    kv::test::TempDir dir;
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
    ServiceOptions options = OptionsFor(dir.File("VEVUZ"), "");
    options.idleTimeout = std::chrono::milliseconds(300);
    Service service(options);
    std::string error;
    ASSERT_TRUE(service.Start(&error)) << error;
    std::thread thread([&] { service.Run(); });
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    // uid 65534 holds 600 connections open, some after a whole request.
    const pid_t hog = ::fork();
    if (hog == 0) {
        ::setgroups(0, nullptr);
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(2);
        std::vector<std::unique_ptr<DeviceClient>> held;
        for (int i = 0; i < 600; ++i) {
            auto c = std::make_unique<DeviceClient>();
            if (c->Open(options.socketPath, &error, 2000) && i % 2 == 0) {
                Reply reply;
                (void)c->Transact(MakeRequest(code::kCount), &reply, &error);
            }
            held.push_back(std::move(c));
        }
        [[maybe_unused]] const ssize_t n = ::write(ready[1], "x", 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    const int other = AsUid(65533, [&]() -> int {
        DeviceClient client;
        Reply reply;
        if (!client.Open(options.socketPath, &error, 5000))
            return 1;
        if (!client.Transact(MakeRequest(code::kCount), &reply, &error))
            return 2;
        return reply.success ? 0 : 3;
    });
    EXPECT_EQ(other, 0) << "another user's request is answered";
    // Only a few connections of the hog remain; the ones that never sent a
    // whole request are closed once idle.
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    const auto open =
        std::count_if(std::filesystem::directory_iterator("/proc/self/fd"),
                      std::filesystem::directory_iterator(), [](const auto&) { return true; });
    EXPECT_LT(open, 64) << "connections held by the service and this test";
    ::kill(hog, SIGKILL);
    ::waitpid(hog, nullptr, 0);
    service.RequestStop();
    thread.join();
}

TEST(ServiceConnectionsTest, TheFirstRequestOfAConnectionClosedForIdlingIsSentAgain) {
    kv::test::TempDir dir;
    ServiceOptions options = OptionsFor(dir.File("VEVUZ"), "");
    options.idleTimeout = std::chrono::milliseconds(100);
    Service service(options);
    std::string error;
    ASSERT_TRUE(service.Start(&error)) << error;
    std::thread thread([&] { service.Run(); });
    DeviceClient client;
    ASSERT_TRUE(client.Open(options.socketPath, &error)) << error;
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    Reply reply;
    EXPECT_TRUE(client.Transact(MakeRequest(code::kCount), &reply, &error)) << error;
    EXPECT_TRUE(reply.success);
    service.RequestStop();
    thread.join();
}

}  // namespace
}  // namespace kv::driver::test
