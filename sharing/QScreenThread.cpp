#include "QScreenThread.h"

#include "ColourConversion.h"

#include <QElapsedTimer>
#include <QException>
#include <QGuiApplication>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/time.h>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

namespace {

// --quiet: no per-frame lines.
std::atomic<bool> Quiet{false};

// Set-up cannot go on: say why on stderr, once, and give up.
[[noreturn]] void fatal(const char* why)
{
    std::fprintf(stderr, "Screen sharing is off: %s\n", why);
    throw QException();
}

}  // namespace

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
    // over a buffer of one second. The wrapper reads them from the context
    // (its private options have no "maxrate", "bufsize" or
    // "repeat-headers": those three below are skipped without notice). One
    // second rather than two keeps any ten seconds within 10 % of the bit
    // rate, and a burst after a still screen short.
    codecContext->rc_max_rate = static_cast<int64_t>(BitPerSecond);
    codecContext->rc_buffer_size = BitPerSecond;
    // No global header: the parameter sets travel in the stream, ahead of
    // every keyframe (the wrapper repeats them when the flag is not set).
    av_opt_set(codecContext->priv_data, "preset", "veryfast", 0);
    av_opt_set(codecContext->priv_data, "tune", "zerolatency", 0);
    av_opt_set(codecContext->priv_data, "crf", "23", 0);
    av_opt_set(codecContext->priv_data, "maxrate", std::to_string(BitPerSecond).c_str(), 0);
    av_opt_set(codecContext->priv_data, "bufsize", std::to_string(2 * BitPerSecond).c_str(), 0);
    av_opt_set(codecContext->priv_data, "repeat-headers", "1", 0);
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
    swsCtx = sws_getContext(srcW, srcH, AV_PIX_FMT_BGRA, Width, Height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr,
                            nullptr, nullptr);
}

QScreenThread::~QScreenThread()
{
    grabber.close();
    avcodec_free_context(&codecContext);
    sws_freeContext(swsCtx);
    for (FrameStructure* f : outqueue)
        delete f;
    outqueue.clear();
}

void QScreenThread::setCallbackFunctionFrameIsReady(std::function<void()> func)
{
    onFrame = std::move(func);
}

int QScreenThread::shmId() const
{
    return grabber.shmId();
}

void QScreenThread::setupCapture()
{
    if (grabber.isOpen())
        return;
    grabber.open();
    sw = grabber.width();
    sh = grabber.height();
    // The conversion reads what the grab delivers.
    swsCtx = sws_getCachedContext(swsCtx, sw, sh, AV_PIX_FMT_BGRA, Width, Height, AV_PIX_FMT_YUV420P, SWS_BILINEAR,
                                  nullptr, nullptr, nullptr);
    if (!swsCtx) {
        grabber.close();
        fatal("no conversion from the screen to the encoder");
    }
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
    bool resumed;
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        resumed = watched && !watched_ && idle_;
        watched_ = watched;
    }
    // What was queued before is of no use to a new watcher, and must be
    // gone before it can ask for a record, not once the loop wakes.
    if (resumed)
        dropStale();
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
    if (watched_ || pictureWanted_ || stopRequested)
        return !stopRequested;
    idle_ = true;
    wake_.wait(lock, [this] { return watched_ || pictureWanted_ || stopRequested; });
    idle_ = false;
    return !stopRequested;
}

