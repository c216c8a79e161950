// Which uids count as login accounts, from texts in the forms of
// /etc/login.defs, /etc/shells and /etc/passwd.
#include "platform/LoginAccounts.h"

#include <gtest/gtest.h>

namespace kv::platform {
namespace {

TEST(LoginAccounts, TheUidRangeComesFromLoginDefsWithDefaultsForTheRest) {
    const UidRange range = UidRangeOf(
        "# UID_MIN 5\n"
        "UID_MIN\t\t\t 2000\n"
        "SYS_UID_MAX  999\n"
        "UID_MAX 3000x\n"  // unreadable: the default stays
        "UID_MAXIMUM 7\n");
    EXPECT_EQ(range.min, 2000u);
    EXPECT_EQ(range.max, 60000u);
    const UidRange empty = UidRangeOf("");
    EXPECT_EQ(empty.min, 1000u);
    EXPECT_EQ(empty.max, 60000u);
}

TEST(LoginAccounts, OnlyAccountsInTheRangeWithAListedShellCount) {
    const std::vector<std::string> shells =
        ShellsOf("# /etc/shells: valid login shells\n/bin/sh\n\n  /bin/bash  \n");
    EXPECT_EQ(shells, (std::vector<std::string>{"/bin/sh", "/bin/bash"}));
    const std::vector<PasswdEntry> entries = PasswdEntriesOf(
        "root:x:0:0:root:/root:/bin/bash\n"
        "ann:x:1000:1000::/home/ann:/bin/bash\n"
        "svc:x:1001:1001::/srv:/usr/sbin/nologin\n"
        "carl:x:60000:60000::/home/carl:/bin/sh\n"
        "dora:x:60001:60001::/home/dora:/bin/sh\n"
        "nobody:x:65534:65534::/nonexistent:/bin/sh\n"
        "ann:x:1000:1000::/home/ann2:/bin/sh\n"  // the same uid twice counts once
        "broken:x:12a:1::/:/bin/sh\n"
        "short:x:1005:1005\n");
    ASSERT_EQ(entries.size(), 7u) << "the lines that are not passwd entries are left out";
    EXPECT_EQ(LoginUids(entries, UidRange{}, shells), (std::vector<uid_t>{1000, 60000}));
    EXPECT_EQ(LoginUids(entries, UidRange{0, 70000}, {"/bin/sh"}),
              (std::vector<uid_t>{1000, 60000, 60001, 65534}));
}

TEST(LoginAccounts, TheSystemDatabaseAnswersForRoot) {
    EXPECT_EQ(UidOfAccount("root"), uid_t{0});
    EXPECT_EQ(UidOfAccount("no such account here"), std::nullopt);
    for (uid_t uid : SystemLoginUids())
        EXPECT_NE(uid, 0u) << "root is never in the login range";
}

}  // namespace
}  // namespace kv::platform
