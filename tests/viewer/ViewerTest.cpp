// The viewer thread against stand-in RTSP peers on this test's private
// loopback, with its window on a private X server.
#include "QPullThread.h"
#include "NetSupport.h"
#include "TestSupport.h"
#include "ViewerSupport.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <SDL.h>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <memory>
#include <sys/time.h>
#include <time.h>

extern "C" {
#include <libavutil/log.h>
}

// Faults injected into this process, for the tests below.
namespace inject {
// Seconds added to the wall clock (a step of NTP); the steady clock runs on.
std::atomic<long> wallStepS{0};
// The SDL function that fails, or null.
std::atomic<const char*> failingSdl{nullptr};

template <typename F>
F real(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

bool failing(const char* name)
{
    const char* f = failingSdl.load();
    if (!f || std::strcmp(f, name) != 0)
        return false;
    SDL_SetError("%s fails in this test", name);
    return true;
}
}  // namespace inject

// This executable's definitions come first for every library of the
// process: the wall clock with a step, SDL calls that fail on demand.
extern "C" {
int gettimeofday(struct timeval* tv, void* tz)
{
    static const auto next = inject::real<int (*)(struct timeval*, void*)>("gettimeofday");
    const int r = next(tv, tz);
    if (r == 0 && tv)
        tv->tv_sec += inject::wallStepS.load();
    return r;
}

int clock_gettime(clockid_t clock, struct timespec* ts)
{
    static const auto next = inject::real<int (*)(clockid_t, struct timespec*)>("clock_gettime");
    const int r = next(clock, ts);
    if (r == 0 && ts && (clock == CLOCK_REALTIME || clock == CLOCK_REALTIME_COARSE))
        ts->tv_sec += inject::wallStepS.load();
    return r;
}

SDL_Window* SDL_CreateWindow(const char* title, int x, int y, int w, int h, Uint32 flags)
{
    static const auto next = inject::real<SDL_Window* (*)(const char*, int, int, int, int, Uint32)>("SDL_CreateWindow");
    return inject::failing("SDL_CreateWindow") ? nullptr : next(title, x, y, w, h, flags);
}

SDL_Surface* SDL_GetWindowSurface(SDL_Window* window)
{
    static const auto next = inject::real<SDL_Surface* (*)(SDL_Window*)>("SDL_GetWindowSurface");
    return inject::failing("SDL_GetWindowSurface") ? nullptr : next(window);
}

int SDL_UpdateWindowSurface(SDL_Window* window)
{
    static const auto next = inject::real<int (*)(SDL_Window*)>("SDL_UpdateWindowSurface");
    return inject::failing("SDL_UpdateWindowSurface") ? -1 : next(window);
}
}

// Xlib last: its macros clash with GoogleTest's and Qt's names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using namespace tsupport;
using namespace vsupport;

namespace {

std::atomic<int> decodeErrors{0};

void countingLog(void* avcl, int level, const char* fmt, va_list vl)
{
    if (level <= AV_LOG_ERROR)
        ++decodeErrors;
    av_log_default_callback(avcl, level, fmt, vl);
}

const QString PATH = ":5000/cam_passby_chn0";

QString url(const QString& address) { return "rtsp://" + address + PATH; }

// A stop must end the viewer promptly; this bound only turns a hang into a
// failure on a loaded machine.
const unsigned long STOP_MS = 20000;

class ViewerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        x = new tsupport::XServer(1280, 720, false);
        ASSERT_TRUE(x->ok());
        // SDL in this process opens its window on the private server.
        setenv("DISPLAY", x->display().toLocal8Bit().constData(), 1);
        setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
        av_log_set_callback(countingLog);
        // SDL loads the GL stack for each window and unloads it at the end;
        // held here, what Mesa keeps for itself stays attributable (and
        // suppressed) when the leak check runs at exit.
        for (const char* lib : {"libGL.so.1", "libX11.so.6", "libXext.so.6", "libXcursor.so.1", "libXi.so.6",
                                "libXrandr.so.2", "libXss.so.1", "libXfixes.so.3", "libXinerama.so.1",
                                "libxkbcommon.so.0", "libX11-xcb.so.1", "libGLX_mesa.so.0", "libglapi.so.0",
                                "libxcb-glx.so.0", "libxcb-dri2.so.0", "libxcb-present.so.0", "libxcb-sync.so.1",
                                "libxcb-xfixes.so.0", "libxshmfence.so.1", "libXxf86vm.so.1", "libdrm.so.2",
                                "/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so"})
            dlopen(lib, RTLD_NOW | RTLD_NODELETE);
    }
    static void TearDownTestSuite()
    {
        av_log_set_callback(av_log_default_callback);
        delete x;
        x = nullptr;
    }
    void TearDown() override
    {
        if (viewer) {
            viewer->shouldTerminate = true;
            viewer->wait();
        }
    }

