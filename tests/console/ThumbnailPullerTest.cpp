// The thumbnail puller in this process against stand-in RTSP peers on
// loopback: keyframe recognition, small pictures of the stream, and the
// reasons shown for streams that fail.
#include "ThumbnailPuller.h"
#include "NetSupport.h"
#include "TestSupport.h"
#include "ViewerSupport.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace {

TEST(ThumbnailPuller, RecognisesIdrPicturesInAnnexB)
{
    const uint8_t idr4[] = {0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68, 0xce, 0, 0, 1, 0x65, 0x88};
    const uint8_t idr3[] = {0, 0, 1, 0x25, 0x88};  // nal_ref_idc 1, type 5
    const uint8_t nonIdr[] = {0, 0, 0, 1, 0x09, 0xf0, 0, 0, 0, 1, 0x41, 0x9a, 0x65};  // 0x65 is payload
    const uint8_t spsOnly[] = {0, 0, 0, 1, 0x67, 0x42, 0x00, 0x1f};
    const uint8_t cut[] = {0, 0, 1};  // a start code with no header byte
    EXPECT_TRUE(ThumbnailPuller::containsIdr(idr4, sizeof idr4));
    EXPECT_TRUE(ThumbnailPuller::containsIdr(idr3, sizeof idr3));
    EXPECT_FALSE(ThumbnailPuller::containsIdr(nonIdr, sizeof nonIdr));
    EXPECT_FALSE(ThumbnailPuller::containsIdr(spsOnly, sizeof spsOnly));
    EXPECT_FALSE(ThumbnailPuller::containsIdr(cut, sizeof cut));
    EXPECT_FALSE(ThumbnailPuller::containsIdr(nullptr, 0));
}

class PullerWithPeer : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!tsupport::isolatedNetwork())
            GTEST_SKIP() << "needs a private network namespace (run through ctest as root)";
    }
    // Waits until the puller's state satisfies done.
    static ThumbnailPuller::State waitFor(const ThumbnailPuller& p,
                                          const std::function<bool(const ThumbnailPuller::State&)>& done)
    {
        QDeadlineTimer deadline(tsupport::SLOW_MS);
        ThumbnailPuller::State s = p.state();
        while (!done(s) && !deadline.hasExpired()) {
            QThread::msleep(50);
            s = p.state();
        }
        return s;
    }
};

TEST_F(PullerWithPeer, SmallPicturesOfTheStreamAboutOnceASecond)
{
    vsupport::Peer peer({"--address", "127.0.0.7", "--color", "20e020", "--size", "1280x720"});
    ASSERT_TRUE(peer.ready());
    ThumbnailPuller p("rtsp://127.0.0.7:5000/cam_passby_chn0", QSize(160, 90));
    p.start();
    auto s = waitFor(p, [](const auto& s) { return s.pictures >= 1; });
    ASSERT_GE(s.pictures, 1) << s.error.toStdString();
    EXPECT_TRUE(s.error.isEmpty());
    EXPECT_EQ(s.picture.size(), QSize(160, 90));
    EXPECT_TRUE(tsupport::coveredBy(s.picture, QColor(0x20, 0xe0, 0x20)));
    // One connection, and it keeps delivering.
    s = waitFor(p, [](const auto& s) { return s.pictures >= 3; });
    EXPECT_GE(s.pictures, 3);
    EXPECT_TRUE(peer.waitFor("play", 1, tsupport::SLOW_MS));
    EXPECT_EQ(peer.count("connected"), 1);
}

TEST_F(PullerWithPeer, PeerThatNeverAnswersIsReportedAndLeftPromptly)
{
    vsupport::Peer peer({"--address", "127.0.0.8", "--mode", "hang"});
    ASSERT_TRUE(peer.ready());
    auto p = std::make_unique<ThumbnailPuller>("rtsp://127.0.0.8:5000/cam_passby_chn0", QSize(160, 90));
    p->start();
    const auto s = waitFor(*p, [](const auto& s) { return s.error.endsWith("retrying"); });
    EXPECT_EQ(s.error, "no answer, retrying");
    EXPECT_EQ(s.pictures, 0);
    // Retried: a second connection comes.
    EXPECT_TRUE(peer.waitFor("accepted", 2, tsupport::SLOW_MS));
    // Ending it while it waits for an answer does not wait for the stall limit.
    QElapsedTimer t;
    t.start();
    p.reset();
    EXPECT_LT(t.elapsed(), ThumbnailPuller::STALL_MS);
}

TEST_F(PullerWithPeer, StreamThatFallsSilentIsReported)
{
    vsupport::Peer peer({"--address", "127.0.0.9", "--color", "2020e0", "--silent-after", "1500"});
    ASSERT_TRUE(peer.ready());
    ThumbnailPuller p("rtsp://127.0.0.9:5000/cam_passby_chn0", QSize(160, 90));
    p.start();
    auto s = waitFor(p, [](const auto& s) { return s.pictures >= 1; });
    ASSERT_GE(s.pictures, 1) << s.error.toStdString();
    s = waitFor(p, [](const auto& s) { return !s.error.isEmpty(); });
    EXPECT_EQ(s.error, "stream stalled, retrying");
    EXPECT_TRUE(peer.waitFor("play", 2, tsupport::SLOW_MS));  // and tried again
}

}  // namespace
