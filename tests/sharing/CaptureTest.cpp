// The capture loop on a private X server: what the encoder hands over, the
// shared-memory segment, stopping, and screens it must refuse.
#include "QScreenThread.h"
#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QException>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <vector>

namespace {

struct Record {
    int64_t frameID;
    std::vector<uint8_t> bytes;
    bool keyframe;
    bool afterIdle;
};

// NAL unit types of an Annex B access unit.
std::vector<int> nalTypes(const std::vector<uint8_t>& r)
{
    std::vector<int> types;
    for (size_t i = 0; i + 3 < r.size(); ++i)
        if (r[i] == 0 && r[i + 1] == 0 && r[i + 2] == 1) {
            types.push_back(r[i + 3] & 0x1f);
            i += 2;
        }
    return types;
}

// The luma plane of a keyframe, decoded by FFmpeg's H.264 decoder; empty
// when it does not decode.
std::vector<uint8_t> decodeLuma(const std::vector<uint8_t>& keyframe)
{
    std::vector<uint8_t> luma;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    if (ctx && packet && frame && avcodec_open2(ctx, codec, nullptr) == 0 &&
        av_new_packet(packet, static_cast<int>(keyframe.size())) == 0) {
        std::memcpy(packet->data, keyframe.data(), keyframe.size());
        if (avcodec_send_packet(ctx, packet) == 0 && avcodec_send_packet(ctx, nullptr) == 0 &&
            avcodec_receive_frame(ctx, frame) == 0) {
            for (int y = 0; y < frame->height; ++y)
                luma.insert(luma.end(), frame->data[0] + static_cast<size_t>(y) * frame->linesize[0],
                            frame->data[0] + static_cast<size_t>(y) * frame->linesize[0] + frame->width);
        }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
    return luma;
}

// What the capture hands over, collected from its callback.
class Collector {
public:
    void attach(QScreenThread& screen)
    {
        screen.setCallbackFunctionFrameIsReady([this](const QScreenThread::AccessUnit& u) {
            std::lock_guard<std::mutex> lock(mutex_);
            records_.push_back({u.frameID, std::vector<uint8_t>(u.data, u.data + u.size), u.keyframe, u.afterIdle});
        });
    }
    size_t size()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_.size();
    }
    std::vector<Record> records()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_;
    }

private:
    std::mutex mutex_;
    std::vector<Record> records_;
};

bool waitFor(const std::function<bool()>& done)
{
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    while (!done() && !deadline.hasExpired())
        QThread::msleep(10);
    return done();
}

// Starts the test painter's moving bars and clock on the display, so that
// every period has a change to grab.
bool paintMoving(QProcess& painter, const QString& display)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    painter.setProcessEnvironment(env);
    painter.start(tsupport::buildDir() + "/tavlo-test-painter", {"clock", "moving"});
    return painter.waitForStarted(tsupport::SLOW_MS);
}

// Runs the capture loop on the given display until `count` access units
// came (the deadline only ends a hang), stops it and hands them back.
std::vector<Record> capture(const QString& display, size_t count, int* shmMode = nullptr)
{
    qputenv("DISPLAY", display.toUtf8());
    QScreenThread screen(nullptr, 1920, 1080, 30, 10, 4000000);
    Collector collected;
    collected.attach(screen);
    screen.setupCapture();
    if (shmMode) {
        shmid_ds ds{};
        *shmMode = shmctl(screen.shmId(), IPC_STAT, &ds) == 0 ? static_cast<int>(ds.shm_perm.mode & 0777) : -1;
    }
    // A screen that changes all the time: every period is grabbed.
    QProcess painter;
    EXPECT_TRUE(paintMoving(painter, display));
    screen.setWatched(true);
    screen.start();
    waitFor([&] { return collected.size() >= count; });
    painter.kill();
    painter.waitForFinished(3000);
    screen.requestStop();
    EXPECT_TRUE(screen.wait(20000)) << "the capture loop ends on request";
    return collected.records();
}

}  // namespace

