#include "settings/Encript.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "settings/StoreCodec.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempDir.h"

namespace kv {
namespace {

using test::FileSizeLimit;

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const std::string kMarker(TEncriptor::kMarker);

// Reference codec written straight from the file form, sharing nothing with the store.
std::string RefEncode(const std::string& text) {
    std::string once, twice;
    char buf[3];
    for (unsigned char c : text) {
        std::snprintf(buf, sizeof buf, "%02X", c ^ 0xB4);
        once += buf;
    }
    for (unsigned char c : once) {
        std::snprintf(buf, sizeof buf, "%02X", c ^ 0xB4);
        twice += buf;
    }
    std::string out;
    for (size_t i = 0; i < twice.size(); ++i) {
        if (i > 0 && i % 80 == 0)
            out += "\r\n";
        out += static_cast<char>(twice[i] + static_cast<char>(i % 10));
    }
    if (!twice.empty())
        out += "\r\n";
    return out;
}

std::string RefDecode(const std::string& file) {
    std::string stream;
    for (char c : file) {
        if (c != '\r' && c != '\n')
            stream += c;
    }
    for (size_t i = 0; i < stream.size(); ++i)
        stream[i] = static_cast<char>(stream[i] - i % 10);
    for (int pass = 0; pass < 2; ++pass) {
        std::string out;
        for (size_t i = 0; i < stream.size(); i += 2) {
            out += static_cast<char>(std::stoi(stream.substr(i, 2), nullptr, 16) ^ 0xB4);
        }
        stream = out;
    }
    return stream;
}

std::string ReadPlainLines(const TEncriptor& store) {
    std::string all;
    for (int i = 0; i < store.EntryCount(); ++i)
        all += store.EntryName(i) + "|";
    return all;
}

TEST(SettingsFileForm, NewStoreCreatesFileWithMarkerEntry) {
    TempDir dir;
    const std::string path = dir.File("kv.dat");
    TEncriptor store(path, true);
    EXPECT_FALSE(store.Modified());
    EXPECT_EQ(store.ReadString(kMarker, "x"), kMarker);
    EXPECT_EQ(store.ReadString("Password", "none"), "none");
    EXPECT_EQ(store.EntryCount(), 1);
    const std::string file = ReadFile(path);
    EXPECT_EQ(RefDecode(file), kMarker + "=" + kMarker + "\r\n");
    EXPECT_EQ(file, RefEncode(kMarker + "=" + kMarker + "\r\n"));
}

TEST(SettingsFileForm, WrittenFileMatchesReferenceEncoder) {
    TempDir dir;
    const std::string path = dir.File("kv.dat");
    {
        TEncriptor store(path, true);
        store.WriteString("Password", "SECRET");
        store.WriteString("u_BOB_P_/home/bob", "1");
        store.WriteString("Eq", "a=b = c ");
        ASSERT_TRUE(store.Flush(true));
    }
    const std::string file = ReadFile(path);
    const std::string expected = kMarker + "=" + kMarker + "\r\nPassword=SECRET\r\n" +
                                 "u_BOB_P_/home/bob=1\r\nEq=a=b = c \r\n";
    EXPECT_EQ(RefDecode(file), expected);
    EXPECT_EQ(file, RefEncode(expected));
    // Every character is an upper-case hex digit plus an offset of 0 to 9.
    for (char c : file) {
        if (c == '\r' || c == '\n')
            continue;
        EXPECT_GE(c, '0');
        EXPECT_LE(c, 'O');
    }
}

TEST(SettingsFileForm, LineBreaksAtEightyCharacters) {
    // 18 bytes of line + CR LF = 20 bytes of text: one line of exactly 80 characters.
    EXPECT_EQ(codec::EncodeFile(std::string(18, 'x') + "\r\n").size(), 82u);
    const std::string file21 = codec::EncodeFile(std::string(19, 'x') + "\r\n");
    ASSERT_EQ(file21.size(), 80u + 2 + 4 + 2);
    EXPECT_EQ(file21.substr(80, 2), "\r\n");
    EXPECT_EQ(file21.substr(86), "\r\n");
    EXPECT_EQ(codec::EncodeFile(""), "");
}

TEST(SettingsFileForm, LoadsFilesOfTheReferenceEncoder) {
    TempDir dir;
    const std::string path = dir.File("kv.dat");
    const std::string text20 = std::string("A=") + std::string(16, 'v') + "\r\n";  // 20 bytes
    const std::string text21 = std::string("B=") + std::string(17, 'w') + "\r\n";  // 21 bytes
    for (const std::string& text : {kMarker + "=" + kMarker + "\r\n", text20, text21,
                                    std::string("Key=va=lue with  spaces \r\nOther=x\r\n")}) {
        WriteFile(path, RefEncode(text));
        TEncriptor store(path, true);
        EXPECT_EQ(codec::JoinLines(codec::SplitLines(text)), text);
        std::vector<std::string> lines = codec::SplitLines(text);
        ASSERT_EQ(store.EntryCount(), static_cast<int>(lines.size()));
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::string name = lines[i].substr(0, lines[i].find('='));
            EXPECT_EQ(store.EntryName(static_cast<int>(i)), name);
        }
    }
    WriteFile(path, RefEncode("Key=va=lue with  spaces \r\n"));
    TEncriptor store(path, true, NameCase::Folded);
    EXPECT_EQ(store.ReadString("key", ""), "va=lue with  spaces");
}

TEST(SettingsFileForm, EmptyStoreIsEmptyFileAndBack) {
    TempDir dir;
    const std::string path = dir.File("kv.dat");
    {
        TEncriptor store(path, true);
        store.DeleteKeysWithPrefix("");
        EXPECT_EQ(store.EntryCount(), 0);
        ASSERT_TRUE(store.Flush(true));
    }
    EXPECT_EQ(ReadFile(path), "");
    TEncriptor again(path, true);
    EXPECT_EQ(again.EntryCount(), 0);
}

TEST(SettingsFileForm, PlainModeKeepsLinesAsText) {
    TempDir dir;
    const std::string path = dir.File("plain.ini");
    {
        TEncriptor store(path, false);
        store.WriteInteger("Count", -12);
        ASSERT_TRUE(store.Flush(true));
    }
    EXPECT_EQ(ReadFile(path), kMarker + "=" + kMarker + "\r\nCount=-12\r\n");
    TEncriptor again(path, false, NameCase::Folded);
    EXPECT_EQ(again.ReadInteger("count", 0), -12);
}

TEST(SettingsFileForm, DamagedFilesLoadWithoutFailing) {
    TempDir dir;
    const std::string path = dir.File("kv.dat");
    const std::vector<std::string> damaged = {
        "zz\x01\xff~~~~",  // characters outside "0"-"O"
        std::string("41\0\0\0"
                    "42",
                    7),                         // NUL bytes
        std::string(500, '9') + "\r\n",         // a line longer than 80
        "\r\n\r\n\n\r",                         // line ends only
        RefEncode("Good=1\r\n").substr(0, 13),  // truncated
        RefEncode("Good=1\r\n") + "QQ",         // trailing garbage
    };
    for (const std::string& data : damaged) {
        WriteFile(path, data);
        TEncriptor store(path, true);
        EXPECT_FALSE(store.Modified());
        for (int i = 0; i < store.EntryCount(); ++i)
            (void)store.EntryName(i);
        // The store stays usable: a write survives a flush and a reload.
        store.WriteString("After", "ok");
        ASSERT_TRUE(store.Flush(true));
        TEncriptor reread(path, true);
        EXPECT_EQ(reread.ReadString("After", ""), "ok");
    }
    WriteFile(path, "");
    EXPECT_EQ(TEncriptor(path, true).EntryCount(), 0);
    // Odd length: the lone "7" gives 0xB3, which is no hex group in the second pass.
    WriteFile(path, "7");
    TEncriptor odd(path, true);
    ASSERT_EQ(odd.EntryCount(), 1);
    EXPECT_EQ(odd.EntryName(0), "");
    // Trailing garbage after a good file leaves the good entry readable.
    WriteFile(path, RefEncode("Good=1\r\n") + "QQ");
    EXPECT_EQ(TEncriptor(path, true).ReadString("Good", ""), "1");
}

TEST(SettingsFileForm, NonHexGroupsDecodeAsTheMaskByte) {
    // "GG" after offsets is not hexadecimal: it reads as 0, giving 0xB4 after the first pass.
    const std::string decoded = codec::DecodeFile("GH");  // offsets 0 and 1: "GG"
    ASSERT_EQ(decoded.size(), 1u);
    // First pass gives 0xB4; the second pass reads the lone group "\xB4" as invalid: 0 ^ 0xB4.
    EXPECT_EQ(static_cast<unsigned char>(decoded[0]), 0xB4);
}

TEST(SettingsFileForm, UnreadableFileGivesEmptyStoreAndIsNotWrittenOver) {
    TempDir dir;
    // A folder in place of the file exists but cannot be read as a file.
    const std::string path = dir.File("kv.dat");
    std::filesystem::create_directory(path);
    TEncriptor store(path, true);
    EXPECT_EQ(store.EntryCount(), 0);
    EXPECT_EQ(store.ReadString(kMarker, "d"), "d");
    store.WriteString("New", "1");
    EXPECT_FALSE(store.Flush(true));
    EXPECT_NE(store.LastError().find("could not be read"), std::string::npos) << store.LastError();
    EXPECT_TRUE(store.Modified());
}

TEST(SettingsFileForm, MissingFolderGivesEmptyStore) {
    TEncriptor store("/nonexistent-kestrava-folder/kv.dat", true);
    EXPECT_EQ(store.EntryCount(), 0);
    EXPECT_FALSE(store.Modified());
}

// The Windows path style's store: names ignore case.
TEST(SettingsReads, FoldedNamesIgnoreCaseAcrossReload) {
    TempDir dir;
    const std::string path = dir.File("kv.dat");
    {
        TEncriptor store(path, true, NameCase::Folded);
        store.WriteString("HOTKEY", "Ctrl+Alt+K");
        ASSERT_TRUE(store.Flush(true));
    }
    TEncriptor store(path, true, NameCase::Folded);
    EXPECT_EQ(store.ReadString("hotkey", ""), "Ctrl+Alt+K");
    // The same file read with exact names: one entry, under its own spelling.
    TEncriptor exact(path, true, NameCase::Exact);
    EXPECT_EQ(exact.ReadString("hotkey", "none"), "none");
    EXPECT_EQ(exact.ReadString("HOTKEY", "none"), "Ctrl+Alt+K");
}

// Paths on this system are case-exact, and protection keys hold paths.
TEST(SettingsReads, NamesDifferingOnlyInCaseAreTwoEntriesOnThisSystem) {
    TempDir dir;
    const std::string path = dir.File("kv.dat");
    // A file holding both keys loads both.
    WriteFile(path, RefEncode("u_Bob_P_/x/Docs=2\r\nu_Bob_P_/x/docs=1\r\n"));
    TEncriptor store(path, true);
    EXPECT_EQ(store.ReadInteger("u_Bob_P_/x/Docs", 0), 2);
    EXPECT_EQ(store.ReadInteger("u_Bob_P_/x/docs", 0), 1);
    EXPECT_EQ(store.ReadInteger("U_BOB_P_/X/DOCS", 0), 0);
    store.WriteInteger("u_Bob_P_/x/docs", 3);
    EXPECT_EQ(ReadPlainLines(store), "u_Bob_P_/x/Docs|u_Bob_P_/x/docs|");
    EXPECT_EQ(store.ReadInteger("u_Bob_P_/x/Docs", 0), 2);
    store.WriteString("u_Bob_P_/x/docs_Processes", "x.exe");
    store.DeleteKeysWithPrefix("u_Bob_P_/x/docs");
    store.DeleteKey("u_Bob_P_/x/DOCS");
    EXPECT_EQ(ReadPlainLines(store), "u_Bob_P_/x/Docs|");
    ASSERT_TRUE(store.Flush(true));
    TEncriptor again(path, true);
    EXPECT_EQ(again.ReadInteger("u_Bob_P_/x/Docs", 0), 2);
    EXPECT_EQ(again.EntryCount(), 1);
}

TEST(SettingsReads, TrimmingAndDefaults) {
    TempDir dir;
    TEncriptor store(dir.File("kv.dat"), true);
    store.WriteString("Spaces", "  a b\t ");
    EXPECT_EQ(store.ReadString("Spaces", ""), "a b\t");
    store.WriteString("Empty", "");
    EXPECT_EQ(store.ReadString("Empty", "default"), "");
    EXPECT_EQ(store.ReadString("Missing", "default"), "default");
    // Stored untrimmed: the same text with other spaces is a change.
    store.Flush(true);
    store.WriteString("Spaces", "a b\t");
    EXPECT_TRUE(store.Modified());
}

TEST(SettingsReads, Integers) {
    TempDir dir;
    TEncriptor store(dir.File("kv.dat"), true);
    store.WriteInteger("Neg", -2147483647 - 1);
    EXPECT_EQ(store.ReadInteger("Neg", 0), -2147483647 - 1);
    EXPECT_EQ(store.ReadInteger("Missing", 42), 42);
    store.WriteString("Blank", "   ");
    EXPECT_EQ(store.ReadInteger("Blank", 7), 7);
    store.WriteString("Padded", " 12 ");
    EXPECT_EQ(store.ReadInteger("Padded", 0), 12);
    for (const char* bad : {"12a", "0x10", "99999999999", "+", "1 2", "--1"}) {
        store.WriteString("Bad", bad);
        try {
            store.ReadInteger("Bad", 0);
            ADD_FAILURE() << bad << " was accepted";
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()),
                      "'" + std::string(TrimSpaces(bad)) + "' is not a valid integer value");
        }
    }
}

