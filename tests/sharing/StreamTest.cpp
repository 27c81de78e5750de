// A running terminal's live stream as clients that are not ours see it
// (FFmpeg's ffprobe/ffmpeg, GStreamer's rtspsrc), on a private X server in
// a private network namespace.
#include "ClockPattern.h"
#include "NestedDisplay.h"
#include "RawRtsp.h"
#include "TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTcpServer>
#include <QThread>
#include <QUdpSocket>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

namespace {

const QString URL = "rtsp://127.0.0.1:5000/cam_passby_chn0";
const QString SMALL_URL = "rtsp://127.0.0.1:5000/cam_passby_chn1";

// The terminal writes several lines per captured frame; a full pipe would
// stall its capture thread, so waits here keep reading them.
tsupport::Terminal* drained = nullptr;

struct Output {
    QByteArray out, err;
    int code = -1;
};

std::unique_ptr<QProcess> launch(const QString& program, const QStringList& args, const QProcessEnvironment& env)
{
    auto p = std::make_unique<QProcess>();
    p->setProcessEnvironment(env);
    p->start(program, args);
    p->waitForStarted(tsupport::SLOW_MS);
    return p;
}

Output finish(QProcess& p, int timeoutMs)
{
    Output o;
    QElapsedTimer t;
    t.start();
    while (p.state() != QProcess::NotRunning && t.elapsed() < timeoutMs) {
        p.waitForFinished(50);
        if (drained)  // reads what the pipe holds (a text that never comes)
            drained->waitForOutput(QStringLiteral("\x01"), 5);
        o.out += p.readAllStandardOutput();
        o.err += p.readAllStandardError();
    }
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(3000);
    }
    o.out += p.readAllStandardOutput();
    o.err += p.readAllStandardError();
    o.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return o;
}

Output run(const QString& program, const QStringList& args, const QProcessEnvironment& env, int timeoutMs)
{
    auto p = launch(program, args, env);
    return finish(*p, timeoutMs);
}

// Decodes `frames` pictures of the stream (0: until stopped) and writes the
// clock pattern's corner of every frame as 8-bit grey. Warnings are asked
// for: a picture the decoder had to conceal is only a warning ("corrupt
// decoded frame"). A count of pictures, not a duration: how long they take
// depends on the machine.
QStringList patternArgs(const QString& transport, const QString& url, int frames)
{
    QStringList args{"-v", "warning", "-rtsp_transport", transport, "-i", url, "-an"};
    if (frames > 0)
        args << "-frames:v" << QString::number(frames);
    return args + QStringList{"-vf", QString("crop=%1:%2:0:0").arg(clockpattern::WIDTH).arg(clockpattern::HEIGHT),
                              "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", "gray", "-"};
}

std::vector<clockpattern::Reading> readPatterns(const QByteArray& raw)
{
    std::vector<clockpattern::Reading> r;
    const int size = clockpattern::WIDTH * clockpattern::HEIGHT;
    for (int off = 0; off + size <= raw.size(); off += size)
        r.push_back(clockpattern::read(reinterpret_cast<const uint8_t*>(raw.constData()) + off, clockpattern::WIDTH));
    return r;
}

struct Frame {
    double pts;
    int width, height;
};

// ffprobe's view: codec and size of the stream, time and size of each of
// the first `packets` frames.
struct Probe {
    QString codec;
    int width = 0, height = 0;
    std::vector<Frame> frames;
    QByteArray err;
};

Probe probe(const QString& transport, const QString& url, int packets, const QProcessEnvironment& env)
{
    const Output o = run("ffprobe",
                         {"-v", "error", "-rtsp_transport", transport, "-select_streams", "v", "-show_entries",
                          "stream=codec_name,width,height:frame=pts_time,width,height", "-of", "csv", "-read_intervals",
                          QString("%+#%1").arg(packets), url},
                         env, 2 * tsupport::SLOW_MS);
    Probe p;
    p.err = o.err;
    for (const QByteArray& line : o.out.split('\n')) {
        const QList<QByteArray> f = line.trimmed().split(',');
        if (f.size() >= 4 && f[0] == "stream") {
            p.codec = QString::fromLatin1(f[1]);
            p.width = f[2].toInt();
            p.height = f[3].toInt();
        } else if (f.size() >= 4 && f[0] == "frame") {
            p.frames.push_back({f[1].toDouble(), f[2].toInt(), f[3].toInt()});
        }
    }
    return p;
}

// Frames per second over the frames after the first 30 (those may be
// records queued before the client came, stamped as they were handed over).
double rate(const std::vector<Frame>& frames)
{
    if (frames.size() < 40)
        return 0;
    const double first = frames[30].pts, last = frames.back().pts;
    return last > first ? (frames.size() - 31) / (last - first) : 0;
}

class Painter {
public:
    Painter(const QStringList& args, const QProcessEnvironment& env)
    {
        p_.setProcessEnvironment(env);
        p_.start(tsupport::buildDir() + "/tavlo-test-painter", args);
        if (p_.waitForStarted(tsupport::SLOW_MS)) {
            QDeadlineTimer deadline(tsupport::SLOW_MS);
            while (!p_.readAllStandardOutput().contains("painted") && !deadline.hasExpired())
                p_.waitForReadyRead(50);
        }
    }
    ~Painter()
    {
        p_.kill();
        p_.waitForFinished(3000);
    }

private:
    QProcess p_;
};

