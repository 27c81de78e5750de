#include "ThumbnailPuller.h"

#include "Utils.h"

#include <QMutexLocker>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace {

QString avError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, text, sizeof text);
    return QString::fromLocal8Bit(text);
}

int64_t nowMs()
{
    return static_cast<int64_t>(Utils::clocktime(ms));
}

// What one connection holds, released whatever the way out.
struct Pull {
    AVFormatContext* fmt = nullptr;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    SwsContext* sws = nullptr;
    ~Pull()
    {
        sws_freeContext(sws);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        if (fmt)
            avformat_close_input(&fmt);
    }
};

}  // namespace

ThumbnailPuller::ThumbnailPuller(const QString& url, const QSize& size) : url_(url), size_(size)
{
    state_.error = "connecting";
}

ThumbnailPuller::~ThumbnailPuller()
{
    stop_ = true;
    wait();
}

ThumbnailPuller::State ThumbnailPuller::state() const
{
    QMutexLocker lock(&mutex_);
    return state_;
}

void ThumbnailPuller::setError(const QString& error)
{
    QMutexLocker lock(&mutex_);
    state_.error = error;
}

bool ThumbnailPuller::containsIdr(const uint8_t* data, int size)
{
    // NAL units follow 00 00 01 (or 00 00 00 01); the type is the low five
    // bits of the byte after the start code.
    for (int i = 0; i + 3 < size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            if ((data[i + 3] & 0x1f) == 5)
                return true;
            i += 2;
        }
    }
    return false;
}

int ThumbnailPuller::interruptCb(void* opaque)
{
    auto* self = static_cast<ThumbnailPuller*>(opaque);
    return self->stop_ || nowMs() - self->lastActivityMs_ > STALL_MS;
}

// Puller thread.
void ThumbnailPuller::run()
{
    while (!stop_) {
        const QString why = pullOnce();
        if (stop_)
            break;
        setError(why + ", retrying");
        // Wait RETRY_MS, a stop request ends the wait early.
        for (int waited = 0; waited < RETRY_MS && !stop_; waited += 50)
            msleep(50);
    }
}

// Puller thread.
QString ThumbnailPuller::pullOnce()
{
    Pull p;
    lastActivityMs_ = nowMs();
    p.fmt = avformat_alloc_context();
    if (!p.fmt)
        return "out of memory";
    p.fmt->interrupt_callback.callback = &ThumbnailPuller::interruptCb;
    p.fmt->interrupt_callback.opaque = this;
    AVDictionary* opts = nullptr;
    av_dict_set(&opts, "rtsp_transport", "tcp", 0);
    const QByteArray url = url_.toUtf8();
    int rc = avformat_open_input(&p.fmt, url.constData(), nullptr, &opts);
    av_dict_free(&opts);
    if (rc != 0) {
        p.fmt = nullptr;  // freed by the failed open
        return (nowMs() - lastActivityMs_ > STALL_MS ? QString("no answer") : "cannot open: " + avError(rc));
    }
    lastActivityMs_ = nowMs();
    rc = avformat_find_stream_info(p.fmt, nullptr);
    if (rc < 0)
        return "no stream information: " + avError(rc);
    const int video = av_find_best_stream(p.fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video < 0)
        return "no video stream";
    const AVCodecParameters* par = p.fmt->streams[video]->codecpar;
    const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
    if (!decoder)
        return "no decoder for the stream";
    p.codec = avcodec_alloc_context3(decoder);
    if (!p.codec || avcodec_parameters_to_context(p.codec, par) < 0)
        return "cannot set up the decoder";
    // One thread per stream (thirty streams must fit one core), keyframes only.
    p.codec->thread_count = 1;
    p.codec->skip_frame = AVDISCARD_NONKEY;
    p.codec->flags |= AV_CODEC_FLAG_LOW_DELAY;
    if ((rc = avcodec_open2(p.codec, decoder, nullptr)) < 0)
        return "cannot open the decoder: " + avError(rc);
    p.packet = av_packet_alloc();
    p.frame = av_frame_alloc();
    if (!p.packet || !p.frame)
        return "out of memory";

    int64_t lastPictureMs = 0;
    bool decodedOne = false;
    const int w = size_.width(), h = size_.height();
    while (!stop_) {
        lastActivityMs_ = nowMs();
        rc = av_read_frame(p.fmt, p.packet);
        if (rc < 0)
            return stop_ ? QString() : (rc == AVERROR_EXIT ? QString("stream stalled") : "stream ended: " + avError(rc));
        lastActivityMs_ = nowMs();
        const bool key = (p.packet->flags & AV_PKT_FLAG_KEY) || containsIdr(p.packet->data, p.packet->size);
        // Keyframes only, at most one a second (a little early is fine: the
        // stream's keyframes do not fall on the second).
        const bool wanted = p.packet->stream_index == video && key &&
                            (!decodedOne || nowMs() - lastPictureMs >= REFRESH_MS * 9 / 10);
        if (!wanted) {
            av_packet_unref(p.packet);
            continue;
        }
        rc = avcodec_send_packet(p.codec, p.packet);
        av_packet_unref(p.packet);
        if (rc < 0 && rc != AVERROR(EAGAIN))
            continue;  // a broken keyframe: wait for the next one
        while (avcodec_receive_frame(p.codec, p.frame) == 0) {
            p.sws = sws_getCachedContext(p.sws, p.frame->width, p.frame->height,
                                         static_cast<AVPixelFormat>(p.frame->format), w, h, AV_PIX_FMT_RGB24,
                                         SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
            if (!p.sws) {
                av_frame_unref(p.frame);
                return "cannot scale the picture";
            }
            QImage img(w, h, QImage::Format_RGB888);
            uint8_t* dst[4] = {img.bits(), nullptr, nullptr, nullptr};
            int dstStride[4] = {static_cast<int>(img.bytesPerLine()), 0, 0, 0};
            sws_scale(p.sws, p.frame->data, p.frame->linesize, 0, p.frame->height, dst, dstStride);
            av_frame_unref(p.frame);
            lastPictureMs = nowMs();
            decodedOne = true;
            QMutexLocker lock(&mutex_);
            state_.picture = img;
            state_.error.clear();
            ++state_.pictures;
        }
    }
    return QString();
}
