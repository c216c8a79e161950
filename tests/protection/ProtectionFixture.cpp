#include "tests/protection/ProtectionFixture.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "driver/DeviceClient.h"
#include "driver/mounts/MountInfo.h"

namespace kv::protection_test {

Outcome RunAs(uid_t uid, const std::string& command, const std::vector<std::string>& env) {
    int out[2];
    Outcome outcome;
    if (::pipe2(out, O_CLOEXEC) != 0)
        return outcome;
    const std::string id = std::to_string(uid);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::dup2(out[1], 2);
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0);
        std::vector<std::string> args = {
            "setpriv", "--reuid=" + id,      "--regid=" + id, "--clear-groups", "--", "env",
            "-i",      "PATH=/usr/bin:/bin", "LC_ALL=C"};
        args.insert(args.end(), env.begin(), env.end());
        args.insert(args.end(), {"/bin/sh", "-c", command});
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execvp("setpriv", argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    char buffer[4096];
    for (;;) {
        pollfd fd{out[0], POLLIN, 0};
        if (::poll(&fd, 1, 20000) != 1)
            break;  // a hung command fails the test below instead of hanging it
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        outcome.output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    outcome.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return outcome;
}

std::vector<std::string> MountsUnder(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& m : driver::mounts::ReadMountInfo()) {
        if (m.fsType == driver::mounts::kMountType &&
            (m.mountPoint == folder || m.mountPoint.starts_with(folder + "/")))
            found.push_back(m.mountPoint);
    }
    return found;
}

void ProtectionTest::SetUp() {
    if (::geteuid() != 0)
        GTEST_SKIP() << "protection mounts need root";
    // Children the service leaves (the open-event responder) are reaped here.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    ASSERT_EQ(::chmod(dir_.Path().c_str(), 0755), 0);
    socket_ = dir_.File("VEVUZ");
    work_ = dir_.File("work");
    ASSERT_EQ(::mkdir(work_.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(work_.c_str(), 0777), 0);
    ASSERT_TRUE(StartService());
}

void ProtectionTest::TearDown() {
    if (service_ > 0)
        StopService(SIGTERM);
    EXPECT_TRUE(WaitForNoMounts()) << "a protection mount was left behind";
    while (::waitpid(-1, nullptr, 0) > 0) {
    }
}

bool ProtectionTest::StartService() {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return false;
    const std::string state = dir_.File("state");
    service_ = ::fork();
    if (service_ == 0) {
        ::dup2(out[1], 1);
        const int log = serviceLog_.empty()
                            ? ::open("/dev/null", O_WRONLY)
                            : ::open(serviceLog_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        ::dup2(log, 2);
        if (serviceDescriptors_ != 0) {
            const rlimit limit{serviceDescriptors_, serviceDescriptors_};
            ::setrlimit(RLIMIT_NOFILE, &limit);
        }
        std::vector<std::string> args = {"kvvxd", "--foreground", "--socket",
                                         socket_, "--state",      state};
        args.insert(args.end(), serviceArgs_.begin(), serviceArgs_.end());
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(serviceExe_.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    std::string line;
    char c = 0;
    pollfd fd{out[0], POLLIN, 0};
    while (::poll(&fd, 1, 10000) == 1 && ::read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    ::close(out[0]);
    return line == "ready";
}

void ProtectionTest::StopService(int signal) {
    ::kill(service_, signal);
    ::waitpid(service_, nullptr, 0);
    service_ = -1;
}

bool ProtectionTest::WaitForNoMounts(int milliseconds) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!MountsUnder(dir_.Path()).empty()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool ProtectionTest::Send(uid_t uid, std::uint32_t code) {
    driver::DeviceClient client;
    std::string error;
    if (!client.Open(socket_, &error, 10000))
        return false;
    driver::Request select = driver::MakeRequest(driver::code::kSelectUid);
    select.uid = uid;
    driver::Reply reply;
    return client.Transact(select, &reply, &error) && reply.success &&
           client.Transact(driver::MakeRequest(code), &reply, &error) && reply.success;
}

void ProtectionTest::Load(uid_t uid, const std::vector<driver::Entry>& entries) {
    driver::DeviceClient client;
    std::string error;
    ASSERT_TRUE(client.Open(socket_, &error, 10000)) << error;
    driver::Request select = driver::MakeRequest(driver::code::kSelectUid);
    select.uid = uid;
    driver::Reply reply;
    ASSERT_TRUE(client.Transact(select, &reply, &error) && reply.success) << error;
    ASSERT_TRUE(client.Transact(driver::MakeRequest(driver::code::kDeactivate), &reply, &error));
    ASSERT_TRUE(client.Transact(driver::MakeRequest(driver::code::kClear), &reply, &error));
    for (const driver::Entry& e : entries) {
        driver::Request add = driver::MakeRequest(driver::code::kAddEntry);
        add.record.dwOperation = e.dwOperation;
        add.record.FileMask = e.FileMask;
        add.record.ExcludeFiles = e.ExcludeFiles;
        add.record.Processes = e.Processes;
        add.record.ExcludeProc = e.ExcludeProc;
        ASSERT_TRUE(client.Transact(add, &reply, &error) && reply.success) << error;
    }
    ASSERT_TRUE(client.Transact(driver::MakeRequest(driver::code::kActivate), &reply, &error) &&
                reply.success)
        << error;
}

driver::Entry ProtectionTest::Rule(std::uint32_t mask, const std::string& fileMask,
                                   const std::string& processes, const std::string& excludeProc,
                                   const std::string& excludeFiles) {
    return driver::Entry{mask, fileMask, excludeFiles, processes, excludeProc};
}

void ProtectionTest::MakeFolder(const std::string& folder, const std::vector<std::string>& files) {
    ASSERT_EQ(::mkdir(folder.c_str(), 0777), 0) << folder;
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    for (const std::string& name : files) {
        const std::string path = folder + "/" + name;
        std::ofstream(path) << "content of " << name << "\n";
        ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    }
}

}  // namespace kv::protection_test
