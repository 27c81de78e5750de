// The capture queue: trimming, lending and releasing of encoded records.
#include "QScreenThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace {

// An Annex B packet: start code, then a marker byte and a fill byte.
std::vector<uint8_t> packet(uint8_t marker, size_t payload = 64)
{
    std::vector<uint8_t> p = {0, 0, 0, 1};
    p.push_back(marker);
    p.insert(p.end(), payload, static_cast<uint8_t>(marker ^ 0x5a));
    return p;
}

class FrameQueue : public ::testing::Test {
protected:
    FrameQueue() : capture(nullptr, 1920, 1080, 30, 10, 4000000) {}
    void push(uint8_t marker, int id, size_t payload = 64)
    {
        const auto p = packet(marker, payload);
        capture.queuePacket(p.data(), static_cast<int>(p.size()), id);
    }
    QScreenThread capture;
};

}  // namespace

TEST_F(FrameQueue, RecordHoldsThePacketWithoutItsStartCode)
{
    const std::vector<uint8_t> p = {0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68, 0xce};
    capture.queuePacket(p.data(), static_cast<int>(p.size()), 7);
    uint8_t* data = nullptr;
    unsigned size = 0;
    ASSERT_TRUE(capture.GetFrame(&data, &size));
    ASSERT_EQ(size, p.size() - 4);
    // The inner start code stays; only the leading one goes.
    EXPECT_EQ(0, std::memcmp(data, p.data() + 4, size));
    EXPECT_EQ(capture.outqueue.front()->frameID, 7);
    EXPECT_TRUE(capture.ReleaseFrame());
    EXPECT_EQ(capture.queueLength(), 0);
}

TEST_F(FrameQueue, TrimsToThirtyBeforeThePush)
{
    testing::internal::CaptureStdout();
    for (int i = 0; i < 30; ++i)
        push(static_cast<uint8_t>(i), i);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find("GetFrame pop@@@"), std::string::npos) << "30 records fit without a trim";
    EXPECT_NE(out.find("GetFrame: 30\n"), std::string::npos);
    EXPECT_EQ(capture.queueLength(), 30);

    // Every further packet drops exactly the oldest record.
    testing::internal::CaptureStdout();
    push(200, 30);
    push(201, 31);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "GetFrame pop@@@: 29\nGetFrame: 30\nGetFrame pop@@@: 29\nGetFrame: 30\n");
    EXPECT_EQ(capture.queueLength(), 30);
    EXPECT_EQ(capture.outqueue.front()->frameID, 2);
    EXPECT_EQ(capture.outqueue.back()->frameID, 31);
}

TEST_F(FrameQueue, EmptyQueueLendsNothingAndReleaseDoesNothing)
{
    uint8_t* data = reinterpret_cast<uint8_t*>(this);
    unsigned size = 99;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(capture.GetFrame(&data, &size));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "GetFramec: GetFrame@@\n");
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_TRUE(capture.ReleaseFrame());
    EXPECT_EQ(capture.queueLength(), 0);
    // Still usable afterwards.
    push(1, 0);
    EXPECT_TRUE(capture.GetFrame(&data, &size));
}

TEST_F(FrameQueue, GetFrameTwiceLendsTheSameRecordUntilReleased)
{
    push(10, 0);
    push(11, 1);
    uint8_t *a = nullptr, *b = nullptr;
    unsigned sa = 0, sb = 0;
    ASSERT_TRUE(capture.GetFrame(&a, &sa));
    ASSERT_TRUE(capture.GetFrame(&b, &sb));
    EXPECT_EQ(a, b);
    EXPECT_EQ(sa, sb);
    EXPECT_EQ(a[0], 10);
    EXPECT_EQ(capture.queueLength(), 2);
    EXPECT_TRUE(capture.ReleaseFrame());
    ASSERT_TRUE(capture.GetFrame(&a, &sa));
    EXPECT_EQ(a[0], 11);
    EXPECT_TRUE(capture.ReleaseFrame());
    EXPECT_EQ(capture.queueLength(), 0);
}

// The server copies a lent record while the capture thread keeps pushing
// (and trimming). The lent record must stay whole; under the sanitizer
// build a freed record would be reported at once.
TEST_F(FrameQueue, LentRecordSurvivesConcurrentTrim)
{
    const size_t payload = 256 * 1024;
    for (int i = 0; i < 30; ++i)
        push(static_cast<uint8_t>(i), i, payload);
    uint8_t* data = nullptr;
    unsigned size = 0;
    ASSERT_TRUE(capture.GetFrame(&data, &size));
    ASSERT_EQ(data[0], 0);

    std::atomic<bool> done{false};
    testing::internal::CaptureStdout();
    std::thread producer([&] {
        for (int i = 30; i < 230; ++i)
            push(static_cast<uint8_t>(i), i, payload);
        done = true;
    });
    std::vector<uint8_t> copy(size);
    int rounds = 0;
    bool whole = true;
    while (!done || rounds < 3) {
        std::memcpy(copy.data(), data, size);
        for (size_t k = 1; k < size && whole; k += 4093)
            whole = copy[k] == (0 ^ 0x5a);
        whole = whole && copy[0] == 0;
        ++rounds;
    }
    producer.join();
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(whole);
    EXPECT_EQ(capture.queueLength(), 30);
    // The lent record is still the front one; releasing it removes it, and
    // the rest are the newest records.
    EXPECT_EQ(capture.outqueue.front()->frameID, 0);
    EXPECT_TRUE(capture.ReleaseFrame());
    EXPECT_EQ(capture.queueLength(), 29);
    EXPECT_EQ(capture.outqueue.front()->frameID, 201);
    EXPECT_EQ(capture.outqueue.back()->frameID, 229);
}