    void start(const QString& address)
    {
        viewer = std::make_unique<QPullThread>(nullptr, url(address));
        viewer->start();
    }
    // Waits for the viewer to end by itself.
    bool ends(int timeoutMs) { return viewer->wait(static_cast<unsigned long>(timeoutMs)); }

    static tsupport::XServer* x;
    std::unique_ptr<QPullThread> viewer;
};

tsupport::XServer* ViewerTest::x = nullptr;

TEST_F(ViewerTest, InterruptRuleAbortsLongBlockingCallsAndStops)
{
    QPullThread t(nullptr, url("127.0.0.1"));
    EXPECT_EQ(read_begin_time.load(), -1);
    EXPECT_EQ(QPullThread::interrupt_cb(&t), 0);  // nothing under way yet
    read_begin_time = QPullThread::getNow() - 5000;
    EXPECT_EQ(QPullThread::interrupt_cb(&t), 0);
    read_begin_time = QPullThread::getNow() - 10500;
    EXPECT_EQ(QPullThread::interrupt_cb(&t), 1);
    read_begin_time = QPullThread::getNow();
    t.shouldTerminate = true;
    EXPECT_EQ(QPullThread::interrupt_cb(&t), 1);  // a stop aborts at once
    read_begin_time = -1;
}

TEST_F(ViewerTest, ShowsTheStreamInABorderlessWindowCoveringTheDisplayUntilStopped)
{
    Peer peer({"--address", "127.0.0.5", "--color", "2060e0"});
    ASSERT_TRUE(peer.ready());
    start("127.0.0.5");
    EXPECT_EQ(viewer->currentSrc(), url("127.0.0.5"));

    auto win = tsupport::waitForWindow(x->env(), "多屏", tsupport::SLOW_MS);
    ASSERT_TRUE(win.has_value());
    EXPECT_EQ(win->x, 0);
    EXPECT_EQ(win->y, 0);
    EXPECT_EQ(win->width, 1280);
    EXPECT_EQ(win->height, 720);
    // Kept out of the task bar, and a plain top-level window: no window
    // manager has framed it.
    const QByteArray props = tsupport::run("xprop", {"-id", win->id}, x->env());
    EXPECT_TRUE(props.contains("_NET_WM_STATE_SKIP_TASKBAR")) << props.constData();

    // The picture reaches the screen, stretched over all of it.
    EXPECT_TRUE(waitForColour(x->env(), QColor(0x20, 0x60, 0xe0), tsupport::SLOW_MS));
    EXPECT_FALSE(viewer->isFinished());

    viewer->shouldTerminate = true;
    EXPECT_TRUE(viewer->wait(STOP_MS));
    EXPECT_TRUE(tsupport::waitForNoWindow(x->env(), "多屏", tsupport::SLOW_MS));
    EXPECT_EQ(viewer->currentSrc(), QString());
    EXPECT_TRUE(peer.waitFor("closed", 1, tsupport::SLOW_MS));
}

