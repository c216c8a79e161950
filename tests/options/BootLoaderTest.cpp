// Set Boot Protection on GRUB, written into a staged root: exactly the two
// files are added and removed, their GRUB script passes grub-script-check,
// and the configuration is made again only when a file changed.
#include "options/BootLoader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "options/Hardening.h"
#include "platform/Commands.h"
#include "tests/support/FakeRegistry.h"
#include "tests/support/TempDir.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

/// The real hash (grub-mkpasswd-pbkdf2), a counted update, nothing run on this machine.
class StagedTools : public IBootLoaderTools {
public:
    std::optional<std::string> HashPassword(const std::string& password,
                                            std::string* error) override {
        if (forcedHash)
            return *forcedHash;
        return real.HashPassword(password, error);
    }
    bool UpdateConfig(std::string*) override {
        ++updates;
        return true;
    }
    TSystemBootLoaderTools real{false};
    std::optional<std::string> forcedHash;
    int updates = 0;
};

/// Every file under `root` with its content and mode.
std::map<std::string, std::pair<std::string, unsigned>> Tree(const std::string& root) {
    std::map<std::string, std::pair<std::string, unsigned>> tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        struct stat st {};
        ::stat(entry.path().c_str(), &st);
        tree[entry.path().string().substr(root.size())] = {
            entry.is_regular_file() ? test::ReadFile(entry.path()) : "<folder>",
            st.st_mode & 07777};
    }
    return tree;
}

class BootLoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = dir_.File("root");
        fs::create_directories(root_ + "/etc/default");
        fs::create_directories(root_ + "/etc/grub.d");
        test::WriteFile(root_ + kGrubDefaults, "GRUB_DEFAULT=0\nGRUB_TIMEOUT=5\n");
        test::WriteFile(root_ + "/etc/grub.d/10_linux", "#!/bin/sh\n");
        before_ = Tree(root_);
    }

    /// What update-grub would take from our script: its output, followed by an
    /// entry made the way 10_linux makes them.
    std::string GeneratedConfig() {
        std::string output;
        std::string error;
        EXPECT_EQ(platform::RunCommand({"sh", root_ + kGrubScript}, "", &output, &error), 0)
            << error;
        return output +
               "menuentry 'Debian GNU/Linux' --class debian $menuentry_id_option "
               "'gnulinux-simple-x' {\n\tlinux /vmlinuz root=/dev/sda1 ro\n}\n";
    }

    bool ScriptCheck(const std::string& config) {
        test::WriteFile(dir_.File("grub.cfg"), config);
        std::string output;
        std::string error;
        return platform::RunCommand({"grub-script-check", dir_.File("grub.cfg")}, "", &output,
                                    &error) == 0;
    }

    test::TempDir dir_;
    std::string root_;
    std::map<std::string, std::pair<std::string, unsigned>> before_;
    StagedTools tools_;
};

TEST_F(BootLoaderTest, OnWritesExactlyTheTwoFilesAndOffRemovesExactlyThem) {
    TBootLoaderLock lock(root_, tools_);
    ASSERT_TRUE(lock.Present());
    ASSERT_TRUE(lock.Apply(true, "Secret 7")) << lock.LastError();
    EXPECT_EQ(tools_.updates, 1);
    auto after = Tree(root_);
    auto expected = before_;
    expected["/etc/default/grub.d"] = {"<folder>", 0755};
    expected[kGrubDropIn] = {GrubDropInText(), 0644};
    ASSERT_TRUE(after.contains(kGrubScript));
    expected[kGrubScript] = after[kGrubScript];
    EXPECT_EQ(after, expected);
    EXPECT_EQ(after[kGrubScript].second, 0700u) << "the hash is root's alone";

    const std::string config = GeneratedConfig();
    EXPECT_TRUE(ScriptCheck(config)) << config;
    EXPECT_NE(config.find("set superusers=\"kestrava\"\nexport superusers\n"), std::string::npos);
    EXPECT_NE(config.find("password_pbkdf2 kestrava grub.pbkdf2.sha512.10000."), std::string::npos);
    EXPECT_NE(config.find("menuentry_id_option=\"--unrestricted $menuentry_id_option\""),
              std::string::npos);
    EXPECT_EQ(config.find("Secret"), std::string::npos) << "only the hash is written";
    EXPECT_EQ(std::system(("sh -n " + root_ + kGrubDropIn).c_str()), 0);
    for (const char* line :
         {"GRUB_TIMEOUT_STYLE=hidden\n", "GRUB_TIMEOUT=0\n", "GRUB_DISABLE_RECOVERY=true\n"})
        EXPECT_NE(GrubDropInText().find(line), std::string::npos) << line;

    ASSERT_TRUE(lock.Apply(false, "")) << lock.LastError();
    EXPECT_EQ(tools_.updates, 2);
    expected = before_;
    expected["/etc/default/grub.d"] = {"<folder>", 0755};  // a folder of the system's convention
    EXPECT_EQ(Tree(root_), expected);
    ASSERT_TRUE(lock.Apply(false, ""));
    EXPECT_EQ(tools_.updates, 2) << "nothing changed, nothing made again";
}

