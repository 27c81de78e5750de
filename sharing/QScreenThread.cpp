#include "QScreenThread.h"

#include "Classroom.h"
#include "ColourConversion.h"
#include "FramePacer.h"

#include <QElapsedTimer>
#include <QException>
#include <QGuiApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>

extern "C" {
#include <libavutil/opt.h>
}

namespace {

using Clock = std::chrono::steady_clock;

// --quiet: no per-frame lines.
std::atomic<bool> Quiet{false};

// Set-up cannot go on: say why on stderr, once, and give up.
[[noreturn]] void fatal(const char* why)
{
    std::fprintf(stderr, "Screen sharing is off: %s\n", why);
    throw QException();
}

// Black in limited-range YUV.
const uint8_t BLACK_Y = 16, BLACK_C = 128;

}  // namespace

// Low delay: no look-ahead, no frame threads, no B-frames ("zerolatency"),
// a fast preset, and quality 23 under the rate limits set on the context.
const QScreenThread::EncoderOption QScreenThread::ENCODER_OPTIONS[3] = {
    {"preset", "veryfast"},
    {"tune", "zerolatency"},
    {"crf", "23"},
};

QScreenThread::QScreenThread(QObject* parent, int AWidth, int AHeight, int AFps, int AGob, int ABitPerSecond)
    : QThread(parent), Width(AWidth), Height(AHeight), Fps(AFps), Gob(AGob), BitPerSecond(ABitPerSecond)
{
    screen = QGuiApplication::primaryScreen();

    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!codec)
        fatal("no H.264 encoder");
    codecContext = avcodec_alloc_context3(codec);
    if (!codecContext)
        fatal("the H.264 encoder context cannot be allocated");

    codecContext->bit_rate = static_cast<int64_t>(BitPerSecond);
    codecContext->width = Width;
    codecContext->height = Height;
    codecContext->time_base = AVRational{1, Fps};
    codecContext->framerate = AVRational{Fps, 1};
    codecContext->gop_size = Gob;
    codecContext->max_b_frames = 0;
    codecContext->pix_fmt = AV_PIX_FMT_YUV420P;
    // The rate control's limits: never more than the bit rate, averaged
    // over a buffer of one second. One second rather than two keeps any ten
    // seconds within 10 % of the bit rate, and a burst after a still screen
    // short.
    codecContext->rc_max_rate = static_cast<int64_t>(BitPerSecond);
    codecContext->rc_buffer_size = BitPerSecond;
    // No global header: the parameter sets travel in the stream, ahead of
    // every keyframe (the wrapper repeats them when the flag is not set).
    for (const EncoderOption& option : ENCODER_OPTIONS)
        if (av_opt_set(codecContext->priv_data, option.name, option.value, 0) < 0)
            std::printf("Screen sharing: the encoder refused its option %s=%s\n", option.name, option.value);
    if (avcodec_open2(codecContext, codec, nullptr) < 0) {
        avcodec_free_context(&codecContext);
        fatal("the H.264 encoder cannot be opened");
    }

    // Fitted to the grabbed root window in setupCapture; the screen's size
    // is the first guess.
    int srcW = Width, srcH = Height;
    if (screen) {
        srcW = static_cast<int>(screen->size().width() * screen->devicePixelRatio());
        srcH = static_cast<int>(screen->size().height() * screen->devicePixelRatio());
    }
    placement = place(srcW, srcH, Width, Height);
    swsCtx = sws_getContext(srcW, srcH, AV_PIX_FMT_BGRA, placement.width, placement.height, AV_PIX_FMT_YUV420P,
                            SWS_BILINEAR, nullptr, nullptr, nullptr);
}

QScreenThread::~QScreenThread()
{
    grabber.close();
    avcodec_free_context(&codecContext);
    sws_freeContext(swsCtx);
}

void QScreenThread::setCallbackFunctionFrameIsReady(std::function<void(const AccessUnit&)> func)
{
    onFrame = std::move(func);
}

void QScreenThread::setThumbnailCallback(std::function<void(const AccessUnit&)> func)
{
    onThumbnail = std::move(func);
}

void QScreenThread::setThumbnailWatched(bool watched)
{
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        thumbWatched_ = watched;
    }
    wake_.notify_all();
}

void QScreenThread::requestThumbnail()
{
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        thumbWanted_ = true;
    }
    wake_.notify_all();
}

