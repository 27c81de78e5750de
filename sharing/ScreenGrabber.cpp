#include "ScreenGrabber.h"

#include <QException>
#include <cstdio>
#include <sys/ipc.h>
#include <sys/shm.h>

// Xlib last: its macros clash with Qt's names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>

struct ScreenGrabber::X {
    Display* display = nullptr;
    XImage* image = nullptr;
    XShmSegmentInfo shminfo{};
    bool shmAttached = false;
    // What changed on the screen since the last grab; 0 without the DAMAGE
    // extension (then every period grabs).
    Damage damage = 0;
    int damageEventBase = 0;
    bool dirty = true;
};

namespace {

// Set-up cannot go on: say why on stderr, once, and give up.
[[noreturn]] void fatal(const char* why)
{
    std::fprintf(stderr, "Screen sharing is off: %s\n", why);
    throw QException();
}

}  // namespace

ScreenGrabber::~ScreenGrabber()
{
    close();
}

int ScreenGrabber::shmId() const
{
    return x ? x->shminfo.shmid : -1;
}

void ScreenGrabber::open()
{
    if (x)
        return;
    x = new X;
    x->shminfo.shmid = -1;
    Display*& display = x->display;
    XImage*& image = x->image;
    XShmSegmentInfo& shminfo = x->shminfo;
    display = XOpenDisplay(nullptr);
    try {
        if (!display)
            fatal("the X display cannot be opened");
        const Window root = DefaultRootWindow(display);
        XWindowAttributes attr;
        if (!XGetWindowAttributes(display, root, &attr))
            fatal("the root window's attributes cannot be read");
        width_ = attr.width;
        height_ = attr.height;
        if (!XShmQueryExtension(display))
            fatal("the X server has no MIT shared-memory extension");

        // The grab is read as BGRA bytes: only a TrueColor visual with 8-bit
        // channels at 32 bits per pixel gives that.
        Visual* visual = DefaultVisual(display, 0);
        const int depth = DefaultDepth(display, 0);
        if (visual->c_class != TrueColor || visual->red_mask != 0xff0000 || visual->green_mask != 0xff00 ||
            visual->blue_mask != 0xff)
            fatal("the root window is not 32-bit TrueColor (BGRA)");
        image = XShmCreateImage(display, visual, static_cast<unsigned>(depth), ZPixmap, nullptr, &shminfo,
                                static_cast<unsigned>(width_), static_cast<unsigned>(height_));
        if (!image)
            fatal("the shared-memory image cannot be created");
        if (image->bits_per_pixel != 32 || image->byte_order != LSBFirst)
            fatal("the root window is not 32-bit TrueColor (BGRA)");

        // Owner only: the segment holds the whole screen.
        shminfo.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(image->bytes_per_line) * image->height,
                               IPC_CREAT | 0600);
        if (shminfo.shmid < 0)
            fatal("no shared-memory segment for the screen");
        void* addr = shmat(shminfo.shmid, nullptr, 0);
        if (addr == reinterpret_cast<void*>(-1)) {
            shmctl(shminfo.shmid, IPC_RMID, nullptr);
            shminfo.shmid = -1;
            fatal("the shared-memory segment cannot be attached");
        }
        shminfo.shmaddr = image->data = static_cast<char*>(addr);
        shminfo.readOnly = False;
        if (!XShmAttach(display, &shminfo))
            fatal("the X server cannot attach the shared-memory segment");
        XSync(display, False);
        x->shmAttached = true;
        // The segment goes away with the last detach, even after a crash.
        shmctl(shminfo.shmid, IPC_RMID, nullptr);

        // Told once the screen changes after each grab, so that a still
        // screen is not grabbed again.
        int damageError = 0, major = 0, minor = 0;
        if (XDamageQueryExtension(display, &x->damageEventBase, &damageError) &&
            XDamageQueryVersion(display, &major, &minor)) {
            x->damage = XDamageCreate(display, root, XDamageReportNonEmpty);
            XSync(display, False);
        } else {
            std::printf("Screen sharing: the X server has no DAMAGE extension; every picture is grabbed\n");
        }

    } catch (...) {
        close();
        throw;
    }
}

void ScreenGrabber::close()
{
    if (!x)
        return;
    Display* display = x->display;
    XImage*& image = x->image;
    XShmSegmentInfo& shminfo = x->shminfo;
    if (x->damage) {
        XDamageDestroy(display, x->damage);
        x->damage = 0;
    }
    if (x->shmAttached) {
        XShmDetach(display, &shminfo);
        XSync(display, False);
        x->shmAttached = false;
    }
    if (image) {
        image->data = nullptr;
        XDestroyImage(image);
        image = nullptr;
    }
    if (shminfo.shmaddr) {
        shmdt(shminfo.shmaddr);
        shminfo.shmaddr = nullptr;
    }
    if (shminfo.shmid >= 0) {
        shmctl(shminfo.shmid, IPC_RMID, nullptr);
        shminfo.shmid = -1;
    }
    if (display)
        XCloseDisplay(display);
    delete x;
    x = nullptr;
}
bool ScreenGrabber::changed()
{
    Display* display = x->display;
    if (!x->damage)
        return true;
    // One event each time the changed region stops being empty.
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == x->damageEventBase + XDamageNotify)
            x->dirty = true;
    }
    return x->dirty;
}

const uint8_t* ScreenGrabber::grab(int* stride)
{
    Display* display = x->display;
    // Changes from here on count for the next grab.
    if (x->damage) {
        XDamageSubtract(display, x->damage, None, None);
        x->dirty = false;
    }
    XShmGetImage(display, DefaultRootWindow(display), x->image, 0, 0, AllPlanes);
    *stride = x->image->bytes_per_line;
    return reinterpret_cast<const uint8_t*>(x->image->data);
}
