#include "platform/Registry.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <thread>

#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempDir.h"

namespace kv::platform {
namespace {

using kv::test::FileSizeLimit;

using kv::test::ReadFile;
using kv::test::TempDir;
using kv::test::WriteFile;

constexpr Hive LM = Hive::LocalMachine;
constexpr Hive CU = Hive::CurrentUser;
constexpr char kRun[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RUN";

class RegistryTest : public ::testing::Test {
protected:
    RegistryTest() { Open(); }

    void Open() {
        RegistrySources sources;
        sources.localMachineFile = Lm();
        sources.currentUserFile = Cu();
        sources.accounts = [this] { return accounts_; };
        sources.loginName = [this] { return login_; };
        reg_ = OpenRegistry(std::move(sources));
    }

    std::string Lm() const { return dir_.Path() + "/registry/HKLM.reg"; }
    std::string Cu() const { return dir_.Path() + "/registry/HKCU/user.reg"; }
    void PutLm(const std::string& text) {
        std::filesystem::create_directories(dir_.Path() + "/registry");
        WriteFile(Lm(), text);
    }
    std::vector<std::string> FilesInRegistryFolder() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir_.Path() + "/registry"))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir_;
    std::vector<Account> accounts_ = {{"root", "/root"}, {"alice", "/home/alice"}};
    std::string login_ = "alice";
    std::unique_ptr<IRegistry> reg_;
};

TEST_F(RegistryTest, ValuesRoundTripThroughTheFile) {
    const std::vector<std::uint8_t> bytes = {0, 1, 0xfe, 0xff};
    EXPECT_TRUE(reg_->WriteString(LM, kRun, "kv.exe", "C:\\Kestrava\\kv.exe \"/T\""));
    EXPECT_TRUE(reg_->WriteBinary(LM, "Software\\Policy", "NoReal", bytes));
    EXPECT_TRUE(reg_->WriteDword(LM, "Software\\Policy", "Level", 0x80000001u));
    EXPECT_TRUE(reg_->WriteString(CU, "Software\\Kestrava", "", "default"));

    Open();  // a fresh object reads only what is on disk
    EXPECT_EQ(reg_->ReadString(LM, kRun, "kv.exe"), "C:\\Kestrava\\kv.exe \"/T\"");
    const auto bin = reg_->ReadValue(LM, "Software\\Policy", "NoReal");
    ASSERT_TRUE(bin);
    EXPECT_EQ(bin->type, RegistryValue::Type::Binary);
    EXPECT_EQ(bin->bytes, bytes);
    const auto dw = reg_->ReadValue(LM, "Software\\Policy", "Level");
    ASSERT_TRUE(dw);
    EXPECT_EQ(dw->type, RegistryValue::Type::Dword);
    EXPECT_EQ(dw->dword, 0x80000001u);
    EXPECT_FALSE(reg_->ReadString(LM, "Software\\Policy", "Level"));  // not a string
    EXPECT_EQ(reg_->ReadString(CU, "Software\\Kestrava", ""), "default");
    EXPECT_FALSE(reg_->KeyExists(CU, kRun));  // hives are separate files

    const std::string text = ReadFile(Lm());
    EXPECT_EQ(text.rfind("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n", 0), 0u) << text;
    EXPECT_NE(text.find("\"kv.exe\"=\"C:\\\\Kestrava\\\\kv.exe \\\"/T\\\"\"\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(ReadFile(dir_.Path() + "/registry/HKCU/user.reg").find("[HKEY_CURRENT_USER\\"),
              std::string::npos);
}

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepTheirFirstSpelling) {
    ASSERT_TRUE(reg_->CreateKey(CU, "Software\\Kestrava\\Users"));
    EXPECT_TRUE(reg_->WriteString(CU, "SOFTWARE\\kestrava\\users", "Name", "1"));
    EXPECT_TRUE(reg_->WriteString(CU, "software\\KESTRAVA\\NewKey", "NAME", "2"));
    EXPECT_TRUE(reg_->WriteString(CU, "Software\\Kestrava\\Users", "name", "3"));
    EXPECT_EQ(reg_->ReadString(CU, "software\\kestrava\\USERS", "nAmE"), "3");
    EXPECT_EQ(reg_->SubKeyNames(CU, "SOFTWARE"), (std::vector<std::string>{"Kestrava"}));
    EXPECT_EQ(reg_->SubKeyNames(CU, "Software\\Kestrava"),
              (std::vector<std::string>{"Users", "NewKey"}));
    EXPECT_TRUE(reg_->HasSubKey(CU, "software\\kestrava", "USERS"));
    EXPECT_FALSE(reg_->HasSubKey(CU, "software\\kestrava", "User"));
    const std::string text = ReadFile(Cu());
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Kestrava\\NewKey]"), std::string::npos);
    EXPECT_NE(text.find("\"Name\"=\"3\""), std::string::npos) << text;
    EXPECT_EQ(text.find("SOFTWARE"), std::string::npos) << text;
}

TEST_F(RegistryTest, SubKeysComeInStoredAndCreationOrder) {
    PutLm(
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\P\\zeta]\r\n\r\n[HKEY_LOCAL_MACHINE\\P\\Alpha\\Deep]"
        "\r\n\r\n[HKEY_LOCAL_MACHINE\\Q]\r\n\r\n");
    // "Alpha" exists through its subkey alone.
    EXPECT_TRUE(reg_->KeyExists(LM, "P\\alpha"));
    ASSERT_TRUE(reg_->CreateKey(LM, "P\\mid"));
    ASSERT_TRUE(reg_->CreateKey(LM, "P\\ALPHA\\Other"));
    EXPECT_EQ(reg_->SubKeyNames(LM, "P"), (std::vector<std::string>{"zeta", "Alpha", "mid"}));
    EXPECT_EQ(reg_->SubKeyNames(LM, "P\\Alpha"), (std::vector<std::string>{"Deep", "Other"}));
    // The computed keys come after those of the file.
    EXPECT_EQ(reg_->SubKeyNames(LM, ""),
              (std::vector<std::string>{"P", "Q", "Software", "System"}));
    // New sections sit with their parent's subtree, not after unrelated keys.
    const std::string text = ReadFile(Lm());
    EXPECT_LT(text.find("P\\mid]"), text.find("[HKEY_LOCAL_MACHINE\\Q]")) << text;
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\P\\Alpha\\Other]"), std::string::npos) << text;
}

