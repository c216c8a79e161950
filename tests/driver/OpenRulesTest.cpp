// The open-event rules and the denial log, without fanotify.
#include <gtest/gtest.h>

#include "driver/DenialLog.h"
#include "driver/events/OpenRules.h"

namespace kv::driver::events {
namespace {

TEST(OpenRulesTest, TheResponderDecidesWithTableIndexesAndKnowsWhatCannotMatch) {
    OpenPolicy policy;
    policy.service = 42;
    policy.program = "/opt/kestrava/kv";
    policy.entries[1000] = {{7, {0x400, "*.secret", "keep.secret", "*", "kv"}},
                            {9, {0x40, "/*.plan", "ExcludeFiles", "vim", ""}}};
    policy.entries[1001] = {{0, {0x400, "*kv.dat", "ExcludeFiles", "*", "kv"}}};
    OpenPolicy copy;
    ASSERT_TRUE(DecodeOpenPolicy(EncodeOpenPolicy(policy), &copy));
    EXPECT_EQ(copy.service, 42);
    EXPECT_EQ(copy.program, policy.program);
    ASSERT_EQ(copy.entries.size(), 2u);
    EXPECT_EQ(copy.entries[1000], policy.entries[1000]);
    EXPECT_FALSE(DecodeOpenPolicy(EncodeOpenPolicy(policy).substr(0, 30), &copy))
        << "a message cut short";

    EXPECT_TRUE(policy.WatchesProgramFiles());
    EXPECT_TRUE(policy.WatchesFileSystems());
    const OpenRules rules(policy);
    EXPECT_EQ(rules.Decide(1000, 0x44, "/home/a/x.secret", "/usr/bin/cat"), 7u);
    EXPECT_EQ(rules.Decide(1000, 0x44, "/home/a/keep.secret", "/usr/bin/cat"), kAllowed);
    EXPECT_EQ(rules.Decide(1000, 0x44, "/srv/b.plan", "/usr/bin/vim"), 9u);
    EXPECT_EQ(rules.Decide(1000, 0x44, "/srv/b.plan", "/usr/bin/cat"), kAllowed);
    EXPECT_EQ(rules.Decide(1002, 0x44, "/home/a/x.secret", "/usr/bin/cat"), kAllowed)
        << "a uid without a table";
    // Whoever opens it and whatever is excluded, these could be refused to someone:
    EXPECT_TRUE(rules.CouldMatch("/home/a/keep.secret"));
    EXPECT_TRUE(rules.CouldMatch("/srv/b.plan"));
    EXPECT_TRUE(rules.CouldMatch("/opt/kestrava/kv.dat"));
    EXPECT_FALSE(rules.CouldMatch("/home/a/notes.txt"));

    OpenPolicy own;
    own.entries[5] = {{0, {0x1E7830, "*/kv", "ExcludeFiles", "*", "ExProc"}}};
    EXPECT_TRUE(own.WatchesProgramFiles());
    EXPECT_FALSE(own.WatchesFileSystems()) << "the program's own entries watch its files only";
}

TEST(DenialLogTest, TheRingKeepsTheLatestAndTheSystemLogIsRateLimited) {
    std::vector<std::string> lines;
    DenialLog log([&lines](const std::string& line) { lines.push_back(line); });
    for (int i = 0; i < 10000; ++i) {
        Denial d;
        d.uid = i % 2 ? 1000 : 1001;
        d.path = "/srv/" + std::to_string(i);
        d.operation = 0x20;
        log.Add(d);
    }
    const std::vector<Denial> kept = log.After(0, static_cast<uid_t>(-1));
    ASSERT_EQ(kept.size(), DenialLog::kCapacity);
    EXPECT_EQ(kept.back().sequence, 10000u);
    EXPECT_EQ(kept.front().sequence, 10000u - DenialLog::kCapacity + 1);
    EXPECT_EQ(log.After(9990, 1000).size(), 5u) << "after a sequence, one uid's";
    EXPECT_EQ(log.CountOf(1000), 5000u);
    log.ResetCount(1000);
    EXPECT_EQ(log.CountOf(1000), 0u);
    EXPECT_EQ(log.CountOf(1001), 5000u);
    // A burst, then nothing until the rate allows more.
    EXPECT_GE(lines.size(), static_cast<std::size_t>(DenialLog::kBurst));
    EXPECT_LT(lines.size(), static_cast<std::size_t>(DenialLog::kBurst) + 20);
    EXPECT_EQ(log.Suppressed() + lines.size(), 10000u);
    EXPECT_NE(lines.front().find("refused DeleteF of /srv/0 to uid 1001"), std::string::npos)
        << lines.front();

    Denial longPath;
    longPath.path = std::string(5000, 'x');
    log.Add(longPath);
    EXPECT_EQ(log.After(10000, static_cast<uid_t>(-1)).front().path.size(),
              DenialLog::kMaxPath + 3);
}

}  // namespace
}  // namespace kv::driver::events