// ffmpeg decoding a stream until it is destroyed; its progress lines
// ("frame=  N ...") say how many pictures it has decoded.
class DecodingClient {
public:
    DecodingClient(const QString& url, const QProcessEnvironment& env)
        : p_(launch("ffmpeg", {"-v", "error", "-stats", "-rtsp_transport", "tcp", "-i", url, "-f", "null", "-"}, env))
    {
    }
    ~DecodingClient()
    {
        p_->kill();
        p_->waitForFinished(3000);
    }
    // Pictures decoded so far (as of the last progress line read).
    int frames()
    {
        stats_ += p_->readAllStandardError();
        static const QRegularExpression frame("frame=\\s*([0-9]+)");
        for (auto it = frame.globalMatch(QString::fromLatin1(stats_)); it.hasNext();)
            frames_ = std::max(frames_, it.next().captured(1).toInt());
        stats_ = stats_.right(400);
        return frames_;
    }
    bool waitForFrames(int n)
    {
        QDeadlineTimer deadline(2 * tsupport::SLOW_MS);
        while (frames() < n && !deadline.hasExpired() && p_->state() != QProcess::NotRunning) {
            p_->waitForReadyRead(100);
            if (drained)  // the terminal's pipe is read meanwhile
                drained->waitForOutput(QStringLiteral("\x01"), 5);
        }
        return frames() >= n;
    }
    QByteArray stats() { return stats_; }

private:
    std::unique_ptr<QProcess> p_;
    QByteArray stats_;
    int frames_ = 0;
};

// The client's complaints, less the raw muxer's notes about timestamps that
// round to the same output tick (not a decoding matter).
QByteArray decoderErrors(const QByteArray& err)
{
    QByteArray kept;
    for (const QByteArray& line : err.split('\n'))
        if (!line.trimmed().isEmpty() && !line.contains("non monotonically increasing dts") &&
            !line.contains("Last message repeated"))
            kept += line + '\n';
    return kept;
}

bool sanitizerClean(const QByteArray& err)
{
    return !err.contains("Sanitizer") && !err.contains("runtime error:");
}

}  // namespace

// One terminal for the whole suite: it keeps serving while the tests come
// and go as clients, as in a classroom.
class LiveStream : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        x = new tsupport::XServer(1920, 1080, true);
        team = new tsupport::TeamDir("127.0.0.2", 3);
        terminal = new tsupport::Terminal(team->path(), x->env());
        // The first tick starts the server, before its announcement goes out.
        drained = terminal;
        terminal->waitForOutput("SendTo: 127.0.0.2", tsupport::SLOW_MS);
    }
    static void TearDownTestSuite()
    {
        drained = nullptr;
        delete terminal;
        delete team;
        delete x;
    }
    void SetUp() override
    {
        ASSERT_TRUE(x->ok());
        ASSERT_TRUE(terminal->started());
        ASSERT_TRUE(terminal->running()) << terminal->err().constData();
    }
    static tsupport::XServer* x;
    static tsupport::TeamDir* team;
    static tsupport::Terminal* terminal;
};
tsupport::XServer* LiveStream::x = nullptr;
tsupport::TeamDir* LiveStream::team = nullptr;
tsupport::Terminal* LiveStream::terminal = nullptr;

// Nobody watching: not one grab, however many ticks go by. A client that
// plays brings the capture lines.
TEST_F(LiveStream, CaptureLinesOnlyWhileWatchedAndOneServer)
{
    const int ticks = terminal->countOutput("SendTo: 127.0.0.2");
    EXPECT_TRUE(terminal->waitForCount("SendTo: 127.0.0.2", ticks + 2, tsupport::SLOW_MS));
    EXPECT_EQ(terminal->countOutput("XShmGetImage("), 0) << "no grab without a client";
    {
        RawRtsp c;
        ASSERT_EQ(c.setupAndPlay(), 200) << c.last().constData();
        EXPECT_TRUE(c.receiveUntil([&] { return c.accessUnits() >= 3; }, tsupport::SLOW_MS));
        EXPECT_TRUE(terminal->waitForOutput("diff: ", tsupport::SLOW_MS));
        EXPECT_TRUE(terminal->waitForOutput("GetFrame: ", tsupport::SLOW_MS));
        EXPECT_GT(terminal->countOutput("XShmGetImage("), 0);
    }
    // Ticks keep calling Start; nothing complains about a second server.
    EXPECT_TRUE(terminal->waitForCount("SendTo: 127.0.0.2", ticks + 3, tsupport::SLOW_MS));
    EXPECT_FALSE(terminal->err().contains("Screen sharing is off")) << terminal->err().constData();
}

// The loop paces itself at 33 ms: about 30 pictures a second at most,
// whatever the machine (a slow one gives fewer; the benchmark measures how
// many). Each picture is stamped when it is handed to the pipeline, so the
// stamps of a short stretch bunch a little: the bound has room for that.
TEST_F(LiveStream, H264At1080pAtMost30FpsOverTcp)
{
    Painter paint({"clock", "moving"}, x->env());
    const Probe p = probe("tcp", URL, 150, x->env());
    EXPECT_EQ(p.codec, "h264") << p.err.constData();
    EXPECT_EQ(p.width, 1920);
    EXPECT_EQ(p.height, 1080);
    ASSERT_GE(p.frames.size(), 120u) << p.err.constData();
    for (const Frame& f : p.frames) {
        EXPECT_EQ(f.width, 1920);
        EXPECT_EQ(f.height, 1080);
    }
    const double fps = rate(p.frames);
    EXPECT_GT(fps, 0.0);
    EXPECT_LT(fps, 36.0);
    EXPECT_TRUE(p.err.isEmpty()) << p.err.constData();
}

TEST_F(LiveStream, H264At1080pAtMost30FpsOverUdp)
{
    Painter paint({"clock", "moving"}, x->env());
    const Probe p = probe("udp", URL, 150, x->env());
    EXPECT_EQ(p.codec, "h264") << p.err.constData();
    EXPECT_EQ(p.width, 1920);
    EXPECT_EQ(p.height, 1080);
    ASSERT_GE(p.frames.size(), 120u) << p.err.constData();
    const double fps = rate(p.frames);
    EXPECT_GT(fps, 0.0);
    EXPECT_LT(fps, 36.0);
}

