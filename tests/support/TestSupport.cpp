#include "TestSupport.h"

#include "ClassroomPort.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QThread>
#include <csignal>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <sys/types.h>
#include <unistd.h>

// Xlib last: its macros clash with Qt's names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace tsupport {

QString buildDir() { return QStringLiteral(TAVLO_BUILD_DIR); }
QString sourceDir() { return QStringLiteral(TAVLO_SOURCE_DIR); }
QString tavloPath() { return buildDir() + "/tavlo"; }

void pause(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
}

QByteArray run(const QString& program, const QStringList& args, const QProcessEnvironment& env, int timeoutMs,
               int* exitCode)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(program, args);
    if (!p.waitForStarted(SLOW_MS)) {
        if (exitCode)
            *exitCode = -1;
        return {};
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        if (exitCode)
            *exitCode = -1;
        return p.readAllStandardOutput();
    }
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAllStandardOutput();
}

// ---------------------------------------------------------------- XServer

XServer::XServer(int width, int height, bool tray) : width_(width), height_(height)
{
    // Pick a display number whose lock file and socket are free.
    for (int n = 100 + (getpid() % 300); n < 1000; ++n) {
        if (QFile::exists(QString("/tmp/.X%1-lock").arg(n)) || QFile::exists(QString("/tmp/.X11-unix/X%1").arg(n)))
            continue;
        display_ = QString(":%1").arg(n);
        xvfb_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        xvfb_.setStandardOutputFile(QProcess::nullDevice());
        xvfb_.start("Xvfb", {display_, "-screen", "0", QString("%1x%2x24").arg(width).arg(height), "-nolisten",
                             "tcp", "-noreset"});
        if (!xvfb_.waitForStarted(SLOW_MS))
            return;
        // Ready once the socket answers.
        QProcessEnvironment e = env();
        bool up = false;
        QDeadlineTimer deadline(SLOW_MS);
        while (xvfb_.state() == QProcess::Running && !deadline.hasExpired()) {
            int code = -1;
            run("xdpyinfo", {}, e, SLOW_MS, &code);
            if (code == 0) {
                up = true;
                break;
            }
            QThread::msleep(50);
        }
        if (!up) {
            xvfb_.kill();
            xvfb_.waitForFinished(2000);
            continue;  // another process took this number; try the next one
        }
        break;
    }
    if (xvfb_.state() != QProcess::Running)
        return;
    if (tray) {
        tray_.setProcessEnvironment(env());
        tray_.setStandardOutputFile(QProcess::nullDevice());
        tray_.setStandardErrorFile(QProcess::nullDevice());
        tray_.start("trayer", {"--edge", "bottom", "--align", "left", "--widthtype", "request"});
        if (!tray_.waitForStarted(SLOW_MS))
            return;
        // trayer's panel window shows first; the terminal finds a tray only
        // once trayer owns the tray selection.
        bool panel = false;
        QDeadlineTimer deadline(SLOW_MS);
        while (!panel && !deadline.hasExpired()) {
            panel = run("xwininfo", {"-root", "-tree"}, env()).contains("\"panel\"");
            if (!panel)
                QThread::msleep(50);
        }
        if (!panel || !waitForTraySelection())
            return;
    }
    ok_ = true;
}

bool XServer::waitForTraySelection()
{
    Display* dpy = XOpenDisplay(display_.toLocal8Bit().constData());
    if (!dpy)
        return false;
    const Atom tray = XInternAtom(dpy, "_NET_SYSTEM_TRAY_S0", False);
    QDeadlineTimer deadline(SLOW_MS);
    bool owned = false;
    while (!(owned = XGetSelectionOwner(dpy, tray) != None) && !deadline.hasExpired())
        QThread::msleep(20);
    XCloseDisplay(dpy);
    return owned;
}

XServer::~XServer()
{
    if (tray_.state() != QProcess::NotRunning) {
        tray_.terminate();
        if (!tray_.waitForFinished(2000))
            tray_.kill();
        tray_.waitForFinished(2000);
    }
    if (xvfb_.state() != QProcess::NotRunning) {
        xvfb_.terminate();
        if (!xvfb_.waitForFinished(3000))
            xvfb_.kill();
        xvfb_.waitForFinished(2000);
    }
}

