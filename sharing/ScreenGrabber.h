#ifndef TAVLO_SCREENGRABBER_H
#define TAVLO_SCREENGRABBER_H

#include <cstdint>

// The X11 side of screen capture: the default display's root window, read
// through one MIT shared-memory image (a segment only its owner may read)
// as 32-bit BGRA, the X DAMAGE extension's word on whether the screen
// changed since the last grab, and the root window's size, which a
// projector or a change of resolution (RandR) may change at any moment.
// One thread uses it (the capture thread, or the GUI thread before that
// starts).
//
// Set-up failures (no display, no shared memory, a root window that is not
// 32-bit TrueColor) write one line to stderr and throw QException.
class ScreenGrabber {
public:
    ScreenGrabber() = default;
    ~ScreenGrabber();
    ScreenGrabber(const ScreenGrabber&) = delete;
    ScreenGrabber& operator=(const ScreenGrabber&) = delete;

    // Opens the display, the shared image and the change reports; nothing
    // when already open.
    void open();
    void close();
    bool isOpen() const { return x != nullptr; }

    // The size of the image that grab() fills (the root window's size when
    // the image was made).
    int width() const { return width_; }
    int height() const { return height_; }
    // The shared-memory segment's id, -1 while closed.
    int shmId() const;

    // Whether the screen changed since the last grab (always true without
    // the DAMAGE extension, and after a change of size).
    bool changed();
    // Whether the root window's size is no longer the image's: then makes
    // the image anew at the root window's size (width() and height() follow)
    // and returns true, once per change. False, and the image as it was,
    // when a new one cannot be made.
    bool followResize();
    // Grabs the whole root window; the pixels stay valid until the next grab.
    // Null when the grab failed: the root window changed size in between
    // (followResize() then finds its new size).
    const uint8_t* grab(int* stride);

private:
    struct X;  // the display, the shared image and its segment, the damage
    void pollEvents();
    // Null once made, else why not.
    const char* makeImage(int width, int height);
    void dropImage();
    X* x = nullptr;
    int width_ = 0, height_ = 0;
};

#endif
