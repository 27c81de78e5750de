#include "FullScreen.h"

#include <SDL.h>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <mutex>
#include <stdexcept>

namespace {

// SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN |
// SDL_WINDOW_BORDERLESS | SDL_WINDOW_SKIP_TASKBAR
const Uint32 WINDOW_FLAGS = 0x11017;

[[noreturn]] void fail(const char* text)
{
    throw std::runtime_error(text);
}

// SDL's video subsystem and the GL library, set up by the first window and
// kept until the process ends: later windows find them ready. Any thread;
// windows are made one after another.
bool sdlReady()
{
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] {
        // SDL must leave the process's signals alone: the terminal is ended
        // through its tray, or by a signal that should really end it.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        // The window's image is the X server's shared memory, not a GL
        // texture: through GL the conversion, the stretch and the swap cost
        // 25 ms a picture on a software rasteriser (llvmpipe).
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
        ok = SDL_Init(SDL_INIT_VIDEO) == 0;
        // Held once more than any window holds it, so that closing the last
        // window does not unload (and the next one reload) the GL library.
        if (ok)
            SDL_GL_LoadLibrary(nullptr);
    });
    return ok;
}

// The FFmpeg pixel format of a window image, or AV_PIX_FMT_NONE.
AVPixelFormat imageFormat(Uint32 sdlFormat)
{
    switch (sdlFormat) {
    case SDL_PIXELFORMAT_RGB888:
    case SDL_PIXELFORMAT_ARGB8888:
        return AV_PIX_FMT_BGRA;  // B, G, R, X in memory
    case SDL_PIXELFORMAT_BGR888:
    case SDL_PIXELFORMAT_ABGR8888:
        return AV_PIX_FMT_RGBA;
    case SDL_PIXELFORMAT_RGB565:
        return AV_PIX_FMT_RGB565;
    default:
        return AV_PIX_FMT_NONE;
    }
}

}  // namespace

void FullScreen::open()
{
    if (window_)
        return;
    if (!sdlReady())
        fail("Could not initialize SDL\n");
    // Desktop full-screen needs a window manager to grow the window; made at
    // the desktop's size, it covers the desktop without one as well.
    int w = 1, h = 1;
    SDL_DisplayMode desktop;
    if (SDL_GetDesktopDisplayMode(0, &desktop) == 0 && desktop.w > 0 && desktop.h > 0) {
        w = desktop.w;
        h = desktop.h;
    }
    window_ = SDL_CreateWindow("多屏", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, w, h, WINDOW_FLAGS);
    if (!window_)
        fail("Could not create SDL window\n");
}

void FullScreen::draw(int w, int h, const uint8_t* const planes[3], const int strides[3])
{
    // The image follows the window's size (valid until the window changes).
    SDL_Surface* image = SDL_GetWindowSurface(window_);
    if (!image)
        fail("Could not show the picture\n");
    const AVPixelFormat format = imageFormat(image->format->format);
    if (format == AV_PIX_FMT_NONE)
        fail("Could not show the picture\n");
    // Picture and window of one size take swscale's direct YUV -> RGB path.
    sws_ = sws_getCachedContext(sws_, w, h, AV_PIX_FMT_YUV420P, image->w, image->h, format, SWS_BILINEAR, nullptr,
                                nullptr, nullptr);
    if (!sws_)
        fail("Could not show the picture\n");
    if (SDL_MUSTLOCK(image) && SDL_LockSurface(image) != 0)
        fail("Could not show the picture\n");
    uint8_t* const out[4] = {static_cast<uint8_t*>(image->pixels), nullptr, nullptr, nullptr};
    const int outStrides[4] = {image->pitch, 0, 0, 0};
    const int rows = sws_scale(sws_, planes, strides, 0, h, out, outStrides);
    if (SDL_MUSTLOCK(image))
        SDL_UnlockSurface(image);
    if (rows <= 0)
        fail("Could not show the picture\n");
}

void FullScreen::present()
{
    if (SDL_UpdateWindowSurface(window_) != 0)
        fail("Could not show the picture\n");
}

void FullScreen::drainEvents()
{
    if (!window_)
        return;
    SDL_Event ev;
    while (SDL_PollEvent(&ev)) {
    }
}

void FullScreen::close()
{
    sws_freeContext(sws_);
    sws_ = nullptr;
    if (window_)
        SDL_DestroyWindow(window_);
    window_ = nullptr;
}
