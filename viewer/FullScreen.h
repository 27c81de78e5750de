#ifndef TAVLO_FULLSCREEN_H
#define TAVLO_FULLSCREEN_H

#include <cstdint>

struct SDL_Window;
struct SwsContext;

// The viewer's borderless window "多屏" that covers the desktop. Each picture
// (planar YUV 4:2:0) is converted to the window's pixel format and stretched
// to its size in one pass (swscale) straight into the window's shared-memory
// image, which SDL then puts on the screen (XShmPutImage): the way a plain
// X11 player shows video, with no texture or renderer in between. Every SDL
// call that can fail is checked: a failure throws std::runtime_error with the
// viewer's error text ("Could not initialize SDL\n", "Could not create SDL
// window\n", "Could not show the picture\n").
//
// SDL's video subsystem and the GL library are set up by the first window of
// the process and kept until it ends. Made, used and destroyed in one thread
// (the viewer thread); only one exists at a time.
class FullScreen {
public:
    FullScreen() = default;
    ~FullScreen() { close(); }
    FullScreen(const FullScreen&) = delete;
    FullScreen& operator=(const FullScreen&) = delete;

    bool isOpen() const { return window_ != nullptr; }
    // Makes the window (black until the first picture). Throws.
    void open();
    // Converts a planar YUV 4:2:0 picture of w × h into the window's image.
    // Throws.
    void draw(int w, int h, const uint8_t* const planes[3], const int strides[3]);
    // Puts the window's image on the screen. Throws.
    void present();
    // Takes whatever SDL has queued for the window (exposures, focus, close
    // requests) and drops it: the window is closed only by its owner.
    void drainEvents();
    // Closes the window; the desktop shows again.
    void close();

private:
    SDL_Window* window_ = nullptr;
    // The conversion from the last picture's size to the window's image.
    SwsContext* sws_ = nullptr;
};

#endif
