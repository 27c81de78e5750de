// The RTSP server in this process: start, stop and status, and what it
// answers on the wire (session description, transports, session timeout).
#include "QScreenThread.h"
#include "QServerThread.h"
#include "RawRtsp.h"
#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <QTcpSocket>
#include <gtest/gtest.h>

namespace {

// One RTSP request and its whole response (headers and body).
QByteArray request(QTcpSocket& s, const QByteArray& text)
{
    s.write(text);
    s.flush();
    QByteArray in;
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    while (!deadline.hasExpired()) {
        s.waitForReadyRead(100);
        in += s.readAll();
        const int end = in.indexOf("\r\n\r\n");
        if (end < 0)
            continue;
        QRegularExpression re("Content-Length:\\s*(\\d+)", QRegularExpression::CaseInsensitiveOption);
        auto m = re.match(QString::fromLatin1(in.left(end)));
        const int body = m.hasMatch() ? m.captured(1).toInt() : 0;
        if (in.size() >= end + 4 + body)
            return in;
    }
    return in;
}

QByteArray describe(int port)
{
    QTcpSocket s;
    s.connectToHost("127.0.0.1", static_cast<quint16>(port));
    if (!s.waitForConnected(tsupport::SLOW_MS))
        return {};
    return request(s, QString("DESCRIBE rtsp://127.0.0.1:%1/cam_passby_chn0 RTSP/1.0\r\nCSeq: 1\r\n"
                              "Accept: application/sdp\r\n\r\n")
                          .arg(port)
                          .toLatin1());
}

}  // namespace

TEST(Server, StartStatusDescribeAndStop)
{
    tsupport::XServer x(1920, 1080, false);
    ASSERT_TRUE(x.ok());
    qputenv("DISPLAY", x.display().toUtf8());

    EXPECT_EQ(QServerThread::GetStatus(), 0);
    QServerThread::Stop();  // nothing to stop
    EXPECT_EQ(QServerThread::GetStatus(), 0);

    QServerThread::Start(nullptr);
    ASSERT_EQ(QServerThread::GetStatus(), 1);
    QServerThread* first = ServerThread;
    ASSERT_NE(first, nullptr);
    // Every announcement tick calls Start; only the first one does anything.
    QServerThread::Start(nullptr);
    QServerThread::Start(nullptr);
    EXPECT_EQ(ServerThread, first);
    EXPECT_EQ(first->RtspPort, 5000);
    EXPECT_EQ(first->HttpPort, 8080);

    const QByteArray sdpReply = describe(5000);
    ASSERT_TRUE(sdpReply.startsWith("RTSP/1.0 200 OK")) << sdpReply.constData();
    const QString sdp = QString::fromLatin1(sdpReply.mid(sdpReply.indexOf("\r\n\r\n") + 4));
    EXPECT_TRUE(sdp.contains("\ns=RTSP Streaming Session\r\n")) << sdp.toStdString();
    EXPECT_TRUE(sdp.contains("\ni=cam_passby_chn0\r\n")) << sdp.toStdString();
    EXPECT_EQ(sdp.count("\nm="), 1) << "one stream";
    EXPECT_TRUE(sdp.contains(QRegularExpression("\nm=video 0 RTP/AVP 96\r\n"))) << sdp.toStdString();
    EXPECT_TRUE(sdp.contains("a=rtpmap:96 H264/90000")) << sdp.toStdString();
    EXPECT_EQ(sdp.count("\nb="), 1);
    EXPECT_TRUE(sdp.contains("\nb=AS:4000\r\n")) << sdp.toStdString();

    // The tunnelling port speaks plain RTSP as well, on the same stream.
    const QByteArray viaHttpPort = describe(8080);
    EXPECT_TRUE(viaHttpPort.startsWith("RTSP/1.0 200 OK")) << viaHttpPort.constData();
    EXPECT_TRUE(viaHttpPort.contains("s=RTSP Streaming Session"));

    // SETUP over UDP: server ports from 6970, sessions reclaimed after 65 s.
    {
        QTcpSocket s;
        s.connectToHost("127.0.0.1", 5000);
        ASSERT_TRUE(s.waitForConnected(tsupport::SLOW_MS));
        const QByteArray reply =
            request(s, "SETUP rtsp://127.0.0.1:5000/cam_passby_chn0/stream=0 RTSP/1.0\r\nCSeq: 2\r\n"
                       "Transport: RTP/AVP;unicast;client_port=40000-40001\r\n\r\n");
        ASSERT_TRUE(reply.startsWith("RTSP/1.0 200 OK")) << reply.constData();
        QRegularExpression ports("server_port=(\\d+)-(\\d+)");
        auto m = ports.match(QString::fromLatin1(reply));
        ASSERT_TRUE(m.hasMatch()) << reply.constData();
        EXPECT_GE(m.captured(1).toInt(), 6970);
        EXPECT_LT(m.captured(1).toInt(), 7970);
        EXPECT_EQ(m.captured(2).toInt(), m.captured(1).toInt() + 1);
        EXPECT_TRUE(reply.contains(";timeout=65")) << reply.constData();
    }
    // Interleaved over the RTSP connection.
    {
        QTcpSocket s;
        s.connectToHost("127.0.0.1", 5000);
        ASSERT_TRUE(s.waitForConnected(tsupport::SLOW_MS));
        const QByteArray reply =
            request(s, "SETUP rtsp://127.0.0.1:5000/cam_passby_chn0/stream=0 RTSP/1.0\r\nCSeq: 2\r\n"
                       "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n");
        ASSERT_TRUE(reply.startsWith("RTSP/1.0 200 OK")) << reply.constData();
        EXPECT_TRUE(reply.contains("interleaved=0-1")) << reply.constData();
    }

    QServerThread::Stop();
    EXPECT_EQ(QServerThread::GetStatus(), 0);
    EXPECT_EQ(ServerThread, nullptr);
    // Stopped means released: the port is free again.
    QTcpSocket s;
    s.connectToHost("127.0.0.1", 5000);
    EXPECT_FALSE(s.waitForConnected(2000));
    QServerThread::Stop();
    EXPECT_EQ(QServerThread::GetStatus(), 0);
}