TEST(Capture, AccessUnitsAreAnnexBWithKeyframesEveryTenFrames)
{
    tsupport::XServer x(1920, 1080, false);
    ASSERT_TRUE(x.ok());
    int mode = -1;
    const std::vector<Record> records = capture(x.display(), 25, &mode);
    EXPECT_EQ(mode, 0600) << "nobody else may read the screen";
    ASSERT_GE(records.size(), 25u);
    ASSERT_EQ(records.front().frameID, 0);
    EXPECT_TRUE(records.front().afterIdle) << "the first one after the start";
    size_t lastKey = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        const Record& r = records[i];
        SCOPED_TRACE(r.frameID);
        ASSERT_GE(r.bytes.size(), 5u);
        // Annex B, with its leading start code.
        EXPECT_TRUE(r.bytes[0] == 0 && r.bytes[1] == 0 && (r.bytes[2] == 1 || (r.bytes[2] == 0 && r.bytes[3] == 1)));
        if (i > 0) {
            EXPECT_FALSE(r.afterIdle);
        }
        const std::vector<int> types = nalTypes(r.bytes);
        // A keyframe is SPS, PPS, then IDR slices (parameter sets travel in
        // the stream); any other picture holds only non-IDR slices.
        const bool key = types.size() >= 3 && types[0] == 7 && types[1] == 8 && types.back() == 5;
        EXPECT_EQ(r.keyframe, key) << "the keyframe flag says what the access unit is";
        if (i == 0) {
            EXPECT_TRUE(key) << "the first picture is a keyframe";
        }
        if (key) {
            // At most ten pictures from one keyframe to the next. The
            // encoder may put one in early where the picture changes
            // wholesale (the painter's first frame); it never waits longer.
            EXPECT_LE(i - lastKey, 10u) << "keyframes too far apart";
            lastKey = i;
        } else {
            for (int t : types)
                EXPECT_TRUE(t == 1) << "a picture is either a keyframe or non-IDR slices only, got " << t;
        }
    }
    EXPECT_LE(records.size() - 1 - lastKey, 9u) << "no keyframe at the end";
    // One access unit per period of the timetable; their numbers follow it.
    for (size_t i = 1; i < records.size(); ++i)
        EXPECT_GT(records[i].frameID, records[i - 1].frameID);
}

// Nobody watching: no grab at all; a watcher gets a keyframe first, marked
// as the first after an idle spell; the loop goes back to sleep when the
// last one goes. A picture asked for while nobody watches is one keyframe.
TEST(Capture, GrabsOnlyWhileWatchedAndStartsWithAKeyframe)
{
    tsupport::XServer x(1920, 1080, false);
    ASSERT_TRUE(x.ok());
    qputenv("DISPLAY", x.display().toUtf8());
    QScreenThread screen(nullptr, 1920, 1080, 30, 10, 4000000);
    Collector collected;
    collected.attach(screen);
    screen.start();
    ASSERT_TRUE(waitFor([&] { return screen.idle(); }));
    EXPECT_EQ(screen.grabs(), 0u);
    EXPECT_EQ(collected.size(), 0u);

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const size_t before = collected.size();
        screen.setWatched(true);
        ASSERT_TRUE(waitFor([&] { return collected.size() >= before + 3; }));
        const Record first = collected.records()[before];
        EXPECT_TRUE(first.keyframe) << "a keyframe first";
        EXPECT_EQ(nalTypes(first.bytes).front(), 7);
        EXPECT_TRUE(first.afterIdle);
        EXPECT_FALSE(collected.records()[before + 1].afterIdle);
        screen.setWatched(false);
        ASSERT_TRUE(waitFor([&] { return screen.idle(); }));
        const unsigned long grabs = screen.grabs();
        EXPECT_GT(grabs, 0u);
        // Asleep: however long this takes, nothing more is grabbed.
        EXPECT_TRUE(screen.idle());
        EXPECT_EQ(screen.grabs(), grabs);
    }
    const unsigned long grabs = screen.grabs();
    const size_t handed = collected.size();
    screen.requestPicture();
    ASSERT_TRUE(waitFor([&] { return collected.size() == handed + 1 && screen.idle(); }));
    EXPECT_EQ(screen.grabs(), grabs + 1);
    EXPECT_TRUE(collected.records().back().keyframe);
    EXPECT_EQ(nalTypes(collected.records().back().bytes).front(), 7);
    screen.requestStop();
    EXPECT_TRUE(screen.wait(20000)) << "a sleeping loop ends on request";
}

