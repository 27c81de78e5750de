#ifndef TAVLO_PICTUREDECODER_H
#define TAVLO_PICTUREDECODER_H

#include <cstdint>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

// FFmpeg's H.264 decoder set for latency: slices of one picture decoded in
// parallel (no frame threading, which holds pictures back), no reordering
// delay. Pictures come out as planar YUV 4:2:0, converted only when the
// stream has another pixel format. Viewer thread.
class PictureDecoder {
public:
    // Throws (after its failure line) "Could not find a decoder\n", "Could
    // not allocate a codec context\n" or "Could not open codec\n".
    PictureDecoder();
    ~PictureDecoder();
    PictureDecoder(const PictureDecoder&) = delete;
    PictureDecoder& operator=(const PictureDecoder&) = delete;

    // Gives one access unit (Annex B) to the decoder; false when it refuses
    // it (the next one may do). ptsUs: INT64_MIN for none.
    bool send(const uint8_t* data, int size, int64_t ptsUs);
    // The next decoded picture, or null; valid until the next call.
    const AVFrame* receive();
    // The planes of a picture from receive() as planar YUV 4:2:0 at its own
    // size; false when it cannot be converted.
    bool planar420(const AVFrame* picture, const uint8_t* planes[3], int strides[3]);

private:
    void release();

    AVCodecContext* codec_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* picture_ = nullptr;
    // The conversion for pictures that are not 4:2:0, and its output.
    SwsContext* sws_ = nullptr;
    AVFrame* converted_ = nullptr;
};

#endif