TEST_F(ViewerTest, PictureThatChangesEveryFrameIsShownWithoutDecodingErrors)
{
    Peer peer({"--address", "127.0.0.5", "--moving", "--size", "1280x720"});
    ASSERT_TRUE(peer.ready());
    decodeErrors = 0;
    start("127.0.0.5");
    ASSERT_TRUE(tsupport::waitForWindow(x->env(), "多屏", tsupport::SLOW_MS).has_value());
    // The moving picture keeps arriving: the screen shows one picture after
    // another (waited for, however slowly they come).
    int changes = 0;
    QImage last = tsupport::screenshot(x->env());
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    while (changes < 3 && !deadline.hasExpired()) {
        tsupport::pause(100);
        const QImage now = tsupport::screenshot(x->env());
        ASSERT_FALSE(now.isNull());
        if (now != last)
            ++changes;
        last = now;
    }
    EXPECT_EQ(changes, 3);
    EXPECT_FALSE(viewer->isFinished());
    viewer->shouldTerminate = true;
    EXPECT_TRUE(viewer->wait(STOP_MS));
    EXPECT_EQ(decodeErrors.load(), 0);
}

TEST_F(ViewerTest, PictureSizeChangeWithinTheStreamKeepsFillingTheWindow)
{
    // The picture changes colour with its size, so the screen tells when the
    // pictures after the change are shown.
    Peer peer({"--address", "127.0.0.5", "--color", "e0e020", "--size", "640x360", "--resize-after", "1500",
               "--resize", "1280x720", "--resize-color", "20e0e0"});
    ASSERT_TRUE(peer.ready());
    decodeErrors = 0;
    start("127.0.0.5");
    ASSERT_TRUE(tsupport::waitForWindow(x->env(), "多屏", tsupport::SLOW_MS).has_value());
    EXPECT_TRUE(waitForColour(x->env(), QColor(0x20, 0xe0, 0xe0), tsupport::SLOW_MS));
    EXPECT_FALSE(viewer->isFinished());
    viewer->shouldTerminate = true;
    EXPECT_TRUE(viewer->wait(STOP_MS));
}

// Watches the centre and two corners of the display every millisecond until
// all three show `until` (true) or the deadline passes (false); *seen counts
// the grabs in which any of them showed `never`.
bool watchUntil(const QString& display, QColor until, QColor never, int* seen, int timeoutMs)
{
    Display* d = XOpenDisplay(display.toLocal8Bit().constData());
    if (!d)
        return false;
    const Window root = DefaultRootWindow(d);
    const int w = DisplayWidth(d, 0), h = DisplayHeight(d, 0);
    const int pts[3][2] = {{w / 2, h / 2}, {8, 8}, {w - 9, 8}};
    QDeadlineTimer deadline(timeoutMs);
    bool reached = false;
    while (!reached && !deadline.hasExpired()) {
        int matching = 0;
        bool forbidden = false;
        for (const auto& pt : pts) {
            XImage* img = XGetImage(d, root, pt[0], pt[1], 1, 1, AllPlanes, ZPixmap);
            if (!img)
                continue;
            const unsigned long p = XGetPixel(img, 0, 0);
            XDestroyImage(img);
            const QColor c((p >> 16) & 0xff, (p >> 8) & 0xff, p & 0xff);
            matching += near(c, until);
            forbidden = forbidden || near(c, never);
        }
        *seen += forbidden;
        reached = matching == 3;
        QThread::usleep(1000);
    }
    XCloseDisplay(d);
    return reached;
}