QProcessEnvironment XServer::env() const
{
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert("DISPLAY", display_);
    e.insert("LIBGL_ALWAYS_SOFTWARE", "1");
    e.remove("QT_QPA_PLATFORM");
    if (!e.contains("XDG_RUNTIME_DIR")) {
        const QString dir = QDir::tempPath() + "/tavlo-runtime-" + QString::number(getuid());
        QDir().mkpath(dir);
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        e.insert("XDG_RUNTIME_DIR", dir);
    }
    return e;
}

// ---------------------------------------------------------------- TeamDir

TeamDir::TeamDir(const QString& roomIp, qint64 teamNum)
{
    QJsonObject o;
    o.insert("roomIp", roomIp);
    o.insert("teamNum", teamNum);
    QFile f(dir_.filePath("team.bin"));
    if (f.open(QIODevice::WriteOnly))
        f.write(QJsonDocument(o).toJson());
}

TeamDir::TeamDir(const QByteArray& teamBin)
{
    if (teamBin.isNull())
        return;
    QFile f(dir_.filePath("team.bin"));
    if (f.open(QIODevice::WriteOnly))
        f.write(teamBin);
}

// ---------------------------------------------------------------- Terminal

Terminal::Terminal(const QString& workDir, const QProcessEnvironment& env, const QStringList& args,
                   const QString& program)
    : env_(env)
{
    proc_.setWorkingDirectory(workDir);
    proc_.setProcessEnvironment(env);
    proc_.setStandardOutputFile(logs_.filePath("stdout"));
    proc_.setStandardErrorFile(logs_.filePath("stderr"));
    proc_.start(program, args);
    started_ = proc_.waitForStarted(SLOW_MS);
    outFile_.setFileName(logs_.filePath("stdout"));
    errFile_.setFileName(logs_.filePath("stderr"));
    outFile_.open(QIODevice::ReadOnly);
    errFile_.open(QIODevice::ReadOnly);
}

Terminal::~Terminal()
{
    if (proc_.state() != QProcess::NotRunning) {
        proc_.kill();
        proc_.waitForFinished(SLOW_MS);
    }
}

void Terminal::drain()
{
    if (outFile_.isOpen())
        out_ += outFile_.readAll();
    if (errFile_.isOpen())
        err_ += errFile_.readAll();
}

void Terminal::poll()
{
    if (proc_.state() != QProcess::NotRunning)
        proc_.waitForFinished(50);
    else
        QThread::msleep(50);
}

bool Terminal::waitForOutput(const QString& text, int timeoutMs)
{
    const QByteArray needle = text.toUtf8();
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        drain();
        if (out_.contains(needle))
            return true;
        if (deadline.hasExpired() || proc_.state() == QProcess::NotRunning)
            break;
        poll();
    }
    drain();
    return out_.contains(needle);
}

bool Terminal::waitForCount(const QString& text, int n, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (countOutput(text) < n) {
        if (deadline.hasExpired() || proc_.state() == QProcess::NotRunning)
            return countOutput(text) >= n;
        poll();
    }
    return true;
}

int Terminal::countOutput(const QString& text)
{
    drain();
    return out_.count(text.toUtf8());
}

QByteArray Terminal::out()
{
    drain();
    return out_;
}

QByteArray Terminal::err()
{
    drain();
    return err_;
}

bool Terminal::waitForExit(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (proc_.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        drain();
        poll();
    }
    drain();
    return proc_.state() == QProcess::NotRunning;
}

