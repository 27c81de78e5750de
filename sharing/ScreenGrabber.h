#ifndef TAVLO_SCREENGRABBER_H
#define TAVLO_SCREENGRABBER_H

#include <cstdint>

// The X11 side of screen capture: the default display's root window, read
// through one MIT shared-memory image (a segment only its owner may read)
// as 32-bit BGRA, and the X DAMAGE extension's word on whether the screen
// changed since the last grab. One thread uses it (the capture thread, or
// the GUI thread before that starts).
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

    // The root window's size (valid once open).
    int width() const { return width_; }
    int height() const { return height_; }
    // The shared-memory segment's id, -1 while closed.
    int shmId() const;

    // Whether the screen changed since the last grab (always true without
    // the DAMAGE extension).
    bool changed();
    // Grabs the whole root window; the pixels stay valid until the next grab.
    const uint8_t* grab(int* stride);

private:
    struct X;  // the display, the shared image and its segment, the damage
    X* x = nullptr;
    int width_ = 0, height_ = 0;
};

#endif