TEST_F(LiveStream, PaintedColourShowsUpInTheDecodedPicture)
{
    auto centre = [&](const char* rgb) {
        // Painted before the client comes: a still screen, sent once a
        // second; the client's first pictures show the new colour.
        Painter paint({"color", rgb}, x->env());
        const Output o = run("ffmpeg",
                             {"-v", "error", "-rtsp_transport", "tcp", "-i", URL, "-frames:v", "3", "-vf",
                              "crop=64:64:928:508", "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt",
                              "rgb24", "-"},
                             x->env(), 2 * tsupport::SLOW_MS);
        const int size = 64 * 64 * 3;
        std::array<long, 3> sum{0, 0, 0};
        if (o.out.size() >= size) {
            const auto* last = reinterpret_cast<const uint8_t*>(o.out.constData()) + (o.out.size() / size - 1) * size;
            for (int i = 0; i < size; ++i)
                sum[static_cast<size_t>(i % 3)] += last[i];
        }
        return std::array<long, 3>{sum[0] / (64 * 64), sum[1] / (64 * 64), sum[2] / (64 * 64)};
    };
    const auto red = centre("ff0000");
    EXPECT_GT(red[0], 200);
    EXPECT_LT(red[1], 60);
    EXPECT_LT(red[2], 60);
    const auto blue = centre("0000ff");
    EXPECT_LT(blue[0], 60);
    EXPECT_LT(blue[1], 60);
    EXPECT_GT(blue[2], 200);
}

// Strongly red pixels in the tray (trayer's panel): the terminal's icon
// carries a red dot while its screen is watched. -1 without a panel.
int redInTray(const QProcessEnvironment& env)
{
    const QList<tsupport::WindowInfo> panels = tsupport::windowsNamed(env, "panel");
    if (panels.isEmpty())
        return -1;
    const QImage img = tsupport::screenshot(env, panels.first().id);
    if (img.isNull())
        return -1;
    int red = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            red += c.red() > 190 && c.green() < 70 && c.blue() < 70;
        }
    return red;
}