namespace {

// The moving clock pattern on the display, so that every picture changes.
class MovingScreen {
public:
    explicit MovingScreen(const tsupport::XServer& x)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", x.display());
        p_.setProcessEnvironment(env);
        p_.start(tsupport::buildDir() + "/tavlo-test-painter", {"clock", "moving"});
        if (p_.waitForStarted(tsupport::SLOW_MS)) {
            QDeadlineTimer deadline(tsupport::SLOW_MS);
            while (!p_.readAllStandardOutput().contains("painted") && !deadline.hasExpired())
                p_.waitForReadyRead(50);
        }
    }
    ~MovingScreen()
    {
        p_.kill();
        p_.waitForFinished(3000);
    }

private:
    QProcess p_;
};

bool waitForWatchers(int n)
{
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    while (QServerThread::watchers() != n && !deadline.hasExpired())
        QThread::msleep(10);
    return QServerThread::watchers() == n;
}

class Sharing : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(x.ok());
        qputenv("DISPLAY", x.display().toUtf8());
        QServerThread::Start(nullptr);
        ASSERT_EQ(QServerThread::GetStatus(), 1);
    }
    void TearDown() override
    {
        QServerThread::Stop();
        EXPECT_EQ(QServerThread::watchers(), 0);
    }
    QScreenThread* capture() { return ServerThread->ScreenThread; }
    tsupport::XServer x{1920, 1080, false};
};

}  // namespace