// Pictures that waited (here: two seconds of blue ones, held back by the
// peer and then sent all at once ahead of the green ones, every blue one at
// least 300 ms stale) are skipped: the screen goes from the red picture
// before the backlog straight to green.
TEST_F(ViewerTest, BacklogOfStalePicturesIsSkippedNotShown)
{
    Peer peer({"--address", "127.0.0.5", "--color", "e02020", "--hold-color", "2020e0", "--after-color", "20e020"});
    ASSERT_TRUE(peer.ready());
    start("127.0.0.5");
    ASSERT_TRUE(waitForColour(x->env(), QColor(0xe0, 0x20, 0x20), tsupport::SLOW_MS));
    ASSERT_EQ(::kill(static_cast<pid_t>(peer.pid()), SIGUSR1), 0);
    ASSERT_TRUE(peer.waitFor("held", 1, tsupport::SLOW_MS));
    tsupport::pause(2000);  // how much piles up, not a deadline
    ASSERT_EQ(::kill(static_cast<pid_t>(peer.pid()), SIGUSR2), 0);
    int blueGrabs = 0;
    EXPECT_TRUE(watchUntil(x->display(), QColor(0x20, 0xe0, 0x20), QColor(0x20, 0x20, 0xe0), &blueGrabs,
                           tsupport::SLOW_MS));
    EXPECT_EQ(blueGrabs, 0);
    EXPECT_TRUE(peer.waitFor("released", 1, tsupport::SLOW_MS));
    EXPECT_FALSE(viewer->isFinished());
}

TEST_F(ViewerTest, StreamThatGoesSilentEndsTheViewerAfterTenSeconds)
{
    Peer peer({"--address", "127.0.0.5", "--color", "20e020", "--silent-after", "1000"});
    ASSERT_TRUE(peer.ready());
    QElapsedTimer clock;
    clock.start();
    start("127.0.0.5");
    ASSERT_TRUE(tsupport::waitForWindow(x->env(), "多屏", tsupport::SLOW_MS).has_value());
    ASSERT_TRUE(ends(tsupport::SLOW_MS));
    EXPECT_GE(clock.elapsed(), 10000);  // a stall is tolerated for 10 s
    EXPECT_FALSE(viewer->shouldTerminate.load());
    EXPECT_EQ(viewer->currentSrc(), QString());
    EXPECT_TRUE(tsupport::waitForNoWindow(x->env(), "多屏", tsupport::SLOW_MS));
}

TEST_F(ViewerTest, StreamWithoutVideoEndsWithItsFailureLines)
{
    Peer peer({"--address", "127.0.0.5", "--mode", "audio"});
    ASSERT_TRUE(peer.ready());
    StdoutCapture out;
    start("127.0.0.5");
    ASSERT_TRUE(ends(tsupport::SLOW_MS));
    EXPECT_TRUE(out.text().contains("Could not find a video stream\nruntime error\n")) << out.text().constData();
    EXPECT_EQ(viewer->currentSrc(), QString());
    EXPECT_TRUE(tsupport::windowsNamed(x->env(), "多屏").isEmpty());
}

// The viewer decodes H.264 only: a stream of another codec (here Motion JPEG,
// which FFmpeg could decode) is refused before any window is made.
TEST_F(ViewerTest, StreamOfAnotherCodecEndsWithItsFailureLinesAndShowsNothing)
{
    Peer peer({"--address", "127.0.0.5", "--codec", "jpeg", "--color", "e02020"});
    ASSERT_TRUE(peer.ready());
    StdoutCapture out;
    start("127.0.0.5");
    ASSERT_TRUE(ends(tsupport::SLOW_MS));
    EXPECT_TRUE(out.text().contains("Could not find a decoder\nruntime error\n")) << out.text().constData();
    EXPECT_EQ(viewer->currentSrc(), QString());
    EXPECT_TRUE(tsupport::windowsNamed(x->env(), "多屏").isEmpty());
    EXPECT_FALSE(coveredBy(tsupport::screenshot(x->env()), QColor(0xe0, 0x20, 0x20)));
    EXPECT_TRUE(peer.waitFor("closed", 1, tsupport::SLOW_MS));
}

TEST_F(ViewerTest, RefusedConnectionEndsWithCouldNotOpen)
{
    StdoutCapture out;
    start("127.0.0.7");  // nothing listens there
    ASSERT_TRUE(ends(tsupport::SLOW_MS));
    EXPECT_TRUE(out.text().contains("Could not open the stream\nruntime error\n")) << out.text().constData();
    EXPECT_EQ(viewer->currentSrc(), QString());
}

