#ifndef TAVLO_VIEWERSUPPORT_H
#define TAVLO_VIEWERSUPPORT_H

// Helpers for the viewer's tests: the stand-in RTSP peer as a process and
// the capture of this process's stdout. (Namespaces, terminals and colour
// checks are shared with the console's tests: tests/support.)

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace vsupport {

QString peerPath();  // the built tavlo-test-rtsp-peer
QString hostToolPath();  // the built tavlo-host

// A running tavlo-test-rtsp-peer; args are passed through. With netnsPid
// set, the peer runs in that process's network namespace.
class Peer {
public:
    explicit Peer(const QStringList& args, qint64 netnsPid = 0);
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool ready() const { return ready_; }
    qint64 pid() const { return proc_.processId(); }
    // Number of lines equal to line ("connected", "play", "closed", "accepted")
    // the peer has written so far.
    int count(const QString& line);
    // Waits until count(line) >= n.
    bool waitFor(const QString& line, int n, int timeoutMs);
    QByteArray out();

private:
    QProcess proc_;
    QByteArray out_;
    bool ready_ = false;
};

// Sends this process's stdout to a file until text() is called or the
// object dies.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    QByteArray text();  // what was written so far (stdout stays captured)

private:
    int saved_ = -1;
    QString path_;
};

}  // namespace vsupport

#endif
