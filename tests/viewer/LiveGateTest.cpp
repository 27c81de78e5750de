// What the viewer decodes and shows when its stream arrives late: streams
// of timestamps and read times, as a slow viewer would see them.
#include "LiveGate.h"

#include <gtest/gtest.h>

namespace {

const int64_t FRAME_US = 33333;  // 30 frames a second
const int64_t PATH_US = 40000;   // the delay of a packet that comes straight through

// A stream with a keyframe every gop pictures; picture i has timestamp
// i * FRAME_US and arrives at PATH_US + i * FRAME_US.
struct Stream {
    int gop = 10;
    bool key(int i) const { return i % gop == 0; }
    int64_t pts(int i) const { return i * FRAME_US; }
    int64_t arrival(int i) const { return PATH_US + i * FRAME_US; }
};

TEST(LiveGateTest, OnTimeStreamIsDecodedAndShownWholeFromTheFirstKeyframe)
{
    LiveGate gate;
    Stream s;
    // Joined in the middle of a group of pictures: 3..9 cannot be decoded.
    for (int i = 3; i < 10; ++i)
        EXPECT_FALSE(gate.admit(s.arrival(i), s.pts(i), s.key(i))) << i;
    for (int i = 10; i < 100; ++i) {
        ASSERT_TRUE(gate.admit(s.arrival(i), s.pts(i), s.key(i))) << i;
        // Decoding and display take 20 ms.
        EXPECT_TRUE(gate.show(s.arrival(i) + 20000, s.pts(i))) << i;
    }
    EXPECT_NEAR(static_cast<double>(gate.frameIntervalUs()), FRAME_US, 1000);
}

TEST(LiveGateTest, PicturesMoreThanAboutTwoFramesOldAreNotShown)
{
    LiveGate gate;
    Stream s;
    for (int i = 0; i < 30; ++i) {
        ASSERT_TRUE(gate.admit(s.arrival(i), s.pts(i), s.key(i)));
        ASSERT_TRUE(gate.show(s.arrival(i) + 5000, s.pts(i)));
    }
    // Picture 30 waited 50 ms in the socket, 31 was decoded 100 ms after
    // it arrived: the first still shows, the second is decoded only.
    ASSERT_TRUE(gate.admit(s.arrival(30) + 50000, s.pts(30), false));
    EXPECT_TRUE(gate.show(s.arrival(30) + 55000, s.pts(30)));
    ASSERT_TRUE(gate.admit(s.arrival(31) + 10000, s.pts(31), false));
    EXPECT_FALSE(gate.show(s.arrival(31) + 100000, s.pts(31)));
    EXPECT_FALSE(gate.skipping());
}

TEST(LiveGateTest, BacklogIsSkippedToTheFirstKeyframeThatIsOnTime)
{
    LiveGate gate;
    Stream s;
    for (int i = 0; i < 30; ++i) {
        ASSERT_TRUE(gate.admit(s.arrival(i), s.pts(i), s.key(i)));
        ASSERT_TRUE(gate.show(s.arrival(i), s.pts(i)));
    }
    // The viewer was held up for a second: pictures 30..59 wait in the
    // socket and are all read at once, at the time picture 60 arrives.
    const int64_t backlogRead = s.arrival(60);
    int admitted = 0;
    for (int i = 30; i < 60; ++i)
        admitted += gate.admit(backlogRead + (i - 30) * 100, s.pts(i), s.key(i));
    // The first one or two late ones may still go in (they are what reveals
    // the delay); none after that, and not the stale keyframes 40 and 50.
    EXPECT_LE(admitted, 1);
    EXPECT_TRUE(gate.skipping());
    // Picture 60 is a keyframe read on time: decoding resumes with it, and
    // it is shown.
    EXPECT_TRUE(gate.admit(s.arrival(60) + 3000, s.pts(60), s.key(60)));
    EXPECT_FALSE(gate.skipping());
    EXPECT_TRUE(gate.show(s.arrival(60) + 20000, s.pts(60)));
    for (int i = 61; i < 70; ++i) {
        EXPECT_TRUE(gate.admit(s.arrival(i), s.pts(i), s.key(i))) << i;
        EXPECT_TRUE(gate.show(s.arrival(i) + 20000, s.pts(i))) << i;
    }
}

TEST(LiveGateTest, AViewerTooSlowToDecodeEveryPictureStillShowsCurrentOnes)
{
    LiveGate gate;
    Stream s;
    // Each picture takes 45 ms to decode and show: the viewer reads later
    // and later, and catches up by skipping.
    int64_t busyUntil = 0;
    int shown = 0, shownLate = 0;
    for (int i = 0; i < 600; ++i) {
        const int64_t read = std::max(busyUntil, s.arrival(i));
        if (!gate.admit(read, s.pts(i), s.key(i))) {
            busyUntil = read + 100;  // reading and dropping is cheap
            continue;
        }
        busyUntil = read + 45000;
        if (gate.show(busyUntil, s.pts(i))) {
            ++shown;
            // Its age on the screen against the newest picture received.
            const int64_t age = busyUntil - PATH_US - s.pts(i);
            shownLate += age > 3 * FRAME_US;
        }
    }
    EXPECT_GT(shown, 60);         // pictures keep coming, at a lower rate
    EXPECT_LE(shownLate, shown / 20);  // the rare first picture after a skip
}

TEST(LiveGateTest, ALastingLongerPathBecomesTheNewBase)
{
    LiveGate gate;
    Stream s;
    for (int i = 0; i < 30; ++i)
        ASSERT_TRUE(gate.admit(s.arrival(i), s.pts(i), s.key(i)));
    // From picture 30 on every packet takes 400 ms longer (another route,
    // or the clocks drift): after a few seconds pictures show again.
    int lastHidden = -1;
    for (int i = 30; i < 400; ++i) {
        const int64_t read = s.arrival(i) + 400000;
        if (!gate.admit(read, s.pts(i), s.key(i)) || !gate.show(read + 10000, s.pts(i)))
            lastHidden = i;
    }
    EXPECT_GT(lastHidden, 30);
    EXPECT_LT(lastHidden, 30 + 6 * 30);  // within two windows of the delay minimum
}

}  // namespace
