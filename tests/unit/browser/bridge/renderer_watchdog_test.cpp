#include "browser/bridge/RendererWatchdog.h"

#include <gtest/gtest.h>

using vorn::RendererWatchdog;
using namespace std::chrono_literals;

namespace {

class WatchdogTest : public ::testing::Test {
protected:
    // Ticks once a second from `elapsed` up to `until`, answering nothing.
    void TickUntil(std::chrono::milliseconds until) {
        for (; elapsed <= until; elapsed += 1s)
            last = dog.Tick(t0 + elapsed);
        elapsed -= 1s;
    }
    RendererWatchdog::TimePoint At(std::chrono::milliseconds offset) const { return t0 + offset; }

    RendererWatchdog dog{{1s, 10s, 1s}};
    RendererWatchdog::TimePoint t0 = RendererWatchdog::Clock::now();
    std::chrono::milliseconds elapsed{0};
    std::uint64_t last = 0;
};

TEST_F(WatchdogTest, SilenceIsOverdueOnlyAfterTheBudgetAndAnyLaterAnswerClearsIt) {
    const std::uint64_t first = dog.Tick(At(0s));
    elapsed = 1s;
    TickUntil(9s);
    EXPECT_FALSE(dog.Overdue(At(9900ms)));
    EXPECT_TRUE(dog.Overdue(At(10s)));
    EXPECT_EQ(dog.Waited(At(10s)), 10s);
    // The first ping was lost (the frame changed hands); the latest one still came back.
    dog.Answered(last);
    EXPECT_FALSE(dog.Overdue(At(10s)));
    EXPECT_EQ(dog.Waited(At(10s)), 0s);
    // The wait starts again with the next ping; a late answer to the lost one is a sign of life
    // as good as any.
    dog.Tick(At(11s));
    EXPECT_FALSE(dog.Overdue(At(20s)));
    EXPECT_TRUE(dog.Overdue(At(21s)));
    dog.Answered(first);
    EXPECT_FALSE(dog.Overdue(At(21s)));
}

TEST_F(WatchdogTest, ReloadKeyWantsAnAnswerWithinASecond) {
    dog.Answered(dog.Tick(At(0s)));
    const std::uint64_t ping = dog.Demand(At(1500ms));
    EXPECT_FALSE(dog.Overdue(At(2400ms)));
    EXPECT_TRUE(dog.Overdue(At(2500ms)));
    dog.Answered(ping);
    EXPECT_FALSE(dog.Overdue(At(2500ms)));
    // A second demand made while one is pending keeps the earlier deadline.
    dog.Demand(At(3s));
    dog.Demand(At(3500ms));
    EXPECT_TRUE(dog.Overdue(At(4s)));
}

TEST_F(WatchdogTest, NothingOutstandingBeforeARestartCounts) {
    // A renderer that was ended, or a dialog that held the renderer: earlier pings are forgotten.
    TickUntil(9s);
    const std::uint64_t old = last;
    dog.Restart();
    EXPECT_FALSE(dog.Overdue(At(30s)));
    dog.Tick(At(30s));
    dog.Answered(old);
    EXPECT_TRUE(dog.Overdue(At(40s)));
    // Signs of life other than an answer (a load began or ended) start the wait again.
    dog.Alive();
    EXPECT_FALSE(dog.Overdue(At(40s)));
}

TEST_F(WatchdogTest, TimeThisThreadWasHeldUpIsNotTheRenderers) {
    dog.Tick(At(0s));
    dog.Tick(At(1s));
    // Nothing ran here for 15 s: the answers may be queued behind this very tick.
    dog.Tick(At(16s));
    EXPECT_FALSE(dog.Overdue(At(16s)));
    EXPECT_FALSE(dog.Overdue(At(25s)));
    dog.Tick(At(17s));
    EXPECT_TRUE(dog.Overdue(At(26s)));
}

}  // namespace