TEST_F(BootLoaderTest, ANewPasswordRewritesTheHash) {
    TBootLoaderLock lock(root_, tools_);
    ASSERT_TRUE(lock.Apply(true, "first"));
    const std::string first = test::ReadFile(root_ + kGrubScript);
    ASSERT_TRUE(lock.Apply(true, "second"));
    const std::string second = test::ReadFile(root_ + kGrubScript);
    EXPECT_NE(first, second);
    EXPECT_TRUE(ScriptCheck(GeneratedConfig()));
    EXPECT_EQ(tools_.updates, 2);
}

TEST_F(BootLoaderTest, WithoutAPasswordOnlyTheMenuIsLockedAndItIsSaid) {
    TBootLoaderLock lock(root_, tools_);
    ASSERT_TRUE(lock.Apply(true, "pw"));
    EXPECT_TRUE(lock.Apply(true, ""));
    EXPECT_TRUE(fs::exists(root_ + kGrubDropIn));
    EXPECT_FALSE(fs::exists(root_ + kGrubScript)) << "an old password's hash does not stay";
    EXPECT_NE(lock.LastError().find("no administrator's password"), std::string::npos);
}

TEST_F(BootLoaderTest, WithoutGrubNothingIsWritten) {
    fs::remove(root_ + kGrubDefaults);
    before_ = Tree(root_);
    TBootLoaderLock lock(root_, tools_);
    EXPECT_FALSE(lock.Present());
    EXPECT_FALSE(lock.Apply(true, "pw"));
    EXPECT_NE(lock.LastError().find("no GRUB boot loader"), std::string::npos);
    EXPECT_EQ(Tree(root_), before_);
    EXPECT_EQ(tools_.updates, 0);
}

TEST_F(BootLoaderTest, AHashNotOfGrubsFormIsNeverWritten) {
    EXPECT_TRUE(IsGrubPbkdf2Hash("grub.pbkdf2.sha512.10000.AB12.cd34"));
    for (const char* bad : {"", "grub.pbkdf2.sha512.10000.AB12", "grub.pbkdf2.sha512.x.AB.CD",
                            "grub.pbkdf2.sha256.10000.AB.CD", "grub.pbkdf2.sha512.10000.AB.CD\nEOF",
                            "grub.pbkdf2.sha512.10000..CD"})
        EXPECT_FALSE(IsGrubPbkdf2Hash(bad)) << bad;
    std::string error;
    EXPECT_EQ(tools_.real.HashPassword("two\nlines", &error), std::nullopt);
    EXPECT_FALSE(error.empty());
    // Whatever the hashing tool says, only a hash reaches the script.
    tools_.forcedHash = "grub.pbkdf2.sha512.1.AB.CD\nEOF\nreboot";
    TBootLoaderLock lock(root_, tools_);
    EXPECT_FALSE(lock.Apply(true, "pw"));
    EXPECT_FALSE(fs::exists(root_ + kGrubScript));
}

TEST_F(BootLoaderTest, THardeningLocksTheStagedBootLoaderBesideTheBootFile) {
    const std::string bootFile = dir_.File("msdos.sys");
    test::WriteFile(bootFile, "[Options]\r\n");
    test::FakeRegistry registry;
    THardening hardening(bootFile, registry, platform::DosAttributeStore::SidecarOnly);
    TBootLoaderLock lock(root_, tools_);
    hardening.SetBootLoader(&lock);
    EXPECT_TRUE(hardening.ApplyBootKeysPolicy(true, "pw")) << hardening.LastError();
    EXPECT_TRUE(fs::exists(root_ + kGrubScript));
    EXPECT_TRUE(hardening.ApplyBootKeysPolicy(false));
    EXPECT_FALSE(fs::exists(root_ + kGrubScript));
    EXPECT_FALSE(fs::exists(root_ + kGrubDropIn));
}

}  // namespace
}  // namespace kv
