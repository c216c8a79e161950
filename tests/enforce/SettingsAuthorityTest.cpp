// What the service reads from the administrator's settings: the password
// verdicts, the principal of a uid, and the compiled rules.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "enforce/SettingsAuthority.h"
#include "options/Autostart.h"
#include "settings/Encript.h"
#include "tests/support/TempDir.h"

namespace kv {
namespace {

using Password = driver::IAuthority::Password;

class SettingsAuthorityTest : public ::testing::Test {
protected:
    std::string Path() const { return dir_.File("kv.dat"); }

    void Write(const std::vector<std::pair<std::string, std::string>>& values) {
        std::filesystem::remove(Path());
        TEncriptor store(Path(), true);
        for (const auto& [name, value] : values)
            store.WriteString(name, value);
        ASSERT_TRUE(store.Flush(true));
    }

    TSettingsAuthority Authority() {
        return TSettingsAuthority(Path(), [](uid_t uid) {
            return uid == 1000 ? std::string("ann") : uid == 1001 ? "bob" : "carl";
        });
    }

    test::TempDir dir_;
};

TEST_F(SettingsAuthorityTest, PasswordVerdicts) {
    Write({{"Password", "Open Sesame"}});
    TSettingsAuthority authority = Authority();
    EXPECT_EQ(authority.Check("open sesame"), Password::Right) << "letters compare without case";
    EXPECT_EQ(authority.Check("Open Sesame "), Password::Wrong) << "nothing is trimmed";
    EXPECT_EQ(authority.Check("Open Sesam"), Password::Wrong);
    EXPECT_EQ(authority.Check(""), Password::Wrong);
    EXPECT_EQ(authority.Check(std::nullopt), Password::Wrong);

    // A change of the file is seen at the next check.
    Write({{"Password", ""}});
    EXPECT_EQ(authority.Check(std::nullopt), Password::None);
    Write({{"Password", "new"}});
    EXPECT_EQ(authority.Check("NEW"), Password::Right);
}

TEST_F(SettingsAuthorityTest, AMissingFileIsEmptySettingsAndIsNotCreated) {
    TSettingsAuthority authority = Authority();
    EXPECT_EQ(authority.Check(std::nullopt), Password::None);
    std::vector<driver::Entry> entries;
    std::string error;
    ASSERT_TRUE(authority.Compile("u_ann", &entries, &error)) << error;
    EXPECT_EQ(entries.size(), 3U) << "only the program's own three entries";
    EXPECT_FALSE(std::filesystem::exists(Path()));
}

TEST_F(SettingsAuthorityTest, SettingsThatCannotBeReadRefuseEveryPassword) {
    ASSERT_EQ(::mkdir(Path().c_str(), 0700), 0);  // not a file
    TSettingsAuthority authority = Authority();
    EXPECT_EQ(authority.Check("anything"), Password::Unknown);
    std::string error;
    EXPECT_EQ(authority.PrincipalOf(1000, &error), "");
    EXPECT_NE(error.find("kv.dat"), std::string::npos) << error;
    std::vector<driver::Entry> entries;
    EXPECT_FALSE(authority.Compile("u_ann", &entries, &error));
}

TEST_F(SettingsAuthorityTest, TheLogonPrincipalOfAUid) {
    Write({{"CurUsers_ann", "1"},
           {"CurUsers_bob", "1"},
           {"bob_GroupName", "Pupils"},
           {"carl_GroupName", "Staff"},
           {"Unknown User_GroupName", "Guests"}});
    TSettingsAuthority authority = Authority();
    std::string error;
    EXPECT_EQ(authority.PrincipalOf(1000, &error), "u_ann");
    EXPECT_EQ(authority.PrincipalOf(1001, &error), "g_Pupils") << "a member: the group's";
    EXPECT_EQ(authority.PrincipalOf(1002, &error), "g_Guests")
        << "an account the settings never knew is the unknown user, whatever its name says";
}

TEST_F(SettingsAuthorityTest, CompilesAsTheProgramDoes) {
    Write({{"u_ann_P_/srv/docs", "1"}, {"u_bob_P_/srv/other", "2"}});
    TSettingsAuthority authority = Authority();
    std::vector<driver::Entry> entries;
    std::string error;
    ASSERT_TRUE(authority.Compile("u_ann", &entries, &error)) << error;
    ASSERT_EQ(entries.size(), 4U);
    EXPECT_EQ(entries[0].FileMask.rfind("/srv/docs", 0), 0U) << entries[0].FileMask;
    for (const driver::Entry& e : entries)
        EXPECT_EQ(e.FileMask.find("/srv/other"), std::string::npos);
}

TEST_F(SettingsAuthorityTest, DamagedSettingsKnowNoPasswordAndRefuseEveryone) {
    test::WriteFile(Path(), "not what the store writes\n");
    TSettingsAuthority authority = Authority();
    EXPECT_EQ(authority.Check(std::nullopt), Password::Unknown)
        << "damaged is not the same as no password set";
    std::string error;
    EXPECT_EQ(authority.PrincipalOf(1000, &error), "");
}

TEST_F(SettingsAuthorityTest, TheAutostartEntryCanOnlyBeTheProgramsOwn) {
    const std::string entry = dir_.File("autostart.desktop");
    TSettingsAuthority authority(Path(), {}, entry);
    const std::string evil = "[Desktop Entry]\nType=Application\nExec=/tmp/x\n";
    EXPECT_EQ(authority.WriteFile(driver::file::kAutostart, 1000, &evil), EINVAL);
    EXPECT_FALSE(std::filesystem::exists(entry));
    const std::string own = AutostartEntry(dir_.Path() + "/kv", "/T");
    EXPECT_EQ(authority.WriteFile(driver::file::kAutostart, 1000, &own), 0);
    EXPECT_EQ(test::ReadFile(entry), own);
    EXPECT_EQ(authority.WriteFile(driver::file::kAutostart, 1000, nullptr), 0);
    EXPECT_FALSE(std::filesystem::exists(entry));
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

TEST(SettingsAuthorityAccounts, KnownAccountsAreTheCheckedUsersThatExistHere) {
    test::TempDir dir;
    const std::string path = dir.File("kv.dat");
    TSettingsAuthority authority(path, [](uid_t) { return std::string(); });
    authority.SetAccountUid([](const std::string& name) -> std::optional<uid_t> {
        if (name == "ann")
            return 1000;
        if (name == "Bob Smith")
            return 1001;
        return std::nullopt;
    });
    bool automatic = false;
    std::vector<uid_t> uids;
    std::string error;
    ASSERT_TRUE(authority.KnownAccounts(&automatic, &uids, &error)) << error;
    EXPECT_TRUE(automatic) << "on unless the administrator unchecked it";
    EXPECT_TRUE(uids.empty());
    {
        TEncriptor store(path, true);
        store.WriteString("CurUsers_ann", "1");
        store.WriteString("curusers_Bob Smith", "1");  // key names compare without case
        store.WriteString("CurUsers_gone", "1");       // no such account on this machine
        store.WriteString("CurUsers_carl", "0");
        store.WriteString("CurUsers_", "1");
        store.WriteString("AutomaticFilesProtection", "0");
        ASSERT_TRUE(store.Flush(true));
    }
    ASSERT_TRUE(authority.KnownAccounts(&automatic, &uids, &error)) << error;
    EXPECT_FALSE(automatic);
    std::sort(uids.begin(), uids.end());
    EXPECT_EQ(uids, (std::vector<uid_t>{1000, 1001}));

    std::filesystem::remove(path);
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    EXPECT_FALSE(authority.KnownAccounts(&automatic, &uids, &error));
}

}  // namespace
}  // namespace kv
