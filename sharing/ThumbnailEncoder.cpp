#include "ThumbnailEncoder.h"

#include "Classroom.h"

#include <algorithm>
#include <cstdio>

extern "C" {
#include <libavutil/opt.h>
}

ThumbnailEncoder::~ThumbnailEncoder()
{
    close();
}

void ThumbnailEncoder::sizeFor(int screenW, int screenH, int maxWidth, int* width, int* height)
{
    if (screenW <= 0 || screenH <= 0) {
        *width = *height = 2;
        return;
    }
    const int w = std::min(screenW, maxWidth);
    const int64_t h = (static_cast<int64_t>(screenH) * w + screenW / 2) / screenW;
    *width = std::max(2, w & ~1);
    *height = std::max(2, static_cast<int>(std::min<int64_t>(h, 1 << 15)) & ~1);
}

void ThumbnailEncoder::close()
{
    avcodec_free_context(&codec_);
    sws_freeContext(sws_);
    sws_ = nullptr;
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    width_ = height_ = 0;
    taken_ = false;
}

bool ThumbnailEncoder::open(int width, int height)
{
    close();
    const AVCodec* h264 = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!h264)
        return false;
    codec_ = avcodec_alloc_context3(h264);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!codec_ || !frame_ || !packet_) {
        close();
        return false;
    }
    codec_->width = width;
    codec_->height = height;
    codec_->pix_fmt = AV_PIX_FMT_YUV420P;
    codec_->time_base = AVRational{1, 1};
    codec_->framerate = AVRational{1, 1};
    // Every picture a keyframe, on one thread (a small picture a second).
    codec_->gop_size = 1;
    codec_->max_b_frames = 0;
    codec_->thread_count = 1;
    codec_->rc_max_rate = MAX_RATE_BPS;
    codec_->rc_buffer_size = MAX_RATE_BPS;
    av_opt_set(codec_->priv_data, "preset", "veryfast", 0);
    av_opt_set(codec_->priv_data, "tune", "zerolatency", 0);
    av_opt_set(codec_->priv_data, "crf", CRF, 0);
    if (avcodec_open2(codec_, h264, nullptr) < 0) {
        close();
        return false;
    }
    frame_->format = AV_PIX_FMT_YUV420P;
    frame_->width = width;
    frame_->height = height;
    if (av_frame_get_buffer(frame_, 0) < 0) {
        close();
        return false;
    }
    width_ = width;
    height_ = height;
    return true;
}

bool ThumbnailEncoder::take(const uint8_t* bgra, int stride, int screenW, int screenH)
{
    int w = 0, h = 0;
    sizeFor(screenW, screenH, Classroom::THUMBNAIL_MAX_WIDTH, &w, &h);
    if (w != width_ || h != height_ || !codec_) {
        if (!open(w, h))
            return false;
    }
    // Area averaging: a fifth of the width without the shimmer of point sampling.
    sws_ = sws_getCachedContext(sws_, screenW, screenH, AV_PIX_FMT_BGRA, width_, height_, AV_PIX_FMT_YUV420P,
                                SWS_AREA, nullptr, nullptr, nullptr);
    if (!sws_ || av_frame_make_writable(frame_) < 0)
        return false;
    const uint8_t* src[4] = {bgra, nullptr, nullptr, nullptr};
    const int srcStride[4] = {stride, 0, 0, 0};
    sws_scale(sws_, src, srcStride, 0, screenH, frame_->data, frame_->linesize);
    screenW_ = screenW;
    screenH_ = screenH;
    taken_ = true;
    return true;
}

bool ThumbnailEncoder::encode(std::vector<uint8_t>* unit)
{
    if (!codec_ || !taken_)
        return false;
    frame_->pts = pts_++;
    frame_->pict_type = AV_PICTURE_TYPE_I;
    if (avcodec_send_frame(codec_, frame_) < 0)
        return false;
    av_packet_unref(packet_);
    if (avcodec_receive_packet(codec_, packet_) < 0)
        return false;
    unit->assign(packet_->data, packet_->data + packet_->size);
    return !unit->empty();
}