// A stop while the viewer waits for an answer is no failure: it ends
// without a failure line.
TEST_F(ViewerTest, StopWhileOpeningEndsTheViewerWithoutAFailure)
{
    Peer peer({"--address", "127.0.0.9", "--mode", "hang"});
    ASSERT_TRUE(peer.ready());
    QByteArray text;
    {
        StdoutCapture out;
        start("127.0.0.9");
        peer.waitFor("accepted", 1, tsupport::SLOW_MS);
        viewer->shouldTerminate = true;
        viewer->wait(STOP_MS);
        text = out.text();
    }
    EXPECT_GE(peer.count("accepted"), 1);
    ASSERT_TRUE(viewer->isFinished());
    EXPECT_EQ(viewer->currentSrc(), QString());
    EXPECT_TRUE(text.isEmpty()) << text.constData();
}

// A source that never delivers a picture (here: it never answers) is given
// up once the first picture is 2 s overdue, with one line that says why.
TEST_F(ViewerTest, FirstPictureOverdueEndsTheViewer)
{
    Peer peer({"--address", "127.0.0.9", "--mode", "hang"});
    ASSERT_TRUE(peer.ready());
    QByteArray text;
    QElapsedTimer clock;
    {
        StdoutCapture out;
        clock.start();
        start("127.0.0.9");
        ends(tsupport::SLOW_MS);
        text = out.text();
    }
    ASSERT_TRUE(viewer->isFinished());
    EXPECT_GE(clock.elapsed(), QPullThread::FIRST_PICTURE_MS);
    EXPECT_EQ(text, "No picture within 2 s\nruntime error\n");
    EXPECT_EQ(viewer->currentSrc(), QString());
    EXPECT_TRUE(tsupport::windowsNamed(x->env(), "多屏").isEmpty());
}

// The stall limit is on the steady clock: a step of the wall clock (NTP
// setting it back an hour) while the stream is silent does not keep the
// viewer waiting for it.
TEST_F(ViewerTest, StepOfTheWallClockDoesNotKeepASilentStreamAlive)
{
    Peer peer({"--address", "127.0.0.5", "--color", "20e020", "--silent-after", "1000"});
    ASSERT_TRUE(peer.ready());
    start("127.0.0.5");
    ASSERT_TRUE(waitForColour(x->env(), QColor(0x20, 0xe0, 0x20), tsupport::SLOW_MS));
    tsupport::pause(2000);  // well into the silence
    inject::wallStepS = -3600;
    const bool ended = ends(tsupport::SLOW_MS);
    inject::wallStepS = 0;
    EXPECT_TRUE(ended);
    EXPECT_EQ(viewer->currentSrc(), QString());
}

// Every SDL call that can fail is checked (the window, its image, putting
// the image on the screen): the viewer ends with "runtime error" and leaves
// no window, instead of running on with nothing to show.
TEST_F(ViewerTest, SdlFailuresEndTheViewer)
{
    Peer peer({"--address", "127.0.0.5", "--color", "e02020"});
    ASSERT_TRUE(peer.ready());
    for (const char* call : {"SDL_CreateWindow", "SDL_GetWindowSurface", "SDL_UpdateWindowSurface"}) {
        QByteArray text;
        bool ended = false;
        {
            // The failures are reported once stdout is back.
            StdoutCapture out;
            inject::failingSdl = call;
            start("127.0.0.5");
            ended = ends(tsupport::SLOW_MS);
            inject::failingSdl = nullptr;
            text = out.text();
        }
        EXPECT_TRUE(ended) << call;
        EXPECT_TRUE(text.endsWith("runtime error\n")) << call << ": " << text.constData();
        if (!ended) {
            viewer->shouldTerminate = true;
            viewer->wait();
        }
        EXPECT_EQ(viewer->currentSrc(), QString()) << call;
        EXPECT_TRUE(tsupport::waitForNoWindow(x->env(), "多屏", tsupport::SLOW_MS)) << call;
    }
    // Nothing of it stays: the next viewer shows the stream.
    start("127.0.0.5");
    EXPECT_TRUE(waitForColour(x->env(), QColor(0xe0, 0x20, 0x20), tsupport::SLOW_MS));
}

