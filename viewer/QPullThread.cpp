#include "QPullThread.h"

#include "LiveGate.h"

#include <QMutexLocker>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <sys/time.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/time.h>
#include <libswscale/swscale.h>
}

#include <SDL.h>

QPullThread* pullThread = nullptr;
std::atomic<int64_t> read_begin_time{-1};

namespace {

// Longest a single blocking open step or packet read may take.
const int64_t STALL_LIMIT_MS = 10000;
// SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN |
// SDL_WINDOW_BORDERLESS | SDL_WINDOW_SKIP_TASKBAR
const Uint32 WINDOW_FLAGS = 0x11017;

// The full-screen window with its renderer and texture, as one viewer hands
// it to the next on a switch: the screen keeps the old picture instead of
// flashing the desktop, and the next viewer skips making a window and a GL
// context. Only one viewer runs at a time; the lock covers the hand-over.
struct Screen {
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;
    int w = 0, h = 0;
    AVPixelFormat fmtIn = AV_PIX_FMT_NONE;
};
std::mutex keptScreenMutex;
Screen keptScreen;

// Takes the screen a previous viewer left, if any (viewer thread).
Screen takeKeptScreen()
{
    std::lock_guard<std::mutex> lock(keptScreenMutex);
    Screen s = keptScreen;
    keptScreen = Screen();
    return s;
}

// Destroys a screen; its GL context becomes current in the calling thread.
void destroyScreen(Screen& s)
{
    if (s.texture)
        SDL_DestroyTexture(s.texture);
    if (s.renderer)
        SDL_DestroyRenderer(s.renderer);
    if (s.window)
        SDL_DestroyWindow(s.window);
    s = Screen();
}

// SDL's video subsystem and the GL library, loaded by the first viewer and
// kept until the process ends: later viewers find them ready. Any viewer
// thread; the viewers run one after another.
bool sdlReady()
{
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] {
        // SDL must leave the process's signals alone: the terminal is ended
        // through its tray, or by a signal that should really end it.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        ok = SDL_Init(SDL_INIT_VIDEO) == 0;
        // Held once more than any window holds it, so that closing the last
        // window does not unload (and the next one reload) Mesa.
        if (ok)
            SDL_GL_LoadLibrary(nullptr);
    });
    return ok;
}

// Prints the failure line and raises the error that ends the viewer.
[[noreturn]] void fail(const char* line, bool print = true)
{
    if (print)
        std::printf("%s\n", line);
    throw std::runtime_error(std::string(line) + "\n");
}

// Everything the viewer sets up, released in one place whatever the path
// out of run() (viewer thread).
struct Player {
    AVFormatContext* fmt = nullptr;
    AVCodecContext* codec = nullptr;
    // Set when the screen is to be left to the next viewer instead of closed.
    bool keepScreen = false;
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;
    AVFrame* pFrame = nullptr;
    AVFrame* pFrameYUV = nullptr;
    uint8_t* yuvBuffer = nullptr;
    SwsContext* sws = nullptr;
    AVPacket* packet = nullptr;
    // The picture geometry the conversion, display frame and texture are made for.
    int w = 0, h = 0;
    AVPixelFormat fmtIn = AV_PIX_FMT_NONE;

    ~Player()
    {
        sws_freeContext(sws);
        av_frame_free(&pFrame);
        freeDisplayFrame();
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        if (fmt)
            avformat_close_input(&fmt);
        Screen mine{window, renderer, texture, w, h, fmtIn};
        if (keepScreen && window && renderer) {
            // The GL context is made current by the next viewer's thread; it
            // can be current in one thread only.
            SDL_GL_MakeCurrent(window, nullptr);
            std::lock_guard<std::mutex> lock(keptScreenMutex);
            keptScreen = mine;
        } else {
            destroyScreen(mine);
            // A screen left for this viewer that it never took (it failed or
            // was stopped while opening) goes too.
            Screen left = takeKeptScreen();
            destroyScreen(left);
        }
    }

    void freeDisplayFrame()
    {
        av_frame_free(&pFrameYUV);
        av_freep(&yuvBuffer);
    }

    // (Re)makes the conversion from w × h in fmtIn to planar YUV 4:2:0 at the
    // same size. Null when the geometry is not known yet.
    void makeConversion()
    {
        sws_freeContext(sws);
        sws = nullptr;
        if (w > 0 && h > 0 && fmtIn != AV_PIX_FMT_NONE)
            sws = sws_getContext(w, h, fmtIn, w, h, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    }

    // Follows a picture whose size or pixel format differs from what the
    // conversion, the display frame and the texture were made for.
    void adoptGeometry(const AVFrame* f)
    {
        w = f->width;
        h = f->height;
        fmtIn = static_cast<AVPixelFormat>(f->format);
        makeConversion();
        freeDisplayFrame();
        if (texture)
            SDL_DestroyTexture(texture);
        texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_YV12, SDL_TEXTUREACCESS_STREAMING, w, h);
    }