bool Terminal::quitViaTray(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    // The tray icon is the terminal's small window embedded in trayer's
    // panel; it is there once the terminal has shown it.
    QRegularExpression re(R"((0x[0-9a-f]+) "tavlo": \("tavlo" "tavlo"\)\s+(\d+)x(\d+)\+0\+0)");
    QString icon;
    while (icon.isEmpty() && running() && !deadline.hasExpired()) {
        const QString tree = QString::fromUtf8(run("xwininfo", {"-root", "-tree"}, env_));
        for (const QString& line : tree.split('\n')) {
            auto m = re.match(line);
            if (m.hasMatch() && m.captured(2).toInt() < 64) {
                icon = m.captured(1);
                break;
            }
        }
        if (icon.isEmpty())
            poll();
    }
    if (icon.isEmpty())
        return waitForExit(0);
    // A right click opens the menu, a top-level "tavlo" window that grabs
    // the keyboard; its only item is chosen with Down and Return. A click
    // or a key that came too early for a busy terminal is simply repeated.
    while (running() && !deadline.hasExpired()) {
        run("xdotool", {"mousemove", "--window", icon, "5", "5", "click", "3"}, env_);
        QDeadlineTimer menuDeadline(std::min<qint64>(deadline.remainingTime(), 15000));
        bool menu = false;
        while (!menu && running() && !menuDeadline.hasExpired()) {
            for (const WindowInfo& w : windowsNamed(env_, "tavlo"))
                menu = menu || (w.viewable && w.width > 1);
            if (!menu)
                poll();
        }
        if (!menu)
            continue;
        run("xdotool", {"key", "Down", "Return"}, env_);
        if (waitForExit(std::min<qint64>(deadline.remainingTime(), 15000)))
            return true;
        run("xdotool", {"key", "Escape"}, env_);
    }
    return waitForExit(0);
}

void Terminal::terminate()
{
    proc_.terminate();
}

bool Terminal::writeInput(const QByteArray& data)
{
    return proc_.write(data) == data.size() && proc_.waitForBytesWritten(SLOW_MS);
}

QProcessEnvironment terminalEnv(const QProcessEnvironment& env)
{
    QProcessEnvironment e = env;
    if (e.contains("ASAN_OPTIONS"))
        e.insert("ASAN_OPTIONS", e.value("ASAN_OPTIONS") + ":detect_leaks=0");
    return e;
}

// ---------------------------------------------------------------- windows

QList<WindowInfo> windowsNamed(const QProcessEnvironment& env, const QString& name)
{
    QList<WindowInfo> found;
    const QString tree = QString::fromUtf8(run("xwininfo", {"-root", "-children"}, env));
    const QString quoted = "\"" + name + "\"";
    for (const QString& line : tree.split('\n')) {
        const QString t = line.trimmed();
        if (!t.startsWith("0x"))
            continue;
        const int sp = t.indexOf(' ');
        if (t.mid(sp + 1, quoted.size()) != quoted)
            continue;
        WindowInfo w;
        w.id = t.left(sp);
        const QString info = QString::fromUtf8(run("xwininfo", {"-id", w.id}, env));
        auto field = [&](const char* key) {
            QRegularExpression r(QString("%1:\\s*(-?\\d+)").arg(QRegularExpression::escape(key)));
            auto m = r.match(info);
            return m.hasMatch() ? m.captured(1).toInt() : 0;
        };
        w.x = field("Absolute upper-left X");
        w.y = field("Absolute upper-left Y");
        w.width = field("Width");
        w.height = field("Height");
        w.viewable = info.contains("Map State: IsViewable");
        found.append(w);
    }
    return found;
}

std::optional<WindowInfo> waitForWindow(const QProcessEnvironment& env, const QString& name, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    do {
        for (const WindowInfo& w : windowsNamed(env, name))
            if (w.viewable)
                return w;
        pause(100);
    } while (!deadline.hasExpired());
    return std::nullopt;
}

bool waitForNoWindow(const QProcessEnvironment& env, const QString& name, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    do {
        bool any = false;
        for (const WindowInfo& w : windowsNamed(env, name))
            any = any || w.viewable;
        if (!any)
            return true;
        pause(100);
    } while (!deadline.hasExpired());
    return false;
}

QImage screenshot(const QProcessEnvironment& env, const QString& window)
{
    const QByteArray png = run("import", {"-window", window, "png:-"}, env);
    QImage img;
    img.loadFromData(png, "PNG");
    return img;
}

// ---------------------------------------------------------------- colours

bool near(QColor got, QColor want, int tol)
{
    return std::abs(got.red() - want.red()) <= tol && std::abs(got.green() - want.green()) <= tol &&
           std::abs(got.blue() - want.blue()) <= tol;
}