// The small stream as a real client sees it: the screen at 480 x 270 (its
// aspect kept), H.264, a picture about a second, in the screen's colours.
// Playing it is not watching: no red dot in the tray, which playing the
// full stream brings.
TEST_F(LiveStream, SmallStreamIsTheScreenSmallAndIsNotWatching)
{
    auto paint = std::make_unique<Painter>(QStringList{"color", "00c000"}, x->env());
    const Probe p = probe("tcp", SMALL_URL, 3, x->env());
    EXPECT_EQ(p.codec, "h264") << p.err.constData();
    EXPECT_EQ(p.width, 480);
    EXPECT_EQ(p.height, 270);
    ASSERT_GE(p.frames.size(), 3u) << p.err.constData();
    for (size_t i = 1; i < p.frames.size(); ++i)
        EXPECT_GE(p.frames[i].pts - p.frames[i - 1].pts, 0.8) << "frame " << i;
    const Output o = run("ffmpeg",
                         {"-v", "error", "-rtsp_transport", "tcp", "-i", SMALL_URL, "-frames:v", "2", "-vf",
                          "crop=32:32:224:119", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"},
                         x->env(), 2 * tsupport::SLOW_MS);
    ASSERT_GE(o.out.size(), 32 * 32 * 3) << o.err.constData();
    const auto* px = reinterpret_cast<const uint8_t*>(o.out.constData());
    EXPECT_LT(px[0], 60);
    EXPECT_GT(px[1], 150);
    EXPECT_LT(px[2], 60);

    // The tray (which the painter's window covered) while a client plays the
    // small stream, then the full one.
    paint.reset();
    const int before = redInTray(x->env());
    ASSERT_GE(before, 0) << "no tray panel";
    DecodingClient small(SMALL_URL, x->env());
    ASSERT_TRUE(small.waitForFrames(3)) << small.stats().constData();
    tsupport::pause(1000);  // four looks of the tray
    EXPECT_LE(redInTray(x->env()), before + 4) << "no dot for the thumbnails";
    DecodingClient full(URL, x->env());
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    while (redInTray(x->env()) <= before + 20 && !deadline.hasExpired())
        tsupport::pause(200);
    EXPECT_GT(redInTray(x->env()), before + 20) << "the dot while the full stream plays";
}

// Only the small stream played, on a screen that changes all the time: the
// terminal's full path (its grab and encoder lines, "XShmGetImage(" and
// "diff: ") stays asleep however many small pictures go out; a client of
// the full stream wakes it.
TEST_F(LiveStream, OnlyTheSmallStreamPlayedWakesNoFullPicture)
{
    Painter paint({"clock", "moving"}, x->env());
    DecodingClient small(SMALL_URL, x->env());
    ASSERT_TRUE(small.waitForFrames(2)) << small.stats().constData();
    const int grabs = terminal->countOutput("XShmGetImage(");
    const int encoded = terminal->countOutput("diff: ");
    // Three of the terminal's once-a-second ticks and more small pictures
    // (the client's first ones may come in one burst after its probing).
    const int ticks = terminal->countOutput("SendTo: 127.0.0.2");
    ASSERT_TRUE(terminal->waitForCount("SendTo: 127.0.0.2", ticks + 3, tsupport::SLOW_MS));
    ASSERT_TRUE(small.waitForFrames(small.frames() + 2)) << small.stats().constData();
    EXPECT_EQ(terminal->countOutput("XShmGetImage("), grabs) << "a full-size grab for the thumbnails";
    EXPECT_EQ(terminal->countOutput("diff: "), encoded) << "the full-size encoder woke for the thumbnails";

    DecodingClient full(URL, x->env());
    EXPECT_TRUE(full.waitForFrames(30)) << full.stats().constData();
    EXPECT_GT(terminal->countOutput("diff: "), encoded + 20);
    const int smallBefore = small.frames();
    EXPECT_TRUE(small.waitForFrames(smallBefore + 2)) << "the small pictures go on beside the full ones";
}

// A pattern that changes with every frame reads back exactly from every
// decoded frame: access units (with several slices each) reach the client
// whole and in order.
TEST_F(LiveStream, MovingPatternDecodesCleanlyInEveryFrame)
{
    Painter paint({"clock", "moving"}, x->env());
    const Output o = run("ffmpeg", patternArgs("tcp", URL, 120), x->env(), 2 * tsupport::SLOW_MS);
    EXPECT_TRUE(decoderErrors(o.err).isEmpty()) << "decoder complained: " << o.err.constData();
    const auto readings = readPatterns(o.out);
    ASSERT_GE(readings.size(), 60u);
    int valid = 0;
    size_t firstLive = readings.size();
    for (size_t i = 0; i < readings.size(); ++i)
        if (readings[i].valid) {
            ++valid;
            if (firstLive == readings.size())
                firstLive = i;
        }
    // Frames grabbed before the painter's first pattern may show none.
    ASSERT_LT(firstLive, readings.size());
    // In order: the painted number never goes back. A busy painter may not
    // have painted between two grabs, so two frames may show the same one,
    // but the picture must move over the whole run.
    for (size_t i = firstLive; i < readings.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(readings[i].valid);
        if (i > firstLive && readings[i].valid && readings[i - 1].valid) {
            EXPECT_LT(static_cast<uint16_t>(readings[i].seq - readings[i - 1].seq), 0x8000) << "a picture went back";
        }
    }
    EXPECT_NE(readings.back().seq, readings[firstLive].seq) << "the moving pattern never moved";
}

TEST_F(LiveStream, TwoClientsAtOnceAndOneLeaving)
{
    Painter paint({"clock"}, x->env());
    // A: FFmpeg over TCP, until told to quit. B: GStreamer's rtspsrc over
    // UDP, killed once it has decoded 20 pictures.
    auto a = launch("ffmpeg", patternArgs("tcp", URL, 0), x->env());
    auto b = launch("gst-launch-1.0",
                    {"-v", "rtspsrc", "location=" + URL, "protocols=udp", "latency=200", "!", "rtph264depay", "!",
                     "h264parse", "!", "avdec_h264", "!", "fakesink", "silent=false", "sync=false"},
                    x->env());
    QByteArray bOut, aOut;
    QDeadlineTimer deadline(2 * tsupport::SLOW_MS);
    while (bOut.count("chain   ******* (fakesink") < 20 && b->state() != QProcess::NotRunning &&
           !deadline.hasExpired()) {
        b->waitForReadyRead(100);
        bOut += b->readAllStandardOutput();
        aOut += a->readAllStandardOutput();
        if (drained)
            drained->waitForOutput(QStringLiteral("\x01"), 5);
    }
    const Output ob = finish(*b, 0);  // killed here
    EXPECT_GE(bOut.count("chain   ******* (fakesink"), 20) << ob.err.constData();
    const quint32 bLeft = static_cast<quint32>(QDateTime::currentMSecsSinceEpoch() & 0xffffffffu);

    // A goes on: 40 pictures painted well after B left reach it.
    auto afterB = [&] {
        int n = 0;
        for (const auto& r : readPatterns(aOut))
            if (r.valid && static_cast<int32_t>(r.ms - bLeft) > 500)
                ++n;
        return n;
    };
    while (afterB() < 40 && a->state() != QProcess::NotRunning && !deadline.hasExpired()) {
        a->waitForReadyRead(100);
        aOut += a->readAllStandardOutput();
        if (drained)
            drained->waitForOutput(QStringLiteral("\x01"), 5);
    }
    a->write("q");  // ffmpeg's own quit key: it ends cleanly
    a->closeWriteChannel();
    Output oa = finish(*a, tsupport::SLOW_MS);
    aOut += oa.out;
    EXPECT_GE(afterB(), 40) << "A keeps receiving after B left (" << readPatterns(aOut).size() << " frames in all)";
    EXPECT_TRUE(decoderErrors(oa.err).isEmpty()) << oa.err.constData();
}

// FFmpeg playing the stream over TCP, decoding every picture to a 16 x 16
// grey corner: its output counts the pictures it decoded.
class Player {
public:
    explicit Player(const QProcessEnvironment& env)
        : p_(launch("ffmpeg",
                    {"-v", "error", "-rtsp_transport", "tcp", "-i", URL, "-an", "-vf", "crop=16:16:0:0",
                     "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", "gray", "-"},
                    env))
    {
    }
    ~Player() { finish(*p_, 0); }
    int frames() const { return bytes_ / 256; }
    bool running() const { return p_->state() != QProcess::NotRunning; }
    QByteArray err() { return p_->readAllStandardError(); }
    // Reads the player's output for a moment.
    void pump(int ms = 20)
    {
        p_->waitForReadyRead(ms);
        bytes_ += p_->readAllStandardOutput().size();
        if (drained)
            drained->waitForOutput(QStringLiteral("\x01"), 1);
    }
    // Waits until the player has decoded n more pictures than now.
    bool waitForMore(int n)
    {
        const int target = frames() + n;
        QDeadlineTimer deadline(2 * tsupport::SLOW_MS);
        while (frames() < target && running() && !deadline.hasExpired())
            pump(100);
        return frames() >= target;
    }

private:
    std::unique_ptr<QProcess> p_;
    qint64 bytes_ = 0;
};

// Whatever other connections send under the mount, the one pipeline goes on:
// a playing client keeps receiving, and a client that comes afterwards
// receives pictures too.
TEST_F(LiveStream, RequestsUnderTheMountNeverTakeTheStreamAway)
{
    Painter paint({"clock", "moving"}, x->env());
    Player a(x->env());
    ASSERT_TRUE(a.waitForMore(10)) << a.err().constData();
    auto keepA = [&] { a.pump(1); };

    {  // SETUP of the stream's own URL, then gone without TEARDOWN.
        RawRtsp c;
        ASSERT_TRUE(c.connected());
        EXPECT_EQ(c.request("SETUP", c.url("/stream=0"), "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n"), 200)
            << c.last().constData();
        c.abort();
    }
    keepA();
    {  // SETUP of a path under the mount that is no stream.
        RawRtsp c;
        EXPECT_EQ(c.request("SETUP", c.url("/junk"), "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n"), 404)
            << c.last().constData();
        EXPECT_EQ(c.request("DESCRIBE", c.url("/junk/more"), "Accept: application/sdp\r\n"), 404)
            << c.last().constData();
        c.abort();
    }
    keepA();
    {  // PLAY without SETUP, with and without a made-up session.
        RawRtsp c;
        EXPECT_GE(c.request("PLAY", c.url()), 400) << c.last().constData();
        EXPECT_GE(c.request("PLAY", c.url(), "Session: 12345678\r\n"), 400) << c.last().constData();
        c.abort();
    }
    keepA();
    {  // SETUP over UDP and many PLAYs on one session, gone without TEARDOWN.
        RawRtsp c;
        EXPECT_EQ(c.request("SETUP", c.url("/stream=0"), "Transport: RTP/AVP;unicast;client_port=41000-41001\r\n"),
                  200)
            << c.last().constData();
        for (int i = 0; i < 20; ++i)
            ASSERT_EQ(c.request("PLAY", c.url()), 200) << c.last().constData();
        c.abort();
    }
    keepA();
    {  // A client that plays over TCP and drops mid-stream.
        RawRtsp c;
        EXPECT_EQ(c.setupAndPlay(), 200) << c.last().constData();
        EXPECT_TRUE(c.receiveUntil([&] { return c.accessUnits() >= 3; }, tsupport::SLOW_MS));
        c.abort();
    }
    {  // A DESCRIBE cut off halfway.
        QTcpSocket s;
        s.connectToHost("127.0.0.1", 5000);
        ASSERT_TRUE(s.waitForConnected(tsupport::SLOW_MS));
        s.write("DESCRIBE rtsp://127.0.0.1:5000/cam_passby_chn0 RTSP/1.0\r\nCSe");
        s.flush();
        s.abort();
    }

    // The first client goes on, and so does the terminal.
    EXPECT_TRUE(a.waitForMore(60)) << "the playing client keeps receiving; " << a.frames() << " pictures in all";
    ASSERT_TRUE(terminal->running()) << terminal->err().constData();

    // A new client afterwards receives the stream, from a keyframe on.
    RawRtsp late;
    ASSERT_EQ(late.setupAndPlay(), 200) << late.last().constData();
    EXPECT_TRUE(late.receiveUntil([&] { return late.accessUnits() >= 30; }, 2 * tsupport::SLOW_MS))
        << late.accessUnits() << " access units";
    EXPECT_GE(late.keyframes(), 1);
    EXPECT_TRUE(a.waitForMore(10));
}

namespace {

// What a listener sends: a receiver report and its source description,
// here with the sender's SSRC set to ssrc.
QByteArray receiverReportFrom(uint32_t ssrc)
{
    auto word = [](uint32_t v) {
        const char bytes[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                               static_cast<char>(v)};
        return QByteArray(bytes, 4);
    };
    QByteArray p;
    // RR without report blocks; SDES with one chunk: CNAME "x@y", the end
    // item and padding to the word.
    p += QByteArray::fromHex("80c90001") + word(ssrc);
    p += QByteArray::fromHex("81ca0003") + word(ssrc) + QByteArray::fromHex("0103784079000000");
    return p;
}

// A viewer (FFmpeg over TCP, as the terminal's own viewer) and a watcher
// that sees the RTP itself, while a stranger sends RTCP as if it were us;
// afterwards the viewer is still running and decoding, the SSRC never
// changed and no BYE came.
void expectStreamSurvives(const QProcessEnvironment& env, const std::function<void(uint32_t ssrc)>& attack)
{
    Player viewer(env);
    ASSERT_TRUE(viewer.waitForMore(10)) << viewer.err().constData();
    RawRtsp watcher;
    ASSERT_EQ(watcher.request("SETUP", watcher.url("/stream=0"), "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n"),
              200)
        << watcher.last().constData();
    const uint32_t ssrc = watcher.transportSsrc();
    ASSERT_NE(ssrc, 0u) << "the SETUP reply names the SSRC: " << watcher.last().constData();
    ASSERT_EQ(watcher.request("PLAY", watcher.url()), 200) << watcher.last().constData();
    ASSERT_TRUE(watcher.receiveUntil([&] { return watcher.accessUnits() >= 3; }, tsupport::SLOW_MS));

    attack(ssrc);

    const int before = viewer.frames();
    EXPECT_TRUE(viewer.waitForMore(90)) << "the viewer goes on after the attack: " << viewer.frames() - before
                                        << " pictures, running " << viewer.running();
    const int units = watcher.accessUnits();
    EXPECT_TRUE(watcher.receiveUntil([&] { return watcher.accessUnits() >= units + 30; }, 2 * tsupport::SLOW_MS));
    EXPECT_EQ(watcher.ssrcs().size(), 1u) << "the stream kept its SSRC";
    EXPECT_EQ(watcher.byes(), 0) << "no BYE";
    EXPECT_TRUE(viewer.running());
}

}  // namespace

// A stranger sets up and plays a UDP session (its SETUP reply names our
// SSRC) and sends receiver reports with that SSRC to the server's RTCP port
// from another address: the RTP session must not take them for a second sender
// with our SSRC (it would say BYE and change SSRC, and FFmpeg ends at the BYE).
TEST_F(LiveStream, RtcpClaimingOurSsrcOverUdpEndsNoViewer)
{
    Painter paint({"clock", "moving"}, x->env());
    expectStreamSurvives(x->env(), [&](uint32_t ssrc) {
        RawRtsp stranger(5000, QHostAddress("127.0.0.5"));
        ASSERT_EQ(stranger.request("SETUP", stranger.url("/stream=0"),
                                   "Transport: RTP/AVP;unicast;client_port=45000-45001\r\n"),
                  200)
            << stranger.last().constData();
        ASSERT_EQ(stranger.transportSsrc(), ssrc);
        const int rtcpPort = stranger.serverRtpPort() + 1;
        ASSERT_GT(rtcpPort, 1);
        // Playing, so that the server listens for RTCP from UDP clients.
        ASSERT_EQ(stranger.request("PLAY", stranger.url()), 200) << stranger.last().constData();
        QUdpSocket udp;
        ASSERT_TRUE(udp.bind(QHostAddress("127.0.0.6"), 0));
        for (int i = 0; i < 10; ++i) {
            udp.writeDatagram(receiverReportFrom(ssrc), QHostAddress("127.0.0.1"), static_cast<quint16>(rtcpPort));
            stranger.receiveUntil([] { return false; }, 100);
        }
    });
}

// The same packets on the RTCP channel of another connection's RTSP
// session (RTP over TCP), from another address.
TEST_F(LiveStream, RtcpClaimingOurSsrcOverTheRtspConnectionEndsNoViewer)
{
    Painter paint({"clock", "moving"}, x->env());
    expectStreamSurvives(x->env(), [&](uint32_t ssrc) {
        RawRtsp stranger(5000, QHostAddress("127.0.0.7"));
        ASSERT_EQ(stranger.setupAndPlay(), 200) << stranger.last().constData();
        for (int i = 0; i < 10; ++i) {
            stranger.sendInterleaved(1, receiverReportFrom(ssrc));
            stranger.receiveUntil([] { return false; }, 100);
        }
    });
}

namespace {

// Threads and open descriptors of a process, from /proc.
int countEntries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size();
}

}  // namespace