TEST_F(RegistryTest, DeleteKeyTreeRemovesEverythingBelowOnly) {
    ASSERT_TRUE(reg_->WriteString(LM, "A\\B", "v", "1"));
    ASSERT_TRUE(reg_->WriteString(LM, "A\\B\\C\\D", "v", "2"));
    ASSERT_TRUE(reg_->WriteString(LM, "A\\BC", "v", "3"));  // a name sharing the prefix
    EXPECT_TRUE(reg_->DeleteKeyTree(LM, "a\\b"));
    EXPECT_FALSE(reg_->KeyExists(LM, "A\\B"));
    EXPECT_FALSE(reg_->KeyExists(LM, "A\\B\\C\\D"));
    EXPECT_EQ(reg_->ReadString(LM, "A\\BC", "v"), "3");
    EXPECT_EQ(reg_->SubKeyNames(LM, "A"), (std::vector<std::string>{"BC"}));
    EXPECT_EQ(ReadFile(Lm()).find("A\\B]"), std::string::npos);
    EXPECT_TRUE(reg_->DeleteKeyTree(LM, "Never\\There"));
    EXPECT_FALSE(reg_->DeleteKeyTree(LM, ""));  // the hive itself stays
}

TEST_F(RegistryTest, DeleteValueReportsGoneAlsoWhenAbsent) {
    ASSERT_TRUE(reg_->WriteString(LM, "K", "a", "1"));
    ASSERT_TRUE(reg_->WriteDword(LM, "K", "b", 2));
    EXPECT_TRUE(reg_->DeleteValue(LM, "k", "A"));
    EXPECT_FALSE(reg_->ReadValue(LM, "K", "a"));
    EXPECT_TRUE(reg_->ReadValue(LM, "K", "b"));
    EXPECT_TRUE(reg_->DeleteValue(LM, "K", "a"));
    EXPECT_TRUE(reg_->DeleteValue(LM, "Missing", "a"));
    EXPECT_TRUE(reg_->KeyExists(LM, "K"));  // the key stays
}

