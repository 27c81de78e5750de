// The RTSP server in this process: start, stop and status, what it answers
// on the wire (session description, transports, session timeout), the
// limits it keeps (sessions, client ports, listen queues), a failed
// pipeline replaced, and stopping while clients join.
#include "QScreenThread.h"
#include "QServerThread.h"
#include "RawRtsp.h"
#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <QTcpSocket>
#include <gst/app/gstappsrc.h>
#include <gst/rtsp-server/rtsp-server.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

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

// What this process writes on stdout while it lives (or until take()).
// GoogleTest writes its failures on stdout as well: when the test fails
// while capturing, the captured lines (less the per-picture ones) go to
// stderr.
class StdoutCapture {
public:
    StdoutCapture() { testing::internal::CaptureStdout(); }
    ~StdoutCapture()
    {
        const std::string text = take();
        if (!::testing::Test::HasFailure())
            return;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);)
            if (line.rfind("GetFrame", 0) != 0 && line.rfind("XShmGetImage", 0) != 0 && line.rfind("diff:", 0) != 0)
                std::fprintf(stderr, "%s\n", line.c_str());
    }
    std::string take()
    {
        if (taken_)
            return std::string();
        taken_ = true;
        std::fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }

private:
    bool taken_ = false;
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

// The small stream (the console's thumbnails) alone: pictures about once a
// second, each a keyframe, at most one grab each, and the full-size encoder
// never woken; it is not counted as watching. With the full stream played
// too, both go on from the same grabs; without it, the full one sleeps again.
TEST_F(Sharing, TheSmallStreamAloneNeverWakesTheFullEncoder)
{
    MovingScreen moving(x);  // a screen that changes all the time
    RawRtsp thumbs;
    thumbs.setStream("cam_passby_chn1");
    ASSERT_EQ(thumbs.request("DESCRIBE", thumbs.url(), "Accept: application/sdp\r\n"), 200) << thumbs.last().constData();
    EXPECT_TRUE(thumbs.last().contains("b=AS:250")) << thumbs.last().constData();
    EXPECT_TRUE(thumbs.last().contains("i=cam_passby_chn1")) << thumbs.last().constData();
    ASSERT_EQ(thumbs.setupAndPlay(), 200) << thumbs.last().constData();
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    while (QServerThread::thumbnailWatchers() != 1 && !deadline.hasExpired())
        QThread::msleep(10);
    EXPECT_EQ(QServerThread::thumbnailWatchers(), 1);
    ASSERT_TRUE(thumbs.receiveUntil([&] { return thumbs.accessUnits() >= 4; }, tsupport::SLOW_MS));
    EXPECT_EQ(QServerThread::watchers(), 0) << "looking at thumbnails is not watching";
    EXPECT_EQ(thumbs.keyframes(), thumbs.accessUnits()) << "every small picture decodes on its own";
    EXPECT_EQ(capture()->fullPictures(), 0u) << "the full-size encoder never ran";
    EXPECT_EQ(capture()->forcedKeyframes(), 0u);
    // At most a grab a picture (and the one the pipeline's set-up made), and
    // the pictures a second apart by the stream's own clock.
    EXPECT_LE(capture()->grabs(), capture()->thumbnails() + 1);
    EXPECT_GE(thumbs.spanSeconds(), 0.9 * (thumbs.accessUnits() - 1)) << thumbs.accessUnits() << " pictures";

    // The full stream as well: its pictures at the full rate, the small ones
    // going on.
    RawRtsp full;
    ASSERT_EQ(full.setupAndPlay(), 200);
    EXPECT_TRUE(waitForWatchers(1));
    const int small = thumbs.accessUnits();
    ASSERT_TRUE(full.receiveUntil([&] { return full.accessUnits() >= 30; }, tsupport::SLOW_MS));
    ASSERT_TRUE(thumbs.receiveUntil([&] { return thumbs.accessUnits() >= small + 2; }, tsupport::SLOW_MS));
    EXPECT_GT(capture()->fullPictures(), 0u);
    EXPECT_EQ(thumbs.keyframes(), thumbs.accessUnits());

    // The full stream's client goes: its encoder sleeps again, the small
    // pictures go on.
    full.abort();
    EXPECT_TRUE(waitForWatchers(0));
    QThread::msleep(300);  // a picture under way when the count fell
    const unsigned long fullPictures = capture()->fullPictures();
    const int more = thumbs.accessUnits();
    ASSERT_TRUE(thumbs.receiveUntil([&] { return thumbs.accessUnits() >= more + 2; }, tsupport::SLOW_MS));
    EXPECT_EQ(capture()->fullPictures(), fullPictures);
    thumbs.abort();
    deadline = QDeadlineTimer(tsupport::SLOW_MS);
    while (QServerThread::thumbnailWatchers() != 0 && !deadline.hasExpired())
        QThread::msleep(10);
    EXPECT_EQ(QServerThread::thumbnailWatchers(), 0);
}