// Rounds of clients of every kind (FFmpeg over TCP, UDP and the HTTP
// tunnel, GStreamer, raw RTSP of both streams) that play until they have pictures and are
// then killed without TEARDOWN: each one receives pictures, and afterwards
// the terminal's threads and descriptors come back to where they were after
// the first round.
TEST_F(LiveStream, ChurnOfClientsThatDropLeavesNothingBehind)
{
    Painter paint({"clock", "moving"}, x->env());
    const QString proc = QString("/proc/%1").arg(terminal->pid());
    auto ffmpegArgs = [](const QString& transport, const QString& url) {
        return QStringList{"-v", "error", "-rtsp_transport", transport, "-i", url, "-an", "-vf", "crop=16:16:0:0",
                           "-f", "rawvideo", "-pix_fmt", "gray", "-"};
    };
    int threadsAfterFirst = 0, fdsAfterFirst = 0;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        std::vector<std::unique_ptr<QProcess>> players;
        players.push_back(launch("ffmpeg", ffmpegArgs("tcp", URL), x->env()));
        players.push_back(launch("ffmpeg", ffmpegArgs("udp", URL), x->env()));
        players.push_back(launch("ffmpeg", ffmpegArgs("http", "rtsp://127.0.0.1:8080/cam_passby_chn0"), x->env()));
        players.push_back(launch("gst-launch-1.0",
                                 {"-q", "rtspsrc", "location=" + URL, "latency=0", "!", "rtph264depay", "!",
                                  "h264parse", "!", "avdec_h264", "!", "videoconvert", "!", "video/x-raw,format=GRAY8",
                                  "!", "fdsink", "sync=false"},
                                 x->env()));
        RawRtsp raw, rawSmall;
        ASSERT_EQ(raw.setupAndPlay(), 200) << raw.last().constData();
        rawSmall.setStream("cam_passby_chn1");  // the console's thumbnails come and go as well
        ASSERT_EQ(rawSmall.setupAndPlay(), 200) << rawSmall.last().constData();
        // Every client receives pictures (16 x 16 grey ones from FFmpeg,
        // whole decoded ones from GStreamer, access units for the raw ones).
        std::vector<qint64> got(players.size(), 0);
        QDeadlineTimer deadline(2 * tsupport::SLOW_MS);
        auto allGot = [&] {
            for (size_t i = 0; i < players.size(); ++i)
                if (got[i] < 10 * 256)
                    return false;
            return raw.accessUnits() >= 10 && rawSmall.accessUnits() >= 2;
        };
        while (!allGot() && !deadline.hasExpired()) {
            for (size_t i = 0; i < players.size(); ++i) {
                players[i]->waitForReadyRead(10);
                got[i] += players[i]->readAllStandardOutput().size();
            }
            raw.receiveUntil([] { return false; }, 10);
            rawSmall.receiveUntil([] { return false; }, 1);
            if (drained)
                drained->waitForOutput(QStringLiteral("\x01"), 1);
        }
        for (size_t i = 0; i < players.size(); ++i)
            EXPECT_GE(got[i], 10 * 256) << "client " << i << " received pictures: "
                                        << players[i]->readAllStandardError().constData();
        EXPECT_GE(raw.accessUnits(), 10);
        EXPECT_GE(rawSmall.accessUnits(), 2);
        // Gone without a word.
        for (auto& p : players) {
            p->kill();
            p->waitForFinished(3000);
        }
        raw.abort();
        rawSmall.abort();
        ASSERT_TRUE(terminal->running()) << terminal->err().constData();
        if (round == 0) {
            // Settled: what the first round leaves is the baseline.
            tsupport::pause(3000);
            threadsAfterFirst = countEntries(proc + "/task");
            fdsAfterFirst = countEntries(proc + "/fd");
            continue;
        }
        // Waits for the server to let go of everything, then compares.
        QDeadlineTimer settle(tsupport::SLOW_MS);
        while ((countEntries(proc + "/task") > threadsAfterFirst + 2 || countEntries(proc + "/fd") > fdsAfterFirst + 4) &&
               !settle.hasExpired())
            tsupport::pause(100);
        EXPECT_LE(countEntries(proc + "/task"), threadsAfterFirst + 2);
        EXPECT_LE(countEntries(proc + "/fd"), fdsAfterFirst + 4);
    }
}

