#include "NestedDisplay.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <cstring>
#include <unistd.h>

// Xlib last: its macros clash with Qt's names.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace {

bool answers(const QProcessEnvironment& env)
{
    int code = -1;
    tsupport::run("xdpyinfo", {}, env, tsupport::SLOW_MS, &code);
    return code == 0;
}

}  // namespace

NestedDisplay::NestedDisplay(int width, int height) : host_(2560, 1600, false)
{
    if (!host_.ok())
        return;
    for (int n = 400 + (getpid() % 300); n < 1000; ++n) {
        if (QFile::exists(QString("/tmp/.X%1-lock").arg(n)) || QFile::exists(QString("/tmp/.X11-unix/X%1").arg(n)))
            continue;
        display_ = QString(":%1").arg(n);
        xephyr_.setProcessEnvironment(host_.env());
        xephyr_.setStandardOutputFile(QProcess::nullDevice());
        xephyr_.setStandardErrorFile(QProcess::nullDevice());
        xephyr_.start("Xephyr", {display_, "-screen", QString("%1x%2x24").arg(width).arg(height), "-resizeable",
                                 "-nolisten", "tcp", "-noreset"});
        if (!xephyr_.waitForStarted(tsupport::SLOW_MS))
            return;
        QDeadlineTimer deadline(tsupport::SLOW_MS);
        bool up = false;
        while (xephyr_.state() == QProcess::Running && !deadline.hasExpired() && !(up = answers(env())))
            QThread::msleep(50);
        if (up)
            break;
        xephyr_.kill();
        xephyr_.waitForFinished(2000);
    }
    if (xephyr_.state() != QProcess::Running)
        return;
    tray_.setProcessEnvironment(env());
    tray_.setStandardOutputFile(QProcess::nullDevice());
    tray_.setStandardErrorFile(QProcess::nullDevice());
    tray_.start("trayer", {"--edge", "bottom", "--align", "left", "--widthtype", "request"});
    if (!tray_.waitForStarted(tsupport::SLOW_MS))
        return;
    // A terminal finds a tray once trayer owns the tray selection.
    Display* dpy = XOpenDisplay(display_.toLocal8Bit().constData());
    if (!dpy)
        return;
    const Atom tray = XInternAtom(dpy, "_NET_SYSTEM_TRAY_S0", False);
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    bool owned = false;
    while (!(owned = XGetSelectionOwner(dpy, tray) != None) && !deadline.hasExpired())
        QThread::msleep(20);
    XCloseDisplay(dpy);
    ok_ = owned;
}

NestedDisplay::~NestedDisplay()
{
    for (QProcess* p : {&tray_, &xephyr_}) {
        if (p->state() == QProcess::NotRunning)
            continue;
        p->terminate();
        if (!p->waitForFinished(3000))
            p->kill();
        p->waitForFinished(2000);
    }
}

QProcessEnvironment NestedDisplay::env() const
{
    QProcessEnvironment e = host_.env();
    e.insert("DISPLAY", display_);
    return e;
}

bool NestedDisplay::resize(int width, int height)
{
    Display* d = XOpenDisplay(display_.toLocal8Bit().constData());
    if (!d)
        return false;
    const Window root = DefaultRootWindow(d);
    XRRScreenResources* res = XRRGetScreenResources(d, root);
    bool done = false;
    if (res && res->noutput > 0 && res->ncrtc > 0) {
        // A mode of that size, made when the server has none.
        RRMode mode = 0;
        for (int i = 0; i < res->nmode; ++i)
            if (static_cast<int>(res->modes[i].width) == width && static_cast<int>(res->modes[i].height) == height)
                mode = res->modes[i].id;
        if (!mode) {
            char name[32];
            std::snprintf(name, sizeof name, "%dx%d", width, height);
            XRRModeInfo info{};
            info.width = static_cast<unsigned>(width);
            info.height = static_cast<unsigned>(height);
            info.dotClock = static_cast<unsigned long>(width) * static_cast<unsigned long>(height) * 60;
            info.hTotal = static_cast<unsigned>(width);
            info.vTotal = static_cast<unsigned>(height);
            info.name = name;
            info.nameLength = static_cast<unsigned>(std::strlen(name));
            mode = XRRCreateMode(d, root, &info);
            XRRAddOutputMode(d, res->outputs[0], mode);
        }
        XRROutputInfo* out = XRRGetOutputInfo(d, res, res->outputs[0]);
        const RRCrtc crtc = out && out->crtc ? out->crtc : res->crtcs[0];
        if (out)
            XRRFreeOutputInfo(out);
        // Off, new screen size, on in the new mode: as xrandr does it.
        XGrabServer(d);
        XRRSetCrtcConfig(d, res, crtc, CurrentTime, 0, 0, None, RR_Rotate_0, nullptr, 0);
        XRRSetScreenSize(d, root, width, height, width * 254 / 960, height * 254 / 960);
        XRRSetCrtcConfig(d, res, crtc, CurrentTime, 0, 0, mode, RR_Rotate_0, &res->outputs[0], 1);
        XUngrabServer(d);
        XSync(d, False);
        XWindowAttributes attr;
        done = XGetWindowAttributes(d, root, &attr) && attr.width == width && attr.height == height;
    }
    if (res)
        XRRFreeScreenResources(res);
    XCloseDisplay(d);
    return done;
}