TEST(SettingsReads, Booleans) {
    TempDir dir;
    TEncriptor store(dir.File("kv.dat"), true);
    const std::vector<std::pair<std::string, bool>> cases = {
        {"0", false}, {"2", false}, {"01", false}, {" 1", true}, {"1 ", true}, {"1", true}};
    for (const auto& [value, expected] : cases) {
        store.WriteString("B", value);
        EXPECT_EQ(store.ReadBool("B", !expected), expected) << "'" << value << "'";
    }
    store.WriteString("E", "");
    EXPECT_FALSE(store.ReadBool("E", true));
    EXPECT_TRUE(store.ReadBool("Missing", true));
    store.WriteBool("W", true);
    EXPECT_EQ(store.ReadString("W", ""), "1");
}

// Written against a store that folds names, as the Windows path style's does.
TEST(SettingsWrites, WriteStringRules) {
    TempDir dir;
    TEncriptor store(dir.File("kv.dat"), true, NameCase::Folded);
    store.WriteString("Key", "one");
    EXPECT_TRUE(store.Modified());
    ASSERT_TRUE(store.Flush(false));
    EXPECT_FALSE(store.Modified());
    // Same value: nothing changes, Flush(false) writes nothing.
    store.WriteString("KEY", "one");
    EXPECT_FALSE(store.Modified());
    EXPECT_FALSE(store.Flush(false));
    // New value in place, with the name spelled as given.
    store.WriteString("KEY", "two");
    EXPECT_EQ(store.EntryName(1), "KEY");
    EXPECT_EQ(store.EntryCount(), 2);
    // Empty value on an existing name removes the entry.
    store.WriteString("key", "");
    EXPECT_EQ(store.EntryCount(), 1);
    EXPECT_EQ(store.ReadString("Key", "gone"), "gone");
}