TEST_F(LiveStream, RtspOverHttpThroughPort8080)
{
    Painter paint({"clock", "moving"}, x->env());
    const Probe p = probe("http", "rtsp://127.0.0.1:8080/cam_passby_chn0", 50, x->env());
    EXPECT_EQ(p.codec, "h264") << p.err.constData();
    EXPECT_GE(p.frames.size(), 40u) << p.err.constData();
    EXPECT_TRUE(p.err.isEmpty()) << p.err.constData();
}

TEST_F(LiveStream, SharedMemorySegmentIsOwnerOnly)
{
    QFile f("/proc/sysvipc/shm");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    int found = 0;
    for (const QByteArray& line : lines) {
        const QList<QByteArray> c = line.simplified().split(' ');
        // key shmid perms size cpid ...
        if (c.size() > 5 && c[4].toLongLong() == terminal->pid()) {
            ++found;
            EXPECT_EQ(c[2].toInt(nullptr, 8) & 0777, 0600) << line.constData();
        }
    }
    EXPECT_EQ(found, 1);
}

TEST_F(LiveStream, QuitFromTheTrayEndsCleanly)
{
    // A client is receiving pictures while the terminal quits.
    auto client = launch("ffmpeg",
                         {"-v", "error", "-rtsp_transport", "tcp", "-i", URL, "-vf", "crop=16:16:0:0", "-f", "rawvideo",
                          "-pix_fmt", "gray", "-"},
                         x->env());
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    while (client->bytesAvailable() == 0 && client->state() != QProcess::NotRunning && !deadline.hasExpired()) {
        client->waitForReadyRead(100);
        terminal->waitForOutput(QStringLiteral("\x01"), 5);
    }
    ASSERT_GT(client->bytesAvailable(), 0) << "the client receives pictures";
    ASSERT_TRUE(terminal->quitViaTray()) << terminal->err().constData();
    EXPECT_FALSE(terminal->crashed());
    EXPECT_EQ(terminal->exitCode(), 0);
    EXPECT_TRUE(sanitizerClean(terminal->err())) << terminal->err().constData();
    EXPECT_FALSE(terminal->err().contains("did not stop in time"));
    finish(*client, tsupport::SLOW_MS);
}

