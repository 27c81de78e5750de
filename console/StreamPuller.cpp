#include "StreamPuller.h"

#include "Utils.h"

#include <QMutexLocker>
#include <algorithm>
#include <cmath>

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

// An error status of the server in answer to the request (FFmpeg maps the
// RTSP status as it maps HTTP's): the stream is not there, but the server is.
bool serverRefused(int code)
{
    return code == AVERROR_HTTP_BAD_REQUEST || code == AVERROR_HTTP_UNAUTHORIZED || code == AVERROR_HTTP_FORBIDDEN ||
           code == AVERROR_HTTP_NOT_FOUND || code == AVERROR_HTTP_OTHER_4XX || code == AVERROR_HTTP_SERVER_ERROR;
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

StreamPuller::StreamPuller(std::vector<Source> sources, const QSize& box, int minIntervalMs, bool live)
    : sources_(std::move(sources)), minIntervalMs_(minIntervalMs), live_(live), box_(box)
{
    Q_ASSERT(!sources_.empty());
    state_.error = "connecting";
}

StreamPuller::~StreamPuller()
{
    stop_ = true;
    wait();
}

StreamPuller::State StreamPuller::state() const
{
    QMutexLocker lock(&mutex_);
    return state_;
}

void StreamPuller::setBox(const QSize& box)
{
    QMutexLocker lock(&mutex_);
    box_ = box;
}

void StreamPuller::setError(const QString& error)
{
    QMutexLocker lock(&mutex_);
    state_.error = error;
}

bool StreamPuller::containsIdr(const uint8_t* data, int size)
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

QSize StreamPuller::fit(const QSize& size, const QSize& box)
{
    if (size.isEmpty() || box.isEmpty())
        return QSize(1, 1);
    const double scale = std::min(double(box.width()) / size.width(), double(box.height()) / size.height());
    return QSize(std::clamp(static_cast<int>(std::lround(size.width() * scale)), 1, box.width()),
                 std::clamp(static_cast<int>(std::lround(size.height() * scale)), 1, box.height()));
}

int StreamPuller::interruptCb(void* opaque)
{
    auto* self = static_cast<StreamPuller*>(opaque);
    return self->stop_ || nowMs() - self->lastActivityMs_ > STALL_MS;
}

// Puller thread.
void StreamPuller::run()
{
    while (!stop_) {
        QString why;
        // The next source only when the server says this one is not there.
        for (const Source& source : sources_) {
            bool refused = false;
            why = pullOnce(source, &refused);
            if (stop_ || !refused)
                break;
        }
        if (stop_)
            break;
        setError(why + ", retrying");
        // Wait RETRY_MS, a stop request ends the wait early.
        for (int waited = 0; waited < RETRY_MS && !stop_; waited += 50)
            msleep(50);
    }
}

// Puller thread.
QString StreamPuller::pullOnce(const Source& source, bool* refused)
{
    Pull p;
    lastActivityMs_ = nowMs();
    p.fmt = avformat_alloc_context();
    if (!p.fmt)
        return "out of memory";
    p.fmt->interrupt_callback.callback = &StreamPuller::interruptCb;
    p.fmt->interrupt_callback.opaque = this;
    AVDictionary* opts = nullptr;
    av_dict_set(&opts, "rtsp_transport", "tcp", 0);
    if (live_) {
        av_dict_set(&opts, "fflags", "nobuffer", 0);
        av_dict_set(&opts, "buffer_size", "0", 0);
    }
    const QByteArray url = source.url.toUtf8();
    int rc = avformat_open_input(&p.fmt, url.constData(), nullptr, &opts);
    av_dict_free(&opts);
    if (rc != 0) {
        p.fmt = nullptr;  // freed by the failed open
        *refused = serverRefused(rc);
        return (nowMs() - lastActivityMs_ > STALL_MS ? QString("no answer") : "cannot open: " + avError(rc));
    }
    lastActivityMs_ = nowMs();
    if (source.keyframesOnly) {
        rc = avformat_find_stream_info(p.fmt, nullptr);
        if (rc < 0)
            return "no stream information: " + avError(rc);
    }
    // Otherwise no probing: the session description names the codec, the
    // decoder learns the size from the parameter sets, and a stream of one
    // picture a second would keep the probe waiting for seconds.
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
    if (live_) {
        // One picture after another as they come, on slice threads.
        p.codec->thread_type = FF_THREAD_SLICE;
        p.codec->thread_count = 2;
    } else {
        // One thread per stream: thirty streams must fit one core.
        p.codec->thread_count = 1;
    }
    if (source.keyframesOnly)
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
    while (!stop_) {
        lastActivityMs_ = nowMs();
        rc = av_read_frame(p.fmt, p.packet);
        if (rc < 0)
            return stop_ ? QString() : (rc == AVERROR_EXIT ? QString("stream stalled") : "stream ended: " + avError(rc));
        lastActivityMs_ = nowMs();
        bool wanted = p.packet->stream_index == video;
        if (wanted && source.keyframesOnly) {
            // Keyframes only, at most one every minIntervalMs (a little early
            // is fine: the stream's keyframes do not fall on the interval).
            const bool key = (p.packet->flags & AV_PKT_FLAG_KEY) || containsIdr(p.packet->data, p.packet->size);
            wanted = key && (!decodedOne || nowMs() - lastPictureMs >= minIntervalMs_ * 9 / 10);
        }
        if (!wanted) {
            av_packet_unref(p.packet);
            continue;
        }
        rc = avcodec_send_packet(p.codec, p.packet);
        av_packet_unref(p.packet);
        if (rc < 0 && rc != AVERROR(EAGAIN))
            continue;  // a broken picture: wait for the next one
        while (avcodec_receive_frame(p.codec, p.frame) == 0) {
            QSize box;
            {
                QMutexLocker lock(&mutex_);
                box = box_;
            }
            const QSize out = fit(QSize(p.frame->width, p.frame->height), box);
            p.sws = sws_getCachedContext(p.sws, p.frame->width, p.frame->height,
                                         static_cast<AVPixelFormat>(p.frame->format), out.width(), out.height(),
                                         AV_PIX_FMT_RGB24, live_ ? SWS_BILINEAR : SWS_FAST_BILINEAR, nullptr,
                                         nullptr, nullptr);
            if (!p.sws) {
                av_frame_unref(p.frame);
                return "cannot scale the picture";
            }
            QImage img(out, QImage::Format_RGB888);
            uint8_t* dst[4] = {img.bits(), nullptr, nullptr, nullptr};
            int dstStride[4] = {static_cast<int>(img.bytesPerLine()), 0, 0, 0};
            sws_scale(p.sws, p.frame->data, p.frame->linesize, 0, p.frame->height, dst, dstStride);
            av_frame_unref(p.frame);
            lastPictureMs = nowMs();
            decodedOne = true;
            QMutexLocker lock(&mutex_);
            state_.picture = img;
            state_.error.clear();
            state_.url = source.url;
            ++state_.pictures;
        }
    }
    return QString();
}