// A keyframe asked for with every picture is made at most once a second
// (the count is bounded by the time the loop ran, so a slow machine only
// makes fewer), and the requests are not simply ignored.
TEST(Capture, KeyframeRequestsAreHonouredAtMostOnceASecond)
{
    tsupport::XServer x(1920, 1080, false);
    ASSERT_TRUE(x.ok());
    qputenv("DISPLAY", x.display().toUtf8());
    QScreenThread screen(nullptr, 1920, 1080, 30, 10, 4000000);
    // A moving screen, so that every period makes a picture.
    QProcess painter;
    ASSERT_TRUE(paintMoving(painter, x.display()));
    std::atomic<int> frames{0};
    screen.setCallbackFunctionFrameIsReady([&](const QScreenThread::AccessUnit&) {
        ++frames;
        screen.requestKeyframe();
    });
    QElapsedTimer ran;
    ran.start();
    screen.setWatched(true);
    screen.start();
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    while ((screen.forcedKeyframes() < 3 || frames < 60) && !deadline.hasExpired())
        QThread::msleep(10);
    screen.requestStop();
    ASSERT_TRUE(screen.wait(20000));
    const double seconds = ran.elapsed() / 1000.0;
    painter.kill();
    painter.waitForFinished(3000);
    EXPECT_GE(screen.forcedKeyframes(), 3u) << "requests lead to keyframes";
    // The first picture's keyframe, then one per full second.
    EXPECT_LE(static_cast<double>(screen.forcedKeyframes()), 1 + seconds) << frames << " frames";
    EXPECT_GE(frames, 60);
}

// A still screen is grabbed at most about once a second after the first
// second at the full rate (the count is bounded by the time the loop ran,
// so a slow machine only grabs less) and at least that often; a change is grabbed at once; a screen that changes
// all the time is grabbed in most periods.
TEST(Capture, StillScreenIsGrabbedOnceASecondAndChangesAtOnce)
{
    tsupport::XServer x(1920, 1080, false);
    ASSERT_TRUE(x.ok());
    qputenv("DISPLAY", x.display().toUtf8());
    QScreenThread screen(nullptr, 1920, 1080, 30, 10, 4000000);
    screen.setCallbackFunctionFrameIsReady([](const QScreenThread::AccessUnit&) {});
    QElapsedTimer ran;
    ran.start();
    screen.setWatched(true);
    screen.start();
    // Still: the first picture, then one a second.
    ASSERT_TRUE(waitFor([&] { return screen.grabs() >= 33 && screen.skipped() >= 60; }));
    const unsigned long stillGrabs = screen.grabs();
    EXPECT_LE(static_cast<double>(stillGrabs), 31 + 1 + ran.elapsed() / 1000.0)
        << screen.skipped() << " periods skipped";

    // A change: grabbed without waiting for the second (the painter's window
    // comes up once; a further grab within far less than the skipped periods).
    const unsigned long skipsBefore = screen.skipped();
    QProcess painter;
    ASSERT_TRUE(paintMoving(painter, x.display()));
    const unsigned long grabsBefore = screen.grabs();
    ASSERT_TRUE(waitFor([&] { return screen.grabs() >= grabsBefore + 60; }));
    const unsigned long moving = screen.grabs() - grabsBefore, skippedMoving = screen.skipped() - skipsBefore;
    EXPECT_GT(moving, 2 * skippedMoving) << "a moving screen is grabbed in most periods";
    painter.kill();
    painter.waitForFinished(3000);
    screen.requestStop();
    EXPECT_TRUE(screen.wait(20000));
}