// Port 5000 already taken: one clear line, and the terminal goes on with its
// announcements (and quits cleanly) without screen sharing.
TEST(SharingFailure, Port5000TakenLeavesTheTerminalRunning)
{
    tsupport::XServer x(1920, 1080, true);
    ASSERT_TRUE(x.ok());
    QTcpServer squatter;
    ASSERT_TRUE(squatter.listen(QHostAddress::Any, 5000));
    tsupport::TeamDir team("127.0.0.2", 4);
    tsupport::Terminal terminal(team.path(), x.env());
    ASSERT_TRUE(terminal.started());
    // Four ticks, each of which calls Start again.
    EXPECT_TRUE(terminal.waitForCount("SendTo: 127.0.0.2", 4, tsupport::SLOW_MS));
    const QByteArray err = terminal.err();
    EXPECT_EQ(err.count("Screen sharing is off"), 1) << err.constData();
    EXPECT_TRUE(err.contains("port 5000")) << err.constData();
    EXPECT_EQ(terminal.countOutput("XShmGetImage("), 0);
    ASSERT_TRUE(terminal.quitViaTray());
    EXPECT_FALSE(terminal.crashed());
    EXPECT_EQ(terminal.exitCode(), 0);
    EXPECT_TRUE(sanitizerClean(terminal.err())) << terminal.err().constData();
}

// "--quiet" (the autostart entry's option): a terminal that is watched writes
// its other lines but none per picture.
TEST(SharingQuiet, QuietTerminalWritesNoPerFrameLines)
{
    tsupport::XServer x(1920, 1080, true);
    ASSERT_TRUE(x.ok());
    tsupport::TeamDir team("127.0.0.2", 5);
    tsupport::Terminal terminal(team.path(), x.env(), {"--quiet"});
    ASSERT_TRUE(terminal.started());
    ASSERT_TRUE(terminal.waitForOutput("SendTo: 127.0.0.2", tsupport::SLOW_MS)) << terminal.err().constData();
    {
        Painter paint({"clock", "moving"}, x.env());
        RawRtsp c;
        ASSERT_EQ(c.setupAndPlay(), 200) << c.last().constData();
        EXPECT_TRUE(c.receiveUntil([&] { return c.accessUnits() >= 30; }, 2 * tsupport::SLOW_MS));
        const int ticks = terminal.countOutput("SendTo: 127.0.0.2");
        EXPECT_TRUE(terminal.waitForCount("SendTo: 127.0.0.2", ticks + 1, tsupport::SLOW_MS));
    }
    const QByteArray out = terminal.out();
    EXPECT_FALSE(out.contains("XShmGetImage(")) << out.left(2000).constData();
    EXPECT_FALSE(out.contains("diff: "));
    EXPECT_FALSE(out.contains("GetFrame"));
    ASSERT_TRUE(terminal.quitViaTray());
    EXPECT_EQ(terminal.exitCode(), 0);
}

