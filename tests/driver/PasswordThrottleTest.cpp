#include "driver/PasswordThrottle.h"

#include <gtest/gtest.h>

#include "driver/Policy.h"

namespace kv::driver {
namespace {

using namespace std::chrono_literals;

TEST(PasswordThrottleTest, EachWrongTryDoublesTheWaitOfThatUidUpToTheLongest) {
    PasswordThrottle throttle;
    const auto t0 = PasswordThrottle::Clock::now();
    EXPECT_LE(throttle.NextTry(1000), t0) << "a first try is looked at at once";
    EXPECT_EQ(throttle.Wrong(1000, t0), t0 + 500ms);
    EXPECT_EQ(throttle.Wrong(1000, t0), t0 + 1000ms);
    EXPECT_EQ(throttle.Wrong(1000, t0), t0 + 2000ms);
    for (int i = 0; i < 40; ++i)
        throttle.Wrong(1000, t0);
    EXPECT_EQ(throttle.NextTry(1000), t0 + PasswordThrottle::kLongestDelay);
    EXPECT_LE(throttle.NextTry(1001), t0) << "other uids wait for nothing";
    throttle.Right(1000);
    EXPECT_LE(throttle.NextTry(1000), t0);
    EXPECT_EQ(throttle.Wrong(1000, t0), t0 + 500ms) << "a right try forgets the count";
}

TEST(PolicyProcessTest, OnlyTheProgramsOwnFileIsTheProgram) {
    const Policy policy({}, {}, 1, "/opt/kestrava/kv");
    EXPECT_EQ(policy.ProcessOf("/opt/kestrava/kv", 0), "/opt/kestrava/kv");
    EXPECT_EQ(policy.ProcessOf("/opt/kestrava/kv", 1000), kProgramImpostor)
        << "a user's run of the program could carry code of the user's";
    EXPECT_EQ(policy.ProcessOf("/home/ann/kv", 0), kProgramImpostor);
    EXPECT_EQ(policy.ProcessOf("/home/ann/kv.sh", 0), kProgramImpostor) << "extensions are dropped";
    EXPECT_EQ(policy.ProcessOf("/usr/bin/cat", 1000), "/usr/bin/cat");
    EXPECT_EQ(ProcessBaseName(kProgramImpostor), kProgramImpostor)
        << "the impostor's name never reduces to the program's";
    EXPECT_EQ(Policy().ProcessOf("/opt/kestrava/kv", 0), kProgramImpostor)
        << "without a program file nobody is the program";
}

}  // namespace
}  // namespace kv::driver
