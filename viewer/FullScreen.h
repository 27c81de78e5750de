#ifndef TAVLO_FULLSCREEN_H
#define TAVLO_FULLSCREEN_H

#include <cstdint>

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;

// The viewer's borderless window "多屏" that covers the desktop, with its
// renderer and the streaming YUV 4:2:0 texture each picture is uploaded to,
// stretched over the whole window. The renderer is SDL's software one,
// drawing into the window's shared-memory image (see FullScreen.cpp). Every SDL call that can fail is checked:
// a failure throws std::runtime_error with the viewer's error text ("Could
// not initialize SDL\n", "Could not create SDL window\n", "Could not create
// SDL renderer\n", "Could not create SDL texture\n", "Could not show the
// picture\n").
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
    // Uploads a planar YUV 4:2:0 picture of w × h into the texture (made
    // again when the size changes). Throws.
    void upload(int w, int h, const uint8_t* const planes[3], const int strides[3]);
    // Puts the texture on the screen. Throws.
    void present();
    // Takes whatever SDL has queued for the window (exposures, focus, close
    // requests) and drops it: the window is closed only by its owner.
    void drainEvents();
    // Closes the window; the desktop shows again.
    void close();

private:
    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    int textureW_ = 0, textureH_ = 0;
};

#endif
