// The stream puller in this process against stand-in RTSP peers on
// loopback: keyframe recognition, small pictures of a terminal's small
// stream or, from a peer without one, of its full stream, a live view, and
// the reasons shown for streams that fail.
#include "StreamPuller.h"
#include "NetSupport.h"
#include "TestSupport.h"
#include "ViewerSupport.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace {

TEST(StreamPuller, RecognisesIdrPicturesInAnnexB)
{
    const uint8_t idr4[] = {0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68, 0xce, 0, 0, 1, 0x65, 0x88};
    const uint8_t idr3[] = {0, 0, 1, 0x25, 0x88};  // nal_ref_idc 1, type 5
    const uint8_t nonIdr[] = {0, 0, 0, 1, 0x09, 0xf0, 0, 0, 0, 1, 0x41, 0x9a, 0x65};  // 0x65 is payload
    const uint8_t spsOnly[] = {0, 0, 0, 1, 0x67, 0x42, 0x00, 0x1f};
    const uint8_t cut[] = {0, 0, 1};  // a start code with no header byte
    EXPECT_TRUE(StreamPuller::containsIdr(idr4, sizeof idr4));
    EXPECT_TRUE(StreamPuller::containsIdr(idr3, sizeof idr3));
    EXPECT_FALSE(StreamPuller::containsIdr(nonIdr, sizeof nonIdr));
    EXPECT_FALSE(StreamPuller::containsIdr(spsOnly, sizeof spsOnly));
    EXPECT_FALSE(StreamPuller::containsIdr(cut, sizeof cut));
    EXPECT_FALSE(StreamPuller::containsIdr(nullptr, 0));
}

class PullerWithPeer : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!tsupport::isolatedNetwork())
            GTEST_SKIP() << "needs a private network namespace (run through ctest as root)";
    }
    // Waits until the puller's state satisfies done.
    static StreamPuller::State waitFor(const StreamPuller& p,
                                          const std::function<bool(const StreamPuller::State&)>& done)
    {
        QDeadlineTimer deadline(tsupport::SLOW_MS);
        StreamPuller::State s = p.state();
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
    StreamPuller p({{"rtsp://127.0.0.7:5000/cam_passby_chn0", true}}, QSize(160, 90), 1000);
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

// The console's thumbnails: the small stream where there is one (the
// picture in its colour, its aspect kept), the full one where the server
// says there is none.
TEST_F(PullerWithPeer, ThumbnailsFromTheSmallStreamOrTheFullOneWhereThereIsNone)
{
    const QColor full(0x20, 0xe0, 0x20), small(0xe0, 0x20, 0xe0);
    vsupport::Peer both({"--address", "127.0.0.10", "--color", "20e020", "--small-color", "e020e0"});
    vsupport::Peer older({"--address", "127.0.0.11", "--color", "20e020"});
    ASSERT_TRUE(both.ready());
    ASSERT_TRUE(older.ready());
    auto sources = [](const char* address) {
        return std::vector<StreamPuller::Source>{{QString("rtsp://%1:5000/cam_passby_chn1").arg(address), false},
                                                 {QString("rtsp://%1:5000/cam_passby_chn0").arg(address), true}};
    };
    StreamPuller fromSmall(sources("127.0.0.10"), QSize(240, 240), 1000);
    StreamPuller fromFull(sources("127.0.0.11"), QSize(240, 240), 1000);
    fromSmall.start();
    fromFull.start();
    auto s = waitFor(fromSmall, [](const auto& s) { return s.pictures >= 2; });
    ASSERT_GE(s.pictures, 2) << s.error.toStdString();
    EXPECT_EQ(s.url, "rtsp://127.0.0.10:5000/cam_passby_chn1");
    EXPECT_EQ(s.picture.size(), QSize(240, 135));  // 16:9 in a square box
    EXPECT_TRUE(tsupport::coveredBy(s.picture, small));
    s = waitFor(fromFull, [](const auto& s) { return s.pictures >= 1; });
    ASSERT_GE(s.pictures, 1) << s.error.toStdString();
    EXPECT_EQ(s.url, "rtsp://127.0.0.11:5000/cam_passby_chn0");
    EXPECT_TRUE(tsupport::coveredBy(s.picture, full));
    // The older peer set up its full stream; the peer with both never did.
    EXPECT_TRUE(older.waitFor("configured", 1, tsupport::SLOW_MS));
    EXPECT_TRUE(both.waitFor("play", 1, tsupport::SLOW_MS));
    EXPECT_EQ(both.count("configured"), 0);
}

// A closer look: every picture of the full stream, fitted to a box that
// follows the window.
TEST_F(PullerWithPeer, ALiveViewFollowsItsBox)
{
    vsupport::Peer peer({"--address", "127.0.0.12", "--moving", "--size", "1280x720"});
    ASSERT_TRUE(peer.ready());
    StreamPuller p({{"rtsp://127.0.0.12:5000/cam_passby_chn0", false}}, QSize(640, 640), 0, true);
    p.start();
    auto s = waitFor(p, [](const auto& s) { return s.pictures >= 1; });
    ASSERT_GE(s.pictures, 1) << s.error.toStdString();
    EXPECT_EQ(s.picture.size(), QSize(640, 360));
    const qint64 first = s.pictures;
    // Many pictures a second, not one (a 30 frames/s source): well over
    // ten within the time the first ten keyframes-only pictures would take.
    s = waitFor(p, [&](const auto& s) { return s.pictures >= first + 15; });
    EXPECT_GE(s.pictures, first + 15);
    p.setBox(QSize(320, 320));
    s = waitFor(p, [](const auto& s) { return s.picture.width() == 320; });
    EXPECT_EQ(s.picture.size(), QSize(320, 180));
}

TEST_F(PullerWithPeer, PeerThatNeverAnswersIsReportedAndLeftPromptly)
{
    vsupport::Peer peer({"--address", "127.0.0.8", "--mode", "hang"});
    ASSERT_TRUE(peer.ready());
    auto p = std::make_unique<StreamPuller>(
        std::vector<StreamPuller::Source>{{"rtsp://127.0.0.8:5000/cam_passby_chn1", false},
                                          {"rtsp://127.0.0.8:5000/cam_passby_chn0", true}},
        QSize(160, 90), 1000);
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
    EXPECT_LT(t.elapsed(), StreamPuller::STALL_MS);
}

TEST_F(PullerWithPeer, StreamThatFallsSilentIsReported)
{
    vsupport::Peer peer({"--address", "127.0.0.9", "--color", "2020e0", "--silent-after", "1500"});
    ASSERT_TRUE(peer.ready());
    StreamPuller p({{"rtsp://127.0.0.9:5000/cam_passby_chn0", true}}, QSize(160, 90), 1000);
    p.start();
    auto s = waitFor(p, [](const auto& s) { return s.pictures >= 1; });
    ASSERT_GE(s.pictures, 1) << s.error.toStdString();
    s = waitFor(p, [](const auto& s) { return !s.error.isEmpty(); });
    EXPECT_EQ(s.error, "stream stalled, retrying");
    EXPECT_TRUE(peer.waitFor("play", 2, tsupport::SLOW_MS));  // and tried again
}

}  // namespace