// The count of playing clients follows PLAY, TEARDOWN, PAUSE and clients
// that simply go (TCP and UDP); while it is 0 nothing is grabbed, and a
// PLAY gets a keyframe first.
TEST_F(Sharing, WatchersCountPlayingClientsAndNobodyWatchingMeansNoGrabs)
{
    MovingScreen moving(x);
    EXPECT_EQ(QServerThread::watchers(), 0);
    // Set up but not playing: nobody watches yet.
    RawRtsp a;
    ASSERT_EQ(a.request("SETUP", a.url("/stream=0"), "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n"), 200);
    EXPECT_EQ(QServerThread::watchers(), 0);
    QDeadlineTimer asleep(tsupport::SLOW_MS);
    while (!capture()->idle() && !asleep.hasExpired())
        QThread::msleep(10);
    ASSERT_TRUE(capture()->idle()) << "no grabs while nobody plays";
    // At most the one picture that told the new pipeline the stream's
    // parameters.
    EXPECT_LE(capture()->grabs(), 1u);
    const unsigned long before = capture()->grabs();
    {
        RawRtsp d;
        EXPECT_EQ(d.request("DESCRIBE", d.url(), "Accept: application/sdp\r\n"), 200);
    }
    EXPECT_EQ(capture()->grabs(), before);

    ASSERT_EQ(a.request("PLAY", a.url()), 200) << a.last().constData();
    EXPECT_TRUE(waitForWatchers(1));
    ASSERT_TRUE(a.receiveUntil([&] { return a.accessUnits() >= 1; }, tsupport::SLOW_MS));
    EXPECT_TRUE(a.startedWithKeyframe()) << "the first picture a client gets is a keyframe";

    RawRtsp b;
    ASSERT_EQ(b.setupAndPlay(), 200) << b.last().constData();
    EXPECT_TRUE(waitForWatchers(2));
    RawRtsp udp;
    ASSERT_EQ(udp.request("SETUP", udp.url("/stream=0"), "Transport: RTP/AVP;unicast;client_port=42000-42001\r\n"),
              200);
    ASSERT_EQ(udp.request("PLAY", udp.url()), 200);
    EXPECT_TRUE(waitForWatchers(3));

    EXPECT_EQ(a.request("PAUSE", a.url()), 200) << a.last().constData();
    EXPECT_TRUE(waitForWatchers(2));
    EXPECT_EQ(a.request("PLAY", a.url()), 200);
    EXPECT_TRUE(waitForWatchers(3));
    EXPECT_EQ(a.request("TEARDOWN", a.url()), 200);
    EXPECT_TRUE(waitForWatchers(2));
    b.abort();  // gone without a word, over TCP
    EXPECT_TRUE(waitForWatchers(1));
    udp.abort();  // the UDP client's RTSP connection goes
    EXPECT_TRUE(waitForWatchers(0));

    // Nobody left: the capture loop sleeps and grabs nothing more.
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    while (!capture()->idle() && !deadline.hasExpired())
        QThread::msleep(10);
    ASSERT_TRUE(capture()->idle());
    const unsigned long grabs = capture()->grabs();
    EXPECT_GT(grabs, 0u);
    RawRtsp d;
    EXPECT_EQ(d.request("DESCRIBE", d.url(), "Accept: application/sdp\r\n"), 200);
    EXPECT_EQ(capture()->grabs(), grabs);

    // A new watcher wakes it, and the loop starts again with a keyframe,
    // which the watcher can decode from. (Its PLAY wakes the loop before its
    // transport is on, so the very first access unit may go out just ahead
    // of it; the keyframe interval brings the next one soon.)
    const unsigned long forced = capture()->forcedKeyframes();
    RawRtsp e;
    ASSERT_EQ(e.setupAndPlay(), 200);
    EXPECT_TRUE(e.receiveUntil([&] { return e.accessUnits() >= 5 && e.keyframes() >= 1; }, tsupport::SLOW_MS));
    EXPECT_GT(capture()->forcedKeyframes(), forced);
    EXPECT_GE(e.keyframes(), 1);
    EXPECT_TRUE(waitForWatchers(1));
}

// PLAY after PLAY from one connection and joins from new ones, as fast as
// the server answers: a watching client sees keyframes every ten pictures
// (the keyframe interval) plus at most one forced keyframe a second of
// stream (by the RTP clock), with a small tolerance.
TEST_F(Sharing, ManyPlaysForceAtMostOneKeyframeASecond)
{
    MovingScreen moving(x);
    RawRtsp watcher;
    ASSERT_EQ(watcher.setupAndPlay(), 200);
    ASSERT_TRUE(watcher.receiveUntil([&] { return watcher.accessUnits() >= 2; }, tsupport::SLOW_MS));
    const int units0 = watcher.accessUnits(), keys0 = watcher.keyframes();
    const double span0 = watcher.spanSeconds();

    RawRtsp pest;
    ASSERT_EQ(pest.setupAndPlay(), 200);
    int plays = 0;
    QDeadlineTimer deadline(4 * tsupport::SLOW_MS);
    while (watcher.accessUnits() - units0 < 90 && !deadline.hasExpired()) {
        ASSERT_EQ(pest.request("PLAY", pest.url()), 200) << pest.last().constData();
        ++plays;
        if (plays % 10 == 0) {  // a join now and then, from a new connection
            RawRtsp joiner;
            EXPECT_EQ(joiner.setupAndPlay(), 200);
        }
        watcher.receiveUntil([] { return false; }, 5);
    }
    const int units = watcher.accessUnits() - units0, keys = watcher.keyframes() - keys0;
    const double seconds = watcher.spanSeconds() - span0;
    ASSERT_GE(units, 90);
    EXPECT_GT(plays, units / 3) << "the PLAYs came faster than once a second";
    EXPECT_LE(keys, units / 10 + 1 + static_cast<int>(seconds) + 2)
        << keys << " keyframes in " << units << " pictures, " << seconds << " s, " << plays << " PLAYs";
}
