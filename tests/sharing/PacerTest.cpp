// The capture loop's timetable, with the time given by the test: periods on
// a fixed grid that nothing shifts, and an overrun that skips what it missed.
#include "FramePacer.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {
using Clock = FramePacer::Clock;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

const Clock::time_point T0 = Clock::time_point(std::chrono::hours(1));
}  // namespace

// A thousand seconds of passes that each take 10 ms and whose sleeps wake
// late by up to 9 ms: period k still begins exactly k / 30 s after the
// start, and 30 000 periods take exactly 1000 s.
TEST(Pacer, PeriodsStayOnTheGridWhateverTheSleepsDo)
{
    FramePacer pacer(30, T0);
    Clock::time_point now = T0;
    for (int64_t i = 0; i < 30000; ++i) {
        const int64_t k = pacer.next(now);
        ASSERT_EQ(k, i);
        const Clock::time_point deadline = pacer.deadline(k);
        ASSERT_EQ(deadline, T0 + nanoseconds(i * 1000000000LL / 30));
        now = std::max(now, deadline) + milliseconds(i % 10) + milliseconds(10);
    }
    EXPECT_EQ(pacer.deadline(30000), T0 + std::chrono::seconds(1000));
    EXPECT_EQ(pacer.missed(), 0);
}

// A pass that takes 110 ms (more than three periods): the loop goes on
// with the period that is under way, at once, and then on the grid again;
// it does not race through the periods it missed.
TEST(Pacer, AnOverrunSkipsThePeriodsItMissed)
{
    FramePacer pacer(30, T0);
    for (int k = 0; k < 5; ++k)
        ASSERT_EQ(pacer.next(pacer.deadline(k)), k);
    const Clock::time_point late = pacer.deadline(4) + milliseconds(110);  // 243 ms: period 7
    const int64_t k = pacer.next(late);
    EXPECT_EQ(k, 7);
    EXPECT_LE(pacer.deadline(k), late) << "the period under way starts at once";
    EXPECT_EQ(pacer.missed(), 2);
    EXPECT_EQ(pacer.next(late + milliseconds(5)), 8);
    EXPECT_GT(pacer.deadline(8), late + milliseconds(5));
    // Slightly late (less than a period) is not an overrun.
    EXPECT_EQ(pacer.next(pacer.deadline(9) + milliseconds(30)), 9);
    EXPECT_EQ(pacer.missed(), 2);
}

// After an idle spell the timetable starts again at the moment of waking.
TEST(Pacer, RestartBeginsANewGrid)
{
    FramePacer pacer(30, T0);
    pacer.next(T0);
    pacer.next(T0 + milliseconds(40));
    const Clock::time_point woke = T0 + std::chrono::seconds(7) + milliseconds(3);
    pacer.restart(woke);
    EXPECT_EQ(pacer.next(woke), 0);
    EXPECT_EQ(pacer.deadline(0), woke);
    EXPECT_EQ(pacer.next(woke + milliseconds(1)), 1);
    EXPECT_EQ(pacer.deadline(1), woke + nanoseconds(33333333));
}