TEST(SettingsWrites, DuplicateNamesUseTheFirstLine) {
    TempDir dir;
    const std::string path = dir.File("kv.dat");
    WriteFile(path, RefEncode("A=1\r\nnoequals\r\na=2\r\nB=3\r\n"));
    TEncriptor store(path, true, NameCase::Folded);
    EXPECT_EQ(store.ReadString("A", ""), "1");
    EXPECT_EQ(store.EntryName(1), "");
    EXPECT_EQ(store.EntryCount(), 4);
    store.DeleteKey("A");
    EXPECT_EQ(store.ReadString("A", ""), "2");
    store.WriteString("a", "5");
    EXPECT_EQ(ReadPlainLines(store), "|a|B|");
    store.DeleteKey("A");
    store.DeleteKey("A");
    EXPECT_EQ(store.ReadString("A", "none"), "none");
    EXPECT_EQ(store.ReadString("B", ""), "3");
}

TEST(SettingsWrites, DeleteKeysWithPrefix) {
    TempDir dir;
    TEncriptor store(dir.File("kv.dat"), true, NameCase::Folded);
    store.WriteBool("CurUsers_ALICE", true);
    store.WriteBool("curusers_bob", true);
    store.WriteBool("X_CurUsers_C", true);
    store.WriteString("CurUsers", "short");
    ASSERT_TRUE(store.Flush(true));
    store.DeleteKeysWithPrefix("CurUsers_");
    EXPECT_TRUE(store.Modified());
    EXPECT_EQ(store.ReadString("CurUsers_ALICE", "-"), "-");
    EXPECT_EQ(store.ReadString("curusers_bob", "-"), "-");
    EXPECT_EQ(store.ReadString("X_CurUsers_C", "-"), "1");
    EXPECT_EQ(store.ReadString("CurUsers", "-"), "short");
    // A prefix longer than the name reaches into "=" and the value.
    store.DeleteKeysWithPrefix("CURUSERS=SH");
    EXPECT_EQ(store.ReadString("CurUsers", "-"), "-");
    // Lookups stay right after many deletions and appends.
    for (int i = 0; i < 500; ++i)
        store.WriteInteger("K" + std::to_string(i), i);
    for (int i = 0; i < 500; i += 2)
        store.DeleteKey("k" + std::to_string(i));
    store.DeleteKeysWithPrefix("K1");
    int keptCount = 0;
    for (int i = 0; i < 500; ++i) {
        const bool kept = i % 2 == 1 && std::to_string(i)[0] != '1';
        keptCount += kept;
        EXPECT_EQ(store.ReadInteger("K" + std::to_string(i), -1), kept ? i : -1) << i;
    }
    int positions = 0;
    for (int i = 0; i < store.EntryCount(); ++i) {
        if (store.EntryName(i).rfind("K", 0) == 0)
            ++positions;
    }
    EXPECT_EQ(positions, keptCount);
}