void QScreenThread::requestKeyframe(Channel channel)
{
    if (channel == Channel::Full)
        requestKeyframe();
    else
        requestThumbnail();
}

void QScreenThread::requestPicture(Channel channel)
{
    if (channel == Channel::Full)
        requestPicture();
    else
        requestThumbnail();
}

int QScreenThread::shmId() const
{
    return grabber.shmId();
}

QScreenThread::Placement QScreenThread::place(int screenW, int screenH, int width, int height)
{
    if (screenW <= 0 || screenH <= 0)
        return {0, 0, width & ~1, height & ~1};
    int w = width, h = height;
    if (static_cast<int64_t>(screenW) * height > static_cast<int64_t>(screenH) * width)
        h = static_cast<int>(static_cast<int64_t>(screenH) * width / screenW);  // wider: bars above and below
    else
        w = static_cast<int>(static_cast<int64_t>(screenW) * height / screenH);  // narrower: bars at the sides
    w = std::max(2, w & ~1);
    h = std::max(2, h & ~1);
    return {((width - w) / 2) & ~1, ((height - h) / 2) & ~1, w, h};
}

void QScreenThread::setupCapture()
{
    if (grabber.isOpen())
        return;
    grabber.open();
    if (!fitConversion(nullptr)) {
        grabber.close();
        fatal("no conversion from the screen to the encoder");
    }
}

bool QScreenThread::fitConversion(AVFrame* frame)
{
    sw = grabber.width();
    sh = grabber.height();
    placement = place(sw, sh, Width, Height);
    swsCtx = sws_getCachedContext(swsCtx, sw, sh, AV_PIX_FMT_BGRA, placement.width, placement.height,
                                  AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (frame && av_frame_make_writable(frame) >= 0) {
        // The bars: black once; the picture is written over the middle.
        for (int row = 0; row < Height; ++row)
            std::memset(frame->data[0] + static_cast<size_t>(row) * frame->linesize[0], BLACK_Y,
                        static_cast<size_t>(Width));
        for (int row = 0; row < Height / 2; ++row) {
            std::memset(frame->data[1] + static_cast<size_t>(row) * frame->linesize[1], BLACK_C,
                        static_cast<size_t>(Width / 2));
            std::memset(frame->data[2] + static_cast<size_t>(row) * frame->linesize[2], BLACK_C,
                        static_cast<size_t>(Width / 2));
        }
    }
    return swsCtx != nullptr;
}

void QScreenThread::setQuiet(bool quiet)
{
    Quiet = quiet;
}

bool QScreenThread::quiet()
{
    return Quiet;
}

void QScreenThread::requestStop()
{
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        stopRequested = true;
    }
    wake_.notify_all();
}

void QScreenThread::requestKeyframe()
{
    keyframeRequested = true;
}

void QScreenThread::setWatched(bool watched)
{
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        watched_ = watched;
    }
    wake_.notify_all();
}

void QScreenThread::requestPicture()
{
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        pictureWanted_ = true;
    }
    wake_.notify_all();
}

bool QScreenThread::waitForWatcher()
{
    std::unique_lock<std::mutex> lock(wakeMutex_);
    auto woken = [this] { return watched_ || pictureWanted_ || thumbnailsWanted() || stopRequested; };
    if (woken())
        return !stopRequested;
    idle_ = true;
    wake_.wait(lock, woken);
    idle_ = false;
    return !stopRequested;
}

bool QScreenThread::thumbnailStep()
{
    {
        std::unique_lock<std::mutex> lock(wakeMutex_);
        idle_ = true;
        wake_.wait_until(lock, nextThumbAt_, [this] {
            return watched_ || pictureWanted_ || !thumbnailsWanted() || stopRequested;
        });
        idle_ = false;
    }
    if (stopRequested)
        return false;
    // The full stream takes over (and makes the thumbnails on its way), or
    // nobody wants one any more.
    if (watched_ || pictureWanted_ || !thumbnailsWanted())
        return true;
    // Grabs of its own, at most one a thumbnail: the screen's size first.
    if (grabber.followResize()) {
        resizedInThumbnail_ = true;
        lastPixels_ = nullptr;
    }
    thumbnailIfDue(nullptr, 0, true);
    return true;
}