bool coveredBy(const QImage& img, QColor want, int tol)
{
    if (img.isNull())
        return false;
    const int w = img.width(), h = img.height();
    const QPoint points[] = {{w / 2, h / 2}, {8, 8}, {w - 9, 8}, {8, h - 9}, {w - 9, h - 9}};
    for (const QPoint& p : points)
        if (!near(img.pixelColor(p), want, tol))
            return false;
    return true;
}

bool waitForColour(const QProcessEnvironment& env, QColor want, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    do {
        if (coveredBy(screenshot(env), want))
            return true;
        pause(100);
    } while (!deadline.hasExpired());
    return false;
}

ScreenProbe::ScreenProbe(const QString& display) : display_(XOpenDisplay(display.toLocal8Bit().constData())) {}

ScreenProbe::~ScreenProbe()
{
    if (display_)
        XCloseDisplay(display_);
}

bool ScreenProbe::shows(QColor want, int tol)
{
    if (!display_)
        return false;
    const Window root = DefaultRootWindow(display_);
    const int w = DisplayWidth(display_, 0), h = DisplayHeight(display_, 0);
    const int points[3][2] = {{w / 2, h / 2}, {8, 8}, {w - 9, 8}};
    for (const auto& pt : points) {
        XImage* img = XGetImage(display_, root, pt[0], pt[1], 1, 1, AllPlanes, ZPixmap);
        if (!img)
            return false;
        const unsigned long p = XGetPixel(img, 0, 0);
        XDestroyImage(img);
        if (!near(QColor(static_cast<int>((p >> 16) & 0xff), static_cast<int>((p >> 8) & 0xff),
                         static_cast<int>(p & 0xff)),
                  want, tol))
            return false;
    }
    return true;
}

bool ScreenProbe::waitFor(QColor want, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!shows(want)) {
        if (deadline.hasExpired())
            return false;
        QThread::usleep(1000);
    }
    return true;
}

// ---------------------------------------------------------------- processes

ProcessStats processStats(qint64 pid)
{
    ProcessStats st;
    const QString proc = QString("/proc/%1").arg(pid);
    st.descriptors = QDir(proc + "/fd").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size();
    QFile status(proc + "/status");
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("Threads:"))
                st.threads = line.mid(8).trimmed().toInt();
            else if (line.startsWith("VmRSS:"))
                st.rssKb = line.mid(6).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return st;
}

int threadsNamed(qint64 pid, const QString& name)
{
    const QString tasks = QString("/proc/%1/task").arg(pid);
    int n = 0;
    for (const QString& tid : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks + "/" + tid + "/comm");
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name.toUtf8())
            ++n;
    }
    return n;
}

// ---------------------------------------------------------------- UdpPeer

UdpPeer::UdpPeer(const QHostAddress& address, quint16 port)
{
    ok_ = ClassroomPort::bind(sock_, address, port);
}

std::optional<QByteArray> UdpPeer::receive(int timeoutMs, QHostAddress* from, qint64* arrivalMs)
{
    if (!sock_.hasPendingDatagrams() && !sock_.waitForReadyRead(timeoutMs))
        return std::nullopt;
    if (!sock_.hasPendingDatagrams())
        return std::nullopt;
    QByteArray data(static_cast<int>(sock_.pendingDatagramSize()), '\0');
    QHostAddress sender;
    quint16 port = 0;
    sock_.readDatagram(data.data(), data.size(), &sender, &port);
    if (from)
        *from = sender;
    if (arrivalMs) {
        // The arrival time of the datagram just read, kept by the kernel.
        struct timeval tv {};
        if (ioctl(static_cast<int>(sock_.socketDescriptor()), SIOCGSTAMP, &tv) == 0)
            *arrivalMs = static_cast<qint64>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
        else
            *arrivalMs = QDateTime::currentMSecsSinceEpoch();
    }
    return data;
}

bool UdpPeer::send(const QByteArray& data, const QHostAddress& to, quint16 port)
{
    return sock_.writeDatagram(data, to, port) == data.size();
}

}  // namespace tsupport