TEST(SettingsWrites, EntryOrderSurvivesFlushAndLoad) {
    TempDir dir;
    const std::string path = dir.File("kv.dat");
    {
        TEncriptor store(path, true);
        for (int i = 0; i < 50; ++i)
            store.WriteInteger("N" + std::to_string(i), i);
        store.DeleteKey("N10");
        store.WriteString("N20", "changed");
        ASSERT_TRUE(store.Flush(true));
    }
    TEncriptor store(path, true, NameCase::Folded);
    ASSERT_EQ(store.EntryCount(), 50);
    EXPECT_EQ(store.EntryName(10), "N9");
    EXPECT_EQ(store.EntryName(11), "N11");
    EXPECT_EQ(store.ReadString("n20", ""), "changed");
}

TEST(SettingsSave, FailedWriteKeepsOldFileAndModifiedFlag) {
    TempDir dir;
    const std::string path = dir.File("kv.dat");
    TEncriptor store(path, true);
    store.WriteString("Password", "OLD");
    ASSERT_TRUE(store.Flush(true));
    const std::string before = ReadFile(path);

    store.WriteString("Big", std::string(10000, 'x'));
    {
        FileSizeLimit limit(1024);
        EXPECT_FALSE(store.Flush(true));
    }
    EXPECT_TRUE(store.Modified());
    EXPECT_FALSE(store.LastError().empty());
    EXPECT_EQ(ReadFile(path), before);
    // No temporary file is left behind.
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path())) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1);
    // Once the disk accepts the write, the flag clears.
    EXPECT_TRUE(store.Flush(true));
    EXPECT_FALSE(store.Modified());
    TEncriptor reread(path, true);
    EXPECT_EQ(reread.ReadString("Big", "").size(), 10000u);
}

TEST(SettingsSave, FolderRemovedAfterLoadFailsFlush) {
    TempDir dir;
    const std::string sub = dir.File("gone");
    std::filesystem::create_directory(sub);
    TEncriptor store(sub + "/kv.dat", true);
    store.WriteString("A", "1");
    std::filesystem::remove_all(sub);
    EXPECT_FALSE(store.Flush(true));
    EXPECT_TRUE(store.Modified());
}

TEST(SettingsSave, ReleaseWritesNothing) {
    TempDir dir;
    const std::string path = dir.File("kv.dat");
    { TEncriptor store(path, true); }
    const std::string created = ReadFile(path);
    {
        TEncriptor store(path, true);
        store.WriteString("Unsaved", "1");
    }
    EXPECT_EQ(ReadFile(path), created);
}

}  // namespace
}  // namespace kv
