#include "XDelete.h"

#include <X11/Xlib.h>
#include <cstdlib>

bool requestWindowClose(const std::string& display, const std::string& window)
{
    Display* d = XOpenDisplay(display.c_str());
    if (d == nullptr)
        return false;
    const Window w = static_cast<Window>(std::strtoul(window.c_str(), nullptr, 0));
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = w;
    ev.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    ev.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(d, w, False, NoEventMask, &ev) != 0;
    XFlush(d);
    XCloseDisplay(d);
    return sent;
}
