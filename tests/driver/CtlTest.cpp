#include <sstream>

#include "driver/Ctl.h"
#include "tests/driver/ServiceFixture.h"

namespace kv::driver::test {
namespace {

class CtlTest : public ServiceFixture {
protected:
    int Run(std::vector<std::string> args) {
        out_.str("");
        err_.str("");
        args.insert(args.begin(), {"--device", SocketPath()});
        return RunCtl(args, out_, err_);
    }
    void Load(const std::vector<Request>& adds) {
        auto client = Connect();
        for (const Request& add : adds)
            ASSERT_TRUE(Send(*client, add).success);
    }
    std::ostringstream out_;
    std::ostringstream err_;
};

TEST_F(CtlTest, StatusShowsCountAndActiveStateOfTheCallersTable) {
    const std::string uid = std::to_string(::getuid());
    EXPECT_EQ(Run({"status"}), ctl_exit::kOk);
    EXPECT_EQ(out_.str(), "uid: " + uid +
                              "\nentries: 0\nactive: no\nprotection mounts: 0\nrefused since "
                              "protection started: 0\nenforcement of the entries:\n" +
                              (::getuid() == 0 ? "tables: 0\n" : ""));
    Load({Add("/a/*"), Add("/b/*")});
    auto client = Connect();
    ASSERT_TRUE(Send(*client, code::kActivate).success);
    out_.str("");
    EXPECT_EQ(Run({"status"}), ctl_exit::kOk);
    // A service that is not root mounts nothing, and says so per entry.
    EXPECT_EQ(out_.str(), "uid: " + uid +
                              "\nentries: 2\nactive: yes\nprotection mounts: 0\nrefused since "
                              "protection started: 0\nenforcement of the entries:\n"
                              "  0 /a/*: not enforced: the service is not running as root\n"
                              "  1 /b/*: not enforced: the service is not running as root\n" +
                              (::getuid() == 0 ? "tables: 1\n  uid 0 (root): active, 2 entries, "
                                                 "from entries\n"
                                               : ""));
}

TEST_F(CtlTest, StatusShowsControlCharactersOfEntryTextsEscaped) {
    Load({Add("/a/\x1b]0;owned\x07\n*")});
    EXPECT_EQ(Run({"status"}), ctl_exit::kOk);
    EXPECT_EQ(out_.str().find('\x1b'), std::string::npos) << out_.str();
    EXPECT_NE(out_.str().find("  0 /a/?]0;owned??*: "), std::string::npos) << out_.str();
}

TEST_F(CtlTest, RootAddressesAnotherUidsTable) {
    if (::getuid() != 0)
        GTEST_SKIP() << "needs root";
    out_.str("");
    EXPECT_EQ(Run({"--uid", "4242", "status"}), ctl_exit::kOk);
    EXPECT_EQ(out_.str(),
              "uid: 4242\nentries: 0\nactive: no\nprotection mounts: 0\nrefused since protection "
              "started: 0\nenforcement of the entries:\n");
    Load({Add("/a/*")});  // root's own table
    out_.str("");
    EXPECT_EQ(Run({"--uid", "4242", "entries"}), ctl_exit::kOk);
    EXPECT_EQ(out_.str(), "") << "another uid's table is untouched by root's entries";
    for (const char* bad : {"x", "-1", "4294967295", "12a", ""}) {
        err_.str("");
        EXPECT_EQ(Run({"--uid", bad, "status"}), ctl_exit::kUsage) << bad;
        EXPECT_NE(err_.str().find("--uid needs a number"), std::string::npos) << bad;
    }
}

TEST_F(CtlTest, EntriesAreJsonLines) {
    Request odd = Add("/q\"uote\\/\n*", 0x400, "ExProc");
    odd.record.Processes = "gcc;make";
    Load({Add("/a/*"), odd});
    EXPECT_EQ(Run({"entries"}), ctl_exit::kOk);
    EXPECT_EQ(out_.str(),
              "{\"index\":0,\"dwOperation\":1996848,\"FileMask\":\"/a/*\","
              "\"ExcludeFiles\":\"ExcludeFiles\",\"Processes\":\"*\",\"ExcludeProc\":\"kv\"}\n"
              "{\"index\":1,\"dwOperation\":1024,\"FileMask\":\"/q\\\"uote\\\\/\\u000a*\","
              "\"ExcludeFiles\":\"ExcludeFiles\",\"Processes\":\"gcc;make\","
              "\"ExcludeProc\":\"ExProc\"}\n");
}

TEST(CtlJsonTest, TextsThatAreNoUtf8StillMakeJson) {
    const Entry entry{1, "/caf\xC3\xA9/\xE9*\xC3", "", "\x7F", ""};
    EXPECT_EQ(EntryJson(3, entry),
              "{\"index\":3,\"dwOperation\":1,\"FileMask\":\"/caf\xC3\xA9/\\u00e9*\\u00c3\","
              "\"ExcludeFiles\":\"\",\"Processes\":\"\\u007f\",\"ExcludeProc\":\"\"}");
}

TEST_F(CtlTest, CheckAnswersAllowedOrRefusedWithTheEntry) {
    Load({Add("/home/a/Work/*"), Add("/home/a/Private*", 0x400)});
    EXPECT_EQ(Run({"check", "--op", "Rename", "--process", "vim", "/home/a/Work/f"}),
              ctl_exit::kRefused);
    EXPECT_EQ(out_.str().rfind("refused by entry 0", 0), 0u) << out_.str();
    EXPECT_EQ(Run({"check", "--op", "Read", "--process", "vim", "/home/a/Work/f"}), ctl_exit::kOk);
    EXPECT_EQ(out_.str().rfind("allowed", 0), 0u) << out_.str();
    EXPECT_EQ(Run({"check", "--op", "Read", "--process", "vim", "/home/a/Private/x"}),
              ctl_exit::kRefused);
    EXPECT_NE(out_.str().find("entry 1"), std::string::npos) << out_.str();
    EXPECT_EQ(Run({"check", "--op", "Rename", "--process", "kv.exe", "/home/a/Work/f"}),
              ctl_exit::kOk);
}

/// A service whose engines reach /srv folders with mounts, open events for
/// the root folder, and nothing else.
class CtlCoverageTest : public CtlTest {
protected:
    ServiceOptions Options() override {
        ServiceOptions options = CtlTest::Options();
        options.coverageOf = [](const std::string& folder) -> std::string {
            if (folder.starts_with("/srv/"))
                return "mount " + folder;
            if (folder == "/")
                return std::string(kOpenEventsCoverage) + " (some bits)";
            return "not enforced: " + folder + " is shared by everyone";
        };
        return options;
    }
};

TEST_F(CtlCoverageTest, CheckSaysNotEnforcedWhereNoEngineReachesTheRefusingEntry) {
    Load({Add("/srv/ro/*"), Add("/home/*"), Add("/*.secret", 0x40 | 0x10)});
    auto client = Connect();
    ASSERT_TRUE(Send(*client, code::kActivate).success);
    EXPECT_EQ(Run({"check", "--op", "Rename", "--process", "mv", "/srv/ro/f"}), ctl_exit::kRefused);
    EXPECT_EQ(Run({"check", "--op", "Rename", "--process", "mv", "/home/ann/f"}),
              ctl_exit::kNotEnforced);
    EXPECT_EQ(out_.str().rfind("not enforced (/home is shared by everyone), though entry 1", 0), 0u)
        << out_.str();
    EXPECT_EQ(Run({"check", "--op", "Read", "--process", "cat", "/x.secret"}), ctl_exit::kRefused)
        << "open events enforce reading";
    EXPECT_EQ(Run({"check", "--op", "Rename", "--process", "mv", "/x.secret"}),
              ctl_exit::kNotEnforced)
        << "but not renaming: " << out_.str();
    EXPECT_NE(out_.str().find("open events enforce only"), std::string::npos) << out_.str();
    EXPECT_EQ(Run({"check", "--op", "Read", "--process", "cat", "/home/ann/f"}), ctl_exit::kOk);
}

TEST(CtlCoverageReasonTest, OnlyTheOpenTimeBitsOfOpenEventsAreEnforced) {
    EXPECT_EQ(NotEnforcedReason("mount /srv/ro", 0x10), "");
    EXPECT_EQ(NotEnforcedReason("not enforced: the folder is missing", 0x40),
              "the folder is missing");
    for (const std::uint32_t bit : {0x4u, 0x40u, 0x200u, 0x400u})
        EXPECT_EQ(NotEnforcedReason("open events (x)", bit), "") << bit;
    for (const std::uint32_t bit : {0x8u, 0x10u, 0x20u, 0x80u, 0x100u, 0x800u, 0x100000u})
        EXPECT_NE(NotEnforcedReason("open events (x)", bit), "") << bit;
}

TEST_F(CtlTest, BadCommandLinesAreUsageErrors) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"check", "--op", "Delete", "--process", "vim", "/a"},
        {"check", "--op", "Read", "/a"},
        {"check", "--op", "Read", "--process", "vim"},
        {"status", "extra"},
        {"status", "--bogus"},
        {"check", "--op"},
    };
    for (const auto& args : cases) {
        EXPECT_EQ(Run(args), ctl_exit::kUsage) << (args.empty() ? "" : args[0]);
        EXPECT_NE(err_.str().find("kvctl:"), std::string::npos);
    }
    Run({"check", "--op", "Delete", "--process", "vim", "/a"});
    EXPECT_NE(err_.str().find("DeleteF"), std::string::npos) << "the names are listed";
}

TEST_F(CtlTest, AMissingServiceIsReportedWithItsOwnExitCode) {
    StopService();
    EXPECT_EQ(Run({"status"}), ctl_exit::kNoService);
    EXPECT_NE(err_.str().find("not running"), std::string::npos) << err_.str();
    EXPECT_EQ(out_.str(), "");
}

}  // namespace
}  // namespace kv::driver::test
