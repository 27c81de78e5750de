// The small stream's encoder without a screen: the picture's size for
// screens of every shape, and pictures that each decode on their own (a
// fresh decoder per picture, as a client that joins at any second), in the
// screen's colours, following a change of the screen's size.
#include "ThumbnailEncoder.h"

#include <gtest/gtest.h>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace {

struct Size {
    int w, h;
};

Size sizeFor(int w, int h)
{
    Size s{};
    ThumbnailEncoder::sizeFor(w, h, 480, &s.w, &s.h);
    return s;
}

TEST(ThumbnailEncoder, PictureSizeKeepsTheScreensAspectAtMost480Wide)
{
    const struct {
        int sw, sh, w, h;
    } cases[] = {
        {1920, 1080, 480, 270}, {1024, 768, 480, 360}, {1366, 768, 480, 270}, {2560, 1080, 480, 202},
        {1080, 1920, 480, 852}, {320, 240, 320, 240},  {321, 241, 320, 240},  {3, 1, 2, 2},
        {0, 0, 2, 2},           {-5, 100, 2, 2},
    };
    for (const auto& c : cases) {
        const Size s = sizeFor(c.sw, c.sh);
        EXPECT_EQ(s.w, c.w) << c.sw << "x" << c.sh;
        EXPECT_EQ(s.h, c.h) << c.sw << "x" << c.sh;
    }
}

// A BGRA screen of one colour.
std::vector<uint8_t> screen(int w, int h, uint8_t r, uint8_t g, uint8_t b)
{
    std::vector<uint8_t> px(static_cast<size_t>(w) * h * 4);
    for (size_t i = 0; i < px.size(); i += 4) {
        px[i] = b;
        px[i + 1] = g;
        px[i + 2] = r;
        px[i + 3] = 0xff;
    }
    return px;
}

// Decodes one access unit with a decoder of its own: the picture's size and
// the luma in its middle, or width 0.
struct Decoded {
    int width = 0, height = 0, luma = -1;
    bool key = false;
};

Decoded decodeAlone(const std::vector<uint8_t>& unit)
{
    Decoded out;
    const AVCodec* h264 = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* c = avcodec_alloc_context3(h264);
    AVPacket* p = av_packet_alloc();
    AVFrame* f = av_frame_alloc();
    if (c && p && f && avcodec_open2(c, h264, nullptr) == 0 && av_new_packet(p, static_cast<int>(unit.size())) == 0) {
        std::copy(unit.begin(), unit.end(), p->data);
        if (avcodec_send_packet(c, p) == 0 && avcodec_send_packet(c, nullptr) == 0 &&
            avcodec_receive_frame(c, f) == 0) {
            out.width = f->width;
            out.height = f->height;
            out.luma = f->data[0][(f->height / 2) * f->linesize[0] + f->width / 2];
            out.key = f->key_frame;
        }
    }
    av_frame_free(&f);
    av_packet_free(&p);
    avcodec_free_context(&c);
    return out;
}

TEST(ThumbnailEncoder, EveryPictureDecodesOnItsOwnAndFollowsTheScreen)
{
    ThumbnailEncoder enc;
    std::vector<uint8_t> unit;
    EXPECT_FALSE(enc.encode(&unit));  // nothing taken yet
    const std::vector<uint8_t> white = screen(1920, 1080, 0xff, 0xff, 0xff);
    ASSERT_TRUE(enc.take(white.data(), 1920 * 4, 1920, 1080));
    ASSERT_TRUE(enc.encode(&unit));
    Decoded d = decodeAlone(unit);
    EXPECT_EQ(d.width, 480);
    EXPECT_EQ(d.height, 270);
    EXPECT_TRUE(d.key);
    EXPECT_GT(d.luma, 220);
    EXPECT_LT(unit.size(), 30000u);
    // The same picture again (a still screen): a keyframe of its own again.
    ASSERT_TRUE(enc.encode(&unit));
    d = decodeAlone(unit);
    EXPECT_EQ(d.width, 480);
    EXPECT_TRUE(d.key);
    // A 4:3 screen of another colour: the new size, the new colour.
    const std::vector<uint8_t> dark = screen(1024, 768, 0x10, 0x10, 0x10);
    ASSERT_TRUE(enc.take(dark.data(), 1024 * 4, 1024, 768));
    ASSERT_TRUE(enc.encode(&unit));
    d = decodeAlone(unit);
    EXPECT_EQ(d.width, 480);
    EXPECT_EQ(d.height, 360);
    EXPECT_LT(d.luma, 40);
}

}  // namespace