// A still screen with only the small stream watched: a picture a second all
// the same (its last one again), without a grab for each.
TEST_F(Sharing, ASmallStreamOfAStillScreenGrabsNothingNew)
{
    RawRtsp thumbs;
    thumbs.setStream("cam_passby_chn1");
    ASSERT_EQ(thumbs.setupAndPlay(), 200);
    ASSERT_TRUE(thumbs.receiveUntil([&] { return thumbs.accessUnits() >= 2; }, tsupport::SLOW_MS));
    const unsigned long grabs = capture()->grabs();
    ASSERT_TRUE(thumbs.receiveUntil([&] { return thumbs.accessUnits() >= 5; }, tsupport::SLOW_MS));
    EXPECT_LE(capture()->grabs(), grabs + 1) << "the screen stood still";
    EXPECT_EQ(capture()->fullPictures(), 0u);
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

// A connection holds one session, as a player needs: a further SETUP
// without a session is refused, however many come (each would be another
// full copy of the stream, to ports of the client's choosing), while a
// SETUP in the connection's own session only changes its transport.
TEST_F(Sharing, OneSessionPerConnection)
{
    RawRtsp c;
    ASSERT_EQ(c.request("SETUP", c.url("/stream=0"), "Transport: RTP/AVP;unicast;client_port=42100-42101\r\n"), 200)
        << c.last().constData();
    const QByteArray own = c.session();
    int accepted = 0;
    for (int i = 1; i < 30; ++i) {
        c.forgetSession();
        const int port = 42100 + 2 * i;
        const int status =
            c.request("SETUP", c.url("/stream=0"),
                      QString("Transport: RTP/AVP;unicast;client_port=%1-%2\r\n").arg(port).arg(port + 1).toLatin1());
        if (status == 200)
            ++accepted;
        else
            EXPECT_GE(status, 400) << c.last().constData();
    }
    EXPECT_EQ(accepted, 0) << "further sessions on one connection";
    c.useSession(own);
    EXPECT_EQ(c.request("SETUP", c.url("/stream=0"), "Transport: RTP/AVP;unicast;client_port=42200-42201\r\n"), 200)
        << "a new transport in its own session: " << c.last().constData();
    ASSERT_EQ(c.request("PLAY", c.url()), 200);
    EXPECT_TRUE(waitForWatchers(1));
    // Torn down, the connection may set up a session again.
    ASSERT_EQ(c.request("TEARDOWN", c.url()), 200);
    c.forgetSession();
    EXPECT_EQ(c.request("SETUP", c.url("/stream=0"), "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n"), 200)
        << c.last().constData();
}

// Sessions in all: far more than a classroom, and no more.
TEST_F(Sharing, SessionsAreBoundedInAll)
{
    std::vector<std::unique_ptr<RawRtsp>> clients;
    for (int i = 0; i < QServerThread::MAX_SESSIONS; ++i) {
        clients.push_back(std::make_unique<RawRtsp>());
        ASSERT_EQ(clients.back()->request("SETUP", clients.back()->url("/stream=0"),
                                          "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n"),
                  200)
            << i << ": " << clients.back()->last().constData();
    }
    RawRtsp over;
    const int status =
        over.request("SETUP", over.url("/stream=0"), "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n");
    EXPECT_GE(status, 400) << over.last().constData();
    // One leaves: room for one more.
    ASSERT_EQ(clients.front()->request("TEARDOWN", clients.front()->url()), 200);
    RawRtsp next;
    EXPECT_EQ(next.request("SETUP", next.url("/stream=0"), "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n"), 200)
        << next.last().constData();
}

// A UDP client's RTP and RTCP go only to ordinary ports of its own: not to
// a system service's (below 1024) nor to the classroom port, on which the
// host and every terminal take their commands.
TEST_F(Sharing, ClientPortsOfServicesAndTheClassroomAreRefused)
{
    const char* refused[] = {"client_port=55555-55556", "client_port=55554-55555", "client_port=55555",
                             "client_port=55554",       "client_port=1000-1001",   "client_port=1023-1024",
                             "client_port=0-1",         "client_port=9-10"};
    for (const char* ports : refused) {
        RawRtsp c;
        EXPECT_EQ(c.request("SETUP", c.url("/stream=0"), QByteArray("Transport: RTP/AVP;unicast;") + ports + "\r\n"),
                  461)
            << ports << ": " << c.last().constData();
    }
    RawRtsp fine;
    EXPECT_EQ(fine.request("SETUP", fine.url("/stream=0"), "Transport: RTP/AVP;unicast;client_port=1024-1025\r\n"),
              200)
        << fine.last().constData();
}

// The source fails (its format changes to one the payloader cannot take,
// as a broken source would): one line says why, the clients of the failed
// pipeline are let go, and the next client gets a new pipeline with
// pictures, without a restart.
TEST_F(Sharing, AFailedPipelineIsReplacedForTheNextClient)
{
    MovingScreen moving(x);
    RawRtsp a;
    ASSERT_EQ(a.setupAndPlay(), 200) << a.last().constData();
    ASSERT_TRUE(a.receiveUntil([&] { return a.accessUnits() >= 3; }, tsupport::SLOW_MS));
    GstRTSPMedia* failing = ServerThread->sharedMedia();
    ASSERT_NE(failing, nullptr);

    StdoutCapture out;
    GstElement* bin = gst_rtsp_media_get_element(failing);
    GstElement* src = gst_bin_get_by_name(GST_BIN(bin), "src");
    ASSERT_NE(src, nullptr);
    GstCaps* raw = gst_caps_from_string("video/x-raw,format=I420,width=64,height=64,framerate=30/1");
    gst_app_src_set_caps(GST_APP_SRC(src), raw);
    gst_caps_unref(raw);
    gst_object_unref(src);
    gst_object_unref(bin);

    // The failed pipeline is let go: its client's connection ends.
    EXPECT_FALSE(a.receiveUntil([] { return false; }, tsupport::SLOW_MS)) << "the failed pipeline's client is let go";
    QDeadlineTimer replaced(tsupport::SLOW_MS);
    GstRTSPMedia* now = ServerThread->sharedMedia();
    while (now == failing && !replaced.hasExpired()) {
        g_object_unref(now);
        QThread::msleep(10);
        now = ServerThread->sharedMedia();
    }
    if (now)
        g_object_unref(now);
    EXPECT_NE(now, failing);
    g_object_unref(failing);

    RawRtsp b;
    ASSERT_EQ(b.setupAndPlay(), 200) << b.last().constData();
    EXPECT_TRUE(b.receiveUntil([&] { return b.accessUnits() >= 10 && b.keyframes() >= 1; }, tsupport::SLOW_MS))
        << b.accessUnits() << " access units";
    EXPECT_TRUE(b.startedWithKeyframe());
    EXPECT_TRUE(waitForWatchers(1));
    const std::string lines = out.take();
    size_t failures = 0;
    for (size_t at = lines.find("Screen sharing: the stream failed ("); at != std::string::npos;
         at = lines.find("Screen sharing: the stream failed (", at + 1))
        ++failures;
    EXPECT_EQ(failures, 1u) << "one line per failure";
}

namespace {

// Every connection that a whole classroom opens at once is taken into the
// listen queue, even before the server gets round to accepting any.
void expectBacklogTakes(int port, int connections)
{
    std::vector<int> fds;
    for (int i = 0; i < connections; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ASSERT_GE(fd, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
        fds.push_back(fd);
    }
    // A connection is established once the kernel took it into the queue;
    // past a full queue it waits for retries that never succeed while
    // nobody accepts.
    auto established = [&] {
        int n = 0;
        for (int fd : fds) {
            pollfd p{fd, POLLOUT, 0};
            int error = 0;
            socklen_t len = sizeof error;
            if (poll(&p, 1, 0) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0)
                ++n;
        }
        return n;
    };
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    while (established() < connections && !deadline.hasExpired())
        QThread::msleep(50);
    EXPECT_EQ(established(), connections) << "port " << port;
    for (int fd : fds)
        ::close(fd);
}

}  // namespace

TEST(Server, ListenQueuesHoldAClassroomConnectingAtOnce)
{
    tsupport::XServer x(1920, 1080, false);
    ASSERT_TRUE(x.ok());
    qputenv("DISPLAY", x.display().toUtf8());
    // Built but not started: nothing accepts, the queues alone take them.
    auto* screen = new QScreenThread(nullptr, 1920, 1080, 30, 10, 4000000);
    auto* server = new QServerThread(nullptr, screen, 5000, 8080);
    expectBacklogTakes(5000, 40);
    expectBacklogTakes(8080, 40);
    delete server;
    delete screen;
}

namespace {

// A blocking RTSP exchange for a thread of its own: connect, SETUP over the
// connection, then PLAY `plays` times as fast as the server answers, then
// close. The number of PLAYs answered 200.
int joinAndPlay(int plays)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    timeval timeout{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(5000);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int ok = 0;
    std::string in;
    auto exchange = [&](const std::string& request) {
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
            return std::string();
        for (;;) {
            // Interleaved data may come ahead of the reply: the reply is
            // what follows the last "RTSP/1.0 ".
            const size_t start = in.rfind("RTSP/1.0 ");
            if (start != std::string::npos && in.find("\r\n\r\n", start) != std::string::npos) {
                std::string reply = in.substr(start, in.find("\r\n\r\n", start) + 4 - start);
                in.clear();
                return reply;
            }
            char buffer[65536];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return std::string();
            in.append(buffer, static_cast<size_t>(n));
            if (in.size() > (1u << 22))
                in.erase(0, in.size() - 4096);
        }
    };
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
        const std::string setup = exchange(
            "SETUP rtsp://127.0.0.1:5000/cam_passby_chn0/stream=0 RTSP/1.0\r\nCSeq: 1\r\n"
            "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n");
        const size_t at = setup.find("Session: ");
        if (setup.rfind("RTSP/1.0 200", 0) == 0 && at != std::string::npos) {
            const std::string session = setup.substr(at + 9, setup.find_first_of(";\r", at) - at - 9);
            for (int i = 0; i < plays; ++i) {
                const std::string reply = exchange("PLAY rtsp://127.0.0.1:5000/cam_passby_chn0 RTSP/1.0\r\nCSeq: " +
                                                   std::to_string(i + 2) + "\r\nSession: " + session + "\r\n\r\n");
                if (reply.rfind("RTSP/1.0 200", 0) != 0)
                    break;
                ++ok;
            }
        }
    }
    ::close(fd);
    return ok;
}

}  // namespace

// Clients keep joining and playing while the server is stopped and started
// again: every PLAY asks the capture thread for a keyframe, and none may
// reach it once it is being deleted (the sanitizer build reports a use
// after free at once). The joiners stop only after each Stop has returned.
// Nor may a client be closed under its own thread's feet: GLib's criticals
// about a closed connection's stream are counted (a client thread left
// spinning on one writes them without end).
TEST(Server, StopWhileClientsJoinReachesNothingDeleted)
{
    tsupport::XServer x(1920, 1080, false);
    ASSERT_TRUE(x.ok());
    qputenv("DISPLAY", x.display().toUtf8());
    static std::atomic<int> criticals{0};
    const guint handler = g_log_set_handler(
        "GLib-GIO", static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION),
        [](const gchar*, GLogLevelFlags, const gchar*, gpointer) { ++criticals; }, nullptr);
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        QServerThread::Start(nullptr);
        ASSERT_EQ(QServerThread::GetStatus(), 1);
        std::atomic<bool> going{true};
        std::atomic<int> plays{0};
        std::vector<std::thread> joiners;
        for (int j = 0; j < 3; ++j)
            joiners.emplace_back([&] {
                while (going)
                    plays += joinAndPlay(20);
            });
        QDeadlineTimer deadline(tsupport::SLOW_MS);
        while (plays < 30 && !deadline.hasExpired())
            QThread::msleep(5);
        EXPECT_GE(plays.load(), 30);
        QServerThread::Stop();
        EXPECT_EQ(QServerThread::GetStatus(), 0);
        going = false;
        for (std::thread& t : joiners)
            t.join();
    }
    g_log_remove_handler("GLib-GIO", handler);
    EXPECT_EQ(criticals.load(), 0) << "GLib criticals while stopping";
}
