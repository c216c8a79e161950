// The file layer hands files the process is refused to the broker, and only
// those: checked in a child that gives up root, as a user's program runs.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "platform/Files.h"
#include "platform/Paths.h"
#include "tests/support/TempDir.h"

namespace kv::platform {
namespace {

/// Keeps the files it handles in memory.
class MemoryBroker : public IFileBroker {
public:
    std::map<std::string, std::string> files;
    bool Handles(const std::string& path) const override { return path.ends_with(".secret"); }
    int Read(const std::string& path, std::string* data) override {
        const auto it = files.find(path);
        if (it == files.end())
            return ENOENT;
        *data = it->second;
        return 0;
    }
    int Write(const std::string& path, const std::string* data) override {
        if (data)
            files[path] = *data;
        else
            files.erase(path);
        return 0;
    }
};

/// Runs `body` in a child with uid and gid 65534; true when it returned true.
template <typename Body>
bool AsUser(Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
            ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(2);
        ::_exit(body() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class FileBrokerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "giving up root needs root";
        ASSERT_EQ(::chmod(dir_.Path().c_str(), 0755), 0);
        closed_ = dir_.File("closed");
        ASSERT_EQ(::mkdir(closed_.c_str(), 0700), 0);  // root's alone
    }
    void TearDown() override { SetFileBroker(nullptr); }

    test::TempDir dir_;
    std::string closed_;
};

TEST_F(FileBrokerTest, RefusedFilesItHandlesGoThroughIt) {
    EXPECT_TRUE(AsUser([this] {
        MemoryBroker broker;
        SetFileBroker(&broker);
        const std::string secret = closed_ + "/kv.secret";
        std::string data;
        std::string error;
        bool ok = !FileExists(secret) && ReadFileResult(secret, &data) == ENOENT;
        ok = ok && WriteFileAtomically(secret, "one", &error) && FileExists(secret) &&
             ReadWholeFile(secret, &data) && data == "one";
        ok = ok && DeleteFileIfExists(secret) && broker.files.empty();
        // A refused file the broker does not handle stays refused.
        const std::string other = closed_ + "/other.txt";
        ok = ok && !WriteFileAtomically(other, "x", &error) && broker.files.empty() &&
             ReadFileResult(other, &data) == EACCES;
        return ok;
    }));
    EXPECT_FALSE(std::filesystem::exists(closed_ + "/kv.secret")) << "nothing written in place";
}

TEST_F(FileBrokerTest, AFileTheProcessMayReadIsReadItself) {
    test::WriteFile(dir_.File("open.secret"), "on disk");
    ASSERT_EQ(::chmod(dir_.File("open.secret").c_str(), 0644), 0);
    EXPECT_TRUE(AsUser([this] {
        MemoryBroker broker;
        broker.files[dir_.File("open.secret")] = "from the broker";
        SetFileBroker(&broker);
        std::string data;
        return ReadWholeFile(dir_.File("open.secret"), &data) && data == "on disk";
    }));
}

TEST_F(FileBrokerTest, KeepAdministratorFilesPrivateOnlyInAnInstalledFolder) {
    const std::string program = dir_.File("program");
    ASSERT_EQ(::mkdir(program.c_str(), 0755), 0);
    test::WriteFile(program + "/kv.dat", "x");
    ASSERT_EQ(::chmod((program + "/kv.dat").c_str(), 0644), 0);
    KeepAdministratorFilesPrivate(program);
    struct stat st;
    ASSERT_EQ(::stat((program + "/kv.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644U) << "a build tree is left as it is";
    EXPECT_FALSE(std::filesystem::exists(program + "/machine"));

    test::WriteFile(program + "/installed", "");
    KeepAdministratorFilesPrivate(program);
    ASSERT_EQ(::stat((program + "/kv.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600U);
    ASSERT_EQ(::stat((program + "/machine").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700U);
}

}  // namespace
}  // namespace kv::platform