void QScreenThread::thumbnailIfDue(const uint8_t* pixels, int stride, bool grabOwn)
{
    if (pixels) {
        lastPixels_ = pixels;
        lastStride_ = stride;
        thumbStale_ = true;
    }
    const Clock::time_point now = Clock::now();
    if (!thumbnailsWanted() || now < nextThumbAt_)
        return;
    // The next one a whole interval from now, whatever becomes of this one
    // (a loop that only makes thumbnails never spins).
    nextThumbAt_ = now + std::chrono::milliseconds(Classroom::THUMBNAIL_INTERVAL_MS);
    if (!onThumbnail) {
        thumbWanted_ = false;  // nobody to hand it to
        return;
    }
    if (grabOwn && (grabber.changed() || !lastPixels_)) {
        int ownStride = 0;
        if (const uint8_t* own = grabber.grab(&ownStride)) {
            ++grabs_;
            lastPixels_ = own;
            lastStride_ = ownStride;
            thumbStale_ = true;
        }
    }
    if (thumbStale_ && lastPixels_ &&
        thumbEncoder_.take(lastPixels_, lastStride_, grabber.width(), grabber.height()))
        thumbStale_ = false;
    // A still screen: its last picture again, a keyframe of its own.
    if (!thumbEncoder_.hasPicture() || !thumbEncoder_.encode(&thumbUnit_))
        return;
    const bool afterIdle = thumbIdle_;
    thumbIdle_ = !thumbWatched_;
    thumbWanted_ = false;
    ++thumbnails_;
    onThumbnail(AccessUnit{thumbUnit_.data(), static_cast<int>(thumbUnit_.size()),
                           static_cast<int64_t>(thumbnails_), true, afterIdle});
}

bool QScreenThread::sleepUntil(Clock::time_point deadline)
{
    std::unique_lock<std::mutex> lock(wakeMutex_);
    wake_.wait_until(lock, deadline, [this] { return stopRequested.load(); });
    return !stopRequested;
}

