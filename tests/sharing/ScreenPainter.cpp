// Paints test pictures on an X display for the screen-sharing tests and the
// benchmark. Runs until killed.
//   tavlo-test-painter color RRGGBB   the whole screen in one colour
//   tavlo-test-painter clock [moving] the clock pattern at the top left,
//                                     repainted every 4 ms; with "moving",
//                                     bars moving across the whole screen
#include "ClockPattern.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace {

Window fullWindow(Display* d, int x, int y, unsigned w, unsigned h, unsigned long pixel)
{
    XSetWindowAttributes a;
    a.override_redirect = True;
    a.background_pixel = pixel;
    Window win = XCreateWindow(d, DefaultRootWindow(d), x, y, w, h, 0, CopyFromParent, InputOutput, CopyFromParent,
                               CWOverrideRedirect | CWBackPixel, &a);
    XMapRaised(d, win);
    return win;
}

uint32_t nowMs()
{
    timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<uint32_t>(static_cast<uint64_t>(t.tv_sec) * 1000u + static_cast<uint64_t>(t.tv_nsec) / 1000000u);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s color RRGGBB | clock [moving]\n", argv[0]);
        return 2;
    }
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::fprintf(stderr, "cannot open display\n");
        return 1;
    }
    const int scr = DefaultScreen(d);
    const unsigned sw = static_cast<unsigned>(DisplayWidth(d, scr)), sh = static_cast<unsigned>(DisplayHeight(d, scr));
    const unsigned long black = BlackPixel(d, scr), white = WhitePixel(d, scr);

    if (std::strcmp(argv[1], "color") == 0 && argc > 2) {
        const unsigned long rgb = std::strtoul(argv[2], nullptr, 16);
        fullWindow(d, 0, 0, sw, sh, rgb);
        XSync(d, False);
        std::printf("painted\n");
        std::fflush(stdout);
        for (;;)
            pause();
    }

    const bool moving = argc > 2 && std::strcmp(argv[2], "moving") == 0;
    Window back = 0;
    GC backGc = nullptr;
    if (moving) {
        back = fullWindow(d, 0, 0, sw, sh, 0x204060);
        backGc = XCreateGC(d, back, 0, nullptr);
    }
    Window win = fullWindow(d, 0, 0, clockpattern::WIDTH, clockpattern::HEIGHT, black);
    Pixmap pix = XCreatePixmap(d, win, clockpattern::WIDTH, clockpattern::HEIGHT,
                               static_cast<unsigned>(DefaultDepth(d, scr)));
    GC gc = XCreateGC(d, pix, 0, nullptr);
    XSync(d, False);
    std::printf("painted\n");
    std::fflush(stdout);

    uint32_t seq = 0;
    unsigned tick = 0;
    for (;;) {
        if (moving && tick % 8 == 0) {
            // About 30 times a second: eight bars of colour moving across.
            const int step = static_cast<int>(tick / 8);
            XSetForeground(d, backGc, 0x204060);
            XFillRectangle(d, back, backGc, 0, clockpattern::HEIGHT, sw, sh - clockpattern::HEIGHT);
            for (int b = 0; b < 8; ++b) {
                XSetForeground(d, backGc, 0x303030u * static_cast<unsigned>(b + 1) ^ 0xa05000u);
                const int x = (step * (7 + b * 3) + b * 240) % static_cast<int>(sw);
                XFillRectangle(d, back, backGc, x, clockpattern::HEIGHT + b * 120, 180, 110);
            }
        }
        const uint32_t ms = nowMs();
        XSetForeground(d, gc, black);
        XFillRectangle(d, pix, gc, 0, 0, clockpattern::WIDTH, clockpattern::HEIGHT);
        XSetForeground(d, gc, white);
        for (int i = 0; i < clockpattern::COLUMNS * clockpattern::ROWS; ++i)
            if (clockpattern::bit(ms, seq, i))
                XFillRectangle(d, pix, gc, (i % clockpattern::COLUMNS) * clockpattern::BLOCK,
                               (i / clockpattern::COLUMNS) * clockpattern::BLOCK, clockpattern::BLOCK,
                               clockpattern::BLOCK);
        // One request: a grab sees the old pattern or the new one, never a mix.
        XCopyArea(d, pix, win, gc, 0, 0, clockpattern::WIDTH, clockpattern::HEIGHT, 0, 0);
        XFlush(d);
        ++seq;
        ++tick;
        usleep(4000);
    }
}
