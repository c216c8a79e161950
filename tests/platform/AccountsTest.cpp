#include "platform/Accounts.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/TempDir.h"

namespace kv::platform {
namespace {

using kv::test::TempDir;

std::vector<std::string> Names(const std::vector<Account>& accounts) {
    std::vector<std::string> names;
    for (const auto& a : accounts)
        names.push_back(a.name);
    return names;
}

TEST(Accounts, PasswdFileGivesRootAndEveryLoginUser) {
    TempDir dir;
    std::filesystem::create_directory(dir.File("alice"));
    std::filesystem::create_directory(dir.File("bob"));
    std::filesystem::create_directory(dir.File("svc"));
    const std::string h = dir.Path() + "/";
    kv::test::WriteFile(dir.File("passwd"),
                        "root:x:0:0:root:/root:/bin/bash\n"
                        "daemon:x:1:1::" +
                            h +
                            "svc:/bin/sh\n"  // system UID
                            "alice:x:1000:1000:Alice:" +
                            h +
                            "alice:/bin/bash\n"
                            "gone:x:1001:1001::" +
                            h +
                            "missing:/bin/bash\n"  // no home folder yet: listed all the same
                            "nobody:x:65534:65534::" +
                            h +
                            "svc:/usr/sbin/nologin\n"
                            "locked:x:1002:1002::" +
                            h +
                            "bob:/bin/false\n"
                            "broken line without fields\n"
                            "neg:x:-5:0::" +
                            h +
                            "bob:/bin/sh\n"
                            "ALICE:x:1003:1003::" +
                            h +
                            "bob:/bin/sh\n"  // same name again
                            "bob:x:1004:1004::" +
                            h + "bob:/bin/zsh");  // no final newline
    const auto accounts = AccountsFromPasswdFile(dir.File("passwd"));
    EXPECT_EQ(Names(accounts), (std::vector<std::string>{"root", "alice", "gone", "bob"}));
    EXPECT_EQ(accounts[1].home, h + "alice");
}

TEST(Accounts, UnreadablePasswdFileGivesNone) {
    TempDir dir;
    EXPECT_TRUE(AccountsFromPasswdFile(dir.File("none")).empty());
}

TEST(Accounts, SystemAccountsIncludeRoot) {
    const auto names = Names(SystemAccounts());
    EXPECT_NE(std::find(names.begin(), names.end(), "root"), names.end());
}

}  // namespace
}  // namespace kv::platform