void QScreenThread::run()
{
    try {
        setupCapture();
    } catch (const QException&) {
        return;  // already reported; screen sharing stays off
    }

    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    if (!frame || !packet) {
        std::fprintf(stderr, "Screen sharing is off: out of memory\n");
        av_frame_free(&frame);
        av_packet_free(&packet);
        return;
    }
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = Width;
    frame->height = Height;
    if (av_frame_get_buffer(frame, 0) < 0) {
        std::fprintf(stderr, "Screen sharing is off: no picture buffer\n");
        av_frame_free(&frame);
        av_packet_free(&packet);
        return;
    }
    fitConversion(frame);

    FramePacer pacer(Fps, Clock::now());
    // The encoder's clock: one tick per period, going on across idle spells.
    int64_t ptsBase = 0, pts = -1;
    // When the last keyframe was forced, and the last picture grabbed.
    QElapsedTimer sinceForcedKey, sincePicture;
    int burst = 0;  // pictures still to send whether or not the screen changed
    bool resumed = true;
    // The full stream has had nobody since its last pass.
    bool idleSpell = false;
    while (!stopRequested) {
        if (!watched_ && !pictureWanted_) {
            idleSpell = true;
            // Only the small stream (if even that): no full pictures.
            if (thumbnailsWanted()) {
                if (!thumbnailStep())
                    break;
            } else if (!waitForWatcher()) {
                break;
            }
            continue;  // look again at what woke it
        }
        if (idleSpell || !watched_) {
            if (!resumed) {
                // Back from an idle spell: a new timetable from now.
                ptsBase = pts + 1;
                pacer.restart(Clock::now());
            }
            resumed = true;
            idleSpell = false;
        }
        // The period this pass belongs to; periods that an overrun left
        // behind are not made up.
        const int64_t missedBefore = pacer.missed();
        const int64_t period = pacer.next(Clock::now());
        late_ += static_cast<unsigned long>(pacer.missed() - missedBefore);
        if (!sleepUntil(pacer.deadline(period)))
            break;
        pts = ptsBase + period;
        const Clock::time_point start = Clock::now();
        // Asked for until a keyframe has been handed over.
        const bool wanted = pictureWanted_;

        const bool resized = grabber.followResize() || std::exchange(resizedInThumbnail_, false);
        if (resized)
            lastPixels_ = nullptr;
        if (resized && fitConversion(frame)) {
            // Pinned: one line per change of the screen's size.
            std::printf("Screen sharing: the screen is now %d x %d; it is sent scaled into %d x %d\n", sw, sh, Width,
                        Height);
            std::fflush(stdout);
        }
        // A keyframe for the first watcher and for a new pipeline at once,
        // for a joining watcher at most once a second.
        const bool keyframe = resumed || wanted ||
                              (keyframeRequested &&
                               (!sinceForcedKey.isValid() || sinceForcedKey.elapsed() >= KEYFRAME_GAP_MS));
        // A screen that has not changed since the last grab is neither
        // grabbed, converted nor encoded, but a picture goes out at least
        // once a second (viewers give up after a silence).
        // After a keyframe for a new watcher, a second of pictures at the
        // full rate all the same: clients that measure the stream before
        // they show it (FFmpeg's probing) would otherwise wait many seconds.
        if (!keyframe && burst == 0 && !grabber.changed() && sincePicture.isValid() &&
            sincePicture.elapsed() < REFRESH_MS) {
            ++skips_;
            thumbnailIfDue(nullptr, 0, false);  // the last grab is the screen as it is
            continue;
        }
        if (!Quiet)
            std::printf("XShmGetImage(: %d\n", static_cast<int>(pts));
        int stride = 0;
        const uint8_t* pixels = grabber.grab(&stride);
        if (!pixels)
            continue;  // the screen changed size under the grab: the next period follows it
        ++grabs_;
        sincePicture.start();
        thumbnailIfDue(pixels, stride, false);

        // The encoder may still hold the picture of the last step (a copy is
        // made then, bars included).
        av_frame_make_writable(frame);
        if (sw == Width && sh == Height && Width % 2 == 0 && Height % 2 == 0) {
            // The screen has the encoded size: only the colour conversion.
            bgraToI420(pixels, stride, Width, Height, frame->data[0], frame->linesize[0], frame->data[1],
                       frame->linesize[1], frame->data[2], frame->linesize[2]);
        } else {
            if (!swsCtx)
                continue;  // no conversion for this screen: reported when it was fitted
            const Placement& p = placement;
            uint8_t* dst[4] = {frame->data[0] + static_cast<size_t>(p.y) * frame->linesize[0] + p.x,
                               frame->data[1] + static_cast<size_t>(p.y / 2) * frame->linesize[1] + p.x / 2,
                               frame->data[2] + static_cast<size_t>(p.y / 2) * frame->linesize[2] + p.x / 2,
                               nullptr};
            const uint8_t* srcPlanes[4] = {pixels, nullptr, nullptr, nullptr};
            const int srcStrides[4] = {stride, 0, 0, 0};
            sws_scale(swsCtx, srcPlanes, srcStrides, 0, sh, dst, frame->linesize);
        }
        frame->pts = pts;
        if (burst > 0)
            --burst;
        if (keyframe) {
            burst = Fps;
            keyframeRequested = false;
            sinceForcedKey.start();
            ++forcedKeyframes_;
        }
        const bool afterIdle = resumed;
        resumed = false;
        frame->pict_type = keyframe ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;

        ++fullPictures_;
        if (avcodec_send_frame(codecContext, frame) < 0) {
            std::printf("avcodec_send_frame Error");
            std::fflush(stdout);
            break;
        }
        av_packet_unref(packet);
        const int ret = avcodec_receive_packet(codecContext, packet);
        if (ret == AVERROR(EAGAIN)) {
            std::printf("AVERROR(EAGAIN: %d\n", static_cast<int>(pts));
            continue;
        }
        if (ret < 0) {
            std::printf("AVERROR(EAGAINret < 0: %d\n", static_cast<int>(pts));
            break;
        }
        if (packet->size > 0 && onFrame)
            onFrame(AccessUnit{packet->data, packet->size, pts, (packet->flags & AV_PKT_FLAG_KEY) != 0, afterIdle});
        if (wanted)
            pictureWanted_ = false;

        const auto diff = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        if (!Quiet)
            std::printf("diff: %d\n", static_cast<int>(diff));
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
}

void QScreenThread::bgraToI420(const uint8_t* src, int srcStride, int width, int height, uint8_t* y, int yStride,
                               uint8_t* u, int uStride, uint8_t* v, int vStride)
{
    ColourConversion::bgraToI420(src, srcStride, width, height, y, yStride, u, uStride, v, vStride);
}
