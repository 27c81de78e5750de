#include "ScreenGrabber.h"

#include <QException>
#include <cstdio>
#include <mutex>
#include <sys/ipc.h>
#include <sys/shm.h>

// Xlib last: its macros clash with Qt's names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>

struct ScreenGrabber::X {
    Display* display = nullptr;
    Window root = 0;
    XImage* image = nullptr;
    XShmSegmentInfo shminfo{};
    bool shmAttached = false;
    // What changed on the screen since the last grab; 0 without the DAMAGE
    // extension (then every period grabs).
    Damage damage = 0;
    int damageEventBase = 0;
    bool dirty = true;
    // The root window's size as the server last reported it.
    int rootWidth = 0, rootHeight = 0;
};

namespace {

// Set-up cannot go on: say why on stderr, once, and give up.
[[noreturn]] void fatal(const char* why)
{
    std::fprintf(stderr, "Screen sharing is off: %s\n", why);
    throw QException();
}

// Xlib's error handler is one for the whole process, and its default ends
// the process: a grab of a root window that has just become smaller than the
// image fails with BadMatch. While the capture thread makes its own requests
// it catches their errors itself; every other error goes where it went
// before (the viewer's SDL, Xlib's default).
thread_local bool Trapping = false;
thread_local bool Trapped = false;
XErrorHandler Previous = nullptr;
std::once_flag HandlerInstalled;

int onXError(Display* display, XErrorEvent* error)
{
    if (Trapping) {
        Trapped = true;
        return 0;
    }
    return Previous ? Previous(display, error) : 0;
}

// Runs requests with their errors caught; false when one failed.
template <class Requests>
bool trapped(Display* display, Requests&& requests)
{
    std::call_once(HandlerInstalled, [] { Previous = XSetErrorHandler(onXError); });
    Trapping = true;
    Trapped = false;
    requests();
    XSync(display, False);
    Trapping = false;
    return !Trapped;
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
    try {
        x->display = XOpenDisplay(nullptr);
        if (!x->display)
            fatal("the X display cannot be opened");
        Display* display = x->display;
        x->root = DefaultRootWindow(display);
        XWindowAttributes attr;
        if (!XGetWindowAttributes(display, x->root, &attr))
            fatal("the root window's attributes cannot be read");
        x->rootWidth = attr.width;
        x->rootHeight = attr.height;
        if (!XShmQueryExtension(display))
            fatal("the X server has no MIT shared-memory extension");

        // The grab is read as BGRA bytes: only a TrueColor visual with 8-bit
        // channels at 32 bits per pixel gives that.
        Visual* visual = DefaultVisual(display, 0);
        if (visual->c_class != TrueColor || visual->red_mask != 0xff0000 || visual->green_mask != 0xff00 ||
            visual->blue_mask != 0xff)
            fatal("the root window is not 32-bit TrueColor (BGRA)");
        if (const char* why = makeImage(attr.width, attr.height))
            fatal(why);

        // Told when the root window changes size.
        XSelectInput(display, x->root, StructureNotifyMask);
        // Told once the screen changes after each grab, so that a still
        // screen is not grabbed again.
        int damageError = 0, major = 0, minor = 0;
        if (XDamageQueryExtension(display, &x->damageEventBase, &damageError) &&
            XDamageQueryVersion(display, &major, &minor)) {
            x->damage = XDamageCreate(display, x->root, XDamageReportNonEmpty);
            XSync(display, False);
        } else {
            std::printf("Screen sharing: the X server has no DAMAGE extension; every picture is grabbed\n");
        }
    } catch (...) {
        close();
        throw;
    }
}

const char* ScreenGrabber::makeImage(int width, int height)
{
    Display* display = x->display;
    XShmSegmentInfo& shminfo = x->shminfo;
    Visual* visual = DefaultVisual(display, 0);
    const int depth = DefaultDepth(display, 0);
    XImage* image = XShmCreateImage(display, visual, static_cast<unsigned>(depth), ZPixmap, nullptr, &shminfo,
                                    static_cast<unsigned>(width), static_cast<unsigned>(height));
    if (!image)
        return "the shared-memory image cannot be created";
    if (image->bits_per_pixel != 32 || image->byte_order != LSBFirst) {
        XDestroyImage(image);
        return "the root window is not 32-bit TrueColor (BGRA)";
    }
    // Owner only: the segment holds the whole screen.
    shminfo.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(image->bytes_per_line) * image->height, IPC_CREAT | 0600);
    if (shminfo.shmid < 0) {
        XDestroyImage(image);
        return "no shared-memory segment for the screen";
    }
    void* addr = shmat(shminfo.shmid, nullptr, 0);
    if (addr == reinterpret_cast<void*>(-1)) {
        shmctl(shminfo.shmid, IPC_RMID, nullptr);
        shminfo.shmid = -1;
        XDestroyImage(image);
        return "the shared-memory segment cannot be attached";
    }
    shminfo.shmaddr = image->data = static_cast<char*>(addr);
    shminfo.readOnly = False;
    x->image = image;
    Bool attached = False;
    if (!trapped(display, [&] { attached = XShmAttach(display, &shminfo); }) || !attached) {
        dropImage();
        return "the X server cannot attach the shared-memory segment";
    }
    x->shmAttached = true;
    // The segment goes away with the last detach, even after a crash.
    shmctl(shminfo.shmid, IPC_RMID, nullptr);
    width_ = width;
    height_ = height;
    return nullptr;
}

