// The capture loop on a private X server: what the encoder queues, the
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

#include <atomic>
#include <functional>
#include <cstdlib>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <vector>

namespace {

struct Record {
    int frameID;
    std::vector<uint8_t> bytes;
};

// NAL unit types in an Annex B record whose leading start code was removed.
std::vector<int> nalTypes(const std::vector<uint8_t>& r)
{
    std::vector<int> types;
    if (r.empty())
        return types;
    types.push_back(r[0] & 0x1f);
    for (size_t i = 0; i + 3 < r.size(); ++i)
        if (r[i] == 0 && r[i + 1] == 0 && r[i + 2] == 1) {
            types.push_back(r[i + 3] & 0x1f);
            i += 2;
        }
    return types;
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

// Runs the capture loop on the given display until `count` records are
// queued (the deadline only ends a hang), stops it and hands back the records.
std::vector<Record> capture(const QString& display, size_t count, int* shmMode = nullptr)
{
    qputenv("DISPLAY", display.toUtf8());
    QScreenThread screen(nullptr, 1920, 1080, 30, 10, 4000000);
    std::atomic<int> callbacks{0};
    screen.setCallbackFunctionFrameIsReady([&] { ++callbacks; });
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
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    while (static_cast<size_t>(screen.queueLength()) < count && !deadline.hasExpired())
        QThread::msleep(50);
    painter.kill();
    painter.waitForFinished(3000);
    screen.requestStop();
    EXPECT_TRUE(screen.wait(20000)) << "the capture loop ends on request";
    EXPECT_GE(callbacks.load(), static_cast<int>(count));

    std::vector<Record> records;
    uint8_t* data = nullptr;
    unsigned size = 0;
    while (screen.GetFrame(&data, &size)) {
        records.push_back({screen.outqueue.front()->frameID, std::vector<uint8_t>(data, data + size)});
        screen.ReleaseFrame();
    }
    return records;
}

}  // namespace

TEST(Capture, RecordsAreAccessUnitsWithKeyframesEveryTenFrames)
{
    tsupport::XServer x(1920, 1080, false);
    ASSERT_TRUE(x.ok());
    int mode = -1;
    const std::vector<Record> records = capture(x.display(), 25, &mode);
    EXPECT_EQ(mode, 0600) << "nobody else may read the screen";
    ASSERT_GE(records.size(), 25u);
    ASSERT_EQ(records.front().frameID, 0);
    size_t lastKey = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        const Record& r = records[i];
        SCOPED_TRACE(r.frameID);
        ASSERT_GE(r.bytes.size(), 4u);
        // No leading start code of either length.
        EXPECT_FALSE(r.bytes[0] == 0 && r.bytes[1] == 0 && (r.bytes[2] == 1 || (r.bytes[2] == 0 && r.bytes[3] == 1)));
        const std::vector<int> types = nalTypes(r.bytes);
        // A keyframe is SPS, PPS, then IDR slices (parameter sets travel in
        // the stream); any other picture holds only non-IDR slices.
        const bool key = types.size() >= 3 && types[0] == 7 && types[1] == 8 && types.back() == 5;
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
    // The loop runs about 30 times a second; frame numbers follow the loop.
    for (size_t i = 1; i < records.size(); ++i)
        EXPECT_GT(records[i].frameID, records[i - 1].frameID);
}

// Nobody watching: no grab at all; a watcher gets a keyframe first (what
// was left in the queue is dropped); the loop goes back to sleep when the
// last one goes. A picture asked for while nobody watches is one keyframe.
TEST(Capture, GrabsOnlyWhileWatchedAndStartsWithAKeyframe)
{
    tsupport::XServer x(1920, 1080, false);
    ASSERT_TRUE(x.ok());
    qputenv("DISPLAY", x.display().toUtf8());
    QScreenThread screen(nullptr, 1920, 1080, 30, 10, 4000000);
    screen.setCallbackFunctionFrameIsReady([] {});
    screen.start();
    auto waitFor = [](const std::function<bool()>& done) {
        QDeadlineTimer deadline(tsupport::SLOW_MS);
        while (!done() && !deadline.hasExpired())
            QThread::msleep(10);
        return done();
    };
    ASSERT_TRUE(waitFor([&] { return screen.idle(); }));
    EXPECT_EQ(screen.grabs(), 0u);
    EXPECT_EQ(screen.queueLength(), 0);

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        screen.setWatched(true);
        ASSERT_TRUE(waitFor([&] { return screen.queueLength() >= 3; }));
        uint8_t* data = nullptr;
        unsigned size = 0;
        ASSERT_TRUE(screen.GetFrame(&data, &size));
        EXPECT_EQ(nalTypes(std::vector<uint8_t>(data, data + size)).front(), 7) << "a keyframe first";
        screen.ReleaseFrame();
        screen.setWatched(false);
        ASSERT_TRUE(waitFor([&] { return screen.idle(); }));
        const unsigned long grabs = screen.grabs();
        EXPECT_GT(grabs, 0u);
        // Asleep: however long this takes, nothing more is grabbed.
        EXPECT_TRUE(screen.idle());
        EXPECT_EQ(screen.grabs(), grabs);
    }
    const unsigned long grabs = screen.grabs();
    const int queued = screen.queueLength();
    screen.requestPicture();
    ASSERT_TRUE(waitFor([&] { return screen.queueLength() == queued + 1 && screen.idle(); }));
    EXPECT_EQ(screen.grabs(), grabs + 1);
    EXPECT_EQ(nalTypes(screen.outqueue.back()->dataPointer
                           ? std::vector<uint8_t>(screen.outqueue.back()->dataPointer,
                                                  screen.outqueue.back()->dataPointer + screen.outqueue.back()->dataSize)
                           : std::vector<uint8_t>())
                  .front(),
              7);
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
    screen.setCallbackFunctionFrameIsReady([&] {
        ++frames;
        screen.requestKeyframe();
        screen.ReleaseFrame();  // keeps the queue short
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
    screen.setCallbackFunctionFrameIsReady([&] { screen.ReleaseFrame(); });
    auto waitFor = [](const std::function<bool()>& done) {
        QDeadlineTimer deadline(tsupport::SLOW_MS);
        while (!done() && !deadline.hasExpired())
            QThread::msleep(10);
        return done();
    };
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
TEST(Capture, SmallerRootWindowIsScaledToTheEncodedSize)
{
    tsupport::XServer x(1024, 600, false);
    ASSERT_TRUE(x.ok());
    const std::vector<Record> records = capture(x.display(), 11);
    ASSERT_GE(records.size(), 11u);
    EXPECT_EQ(nalTypes(records.front().bytes)[0], 7);
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
    screen.setCallbackFunctionFrameIsReady([] {});
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
    screen.setCallbackFunctionFrameIsReady([] {});
    testing::internal::CaptureStderr();
    screen.start();
    EXPECT_TRUE(screen.wait(20000));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Screen sharing is off"), std::string::npos);
    EXPECT_EQ(screen.queueLength(), 0);
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
