// kvset as scripts use it: lines of standard input into a settings file.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "settings/Encript.h"
#include "tests/support/TempDir.h"

namespace kv {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

class Kvset : public ::testing::Test {
protected:
    /// Runs kvset on `file` with `input` as standard input; its exit code.
    int Run(const std::string& file, const std::string& input) {
        const std::string in = dir_.File("input");
        WriteFile(in, input);
        const std::string command = std::string("'") + KVSET_PATH + "' '" + file + "' < '" + in +
                                    "' 2>'" + dir_.File("errors") + "'";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    TempDir dir_;
};

TEST_F(Kvset, WritesEveryLineIntoANewFileThatTheStoreReads) {
    const std::string file = dir_.File("kv.dat");
    ASSERT_EQ(Run(file, "FirstTime=0\nu_alice_P_/srv/a=b=c\r\n\nCurUsers_alice=1\n"), 0);

    const std::string raw = ReadFile(file);
    EXPECT_EQ(raw.find("FirstTime"), std::string::npos) << "the file is written in plain text";
    TEncriptor store(file, true);
    EXPECT_EQ(store.EntryCount(), 4);  // the marker of a new file and the three lines
    EXPECT_EQ(store.EntryName(0), std::string(TEncriptor::kMarker));
    EXPECT_EQ(store.EntryName(1), "FirstTime");
    EXPECT_FALSE(store.ReadBool("FirstTime", true));
    EXPECT_EQ(store.ReadString("u_alice_P_/srv/a", ""), "b=c");
    EXPECT_TRUE(store.ReadBool("CurUsers_alice", false));
}

TEST_F(Kvset, KeepsTheOtherEntriesAndReplacesTheNamedOnes) {
    const std::string file = dir_.File("kv.dat");
    {
        TEncriptor store(file, true);
        store.WriteString("A", "1");
        store.WriteString("B", "2");
        ASSERT_TRUE(store.Flush(true));
    }
    ASSERT_EQ(Run(file, "B=3\nC=4\n"), 0);

    TEncriptor store(file, true);
    ASSERT_EQ(store.EntryCount(), 4);
    EXPECT_EQ(store.EntryName(1), "A");
    EXPECT_EQ(store.EntryName(2), "B");
    EXPECT_EQ(store.EntryName(3), "C");
    EXPECT_EQ(store.ReadString("A", ""), "1");
    EXPECT_EQ(store.ReadString("B", ""), "3");
    EXPECT_EQ(store.ReadString("C", ""), "4");
}

TEST_F(Kvset, ALineWithoutANameOrEqualsSignWritesNothing) {
    const std::string file = dir_.File("kv.dat");
    {
        TEncriptor store(file, true);
        store.WriteString("A", "1");
        ASSERT_TRUE(store.Flush(true));
    }
    const std::string before = ReadFile(file);
    EXPECT_EQ(Run(file, "A=2\nno equals sign\n"), 2);
    EXPECT_EQ(ReadFile(file), before);
    EXPECT_NE(ReadFile(dir_.File("errors")).find("line 2"), std::string::npos);
    EXPECT_EQ(Run(file, "=2\n"), 2);
    EXPECT_EQ(ReadFile(file), before);

    const std::string missing = dir_.File("new.dat");
    EXPECT_EQ(Run(missing, "B=1\n=x\n"), 2);
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(Kvset, AFileThatCannotBeWrittenEndsWithOne) {
    EXPECT_EQ(Run(dir_.File("no/such/folder/kv.dat"), "A=1\n"), 1);
    EXPECT_NE(ReadFile(dir_.File("errors")).find("could not be written"), std::string::npos);
}

}  // namespace
}  // namespace kv