void ScreenGrabber::dropImage()
{
    Display* display = x->display;
    XShmSegmentInfo& shminfo = x->shminfo;
    if (x->shmAttached) {
        XShmDetach(display, &shminfo);
        XSync(display, False);
        x->shmAttached = false;
    }
    if (x->image) {
        x->image->data = nullptr;
        XDestroyImage(x->image);
        x->image = nullptr;
    }
    if (shminfo.shmaddr) {
        shmdt(shminfo.shmaddr);
        shminfo.shmaddr = nullptr;
    }
    if (shminfo.shmid >= 0) {
        shmctl(shminfo.shmid, IPC_RMID, nullptr);
        shminfo.shmid = -1;
    }
}

void ScreenGrabber::close()
{
    if (!x)
        return;
    if (x->display) {
        if (x->damage) {
            XDamageDestroy(x->display, x->damage);
            x->damage = 0;
        }
        dropImage();
        XCloseDisplay(x->display);
    }
    delete x;
    x = nullptr;
}

void ScreenGrabber::pollEvents()
{
    Display* display = x->display;
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (x->damage && event.type == x->damageEventBase + XDamageNotify) {
            // One event each time the changed region stops being empty.
            x->dirty = true;
        } else if (event.type == ConfigureNotify && event.xconfigure.window == x->root) {
            x->rootWidth = event.xconfigure.width;
            x->rootHeight = event.xconfigure.height;
            x->dirty = true;
        }
    }
}

bool ScreenGrabber::changed()
{
    pollEvents();
    return !x->damage || x->dirty;
}

bool ScreenGrabber::followResize()
{
    pollEvents();
    if (x->rootWidth == width_ && x->rootHeight == height_)
        return false;
    if (x->rootWidth <= 0 || x->rootHeight <= 0)
        return false;
    dropImage();
    if (const char* why = makeImage(x->rootWidth, x->rootHeight)) {
        // Another try at the next period, at whatever size the root has then.
        std::printf("Screen sharing: %s (%d x %d)\n", why, x->rootWidth, x->rootHeight);
        width_ = height_ = 0;
        return false;
    }
    x->dirty = true;
    return true;
}

const uint8_t* ScreenGrabber::grab(int* stride)
{
    Display* display = x->display;
    if (!x->image)
        return nullptr;
    // Changes from here on count for the next grab.
    if (x->damage) {
        XDamageSubtract(display, x->damage, None, None);
        x->dirty = false;
    }
    Status got = 0;
    const bool ok = trapped(display, [&] { got = XShmGetImage(display, x->root, x->image, 0, 0, AllPlanes); });
    if (!ok || !got) {
        // The root window is no longer the image's size; ask for its size
        // now rather than wait for the event.
        XWindowAttributes attr;
        if (XGetWindowAttributes(display, x->root, &attr)) {
            x->rootWidth = attr.width;
            x->rootHeight = attr.height;
        }
        x->dirty = true;
        return nullptr;
    }
    *stride = x->image->bytes_per_line;
    return reinterpret_cast<const uint8_t*>(x->image->data);
}
