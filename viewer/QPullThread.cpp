#include "QPullThread.h"

#include "Failure.h"
#include "FullScreen.h"
#include "LiveGate.h"
#include "PictureDecoder.h"
#include "RtspSource.h"
#include "Utils.h"

#include <QMutexLocker>
#include <cstdio>
#include <glib.h>
#include <malloc.h>
#include <memory>
#include <mutex>
#include <stdexcept>

extern "C" {
#include <libavutil/frame.h>
}

QPullThread* pullThread = nullptr;
std::atomic<int64_t> read_begin_time{-1};

namespace {

// The longest the viewer thread waits for data before it looks at its stop
// and switch requests and its time limits again.
const int POLL_MS = 20;
// Blocks from this size on are mapped and unmapped one by one: glibc's own
// starting value, kept fixed.
const int MMAP_THRESHOLD_BYTES = 128 * 1024;

// glibc raises the size from which it maps blocks instead of carving them
// from a heap each time a mapped block is freed, up to 32 MiB. After the
// first show, the viewer's pictures, textures and the window's 8 MB buffers
// (all aligned blocks of megabytes) then come from the heap of the viewer
// thread's arena, which kept them after they were freed and grew by about
// 8 MB a show (measured: in-use bytes flat, the arena 75 -> 281 MB over 25
// shows). A fixed threshold keeps such blocks mapped: freed, they go back to
// the system.
void keepLargeBlocksMapped()
{
    static std::once_flag once;
    std::call_once(once, [] { mallopt(M_MMAP_THRESHOLD, MMAP_THRESHOLD_BYTES); });
}

// Hands the free memory of every allocator arena back to the system. The
// threads of a stream (GStreamer's, the decoder's) leave freed blocks behind
// in arenas whose heaps glibc does not shrink by itself; a terminal shows
// streams all week.
void releaseFreedMemory()
{
    malloc_trim(0);
}

int64_t steadyUs()
{
    return static_cast<int64_t>(Utils::clocktime(us));
}

// True for an access unit that holds an IDR slice: a picture the decoder can
// begin with.
bool isKeyframe(const std::vector<uint8_t>& unit)
{
    const uint8_t* d = unit.data();
    const size_t n = unit.size();
    for (size_t i = 0; i + 3 < n; ++i)
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && (d[i + 3] & 0x1f) == 5)
            return true;
    return false;
}

}  // namespace

QPullThread::QPullThread(QObject* parent, QString src, bool multicast)
    : QThread(parent), src(std::move(src)), multicast_(multicast)
{
    keepLargeBlocksMapped();
    read_begin_time = -1;
    // Names the thread (and the decoder's threads it starts) in /proc and
    // in debuggers.
    setObjectName(QStringLiteral("tavlo-viewer"));
}

QPullThread::~QPullThread() = default;

QString QPullThread::currentSrc() const
{
    QMutexLocker lock(&srcMutex);
    return src;
}

bool QPullThread::switchTo(const QString& url, bool multicast)
{
    QMutexLocker lock(&srcMutex);
    if (ended_ || shouldTerminate.load())
        return false;
    if (src != url) {
        src = url;
        multicast_ = multicast;
        ++requested_;
    }
    return true;
}

int64_t QPullThread::getNow()
{
    return static_cast<int64_t>(Utils::clocktime(ms));
}

int QPullThread::interrupt_cb(void* ctx)
{
    const QPullThread* self = static_cast<const QPullThread*>(ctx);
    if (self && (self->shouldTerminate.load() || self->switchRequested()))
        return 1;
    const int64_t now = getNow();
    if (self && !self->pictureShown_.load()) {
        const int64_t deadline = self->firstPictureDeadline_.load();
        if (deadline > 0 && now > deadline)
            return 1;
    }
    const int64_t begin = read_begin_time.load();
    return begin > 0 && now - begin > STALL_LIMIT_MS ? 1 : 0;
}