TEST_F(RegistryTest, LineBreaksInNamesOrDataAreRefusedAndWriteNothing) {
    EXPECT_FALSE(reg_->WriteString(LM, "K", "v", "two\r\nlines"));
    EXPECT_FALSE(reg_->WriteDword(LM, "K", "v\n", 1));
    EXPECT_FALSE(reg_->CreateKey(LM, "K\\bad\nname"));
    EXPECT_FALSE(reg_->CreateKey(LM, "K\\bad]name"));
    EXPECT_FALSE(std::filesystem::exists(Lm()));
}

TEST_F(RegistryTest, ChangesByAnotherProcessAreSeenAndKept) {
    ASSERT_TRUE(reg_->WriteString(LM, "K", "mine", "1"));
    std::string text = ReadFile(Lm());
    text += "[HKEY_LOCAL_MACHINE\\Theirs]\r\n\"x\"=dword:00000007\r\n\r\n";
    WriteFile(Lm(), text);
    EXPECT_EQ(reg_->ReadValue(LM, "Theirs", "x")->dword, 7u);
    ASSERT_TRUE(reg_->WriteString(LM, "K", "mine", "2"));
    Open();
    EXPECT_EQ(reg_->ReadValue(LM, "Theirs", "x")->dword, 7u);
    EXPECT_EQ(reg_->ReadString(LM, "K", "mine"), "2");
}

TEST_F(RegistryTest, ConcurrentWritersKeepEachOthersValues) {
    constexpr int kWrites = 25;
    auto writer = [this](const std::string& prefix) {
        RegistrySources sources;
        sources.localMachineFile = Lm();
        auto reg = OpenRegistry(std::move(sources));
        for (int i = 0; i < kWrites; ++i)
            EXPECT_TRUE(reg->WriteDword(LM, "Shared", prefix + std::to_string(i), 1));
    };
    std::thread a(writer, "a");
    std::thread b(writer, "b");
    a.join();
    b.join();
    for (int i = 0; i < kWrites; ++i) {
        EXPECT_TRUE(reg_->ReadValue(LM, "Shared", "a" + std::to_string(i))) << i;
        EXPECT_TRUE(reg_->ReadValue(LM, "Shared", "b" + std::to_string(i))) << i;
    }
}

TEST_F(RegistryTest, DamagedFileKeepsWorkingAndIsCopiedAsideOnce) {
    const std::string damaged =
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Good]\n\"v\"=\"1\"\n" +
        std::string("\xff\xfe\0junk\n", 8) +
        "[HKEY_LOCAL_MACHINE\\Cut\n\"lost\"=\"x\"\n[HKEY_LOCAL_MACHINE\\Also]\n\"w\"=hex(7):00\n";
    PutLm(damaged);
    EXPECT_EQ(reg_->ReadString(LM, "Good", "v"), "1");
    EXPECT_FALSE(reg_->KeyExists(LM, "Cut"));
    EXPECT_TRUE(reg_->KeyExists(LM, "Also"));
    EXPECT_EQ(FilesInRegistryFolder(),
              (std::vector<std::string>{"HKLM.reg"}));  // reads copy nothing

    ASSERT_TRUE(reg_->WriteString(LM, "Good", "v", "2"));
    const auto files = FilesInRegistryFolder();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[1].rfind("HKLM.reg.damaged-", 0), 0u);
    EXPECT_EQ(ReadFile(dir_.Path() + "/registry/" + files[1]), damaged);

    // The rewritten file is clean, so later writes make no more copies.
    ASSERT_TRUE(reg_->WriteString(LM, "Good", "v", "3"));
    EXPECT_EQ(FilesInRegistryFolder().size(), 2u);
    EXPECT_EQ(reg_->ReadString(LM, "Good", "v"), "3");
    EXPECT_TRUE(reg_->KeyExists(LM, "Also"));
}

TEST_F(RegistryTest, EmptyOrHeaderlessFilesAreReadAsFarAsTheyGo) {
    PutLm("");
    EXPECT_FALSE(reg_->KeyExists(LM, "K"));
    EXPECT_TRUE(reg_->WriteString(LM, "K", "v", "1"));
    EXPECT_EQ(FilesInRegistryFolder().size(), 1u);  // nothing was lost, nothing copied

    PutLm("[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"no header\"\n");
    EXPECT_EQ(reg_->ReadString(LM, "K", "v"), "no header");
    EXPECT_TRUE(reg_->WriteString(LM, "K", "v", "2"));
    EXPECT_EQ(FilesInRegistryFolder().size(), 2u);
}

