// tavlo-test-keylog: a plain window that says what input reaches it.
//
//   tavlo-test-keylog [X Y W H]
//
// Maps a window titled "keylog" (a normal, managed window; default 100 100
// 400 300), gives it the input focus, and prints one line per event it
// gets: "key NAME" for a key press (NAME: the keysym's name), "button N" for
// a button press, after "ready" once it is shown. Runs until killed.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::fprintf(stderr, "keylog: no display\n");
        return 1;
    }
    int x = 100, y = 100, w = 400, h = 300;
    if (argc == 5) {
        x = std::atoi(argv[1]);
        y = std::atoi(argv[2]);
        w = std::atoi(argv[3]);
        h = std::atoi(argv[4]);
    }
    const Window win = XCreateSimpleWindow(d, DefaultRootWindow(d), x, y, static_cast<unsigned>(w),
                                           static_cast<unsigned>(h), 0, 0, 0x808080);
    XStoreName(d, win, "keylog");
    XSelectInput(d, win, KeyPressMask | ButtonPressMask | ExposureMask | StructureNotifyMask);
    XMapRaised(d, win);
    for (;;) {
        XEvent e;
        XNextEvent(d, &e);
        if (e.type == MapNotify) {
            XSetInputFocus(d, win, RevertToParent, CurrentTime);
            std::printf("ready\n");
        } else if (e.type == KeyPress) {
            const KeySym sym = XLookupKeysym(&e.xkey, 0);
            const char* name = XKeysymToString(sym);
            std::printf("key %s\n", name ? name : "?");
        } else if (e.type == ButtonPress) {
            std::printf("button %u\n", e.xbutton.button);
        }
        std::fflush(stdout);
    }
}
