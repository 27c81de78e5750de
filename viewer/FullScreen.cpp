#include "FullScreen.h"

#include <SDL.h>

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
        // The picture goes to the screen the way a plain X11 player puts it
        // there: converted to RGB by SDL's software renderer (SIMD) straight
        // into the window's shared-memory image, which XShmPutImage shows.
        // Through GL the conversion, the stretch and the swap cost 25 ms a
        // picture on a software rasteriser (llvmpipe) against 5 ms this way;
        // without this hint SDL would hand the window's image to GL again.
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
        // A picture stretched to another size stays legible.
        SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
        ok = SDL_Init(SDL_INIT_VIDEO) == 0;
        // Held once more than any window holds it, so that closing the last
        // window does not unload (and the next one reload) the GL library.
        if (ok)
            SDL_GL_LoadLibrary(nullptr);
    });
    return ok;
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
    renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
    if (!renderer_) {
        close();
        fail("Could not create SDL renderer\n");
    }
}

void FullScreen::upload(int w, int h, const uint8_t* const planes[3], const int strides[3])
{
    if (!texture_ || w != textureW_ || h != textureH_) {
        if (texture_)
            SDL_DestroyTexture(texture_);
        texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_YV12, SDL_TEXTUREACCESS_STREAMING, w, h);
        if (!texture_)
            fail("Could not create SDL texture\n");
        textureW_ = w;
        textureH_ = h;
    }
    if (SDL_UpdateYUVTexture(texture_, nullptr, planes[0], strides[0], planes[1], strides[1], planes[2], strides[2]) != 0)
        fail("Could not show the picture\n");
}

void FullScreen::present()
{
    // The texture covers the whole window: nothing to clear first.
    if (SDL_RenderCopy(renderer_, texture_, nullptr, nullptr) != 0)
        fail("Could not show the picture\n");
    SDL_RenderPresent(renderer_);
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
    if (texture_)
        SDL_DestroyTexture(texture_);
    if (renderer_)
        SDL_DestroyRenderer(renderer_);
    if (window_)
        SDL_DestroyWindow(window_);
    texture_ = nullptr;
    renderer_ = nullptr;
    window_ = nullptr;
    textureW_ = textureH_ = 0;
}