// The conversion reads what the grab delivers: a root window smaller than
// the encoded picture is scaled, never read past its end.
// Where a screen goes in the encoded picture: as large as fits, aspect
// kept, centred, on even coordinates.
TEST(Capture, PlacementKeepsTheAspectWithBarsOnEvenCoordinates)
{
    auto same = [](QScreenThread::Placement p, int x, int y, int w, int h) {
        return p.x == x && p.y == y && p.width == w && p.height == h;
    };
    EXPECT_TRUE(same(QScreenThread::place(1920, 1080, 1920, 1080), 0, 0, 1920, 1080));
    EXPECT_TRUE(same(QScreenThread::place(1280, 720, 1920, 1080), 0, 0, 1920, 1080));
    EXPECT_TRUE(same(QScreenThread::place(3840, 2160, 1920, 1080), 0, 0, 1920, 1080));
    // 4:3 and 5:4: bars at the sides.
    EXPECT_TRUE(same(QScreenThread::place(1600, 1200, 1920, 1080), 240, 0, 1440, 1080));
    EXPECT_TRUE(same(QScreenThread::place(1280, 1024, 1920, 1080), 284, 0, 1350, 1080));
    // Wider than 16:9: bars above and below.
    EXPECT_TRUE(same(QScreenThread::place(2560, 1080, 1920, 1080), 0, 134, 1920, 810));
    // Odd sizes end on even numbers.
    const QScreenThread::Placement odd = QScreenThread::place(1023, 601, 1920, 1080);
    EXPECT_EQ(odd.x % 2, 0);
    EXPECT_EQ(odd.width % 2, 0);
    EXPECT_LE(odd.x + odd.width, 1920);
    EXPECT_EQ(odd.height, 1080);
}

// A root window of another aspect is scaled into the encoded picture
// between black bars, never stretched nor read past its end.
TEST(Capture, SmallerRootWindowIsPlacedBetweenBlackBars)
{
    tsupport::XServer x(1024, 768, false);
    ASSERT_TRUE(x.ok());
    const std::vector<Record> records = capture(x.display(), 25);
    ASSERT_GE(records.size(), 25u);
    // The last keyframe: the painter's window is up by then.
    auto key = std::find_if(records.rbegin(), records.rend(), [](const Record& r) { return r.keyframe; });
    ASSERT_NE(key, records.rend());
    const std::vector<uint8_t> luma = decodeLuma(key->bytes);
    ASSERT_EQ(luma.size(), 1920u * 1080u);
    // 1024 x 768 is 4:3: 1440 x 1080 in the middle, 240 columns each side.
    auto at = [&](int x, int y) { return static_cast<int>(luma[static_cast<size_t>(y) * 1920 + x]); };
    for (int y : {10, 540, 1070})
        for (int x : {2, 120, 236, 1684, 1800, 1917}) {
            EXPECT_NEAR(at(x, y), 16, 3) << "black bar at " << x << "," << y;
        }
    // The painter's moving background (#204060, luma 66) fills the middle.
    EXPECT_NEAR(at(960, 700), 66, 12);
    EXPECT_NEAR(at(300, 1000), 66, 12);
}

TEST(Capture, RootWindowThatIsNotTrueColor32IsRefused)
{
    // Xvfb at depth 16: 16 bits per pixel, which the grab cannot read as BGRA.
    int n = 0;
    for (n = 600 + (getpid() % 200); n < 1000; ++n)
        if (!QFile::exists(QString("/tmp/.X%1-lock").arg(n)) && !QFile::exists(QString("/tmp/.X11-unix/X%1").arg(n)))
            break;
    QProcess xvfb;
    xvfb.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    xvfb.setStandardOutputFile(QProcess::nullDevice());
    xvfb.start("Xvfb", {QString(":%1").arg(n), "-screen", "0", "640x480x16", "-nolisten", "tcp"});
    ASSERT_TRUE(xvfb.waitForStarted(tsupport::SLOW_MS));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", QString(":%1").arg(n));
    bool up = false;
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    while (!up && !deadline.hasExpired()) {
        int code = -1;
        tsupport::run("xdpyinfo", {}, env, tsupport::SLOW_MS, &code);
        up = code == 0;
        if (!up)
            QThread::msleep(50);
    }
    ASSERT_TRUE(up);

    qputenv("DISPLAY", QString(":%1").arg(n).toUtf8());
    QScreenThread screen(nullptr, 1920, 1080, 30, 10, 4000000);
    screen.setCallbackFunctionFrameIsReady([](const QScreenThread::AccessUnit&) {});
    testing::internal::CaptureStderr();
    EXPECT_THROW(screen.setupCapture(), QException);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("not 32-bit TrueColor"), std::string::npos) << err;
    EXPECT_EQ(screen.shmId(), -1);
    xvfb.terminate();
    xvfb.waitForFinished(3000);
}

