#ifndef TAVLO_TESTSUPPORT_H
#define TAVLO_TESTSUPPORT_H

// Helpers for tests that drive real processes on a real X server: a private
// Xvfb (with trayer as the system tray), working folders with a team.bin, a
// running terminal, window look-ups, screenshots and UDP peers. Everything
// stays on loopback.
//
// The machines that run these tests are small and shared, and sanitizer
// builds run several times slower: every wait here is for an event, with a
// deadline (SLOW_MS by default) meant only to turn a hang into a failure.

#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QHostAddress>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <memory>
#include <optional>

struct _XDisplay;

namespace tsupport {

// The default deadline of a wait for something that must happen: long
// enough for a terminal to start on a loaded machine under the sanitizers.
constexpr int SLOW_MS = 60000;

QString buildDir();   // the CMake build tree
QString sourceDir();  // the source tree
QString tavloPath();  // the built terminal

// Runs a command to its end (at most timeoutMs) and returns its stdout.
QByteArray run(const QString& program, const QStringList& args, const QProcessEnvironment& env,
               int timeoutMs = SLOW_MS, int* exitCode = nullptr);

// A private X server: Xvfb on a free display number, optionally with trayer
// as system tray. Both are ended by the destructor.
class XServer {
public:
    explicit XServer(int width = 1920, int height = 1080, bool tray = true);
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    bool ok() const { return ok_; }
    QString display() const { return display_; }  // e.g. ":87"
    int width() const { return width_; }
    int height() const { return height_; }
    // The process environment with DISPLAY set to this server and software GL.
    QProcessEnvironment env() const;

private:
    // Polls until some client (trayer) owns the tray selection of screen 0.
    bool waitForTraySelection();
    QProcess xvfb_;
    QProcess tray_;
    QString display_;
    int width_, height_;
    bool ok_ = false;
};

// A temporary working folder, removed at the end; optionally with team.bin.
class TeamDir {
public:
    // team.bin = {"roomIp": roomIp, "teamNum": teamNum}
    explicit TeamDir(const QString& roomIp = "127.0.0.2", qint64 teamNum = 1);
    // team.bin with exactly these bytes; a null array writes no team.bin.
    explicit TeamDir(const QByteArray& teamBin);
    QString path() const { return dir_.path(); }
    QString file(const QString& name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
};

// A running terminal process. Its stdout and stderr go to files, so that the
// terminal never blocks on a full pipe however long a test leaves them unread.
class Terminal {
public:
    Terminal(const QString& workDir, const QProcessEnvironment& env, const QStringList& args = {},
             const QString& program = tavloPath());
    ~Terminal();  // kills the process if it still runs
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    bool started() const { return started_; }
    qint64 pid() const { return proc_.processId(); }
    // Waits until stdout (collected so far) contains text.
    bool waitForOutput(const QString& text, int timeoutMs);
    // Number of times text occurs in stdout collected so far.
    int countOutput(const QString& text);
    // Waits until text has occurred at least n times in stdout.
    bool waitForCount(const QString& text, int n, int timeoutMs);
    QByteArray out();
    QByteArray err();
    bool waitForExit(int timeoutMs);
    bool running() const { return proc_.state() != QProcess::NotRunning; }
    int exitCode() const { return proc_.exitCode(); }
    bool crashed() const { return proc_.exitStatus() == QProcess::CrashExit; }
    // Quits through the tray menu: right click on the tray icon, wait for
    // the menu, then its only item. Needs the server's trayer. Returns true
    // once the process has ended.
    bool quitViaTray(int timeoutMs = SLOW_MS);
    void terminate();  // SIGTERM
    // Writes to the process's standard input.
    bool writeInput(const QByteArray& data);

protected:
    void poll();  // lets the process state update for a moment (50 ms at most)

private:
    void drain();
    QTemporaryDir logs_;
    QFile outFile_, errFile_;
    QProcess proc_;
    QProcessEnvironment env_;
    QByteArray out_, err_;
    bool started_ = false;
};

struct WindowInfo {
    QString id;
    int x = 0, y = 0, width = 0, height = 0;
    bool viewable = false;
};

// Top-level windows (with the given name, exactly) on a display, from xwininfo.
QList<WindowInfo> windowsNamed(const QProcessEnvironment& env, const QString& name);
// Polls until a viewable window with that name exists.
std::optional<WindowInfo> waitForWindow(const QProcessEnvironment& env, const QString& name, int timeoutMs);
// Polls until no viewable window with that name exists.
bool waitForNoWindow(const QProcessEnvironment& env, const QString& name, int timeoutMs);
// Screenshot of the root window (or of a window id) through ImageMagick import.
QImage screenshot(const QProcessEnvironment& env, const QString& window = "root");

// The environment for a terminal process on top of env: in a sanitizer
// build, without the leak check at exit. Libraries the terminal loads keep
// blocks for themselves (GLib drops its first table of names when
// GStreamer's outgrow it; Mesa's GL library keeps bytes in its driver) that
// the fast unwinder of these tests cannot attribute to them, so no
// suppression names them. The viewer's own releases are checked by the
// in-process viewer tests with whole stacks; the terminal's memory by the
// rounds tests' resident-memory checks.
QProcessEnvironment terminalEnv(const QProcessEnvironment& env);

// True when the colour is within tol of want in each channel.
bool near(QColor got, QColor want, int tol = 40);
// True when the image's centre and the four points near its corners are
// all near want.
bool coveredBy(const QImage& img, QColor want, int tol = 40);
// Takes screenshots of the display in env until one is covered by want;
// false once the deadline has passed.
bool waitForColour(const QProcessEnvironment& env, QColor want, int timeoutMs);

// Reads single pixels of a display straight from its X server (a
// millisecond each, where a screenshot takes a tenth of a second).
class ScreenProbe {
public:
    explicit ScreenProbe(const QString& display);
    ~ScreenProbe();
    ScreenProbe(const ScreenProbe&) = delete;
    ScreenProbe& operator=(const ScreenProbe&) = delete;

    bool ok() const { return display_ != nullptr; }
    // True when the centre and two top corners of the screen are near want.
    bool shows(QColor want, int tol = 40);
    // Polls every millisecond until shows(want); false after timeoutMs.
    bool waitFor(QColor want, int timeoutMs);

private:
    ::_XDisplay* display_ = nullptr;
};

// A process as /proc shows it.
struct ProcessStats {
    int threads = 0;
    int descriptors = 0;
    qint64 rssKb = 0;
};
ProcessStats processStats(qint64 pid);
// The number of the process's threads with that name (as set by the thread
// itself, or inherited from the thread that started it).
int threadsNamed(qint64 pid, const QString& name);

// A UDP socket bound as the classroom's programs bind port 55555
// (ClassroomPort.h), for playing the classroom host beside a terminal.
class UdpPeer {
public:
    UdpPeer(const QHostAddress& address, quint16 port);
    bool ok() const { return ok_; }
    // Waits for the next datagram; empty optional on time-out. arrivalMs
    // gets the kernel's time of arrival (wall clock, ms): unlike the time
    // the test gets round to reading it, it does not move when this process
    // is kept waiting for a core.
    std::optional<QByteArray> receive(int timeoutMs, QHostAddress* from = nullptr, qint64* arrivalMs = nullptr);
    bool send(const QByteArray& data, const QHostAddress& to, quint16 port);

private:
    QUdpSocket sock_;
    bool ok_ = false;
};

// Sleeps while letting queued events run.
void pause(int ms);

}  // namespace tsupport

#endif
