#ifndef TAVLO_THUMBNAILENCODER_H
#define TAVLO_THUMBNAILENCODER_H

#include <cstdint>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

// The small stream's encoder (cam_passby_chn1, the console's thumbnails):
// the grabbed screen scaled to at most Classroom::THUMBNAIL_MAX_WIDTH pixels
// wide with its aspect kept, and every picture encoded on its own as an
// H.264 keyframe (libx264, parameter sets ahead of each), so that a
// thumbnail decodes from any picture and a new client needs no request.
// The picture follows the screen's size; the encoder is made again when
// it changes. All in the capture thread.
class ThumbnailEncoder {
public:
    // Quality and a cap that keep a busy screen's picture near 30 KB.
    static constexpr const char* CRF = "28";
    static constexpr int MAX_RATE_BPS = 250000;

    ThumbnailEncoder() = default;
    ~ThumbnailEncoder();
    ThumbnailEncoder(const ThumbnailEncoder&) = delete;
    ThumbnailEncoder& operator=(const ThumbnailEncoder&) = delete;

    // The picture's size for a screen of screenW x screenH: at most
    // maxWidth wide (never wider than the screen), the screen's aspect,
    // both even and at least 2.
    static void sizeFor(int screenW, int screenH, int maxWidth, int* width, int* height);

    // Scales a 32-bit BGRA screen into the picture (and makes the encoder
    // again when the size changed). False when it cannot.
    bool take(const uint8_t* bgra, int stride, int screenW, int screenH);
    // Whether a picture has been taken.
    bool hasPicture() const { return taken_; }
    // Encodes the picture taken last, again if nothing new was taken, as
    // one keyframe (Annex B, start codes included) into *unit. False when
    // the encoder fails.
    bool encode(std::vector<uint8_t>* unit);

    int width() const { return width_; }
    int height() const { return height_; }

private:
    bool open(int width, int height);
    void close();

    AVCodecContext* codec_ = nullptr;
    SwsContext* sws_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    int width_ = 0, height_ = 0;  // of the picture
    int screenW_ = 0, screenH_ = 0;
    int64_t pts_ = 0;
    bool taken_ = false;
};

#endif