    // The display frame and its buffer, made on the first picture (and again
    // after a change of geometry).
    bool ensureDisplayFrame()
    {
        if (pFrameYUV)
            return true;
        const int size = av_image_get_buffer_size(AV_PIX_FMT_YUV420P, w, h, 1);
        if (size <= 0)
            return false;
        pFrameYUV = av_frame_alloc();
        yuvBuffer = static_cast<uint8_t*>(av_malloc(static_cast<size_t>(size)));
        if (!pFrameYUV || !yuvBuffer) {
            freeDisplayFrame();
            return false;
        }
        av_image_fill_arrays(pFrameYUV->data, pFrameYUV->linesize, yuvBuffer, AV_PIX_FMT_YUV420P, w, h, 1);
        return true;
    }

    void show()
    {
        if (pFrame->width != w || pFrame->height != h || pFrame->format != fmtIn || !texture)
            adoptGeometry(pFrame);
        const AVFrame* planes = pFrame;
        // A picture that already is planar YUV 4:2:0 at w × h would only be
        // copied by the conversion: it goes to the texture as it is.
        if (fmtIn != AV_PIX_FMT_YUV420P && fmtIn != AV_PIX_FMT_YUVJ420P) {
            if (!sws || !ensureDisplayFrame())
                return;
            sws_scale(sws, pFrame->data, pFrame->linesize, 0, h, pFrameYUV->data, pFrameYUV->linesize);
            planes = pFrameYUV;
        }
        if (texture)
            SDL_UpdateYUVTexture(texture, nullptr, planes->data[0], planes->linesize[0], planes->data[1],
                                 planes->linesize[1], planes->data[2], planes->linesize[2]);
        SDL_RenderClear(renderer);
        if (texture)
            SDL_RenderCopy(renderer, texture, nullptr, nullptr);
        SDL_RenderPresent(renderer);
    }
};

// True for an access unit that starts a picture the decoder can begin with:
// flagged as a keyframe by FFmpeg's parser, or holding an IDR slice.
bool isKeyframe(const AVPacket* pkt)
{
    if (pkt->flags & AV_PKT_FLAG_KEY)
        return true;
    const uint8_t* d = pkt->data;
    for (int i = 0; i + 3 < pkt->size; ++i)
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && (d[i + 3] & 0x1f) == 5)
            return true;
    return false;
}

// Takes whatever SDL has queued for the window (exposures, focus, close
// requests) and drops it: the window is closed only by its owner.
void drainEvents()
{
    SDL_Event ev;
    while (SDL_PollEvent(&ev)) {
    }
}

}  // namespace

QPullThread::QPullThread(QObject* parent, QString src) : QThread(parent), src(std::move(src))
{
    read_begin_time = -1;
}

QString QPullThread::currentSrc() const
{
    QMutexLocker lock(&srcMutex);
    return src;
}

int64_t QPullThread::getNow()
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<int64_t>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

int QPullThread::interrupt_cb(void* ctx)
{
    const QPullThread* self = static_cast<const QPullThread*>(ctx);
    if (self && self->shouldTerminate.load())
        return 1;
    const int64_t begin = read_begin_time.load();
    return begin > 0 && getNow() - begin > STALL_LIMIT_MS ? 1 : 0;
}

