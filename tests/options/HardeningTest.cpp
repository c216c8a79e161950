#include "options/Hardening.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include "options/ProfileText.h"
#include "tests/support/FakeRegistry.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempDir.h"

namespace kv {
namespace {

using platform::DosAttributeStore;
using platform::Hive;
using platform::kDosHidden;
using platform::kDosReadOnly;
using platform::kDosSystem;

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// ---- The "Options" section edits, on text ----

struct EditCase {
    const char* name;
    std::string before;
    bool on;
    std::string after;
};

class BootKeysEdit : public ::testing::TestWithParam<EditCase> {};

TEST_P(BootKeysEdit, GivesExactlyTheExpectedText) {
    EXPECT_EQ(BootKeysApplied(GetParam().before, GetParam().on), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BootKeysEdit,
    ::testing::Values(
        EditCase{"ExistingKeyInPlaceMissingKeysAfterTheLastEntry",
                 "[Paths]\r\nWinDir=C:\\WINDOWS\r\n\r\n[Options]\r\nBootGUI=1\r\nBootKeys=1\r\n"
                 "Network=1\r\n\r\n;comment\r\n[Other]\r\nx=1\r\n",
                 true,
                 "[Paths]\r\nWinDir=C:\\WINDOWS\r\n\r\n[Options]\r\nBootGUI=1\r\nBootKeys=0\r\n"
                 "Network=1\r\n\r\n;comment\r\nBootMenu=0\r\nBootWarn=0\r\n[Other]\r\nx=1\r\n"},
        EditCase{"NamesMatchWithoutCase", "[ options ]\r\n  bootkeys = 1 \r\nBOOTWARN=1\r\n", true,
                 "[ options ]\r\nBootKeys=0\r\nBootWarn=0\r\nBootMenu=0\r\n"},
        EditCase{"MissingSectionAddedWithTheFilesLineEnding", "[Paths]\nWinDir=C:\\WINDOWS", true,
                 "[Paths]\nWinDir=C:\\WINDOWS\n[Options]\nBootKeys=0\nBootMenu=0\nBootWarn=0\n"},
        EditCase{"EmptyFileGetsDosLineEndings", "", true,
                 "[Options]\r\nBootKeys=0\r\nBootMenu=0\r\nBootWarn=0\r\n"},
        EditCase{"DuplicateLinesOfAKeyBecomeOne",
                 "[Options]\r\nBootKeys=1\r\nBootKeys=2\r\nLogo=0\r\nbootkeys=3\r\n", true,
                 "[Options]\r\nBootKeys=0\r\nLogo=0\r\nBootMenu=0\r\nBootWarn=0\r\n"},
        EditCase{"KeysOfOtherSectionsAndCommentsStay",
                 "[Paths]\r\nBootKeys=1\r\n[Options]\r\n;BootKeys=1\r\n", true,
                 "[Paths]\r\nBootKeys=1\r\n[Options]\r\n;BootKeys=1\r\nBootKeys=0\r\n"
                 "BootMenu=0\r\nBootWarn=0\r\n"},
        EditCase{"OffRemovesOnlyTheThreeKeys",
                 "[Options]\r\nBootWarn=0\r\nBootGUI=1\r\nBootKeys=0\r\n;x\r\nBootMenu=0\r\n"
                 "[Paths]\r\nBootMenu=0\r\n",
                 false, "[Options]\r\nBootGUI=1\r\n;x\r\n[Paths]\r\nBootMenu=0\r\n"},
        EditCase{"OffRemovesALastLineWithoutEnding", "[Options]\nBootGUI=1\nBootMenu=0", false,
                 "[Options]\nBootGUI=1\n"},
        EditCase{"OffOnMixedEndingsAndOddLinesKeepsThem",
                 "junk\n[Options\r\nBootKeys=0\r\n\t\r\n  =x\r\n[Options]\nBootWarn=1", false,
                 "junk\n[Options\r\n\t\r\n  =x\r\n[Options]\nBootWarn=1"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BootKeysEdit, OnTwiceLeavesOneLineForEachKeyAndOffUndoesIt) {
    const std::string original = "[Options]\r\nBootGUI=1\r\n\r\n[Paths]\r\nUninstallDir=C:\\\r\n";
    const std::string once = BootKeysApplied(original, true);
    EXPECT_EQ(BootKeysApplied(once, true), once);
    for (const char* key : {"BootKeys=0", "BootMenu=0", "BootWarn=0"})
        EXPECT_EQ(Count(once, key), 1u) << key;
    EXPECT_EQ(BootKeysApplied(once, false), original);
}

TEST(BootKeysEdit, OffOnAFileWithoutTheKeysLeavesEveryByte) {
    static const char binary[] = "bin\0ary\r\r\n[OPTIONS]\n\xff\xfe=1\nBootKeysX=0";
    const std::string texts[] = {"", "no sections at all", "[Options]",
                                 "[Options]\r\nBootGUI=1\r\n\r\n",
                                 std::string(binary, sizeof binary - 1)};
    for (const std::string& text : texts)
        EXPECT_EQ(BootKeysApplied(text, false), text);
}

TEST(ProfileText, ReadsTheFirstValueTrimmed) {
    const ProfileText profile("[a]\nk = v 1 \nk=2\n[A]\nz=3\n");
    EXPECT_EQ(profile.Read("A", "K"), "v 1");
    EXPECT_EQ(profile.Read("a", "z"), std::nullopt);  // only the first [a] counts
    EXPECT_EQ(profile.Read("b", "k"), std::nullopt);
}

// ---- The boot configuration file on disk ----

class BootKeysPolicy : public ::testing::TestWithParam<DosAttributeStore> {
protected:
    BootKeysPolicy() : hardening_(BootConfigPath(dir_.Path()), registry_, GetParam()) {
        ::mkdir(dir_.File("drive_c").c_str(), 0755);
    }
    const std::string& File() const { return hardening_.BootConfigFile(); }
    std::uint32_t Attributes() const {
        return platform::GetDosAttributes(File(), GetParam()).value_or(0xFFFFFFFF);
    }

    test::TempDir dir_;
    test::FakeRegistry registry_;
    THardening hardening_;
};

INSTANTIATE_TEST_SUITE_P(Stores, BootKeysPolicy,
                         ::testing::Values(DosAttributeStore::Auto,
                                           DosAttributeStore::SidecarOnly));

TEST_P(BootKeysPolicy, EditsTheFileAndRestoresItsAttributesExactly) {
    EXPECT_EQ(File(), dir_.Path() + "/drive_c/msdos.sys");
    test::WriteFile(File(), "[Options]\r\nBootGUI=1\r\n");
    ::chmod(File().c_str(), 0444);
    const std::uint32_t attributes = kDosReadOnly | kDosHidden | kDosSystem;
    ASSERT_TRUE(platform::SetDosAttributes(File(), attributes, GetParam()));

    EXPECT_TRUE(hardening_.ApplyBootKeysPolicy(true)) << hardening_.LastError();
    EXPECT_EQ(test::ReadFile(File()),
              "[Options]\r\nBootGUI=1\r\nBootKeys=0\r\nBootMenu=0\r\nBootWarn=0\r\n");
    EXPECT_EQ(Attributes(), attributes);
    struct stat st {};
    ASSERT_EQ(::stat(File().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);

    EXPECT_TRUE(hardening_.ApplyBootKeysPolicy(false));
    EXPECT_EQ(test::ReadFile(File()), "[Options]\r\nBootGUI=1\r\n");
    EXPECT_EQ(Attributes(), attributes);
}

TEST_P(BootKeysPolicy, AFileWithoutAttributesGetsNone) {
    test::WriteFile(File(), "");
    EXPECT_TRUE(hardening_.ApplyBootKeysPolicy(true));
    EXPECT_EQ(Attributes(), 0u);
    EXPECT_FALSE(std::filesystem::exists(platform::DosAttributeSidecarPath(File())));
    char buffer[16];
    EXPECT_LT(::getxattr(File().c_str(), platform::kDosAttribName, buffer, sizeof buffer), 0);
}

TEST_P(BootKeysPolicy, OffWithoutKeysLeavesTheSameFile) {
    const std::string text = "[Paths]\r\nWinDir=C:\\WINDOWS\r\n[Options]\r\nBootGUI=1";
    test::WriteFile(File(), text);
    ASSERT_TRUE(platform::SetDosAttributes(File(), kDosHidden, GetParam()));
    struct stat before {
    }, after{};
    ::stat(File().c_str(), &before);
    EXPECT_TRUE(hardening_.ApplyBootKeysPolicy(false));
    ::stat(File().c_str(), &after);
    EXPECT_EQ(test::ReadFile(File()), text);
    EXPECT_EQ(after.st_ino, before.st_ino);  // not even rewritten
    EXPECT_EQ(Attributes(), kDosHidden);
}

TEST_P(BootKeysPolicy, AMissingFileIsLeftMissing) {
    EXPECT_FALSE(hardening_.ApplyBootKeysPolicy(true));
    EXPECT_FALSE(hardening_.ApplyBootKeysPolicy(false));
    EXPECT_FALSE(std::filesystem::exists(File()));
    EXPECT_FALSE(std::filesystem::exists(platform::DosAttributeSidecarPath(File())));
    EXPECT_NE(hardening_.LastError().find("does not exist"), std::string::npos);
}

TEST_P(BootKeysPolicy, AFailedWriteKeepsTheFileAndItsAttributes) {
    const std::string text = "[Options]\r\nBootGUI=1\r\n" + std::string(4000, ';') + "\r\n";
    test::WriteFile(File(), text);
    ASSERT_TRUE(platform::SetDosAttributes(File(), kDosSystem | kDosReadOnly, GetParam()));
    {
        test::FileSizeLimit limit(1024);
        EXPECT_FALSE(hardening_.ApplyBootKeysPolicy(true));
    }
    EXPECT_FALSE(hardening_.LastError().empty());
    EXPECT_EQ(test::ReadFile(File()), text);
    EXPECT_EQ(Attributes(), kDosSystem | kDosReadOnly);
}

// ---- The DOS attributes themselves ----

TEST(DosAttributes, StoredTextRoundTripsAndOddTextIsRefused) {
    for (std::uint32_t value : {0x0u, 0x7u, 0x27u, 0xFFFFFFFFu})
        EXPECT_EQ(platform::ParseDosAttributeText(platform::FormatDosAttributeText(value)), value);
    EXPECT_EQ(platform::ParseDosAttributeText(std::string("0x20\0\x03\x00", 7)), 0x20u);
    EXPECT_EQ(platform::ParseDosAttributeText("0X1f"), 0x1Fu);
    for (const char* bad : {"", "0x", "7", "x7", "0x7g", "0x123456789", " 0x7"})
        EXPECT_EQ(platform::ParseDosAttributeText(bad), std::nullopt) << bad;
}

TEST(DosAttributes, TheExtendedAttributeWinsOverAStaleSidecar) {
    test::TempDir dir;
    const std::string file = dir.File("msdos.sys");
    test::WriteFile(file, "x");
    EXPECT_EQ(platform::GetDosAttributes(dir.File("absent")), std::nullopt);
    EXPECT_FALSE(platform::SetDosAttributes(dir.File("absent"), 1));
    EXPECT_FALSE(std::filesystem::exists(platform::DosAttributeSidecarPath(dir.File("absent"))));

    // Attributes left in a sidecar (copied from a file system without
    // extended attributes) are read, and replaced by the attribute when set.
    ASSERT_TRUE(platform::SetDosAttributes(file, kDosHidden, DosAttributeStore::SidecarOnly));
    EXPECT_EQ(test::ReadFile(dir.File(".msdos.sys.DOSATTRIB")), "0x2");
    EXPECT_EQ(platform::GetDosAttributes(file), kDosHidden);
    ASSERT_TRUE(platform::SetDosAttributes(file, kDosSystem));
    EXPECT_FALSE(std::filesystem::exists(dir.File(".msdos.sys.DOSATTRIB")));
    EXPECT_EQ(platform::GetDosAttributes(file), kDosSystem);
    char buffer[16] = {};
    ASSERT_EQ(::getxattr(file.c_str(), "user.DOSATTRIB", buffer, sizeof buffer), 3);
    EXPECT_STREQ(buffer, "0x4");

    // The longer form other programs write: the text, a NUL, binary data.
    std::string longer("0x27", 5);
    longer.append(600, '\x01');
    ASSERT_EQ(::setxattr(file.c_str(), "user.DOSATTRIB", longer.data(), longer.size(), 0), 0);
    EXPECT_EQ(platform::GetDosAttributes(file), 0x27u);
}

// ---- The MS-DOS mode policy ----

TEST(MsDosModePolicy, WritesADwordOneReplacingAnyOtherValueAndRemovesIt) {
    test::FakeRegistry registry;
    THardening hardening("/nonexistent/msdos.sys", registry);
    registry.WriteString(Hive::CurrentUser, kWinOldAppKey, "NOREALMODE", "yes");
    registry.WriteDword(Hive::CurrentUser, kWinOldAppKey, "Other", 5);

    EXPECT_TRUE(hardening.ApplyMsDosModePolicy(true));
    auto value = registry.ReadValue(Hive::CurrentUser, kWinOldAppKey, kNoRealModeValue);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, platform::RegistryValue::Type::Dword);
    EXPECT_EQ(value->dword, 1u);
    EXPECT_FALSE(registry.ReadValue(Hive::LocalMachine, kWinOldAppKey, kNoRealModeValue));

    EXPECT_TRUE(hardening.ApplyMsDosModePolicy(false));
    EXPECT_FALSE(registry.ReadValue(Hive::CurrentUser, kWinOldAppKey, kNoRealModeValue));
    EXPECT_EQ(registry.ReadValue(Hive::CurrentUser, kWinOldAppKey, "Other")->dword, 5u);
    EXPECT_TRUE(hardening.ApplyMsDosModePolicy(false));  // already absent
    EXPECT_TRUE(registry.KeyExists(Hive::CurrentUser, kWinOldAppKey));
}

TEST(MsDosModePolicy, AnUnopenableKeyChangesNothing) {
    class ClosedRegistry : public test::FakeRegistry {
    public:
        bool CreateKey(Hive, std::string_view) override { return false; }
    } registry;
    THardening hardening("/nonexistent/msdos.sys", registry);
    EXPECT_FALSE(hardening.ApplyMsDosModePolicy(true));
    EXPECT_FALSE(registry.ReadValue(Hive::CurrentUser, kWinOldAppKey, kNoRealModeValue));
}

}  // namespace
}  // namespace kv