void QScreenThread::dropStale()
{
    std::lock_guard<std::mutex> lock(outqueue_mutex);
    for (auto it = outqueue.begin(); it != outqueue.end();) {
        if (*it == lent) {
            ++it;
            continue;
        }
        delete *it;
        it = outqueue.erase(it);
    }
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

    // A root window of the encoded size needs no scaling, only the colour
    // conversion.
    const bool unscaled = sw == Width && sh == Height && Width % 2 == 0 && Height % 2 == 0;
    int pts = 0;
    // When the last keyframe was forced, and the last picture grabbed.
    QElapsedTimer sinceForcedKey, sincePicture;
    int burst = 0;  // pictures still to send whether or not the screen changed
    bool resumed = true;
    while (!stopRequested) {
        if (!watched_) {
            if (!pictureWanted_ && !waitForWatcher())
                break;
            // What was queued before is of no use to a new watcher.
            if (watched_)
                dropStale();
            resumed = true;
        }
        pictureWanted_ = false;
        // A keyframe for the first watcher at once, for a joining one at
        // most once a second.
        const bool keyframe = resumed || (keyframeRequested && (!sinceForcedKey.isValid() ||
                                                               sinceForcedKey.elapsed() >= KEYFRAME_GAP_MS));
        // A screen that has not changed since the last grab is neither
        // grabbed, converted nor encoded, but a picture goes out at least
        // once a second (viewers give up after a silence).
        // After a keyframe for a new watcher, a second of pictures at the
        // full rate all the same: clients that measure the stream before
        // they show it (FFmpeg's probing) would otherwise wait many seconds.
        if (!keyframe && burst == 0 && !grabber.changed() && sincePicture.isValid() &&
            sincePicture.elapsed() < REFRESH_MS) {
            ++skips_;
            QThread::msleep(33);
            ++pts;
            continue;
        }
        struct timeval start;
        gettimeofday(&start, nullptr);
        if (!Quiet)
            std::printf("XShmGetImage(: %d\n", pts);
        int stride = 0;
        const uint8_t* pixels = grabber.grab(&stride);
        ++grabs_;
        sincePicture.start();

        // The encoder may still hold the picture of the last step.
        av_frame_make_writable(frame);
        if (unscaled) {
            bgraToI420(pixels, stride, Width, Height, frame->data[0], frame->linesize[0],
                       frame->data[1], frame->linesize[1], frame->data[2], frame->linesize[2]);
        } else {
            const uint8_t* srcPlanes[4] = {pixels, nullptr, nullptr, nullptr};
            const int srcStrides[4] = {stride, 0, 0, 0};
            sws_scale(swsCtx, srcPlanes, srcStrides, 0, sh, frame->data, frame->linesize);
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
        resumed = false;
        frame->pict_type = keyframe ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;

        if (avcodec_send_frame(codecContext, frame) < 0) {
            std::printf("avcodec_send_frame Error");
            std::fflush(stdout);
            break;
        }
        av_packet_unref(packet);
        const int ret = avcodec_receive_packet(codecContext, packet);
        if (ret == AVERROR(EAGAIN)) {
            std::printf("AVERROR(EAGAIN: %d\n", pts);
            ++pts;
            continue;
        }
        if (ret < 0) {
            std::printf("AVERROR(EAGAINret < 0: %d\n", pts);
            break;
        }
        if (packet->size > 0)
            queuePacket(packet->data, packet->size, pts);
        onFrame();

        struct timeval now;
        gettimeofday(&now, nullptr);
        // Unsigned on purpose: a clock that steps back gives a huge value
        // and the iteration does not sleep.
        const uint64_t diff = static_cast<uint64_t>((now.tv_sec - start.tv_sec) * 1000 +
                                                    (now.tv_usec - start.tv_usec) / 1000);
        if (!Quiet)
            std::printf("diff: %d\n", static_cast<int>(diff));
        if (diff <= 32)
            QThread::msleep(static_cast<unsigned long>(33 - diff));
        ++pts;
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
}

void QScreenThread::bgraToI420(const uint8_t* src, int srcStride, int width, int height, uint8_t* y, int yStride,
                               uint8_t* u, int uStride, uint8_t* v, int vStride)
{
    ColourConversion::bgraToI420(src, srcStride, width, height, y, yStride, u, uStride, v, vStride);
}

void QScreenThread::queuePacket(const uint8_t* packet, int size, int frameID)
{
    // The leading start code (normally four bytes) is not part of the record.
    int skip = 4;
    if (size >= 3 && packet[0] == 0 && packet[1] == 0 && packet[2] == 1)
        skip = 3;
    if (size <= skip)
        return;
    auto* record = new FrameStructure;
    record->dataPointer = new uint8_t[static_cast<size_t>(size)];
    record->dataSize = size - skip;
    record->frameID = frameID;
    std::memcpy(record->dataPointer, packet + skip, static_cast<size_t>(record->dataSize));

    size_t length;
    {
        std::lock_guard<std::mutex> lock(outqueue_mutex);
        // Trim before the push: 30 records at most afterwards. A record that
        // the server is copying right now is passed over.
        while (outqueue.size() > 29) {
            auto victim = outqueue.begin();
            if (*victim == lent)
                ++victim;
            delete *victim;
            outqueue.erase(victim);
            if (!Quiet)
                std::printf("GetFrame pop@@@: %d\n", static_cast<int>(outqueue.size()));
        }
        outqueue.push_back(record);
        length = outqueue.size();
    }
    if (!Quiet)
        std::printf("GetFrame: %d\n", static_cast<int>(length));
}

int QScreenThread::queueLength()
{
    std::lock_guard<std::mutex> lock(outqueue_mutex);
    return static_cast<int>(outqueue.size());
}

bool QScreenThread::GetFrame(uint8_t** FrameBuffer, unsigned int* FrameSize)
{
    if (!Quiet)
        std::printf("GetFramec: %s", "GetFrame@@\n");
    std::lock_guard<std::mutex> lock(outqueue_mutex);
    if (outqueue.empty()) {
        *FrameBuffer = nullptr;
        *FrameSize = 0;
        return false;
    }
    // Once lent, a record stays at the front: the trim passes it over and
    // takes only records behind it.
    lent = outqueue.front();
    *FrameBuffer = lent->dataPointer;
    *FrameSize = static_cast<unsigned int>(lent->dataSize);
    return true;
}

bool QScreenThread::ReleaseFrame()
{
    std::lock_guard<std::mutex> lock(outqueue_mutex);
    if (outqueue.empty())
        return true;
    FrameStructure* victim = outqueue.front();
    outqueue.pop_front();
    if (victim == lent)
        lent = nullptr;
    delete victim;
    return true;
}