// Viewer thread: one stream after another in one window, as the owner
// switches, until one ends without a successor or the owner stops it.
void QPullThread::run()
{
    FullScreen screen;
    QString url;
    bool multicast = false;
    {
        QMutexLocker lock(&srcMutex);
        url = src;
        multicast = multicast_;
        playing_ = requested_.load();
    }
    for (;;) {
        const Outcome outcome = play(url, multicast, screen);
        // A stream that failed or ended leaves nothing on the screen.
        if (outcome == Outcome::Failed || outcome == Outcome::Ended)
            screen.close();
        QMutexLocker lock(&srcMutex);
        if (!shouldTerminate.load() && switchRequested()) {
            url = src;
            multicast = multicast_;
            playing_ = requested_.load();
            continue;
        }
        // Emptied before the window goes: whoever sees the window gone and
        // names the same stream again gets a new viewer, not this one on its
        // way out.
        ended_ = true;
        src = QString();
        break;
    }
    screen.close();
    std::fflush(stdout);
    releaseFreedMemory();
}

QPullThread::Outcome QPullThread::interrupted()
{
    if (shouldTerminate.load())
        return Outcome::Stopped;
    if (switchRequested())
        return Outcome::Switched;
    if (!pictureShown_.load() && getNow() > firstPictureDeadline_.load())
        failWithLine("No picture within 2 s");
    return Outcome::Ended;  // a stall: the loop ends as at the end of the stream
}

QPullThread::Outcome QPullThread::play(const QString& url, bool multicast, FullScreen& screen)
{
    pictureShown_ = false;
    const int64_t start = getNow();
    firstPictureDeadline_ = start + FIRST_PICTURE_MS;
    read_begin_time = start;
    try {
        auto source = std::make_unique<RtspSource>(
            url, multicast ? RtspSource::Transport::Multicast : RtspSource::Transport::Tcp);
        PictureDecoder decoder;
        LiveGate gate;
        RtspSource::Unit unit;
        PictureTimes t;
        for (;;) {
            screen.drainEvents();
            if (interrupt_cb(this))
                return interrupted();
            const char* failure = nullptr;
            const RtspSource::Status status = source->next(POLL_MS, &unit, &failure);
            if (source->transport() == RtspSource::Transport::Multicast &&
                (status == RtspSource::Status::Failed || status == RtspSource::Status::Ended ||
                 (status != RtspSource::Status::Unit && source->multicastSilent(g_get_monotonic_time())))) {
                // Pinned. The same stream over TCP; the decoder goes on (the
                // new session starts with a keyframe), the gate learns the
                // new session's timestamps afresh.
                std::printf("Viewer: no multicast from %s; reopened over TCP\n", url.toUtf8().constData());
                std::fflush(stdout);
                source.reset();
                source = std::make_unique<RtspSource>(url, RtspSource::Transport::Tcp);
                gate = LiveGate();
                const int64_t now = getNow();
                if (!pictureShown_.load())
                    firstPictureDeadline_ = now + FIRST_PICTURE_MS;
                read_begin_time = now;
                continue;
            }
            if (status == RtspSource::Status::Failed)
                failWithLine(failure);
            if (status == RtspSource::Status::Ended)
                return Outcome::Ended;
            // The window is made while the first pictures are on their way
            // (a switch keeps the one that shows the last stream).
            if (!screen.isOpen() && source->hasVideo())
                screen.open();
            if (status != RtspSource::Status::Unit)
                continue;

            t.receivedUs = steadyUs();
            read_begin_time = getNow();
            // Without a timestamp a unit counts as on time.
            const int64_t ptsUs = unit.ptsUs == INT64_MIN ? t.receivedUs : unit.ptsUs;
            if (!gate.admit(t.receivedUs, ptsUs, isKeyframe(unit.data)) ||
                !decoder.send(unit.data.data(), static_cast<int>(unit.data.size()), unit.ptsUs))
                continue;
            while (const AVFrame* picture = decoder.receive()) {
                t.decodedUs = steadyUs();
                if (picture->pts != AV_NOPTS_VALUE && !gate.show(t.decodedUs, picture->pts))
                    continue;
                t.gatedUs = steadyUs();
                // Nothing of a stream the owner no longer wants reaches the screen.
                if (shouldTerminate.load() || switchRequested())
                    break;
                const uint8_t* planes[3];
                int strides[3];
                if (!decoder.planar420(picture, planes, strides))
                    continue;
                if (!screen.isOpen())
                    screen.open();
                screen.draw(picture->width, picture->height, planes, strides);
                t.drawnUs = steadyUs();
                screen.present();
                t.presentedUs = steadyUs();
                pictureShown_ = true;
                if (onPicture)
                    onPicture(planes[0], strides[0], picture->width, picture->height, t);
            }
        }
    } catch (const std::runtime_error&) {
        std::printf("runtime error\n");
        std::fflush(stdout);
        return Outcome::Failed;
    }
}