TEST_F(RegistryTest, UnreadableFileFailsWritesWithoutThrowing) {
    std::filesystem::create_directories(Lm());  // a folder where the file belongs
    EXPECT_FALSE(reg_->KeyExists(LM, "K"));
    EXPECT_FALSE(reg_->CreateKey(LM, "K"));
    EXPECT_FALSE(reg_->WriteString(LM, "K", "v", "1"));
    // Nothing is known to be gone from a file that cannot be read.
    EXPECT_FALSE(reg_->DeleteValue(LM, "K", "v"));
    EXPECT_FALSE(reg_->DeleteKeyTree(LM, "K"));
    EXPECT_TRUE(std::filesystem::is_directory(Lm()));
    // The user hive is a separate file and still works.
    EXPECT_TRUE(reg_->WriteString(CU, "K", "v", "1"));
}

TEST(MachineRegistry, UserNamesThatAreNoFileNameLeaveTheUserHiveUnusable) {
    TempDir dir;
    for (const char* user : {"", "..", "a/b"}) {
        auto reg = OpenMachineRegistry(dir.Path(), user);
        EXPECT_FALSE(reg->WriteString(CU, "K", "v", "1")) << user;
        EXPECT_TRUE(reg->WriteString(LM, "K", "v", "1"));
    }
    auto reg = OpenMachineRegistry(dir.Path(), "carol");
    EXPECT_TRUE(reg->WriteString(CU, "K", "v", "1"));
    EXPECT_TRUE(std::filesystem::exists(dir.File("registry/HKCU/carol.reg")));
    EXPECT_TRUE(std::filesystem::exists(dir.File("registry/HKLM.reg")));
}

TEST_F(RegistryTest, FailedWriteLeavesTheOldFileIntact) {
    ASSERT_TRUE(reg_->WriteString(LM, "K", "v", "old"));
    const std::string before = ReadFile(Lm());
    {
        FileSizeLimit limit(before.size() + 16);
        EXPECT_FALSE(reg_->WriteString(LM, "K", "big", std::string(10000, 'x')));
    }
    EXPECT_EQ(ReadFile(Lm()), before);
    EXPECT_EQ(FilesInRegistryFolder(), (std::vector<std::string>{"HKLM.reg"}));  // no temp left
    EXPECT_FALSE(reg_->ReadValue(LM, "K", "big"));
}

TEST_F(RegistryTest, DamagedFileIsNotRewrittenWhenItsCopyCannotBeMade) {
    PutLm("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"1\"\nsome line of someone's\n");
    const std::string before = ReadFile(Lm());
    {
        FileSizeLimit limit(8);  // the copy does not fit
        EXPECT_FALSE(reg_->WriteString(LM, "K", "v", "2"));
    }
    EXPECT_EQ(ReadFile(Lm()), before);
}

// The computed profile list and current user.

TEST_F(RegistryTest, ProfileListGivesTheAccountsWhenTheFileHasNone) {
    const std::string pl = kProfileListKey;
    EXPECT_TRUE(reg_->KeyExists(LM, pl));
    EXPECT_TRUE(reg_->KeyExists(LM, "software\\microsoft"));
    EXPECT_EQ(reg_->SubKeyNames(LM, pl), (std::vector<std::string>{"root", "alice"}));
    EXPECT_TRUE(reg_->HasSubKey(LM, pl, "ALICE"));
    EXPECT_FALSE(reg_->HasSubKey(LM, pl, "bob"));
    EXPECT_EQ(reg_->ReadString(LM, pl + "\\Alice", "ProfileImagePath"), "/home/alice");
    EXPECT_TRUE(reg_->HasSubKey(LM, "Software\\Microsoft\\Windows\\CurrentVersion", "ProfileList"));
    EXPECT_FALSE(reg_->KeyExists(CU, pl));  // only the machine hive has it

    accounts_.push_back({"bob", "/home/bob"});  // read each time, never stored
    EXPECT_TRUE(reg_->HasSubKey(LM, pl, "bob"));
}

