// The window's watch over the service: a service started later is reached,
// one that goes away is noticed, and tries grow apart while none answers.
#include <gtest/gtest.h>

#include <vector>

#include "enforce/AI.h"
#include "enforce/ServiceWatch.h"
#include "tests/enforce/EnforceFixture.h"

namespace kv {
namespace {

using namespace std::chrono_literals;
using Change = TServiceWatch::Change;

TEST(ServiceWatch, TriesGrowApartWhileNoServiceAnswersAndComeSoonAfterOneLeft) {
    std::vector<TServiceWatch::Clock::duration> tries;
    const TServiceWatch::Clock::time_point start{};
    TServiceWatch::Clock::time_point now = start;
    bool up = false;
    TServiceWatch watch(
        [&] {
            tries.push_back(now - start);
            return up;
        },
        false, 1s, 4s);
    for (; now < start + 12s; now += 500ms)
        EXPECT_EQ(watch.Poll(now), Change::None);
    const std::vector<TServiceWatch::Clock::duration> expected{0s, 1s, 3s, 7s, 11s};
    EXPECT_EQ(tries, expected);
    up = true;
    for (; now < start + 15s + 500ms && watch.Poll(now) == Change::None; now += 500ms) {
    }
    EXPECT_EQ(now, start + 15s);
    EXPECT_TRUE(watch.Answers());
    // While it answers no try is made; a failed request says it left.
    EXPECT_EQ(watch.Poll(now + 1h), Change::None);
    EXPECT_EQ(tries.size(), 6u);
    EXPECT_EQ(watch.Observe(true, now), Change::None);
    EXPECT_EQ(watch.Observe(false, now), Change::Gone);
    EXPECT_EQ(watch.Observe(false, now), Change::None);
    EXPECT_EQ(watch.NextTry(), now + 1s);
    EXPECT_EQ(watch.Poll(now + 1s), Change::Appeared);
}

TEST(ServiceWatch, TheInterceptorReachesAServiceStartedLaterAndAgainAfterARestart) {
    test::ServiceRunner service;
    service.Stop();
    TDodiInterceptor ais(service.SocketPath());
    ASSERT_FALSE(ais.Connected());
    EXPECT_FALSE(ais.Reconnect());
    EXPECT_FALSE(ais.RefusalCount());

    service.Start();
    TServiceWatch watch([&] { return ais.Reconnect(); }, ais.Connected());
    EXPECT_EQ(watch.Poll(TServiceWatch::Clock::now()), Change::Appeared);
    EXPECT_TRUE(ais.Connected());
    EXPECT_EQ(ais.RefusalCount(), 0u);

    service.Stop();
    EXPECT_FALSE(ais.RefusalCount());
    EXPECT_EQ(watch.Observe(ais.Connected(), TServiceWatch::Clock::now()), Change::Gone);
    service.Start();
    EXPECT_EQ(watch.Poll(watch.NextTry()), Change::Appeared);
    EXPECT_EQ(ais.RefusalCount(), 0u);
}

}  // namespace
}  // namespace kv
