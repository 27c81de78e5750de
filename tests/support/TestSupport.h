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

private:
    void drain();
    void poll();  // lets the process state update for a moment
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