// A switch goes on in the same thread and window: the new stream's picture
// replaces the old one without the desktop showing in between, and the old
// stream is closed.
TEST_F(ViewerTest, SwitchShowsTheNewStreamInTheSameWindow)
{
    Peer red({"--address", "127.0.0.5", "--color", "e02020"});
    Peer blue({"--address", "127.0.0.6", "--color", "2020e0"});
    ASSERT_TRUE(red.ready() && blue.ready());
    start("127.0.0.5");
    ASSERT_TRUE(waitForColour(x->env(), QColor(0xe0, 0x20, 0x20), tsupport::SLOW_MS));
    const auto before = tsupport::waitForWindow(x->env(), "多屏", tsupport::SLOW_MS);
    ASSERT_TRUE(before.has_value());
    EXPECT_TRUE(viewer->switchTo(url("127.0.0.5")));  // the same: nothing changes
    EXPECT_TRUE(viewer->switchTo(url("127.0.0.6")));
    EXPECT_EQ(viewer->currentSrc(), url("127.0.0.6"));
    EXPECT_TRUE(waitForColour(x->env(), QColor(0x20, 0x20, 0xe0), tsupport::SLOW_MS));
    EXPECT_TRUE(red.waitFor("closed", 1, tsupport::SLOW_MS));
    EXPECT_EQ(red.count("connected"), 1);
    const QList<tsupport::WindowInfo> after = tsupport::windowsNamed(x->env(), "多屏");
    ASSERT_EQ(after.size(), 1);
    EXPECT_EQ(after[0].id, before->id);
    EXPECT_FALSE(viewer->isFinished());
}

// A switch while a stream is still opening is no failure either; a viewer
// that has ended takes no switch (its owner starts another).
TEST_F(ViewerTest, SwitchWhileOpeningIsNoFailureAndAnEndedViewerTakesNone)
{
    Peer hang({"--address", "127.0.0.9", "--mode", "hang"});
    Peer red({"--address", "127.0.0.5", "--color", "e02020"});
    ASSERT_TRUE(hang.ready() && red.ready());
    StdoutCapture out;
    start("127.0.0.9");
    ASSERT_TRUE(hang.waitFor("accepted", 1, tsupport::SLOW_MS));
    ASSERT_TRUE(viewer->switchTo(url("127.0.0.5")));
    EXPECT_TRUE(waitForColour(x->env(), QColor(0xe0, 0x20, 0x20), tsupport::SLOW_MS));
    EXPECT_TRUE(out.text().isEmpty()) << out.text().constData();
    viewer->shouldTerminate = true;
    EXPECT_FALSE(viewer->switchTo(url("127.0.0.9")));  // stopping
    ASSERT_TRUE(viewer->wait(STOP_MS));
    EXPECT_FALSE(viewer->switchTo(url("127.0.0.5")));  // ended
    EXPECT_EQ(viewer->currentSrc(), QString());
}

TEST_F(ViewerTest, StopDuringOpeningEndsTheViewerAndLeavesNoWindow)
{
    Peer peer({"--address", "127.0.0.5", "--color", "e02020"});
    ASSERT_TRUE(peer.ready());
    for (int delayMs : {0, 30, 150}) {
        start("127.0.0.5");
        tsupport::pause(delayMs);
        viewer->shouldTerminate = true;
        ASSERT_TRUE(viewer->wait(STOP_MS)) << delayMs;
        EXPECT_EQ(viewer->currentSrc(), QString()) << delayMs;
        EXPECT_TRUE(tsupport::waitForNoWindow(x->env(), "多屏", tsupport::SLOW_MS)) << delayMs;
    }
    // The peer is still fine for a viewer that is left alone.
    start("127.0.0.5");
    EXPECT_TRUE(tsupport::waitForWindow(x->env(), "多屏", tsupport::SLOW_MS).has_value());
}

}  // namespace