// Viewer thread.
void QPullThread::run()
{
    avformat_network_init();
    AVDictionary* opts = nullptr;
    av_dict_set(&opts, "rtsp_transport", "tcp", 0);
    av_dict_set(&opts, "buffer_size", "0", 0);
    av_dict_set(&opts, "fflags", "nobuffer", 0);

    try {
        Player p;
        // Declared after the player, so it runs first on every way out: the
        // address is emptied before the window goes. Whoever sees the window
        // gone and names the same stream again then gets a new viewer, not
        // this one on its way out.
        struct ClearSrcFirst {
            QPullThread* viewer;
            ~ClearSrcFirst()
            {
                QMutexLocker lock(&viewer->srcMutex);
                viewer->src = QString();
            }
        } clearSrcFirst{this};
        p.fmt = avformat_alloc_context();
        if (!p.fmt)
            fail("Could not open the stream");
        p.fmt->interrupt_callback.callback = &QPullThread::interrupt_cb;
        p.fmt->interrupt_callback.opaque = this;

        const QByteArray url = currentSrc().toUtf8();
        // Opening has its own bound: a peer that accepts and never answers
        // cannot hold the viewer (or a waiting owner) for long.
        read_begin_time = getNow();
        if (avformat_open_input(&p.fmt, url.constData(), nullptr, &opts) != 0)
            fail("Could not open the stream");  // the context is freed by FFmpeg
        // No probing of the stream: the session description names the codec,
        // and the decoder learns the picture's size from the parameter sets
        // that come with every keyframe. Probing cost a second, and with
        // "nobuffer" it threw away the keyframe it had waited for.

        int video_stream_index = -1;
        for (unsigned i = 0; i < p.fmt->nb_streams; ++i) {
            if (p.fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
                video_stream_index = static_cast<int>(i);
                break;
            }
        }
        if (video_stream_index < 0)
            fail("Could not find a video stream");

        const AVCodecParameters* par = p.fmt->streams[video_stream_index]->codecpar;
        // Every classroom stream is H.264: another codec finds no decoder here,
        // whatever FFmpeg could decode.
        const AVCodec* decoder = par->codec_id == AV_CODEC_ID_H264 ? avcodec_find_decoder(par->codec_id) : nullptr;
        if (!decoder)
            fail("Could not find a decoder");
        p.codec = avcodec_alloc_context3(decoder);
        if (!p.codec)
            fail("Could not allocate a codec context");
        if (avcodec_parameters_to_context(p.codec, par) < 0)
            fail("Could not copy codec parameters");
        // Latency first: slices of one picture are decoded in parallel (no
        // frame threading, which would hold pictures back), no reordering delay.
        p.codec->thread_count = 0;
        p.codec->thread_type = FF_THREAD_SLICE;
        p.codec->flags |= AV_CODEC_FLAG_LOW_DELAY;
        if (avcodec_open2(p.codec, decoder, nullptr) < 0)
            fail("Could not open codec");
        p.w = p.codec->width;
        p.h = p.codec->height;
        p.fmtIn = p.codec->pix_fmt;

        if (!sdlReady())
            fail("Could not initialize SDL", false);
        Screen kept = takeKeptScreen();
        if (kept.window) {
            // The previous viewer's window, still showing its last picture.
            p.window = kept.window;
            p.renderer = kept.renderer;
            p.texture = kept.texture;
            p.w = kept.w;
            p.h = kept.h;
            p.fmtIn = kept.fmtIn;
        } else {
            // Desktop full-screen needs a window manager to grow the window;
            // made at the desktop's size, it covers the desktop without one
            // as well.
            int winW = p.w > 0 ? p.w : 1, winH = p.h > 0 ? p.h : 1;
            SDL_DisplayMode desktop;
            if (SDL_GetDesktopDisplayMode(0, &desktop) == 0 && desktop.w > 0 && desktop.h > 0) {
                winW = desktop.w;
                winH = desktop.h;
            }
            p.window =
                SDL_CreateWindow("多屏", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, winW, winH, WINDOW_FLAGS);
            if (!p.window)
                fail("Could not create SDL window", false);
            p.renderer = SDL_CreateRenderer(p.window, -1, 0);
            if (p.w > 0 && p.h > 0)
                p.texture = SDL_CreateTexture(p.renderer, SDL_PIXELFORMAT_YV12, SDL_TEXTUREACCESS_STREAMING, p.w, p.h);
        }

        p.pFrame = av_frame_alloc();
        p.packet = av_packet_alloc();
        if (!p.pFrame || !p.packet)
            throw std::runtime_error("out of memory\n");
        p.makeConversion();

        // Live first: what arrives late is dropped, not queued (LiveGate).
        // Pictures before the first keyframe cannot be decoded and are not
        // given to the decoder at all.
        LiveGate gate;
        const AVRational timeBase = p.fmt->streams[video_stream_index]->time_base;
        const auto toUs = [timeBase](int64_t ts, int64_t otherwise) {
            return ts == AV_NOPTS_VALUE ? otherwise : av_rescale_q(ts, timeBase, AVRational{1, 1000000});
        };
        while (!shouldTerminate.load()) {
            drainEvents();
            read_begin_time = getNow();
            if (av_read_frame(p.fmt, p.packet) < 0)
                break;  // end of stream, network error, a stall or a stop
            if (p.packet->stream_index == video_stream_index) {
                const int64_t readUs = av_gettime_relative();
                // Without a timestamp a packet counts as on time.
                if (gate.admit(readUs, toUs(p.packet->pts, readUs), isKeyframe(p.packet)) &&
                    avcodec_send_packet(p.codec, p.packet) == 0) {
                    while (avcodec_receive_frame(p.codec, p.pFrame) == 0) {
                        const int64_t nowUs = av_gettime_relative();
                        if (p.pFrame->pts == AV_NOPTS_VALUE || gate.show(nowUs, toUs(p.pFrame->pts, nowUs)))
                            p.show();
                    }
                }
            }
            av_packet_unref(p.packet);
        }
        // Left to the next viewer only when the owner replaces this one.
        p.keepScreen = keepWindow.load() && shouldTerminate.load();
    } catch (const std::runtime_error&) {
        std::printf("runtime error\n");
    }
    av_dict_free(&opts);
    std::fflush(stdout);

    avformat_network_deinit();
    // Also when the player was never made.
    QMutexLocker lock(&srcMutex);
    src = QString();
}