namespace {

// FFmpeg playing the stream over TCP, every picture scaled down to 192 x 108
// RGB (a tenth of the encoded size), with the size of every decoded
// picture from its showinfo filter.
class SmallViewer {
public:
    static const int W = 192, H = 108;
    explicit SmallViewer(const QProcessEnvironment& env)
        : p_(launch("ffmpeg",
                    {"-v", "info", "-rtsp_transport", "tcp", "-i", URL, "-an", "-vf",
                     QString("showinfo,scale=%1:%2").arg(W).arg(H), "-fps_mode", "passthrough", "-f", "rawvideo",
                     "-pix_fmt", "rgb24", "-"},
                    env))
    {
    }
    ~SmallViewer() { finish(*p_, 0); }
    bool running() const { return p_->state() != QProcess::NotRunning; }
    int frames() const { return static_cast<int>(bytes_.size() / (W * H * 3)); }
    // The sizes the decoder reported so far ("1920x1080", ...).
    QSet<QString> sizes() const { return sizes_; }
    // Colour (r, g, b) of the newest picture at (x, y) of the 192 x 108.
    std::array<int, 3> at(int x, int y) const
    {
        const size_t frame = static_cast<size_t>(W * H * 3);
        const size_t last = (bytes_.size() / frame - 1) * frame;
        const auto* px = reinterpret_cast<const uint8_t*>(bytes_.constData()) + last + (y * W + x) * 3;
        return {px[0], px[1], px[2]};
    }
    // Reads until done() holds for the newest picture.
    bool waitFor(const std::function<bool()>& done)
    {
        QDeadlineTimer deadline(2 * tsupport::SLOW_MS);
        while (running() && !deadline.hasExpired()) {
            p_->waitForReadyRead(100);
            bytes_ += p_->readAllStandardOutput();
            err_ += p_->readAllStandardError();
            const QRegularExpression size(" s:(\\d+x\\d+) ");
            for (auto it = size.globalMatch(QString::fromLatin1(err_)); it.hasNext();)
                sizes_.insert(it.next().captured(1));
            err_ = err_.right(200);
            // Only the last two pictures are kept.
            const int frame = W * H * 3;
            if (bytes_.size() > 3 * frame)
                bytes_.remove(0, (bytes_.size() / frame - 2) * frame);
            if (frames() > 0 && done())
                return true;
        }
        return false;
    }

private:
    std::unique_ptr<QProcess> p_;
    QByteArray bytes_, err_;
    QSet<QString> sizes_;
};

bool near(const std::array<int, 3>& c, int r, int g, int b)
{
    return std::abs(c[0] - r) < 40 && std::abs(c[1] - g) < 40 && std::abs(c[2] - b) < 40;
}

}  // namespace

// The screen changes size while a client plays (a projector, xrandr): the
// stream goes on at 1920 x 1080 with the new screen scaled into it, its
// aspect kept between black bars, and one line says so each time. Larger
// than before (4:3, taller), smaller (4:3) and back to 16:9.
TEST(SharingResize, ScreenThatChangesSizeKeepsPlayingWithBlackBars)
{
    NestedDisplay screen(1920, 1080);
    ASSERT_TRUE(screen.ok());
    tsupport::TeamDir team("127.0.0.2", 6);
    tsupport::Terminal terminal(team.path(), screen.env());
    ASSERT_TRUE(terminal.started());
    ASSERT_TRUE(terminal.waitForOutput("SendTo: 127.0.0.2", tsupport::SLOW_MS)) << terminal.err().constData();

    auto painter = std::make_unique<Painter>(QStringList{"color", "0000ff"}, screen.env());
    SmallViewer viewer(screen.env());
    ASSERT_TRUE(viewer.waitFor([&] { return near(viewer.at(96, 54), 0, 0, 255); })) << "blue first";
    EXPECT_TRUE(near(viewer.at(2, 54), 0, 0, 255)) << "16:9 fills the picture";

    struct Step {
        int width, height;
        const char* colour;
        int r, g, b;
        int bar;  // columns of the 192 that are black at each side
    };
    // 4:3 in 16:9: 1440 of 1920 columns, 240 black at each side (24 of 192).
    const Step steps[] = {{1600, 1200, "ff0000", 255, 0, 0, 24},
                          {1024, 768, "00ff00", 0, 255, 0, 24},
                          {1920, 1080, "ffffff", 255, 255, 255, 0}};
    int lines = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(QString("%1 x %2").arg(step.width).arg(step.height).toStdString());
        ASSERT_TRUE(screen.resize(step.width, step.height));
        const QString line = QString("Screen sharing: the screen is now %1 x %2; it is sent scaled into 1920 x 1080")
                                 .arg(step.width)
                                 .arg(step.height);
        EXPECT_TRUE(terminal.waitForOutput(line, tsupport::SLOW_MS)) << terminal.out().right(500).constData();
        ++lines;
        // The painter's window covers the new screen.
        painter.reset();
        painter = std::make_unique<Painter>(QStringList{"color", step.colour}, screen.env());
        ASSERT_TRUE(viewer.waitFor([&] { return near(viewer.at(96, 54), step.r, step.g, step.b); }))
            << "the new screen's picture reaches the viewer";
        if (step.bar > 0) {
            for (int y : {5, 54, 100}) {
                EXPECT_TRUE(near(viewer.at(step.bar / 2, y), 0, 0, 0)) << "a black bar at the left";
                EXPECT_TRUE(near(viewer.at(191 - step.bar / 2, y), 0, 0, 0)) << "a black bar at the right";
                EXPECT_TRUE(near(viewer.at(step.bar + 4, y), step.r, step.g, step.b));
            }
        } else {
            EXPECT_TRUE(near(viewer.at(2, 54), step.r, step.g, step.b)) << "no bars";
        }
    }
    EXPECT_TRUE(viewer.running());
    EXPECT_EQ(viewer.sizes(), QSet<QString>{"1920x1080"}) << "every picture is 1920 x 1080";
    EXPECT_EQ(terminal.countOutput("Screen sharing: the screen is now"), lines) << "one line per change";
    ASSERT_TRUE(terminal.running()) << terminal.err().constData();
    EXPECT_FALSE(terminal.err().contains("X Error")) << terminal.err().constData();
}
