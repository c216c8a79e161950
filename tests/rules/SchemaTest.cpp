#include <gtest/gtest.h>

#include "../support/TempDir.h"
#include "FakeViews.h"
#include "rules/PathStyle.h"
#include "rules/Schema.h"
#include "settings/Encript.h"

namespace kv {
namespace {

class SchemaTest : public ::testing::Test {
protected:
    test::TempDir dir;
    TEncriptor store{dir.File("kv.dat"), false};
};

TEST_F(SchemaTest, PrincipalPrefixNamesGroupsAndUsersApart) {
    test::FakePrincipals principals;
    EXPECT_EQ(PrincipalPrefix(principals), "");
    principals.Group("Staff");
    EXPECT_EQ(PrincipalPrefix(principals), "g_Staff");
    principals.User("Staff");
    EXPECT_EQ(PrincipalPrefix(principals), "u_Staff");
    principals.selected = SelectedPrincipal{kUnknownUser, PrincipalKind::UnknownUser};
    EXPECT_EQ(PrincipalPrefix(principals), "u_Unknown User");
}

TEST_F(SchemaTest, KeysOfDriveRootFolderAndFileInWindowsStyle) {
    const PathStyle& w = PathStyle::Windows();
    EXPECT_TRUE(w.IsRoot("C:\\"));
    EXPECT_FALSE(w.IsRoot("C:\\Work"));
    EXPECT_FALSE(w.IsRoot("C:"));
    const std::string folder = w.Join("C:\\", "Work");
    EXPECT_EQ(folder, "C:\\Work");
    EXPECT_EQ(ProtectionKey("u_Bob", "C:\\"), "u_Bob_P_C:\\");
    EXPECT_EQ(ProtectionKey("u_Bob", folder), "u_Bob_P_C:\\Work");
    EXPECT_EQ(ProtectionKey("u_Bob", w.Join(folder, "a.txt")), "u_Bob_P_C:\\Work\\a.txt");
}

TEST_F(SchemaTest, KeysOfRootFolderAndFileInPosixStyle) {
    const PathStyle& p = PathStyle::Posix();
    EXPECT_TRUE(p.IsRoot("/"));
    EXPECT_FALSE(p.IsRoot("/home"));
    EXPECT_EQ(p.Join("/", "home"), "/home");
    EXPECT_EQ(p.Join("/home", "a.txt"), "/home/a.txt");
    EXPECT_EQ(ProtectionKey("g_Staff", "/"), "g_Staff_P_/");
    EXPECT_EQ(OptionKey("g_Staff_P_/home", Option::dwOperation), "g_Staff_P_/home_dwOperation");
}

TEST_F(SchemaTest, KindDefaultNamesCarryTheKindDigit) {
    EXPECT_EQ(KindDefaultName(Option::Processes, 1), "Processes_1");
    EXPECT_EQ(KindDefaultName(Option::SubFolders, 3), "SubFolders_3");
    EXPECT_EQ(KindDefaultName(Option::SubFolders, -1), "SubFolders_-1");
    EXPECT_EQ(KindDefaultName(Option::dwOperation, 3), "dwOperation_3");
}

TEST_F(SchemaTest, EmptyStoreFallsBackToBuiltInDefaults) {
    for (int kind : {-1, 1, 2, 3})
        EXPECT_TRUE(SubFoldersReach(store, kind)) << kind;
    EXPECT_EQ(ReadKindDefault(store, Option::Processes, 3), "*");
    EXPECT_EQ(ReadKindDefault(store, Option::ExcludeProc, 3), "");
    EXPECT_EQ(ReadKindDefault(store, Option::IncludeFiles, 1), "*");
    EXPECT_EQ(ReadKindDefault(store, Option::ExcludeFiles, 2), "");
    EXPECT_EQ(CustomDefaultMask(store), 0);
    store.WriteBool("SubFolders_1", false);
    EXPECT_FALSE(SubFoldersReach(store, 1));
    EXPECT_TRUE(SubFoldersReach(store, 2));
}

TEST_F(SchemaTest, MaskBitsAreTheNineteenBoxesFromBitTwoUp) {
    std::uint32_t all = 0;
    for (std::size_t i = 0; i < kMaskBits.size(); ++i) {
        EXPECT_EQ(kMaskBits[i].value, 1u << (i + 2)) << kMaskBits[i].box;
        all |= kMaskBits[i].value;
    }
    EXPECT_EQ(all, kAllMaskBits);
    EXPECT_EQ(MaskBitOfBox("Full"), 0x400u);
    EXPECT_EQ(MaskBitOfBox("List"), 0x200u);
    EXPECT_EQ(MaskBitOfBox("Nothing"), 0u);
}

TEST_F(SchemaTest, FixedMasksAreMadeOfTheirNamedBoxes) {
    std::uint32_t readOnly = 0;
    for (const char* box : {"Rename", "DeleteF", "Cr", "Replace", "Dir_Delete", "Dir_Create",
                            "Time_Set_A", "Time_Set_C", "Time_Set_M", "Attr_Set"})
        readOnly |= MaskBitOfBox(box);
    EXPECT_EQ(readOnly, kReadOnlyMask);
    EXPECT_EQ(kReadOnlyMask, 1996848u);
    EXPECT_EQ(kFullMask, MaskBitOfBox("Full"));
}

TEST_F(SchemaTest, MaskOfKind) {
    const std::string key = "u_Bob_P_/home/a.txt";
    store.WriteInteger(key + "_dwOperation", 0x30);
    EXPECT_EQ(MaskOfKind(store, 1, key), 1996848);
    EXPECT_EQ(MaskOfKind(store, 5, key), 1996848);
    EXPECT_EQ(MaskOfKind(store, 2, key), 1024);
    EXPECT_EQ(MaskOfKind(store, 6, key), 1024);
    EXPECT_EQ(MaskOfKind(store, 3, key), 0) << "a Custom folder's own mask is not read here";
    EXPECT_EQ(MaskOfKind(store, 7, key), 0x30);
    EXPECT_EQ(MaskOfKind(store, 4, key), 0x30);
    EXPECT_EQ(MaskOfKind(store, -1, key), 0);
    EXPECT_EQ(MaskOfKind(store, 0, key), 0);

    EXPECT_EQ(MaskOfKind(store, 7, "u_Bob_P_/other"), 0) << "neither mask stored";
    store.WriteInteger("dwOperation_3", 0x44);
    EXPECT_EQ(MaskOfKind(store, 3, key), 0x44);
    EXPECT_EQ(MaskOfKind(store, 7, "u_Bob_P_/other"), 0x44);
}

TEST_F(SchemaTest, TextThatIsNotAnIntegerReadsAsTheDefault) {
    store.WriteString("u_Bob_P_/x_dwOperation", "lots");
    EXPECT_EQ(MaskOfKind(store, 7, "u_Bob_P_/x"), 0);
    EXPECT_EQ(ReadIntegerOr(store, "u_Bob_P_/x_dwOperation", -1), -1);
    EXPECT_EQ(store.ReadString("u_Bob_P_/x_dwOperation", ""), "lots") << "nothing is lost";
}

TEST_F(SchemaTest, MarkerOfStoredKind) {
    EXPECT_EQ(MarkerOfStoredKind(1), 1);
    EXPECT_EQ(MarkerOfStoredKind(3), 3);
    EXPECT_EQ(MarkerOfStoredKind(5), 1);
    EXPECT_EQ(MarkerOfStoredKind(7), 3);
    EXPECT_EQ(MarkerOfStoredKind(4), -1);
    EXPECT_EQ(MarkerOfStoredKind(-1), -1);
    EXPECT_EQ(MarkerOfStoredKind(1024), -1);
}

TEST_F(SchemaTest, DeleteOptionKeysRemovesExactlyTheSixOptions) {
    const std::string key = "u_Bob_P_/data";
    for (const OptionInfo& info : kOptions)
        store.WriteString(key + std::string(info.suffix), "x");
    store.WriteInteger(key, 3);
    store.WriteInteger("u_Bob_P_/data_old", 1);
    store.WriteInteger("u_Bob_P_/data_old_Processes", 7);
    DeleteOptionKeys(store, key);
    for (const OptionInfo& info : kOptions)
        EXPECT_EQ(store.ReadString(key + std::string(info.suffix), "-"), "-");
    EXPECT_EQ(store.ReadInteger(key, 0), 3);
    EXPECT_EQ(store.ReadInteger("u_Bob_P_/data_old", 0), 1);
    EXPECT_EQ(store.ReadInteger("u_Bob_P_/data_old_Processes", 0), 7);
}

}  // namespace
}  // namespace kv