TEST(Capture, NoDisplayIsReportedNotCrashed)
{
    qputenv("DISPLAY", ":999");
    QScreenThread screen(nullptr, 1920, 1080, 30, 10, 4000000);
    testing::internal::CaptureStderr();
    EXPECT_THROW(screen.setupCapture(), QException);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("X display cannot be opened"), std::string::npos) << err;
    // run() without a display reports and ends instead of crashing.
    screen.setCallbackFunctionFrameIsReady([](const QScreenThread::AccessUnit&) {});
    testing::internal::CaptureStderr();
    screen.start();
    EXPECT_TRUE(screen.wait(20000));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Screen sharing is off"), std::string::npos);
}

// The unscaled conversion agrees with the general scaler (and with BT.601
// for pure colours).
TEST(Conversion, BgraToI420MatchesTheScaler)
{
    const int w = 64, h = 32;
    std::vector<uint8_t> bgra(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &bgra[(static_cast<size_t>(y) * w + x) * 4];
            p[0] = static_cast<uint8_t>(x * 4);        // blue: smooth across
            p[1] = static_cast<uint8_t>(y * 8);        // green: smooth down
            p[2] = static_cast<uint8_t>(255 - x * 2);  // red
            p[3] = 0;
        }
    std::vector<uint8_t> y1(w * h), u1(w * h / 4), v1(w * h / 4), y2(w * h), u2(w * h / 4), v2(w * h / 4);
    QScreenThread::bgraToI420(bgra.data(), w * 4, w, h, y1.data(), w, u1.data(), w / 2, v1.data(), w / 2);
    SwsContext* sws = sws_getContext(w, h, AV_PIX_FMT_BGRA, w, h, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr,
                                     nullptr);
    ASSERT_NE(sws, nullptr);
    const uint8_t* src[4] = {bgra.data(), nullptr, nullptr, nullptr};
    const int srcStride[4] = {w * 4, 0, 0, 0};
    uint8_t* dst[4] = {y2.data(), u2.data(), v2.data(), nullptr};
    const int dstStride[4] = {w, w / 2, w / 2, 0};
    sws_scale(sws, src, srcStride, 0, h, dst, dstStride);
    sws_freeContext(sws);
    for (size_t i = 0; i < y1.size(); ++i)
        ASSERT_LE(std::abs(y1[i] - y2[i]), 1) << "luma at " << i;
    // Chroma: inner columns (the scaler's edge handling differs by a pixel).
    for (int r = 0; r < h / 2; ++r)
        for (int x = 1; x < w / 2 - 1; ++x) {
            const size_t i = static_cast<size_t>(r) * (w / 2) + x;
            ASSERT_LE(std::abs(u1[i] - u2[i]), 3) << "u at " << x << "," << r;
            ASSERT_LE(std::abs(v1[i] - v2[i]), 3) << "v at " << x << "," << r;
        }

    // Pure red, green, blue, white, black.
    const uint8_t colours[5][3] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {255, 255, 255}, {0, 0, 0}};
    const int expect[5][3] = {{82, 90, 240}, {145, 54, 34}, {41, 240, 110}, {235, 128, 128}, {16, 128, 128}};
    for (int c = 0; c < 5; ++c) {
        std::vector<uint8_t> px(2 * 2 * 4);
        for (int i = 0; i < 4; ++i)
            for (int k = 0; k < 3; ++k)
                px[i * 4 + k] = colours[c][k];
        uint8_t yy[4], uu, vv;
        QScreenThread::bgraToI420(px.data(), 8, 2, 2, yy, 2, &uu, 1, &vv, 1);
        EXPECT_NEAR(yy[0], expect[c][0], 1) << c;
        EXPECT_NEAR(uu, expect[c][1], 1) << c;
        EXPECT_NEAR(vv, expect[c][2], 1) << c;
    }
}
