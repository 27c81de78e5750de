#include "PictureDecoder.h"

#include "Failure.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

PictureDecoder::PictureDecoder()
{
    const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (!decoder)
        failWithLine("Could not find a decoder");
    codec_ = avcodec_alloc_context3(decoder);
    packet_ = av_packet_alloc();
    picture_ = av_frame_alloc();
    if (!codec_ || !packet_ || !picture_) {
        release();
        failWithLine("Could not allocate a codec context");
    }
    // Latency first: slices of one picture in parallel, no reordering delay.
    codec_->thread_count = 0;
    codec_->thread_type = FF_THREAD_SLICE;
    codec_->flags |= AV_CODEC_FLAG_LOW_DELAY;
    if (avcodec_open2(codec_, decoder, nullptr) < 0) {
        release();
        failWithLine("Could not open codec");
    }
}

PictureDecoder::~PictureDecoder()
{
    release();
}

void PictureDecoder::release()
{
    sws_freeContext(sws_);
    sws_ = nullptr;
    av_frame_free(&converted_);
    av_frame_free(&picture_);
    av_packet_free(&packet_);
    avcodec_free_context(&codec_);
}

bool PictureDecoder::send(const uint8_t* data, int size, int64_t ptsUs)
{
    av_packet_unref(packet_);
    // Not reference-counted: the decoder takes a padded copy.
    packet_->data = const_cast<uint8_t*>(data);
    packet_->size = size;
    packet_->pts = ptsUs == INT64_MIN ? AV_NOPTS_VALUE : ptsUs;
    const bool taken = avcodec_send_packet(codec_, packet_) == 0;
    packet_->data = nullptr;
    packet_->size = 0;
    return taken;
}

const AVFrame* PictureDecoder::receive()
{
    return avcodec_receive_frame(codec_, picture_) == 0 ? picture_ : nullptr;
}

bool PictureDecoder::planar420(const AVFrame* p, const uint8_t* planes[3], int strides[3])
{
    const auto format = static_cast<AVPixelFormat>(p->format);
    if (format != AV_PIX_FMT_YUV420P && format != AV_PIX_FMT_YUVJ420P) {
        // Made again whenever the size or format changes (a cached context
        // is kept by sws_getCachedContext).
        sws_ = sws_getCachedContext(sws_, p->width, p->height, format, p->width, p->height, AV_PIX_FMT_YUV420P,
                                    SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!sws_)
            return false;
        if (!converted_ || converted_->width != p->width || converted_->height != p->height) {
            av_frame_free(&converted_);
            converted_ = av_frame_alloc();
            if (!converted_)
                return false;
            converted_->format = AV_PIX_FMT_YUV420P;
            converted_->width = p->width;
            converted_->height = p->height;
            if (av_frame_get_buffer(converted_, 0) < 0) {
                av_frame_free(&converted_);
                return false;
            }
        }
        sws_scale(sws_, p->data, p->linesize, 0, p->height, converted_->data, converted_->linesize);
        p = converted_;
    }
    for (int i = 0; i < 3; ++i) {
        planes[i] = p->data[i];
        strides[i] = p->linesize[i];
    }
    return true;
}
