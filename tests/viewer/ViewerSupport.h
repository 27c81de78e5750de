#ifndef TAVLO_VIEWERSUPPORT_H
#define TAVLO_VIEWERSUPPORT_H

// Helpers for the viewer's tests: the stand-in RTSP peer as a process, a
// second network namespace joined to the test's own by a veth pair, the
// capture of this process's stdout, and colour checks on screenshots.

#include <QByteArray>
#include <QColor>
#include <QImage>
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
    // Number of lines equal to line ("connected", "play", "closed", "accepted").
    int count(const QString& line);
    // Waits until count(line) >= n.
    bool waitFor(const QString& line, int n, int timeoutMs);
    QByteArray out();

private:
    QProcess proc_;
    QByteArray out_;
    bool ready_ = false;
};

// A second network namespace, joined to the current one by a veth pair:
// this side has 10.213.0.1/24 and fd00:213::1/64, the other side the
// addresses given (IPv6 ones in fd00:213::/64, usable at once: no duplicate
// address detection).
class PeerNet {
public:
    explicit PeerNet(const QStringList& addresses);
    ~PeerNet();
    PeerNet(const PeerNet&) = delete;
    PeerNet& operator=(const PeerNet&) = delete;

    bool ok() const { return ok_; }
    qint64 pid() const { return holder_.processId(); }  // a process inside it
    static QString localAddress() { return "10.213.0.1"; }
    static QString localAddress6() { return "fd00:213::1"; }

private:
    QProcess holder_;
    bool ok_ = false;
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

// True when this process runs in a network namespace of its own (the
// tests never change the machine's own network).
bool isolatedNetwork();
// In that namespace (or in the one of process netnsPid): makes UDP datagrams
// to address:55555 fail to send.
bool dropAnnouncementsTo(const QString& address, qint64 netnsPid = 0);

// True when the colour is within tol of want in each channel.
bool near(QColor got, QColor want, int tol = 40);
// True when the image's centre and the four points near its corners are
// all near want.
bool coveredBy(const QImage& img, QColor want, int tol = 40);
// Takes screenshots of the display in env until one is covered by want;
// false once the deadline has passed.
bool waitForColour(const QProcessEnvironment& env, QColor want, int timeoutMs);

}  // namespace vsupport

#endif