TEST_F(RegistryTest, ComputedProfileListIsReadOnlyAndNeverFrozenIntoTheFile) {
    const std::string pl = kProfileListKey;
    EXPECT_TRUE(reg_->CreateKey(LM, pl));
    EXPECT_TRUE(reg_->CreateKey(LM, pl + "\\root"));
    EXPECT_FALSE(std::filesystem::exists(Lm()));
    EXPECT_FALSE(reg_->CreateKey(LM, pl + "\\newuser"));
    EXPECT_FALSE(reg_->WriteString(LM, pl + "\\alice", "x", "1"));
    EXPECT_FALSE(reg_->DeleteKeyTree(LM, pl + "\\alice"));
    EXPECT_FALSE(std::filesystem::exists(Lm()));
    // Other keys of the same file are written as usual.
    EXPECT_TRUE(reg_->WriteString(LM, kRun, "kv.exe", "kv"));
    EXPECT_EQ(ReadFile(Lm()).find("ProfileList"), std::string::npos);
    EXPECT_EQ(reg_->SubKeyNames(LM, "Software\\Microsoft\\Windows\\CurrentVersion"),
              (std::vector<std::string>{"RUN", "ProfileList"}));
}

TEST_F(RegistryTest, ProfileListInTheFileReplacesTheAccounts) {
    PutLm(
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\"
        "ProfileList\\Zed]\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\"
        "CurrentVersion\\ProfileList\\Amy]\r\n\r\n");
    const std::string pl = kProfileListKey;
    EXPECT_EQ(reg_->SubKeyNames(LM, pl), (std::vector<std::string>{"Zed", "Amy"}));
    EXPECT_FALSE(reg_->HasSubKey(LM, pl, "alice"));
    EXPECT_FALSE(reg_->ReadString(LM, pl + "\\root", "ProfileImagePath"));
    EXPECT_TRUE(reg_->CreateKey(LM, pl + "\\New"));
    EXPECT_TRUE(reg_->HasSubKey(LM, pl, "new"));
    // An empty ProfileList key in the file means no profiles at all.
    EXPECT_TRUE(reg_->DeleteKeyTree(LM, pl + "\\Zed"));
    EXPECT_TRUE(reg_->DeleteKeyTree(LM, pl + "\\Amy"));
    EXPECT_TRUE(reg_->DeleteKeyTree(LM, pl + "\\New"));
    EXPECT_TRUE(reg_->CreateKey(LM, pl));
    EXPECT_TRUE(reg_->SubKeyNames(LM, pl).empty());
    // Deleting the key from the file brings the accounts back.
    EXPECT_FALSE(reg_->DeleteKeyTree(LM, pl));
    EXPECT_EQ(reg_->SubKeyNames(LM, pl), (std::vector<std::string>{"root", "alice"}));
}

TEST_F(RegistryTest, CurrentUserIsTheLoginNameUnlessTheFileHasOne) {
    EXPECT_EQ(reg_->ReadString(LM, kControlKey, kCurrentUserValue), "alice");
    EXPECT_EQ(reg_->ReadString(LM, "system\\currentcontrolset\\control", "current user"), "alice");
    EXPECT_TRUE(reg_->KeyExists(LM, kControlKey));
    EXPECT_FALSE(reg_->ReadString(CU, kControlKey, kCurrentUserValue));

    ASSERT_TRUE(reg_->WriteString(LM, kControlKey, kCurrentUserValue, "Bob"));
    EXPECT_EQ(reg_->ReadString(LM, kControlKey, kCurrentUserValue), "Bob");
    // The login name shows through again once the file's value is gone.
    EXPECT_FALSE(reg_->DeleteValue(LM, kControlKey, kCurrentUserValue));
    EXPECT_EQ(reg_->ReadString(LM, kControlKey, kCurrentUserValue), "alice");

    login_.clear();  // unknown owner: no value, no key
    EXPECT_FALSE(reg_->ReadValue(LM, kControlKey, kCurrentUserValue));
    EXPECT_TRUE(reg_->KeyExists(LM, kControlKey));  // it was written into the file above
    ASSERT_TRUE(reg_->DeleteKeyTree(LM, "System"));
    EXPECT_FALSE(reg_->KeyExists(LM, kControlKey));
}

TEST(MachineRegistry, CurrentUserIsTheProcessOwnersLoginName) {
    const std::string name = LoginName();
    if (::geteuid() == 0) {
        EXPECT_EQ(name, "root");
    }
    TempDir dir;
    auto reg = OpenMachineRegistry(dir.Path(), "someone");
    const auto value = reg->ReadString(LM, kControlKey, kCurrentUserValue);
    if (name.empty()) {  // an owner without an account entry: no value
        EXPECT_FALSE(value);
    } else {
        EXPECT_EQ(value, name);
    }
}

}  // namespace
}  // namespace kv::platform
