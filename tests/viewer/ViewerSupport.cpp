#include "ViewerSupport.h"

#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryFile>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace vsupport {

QString peerPath() { return tsupport::buildDir() + "/tavlo-test-rtsp-peer"; }
QString hostToolPath() { return tsupport::buildDir() + "/tavlo-host"; }

// ---------------------------------------------------------------- Peer

Peer::Peer(const QStringList& args, qint64 netnsPid)
{
    proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (netnsPid)
        proc_.start("nsenter", QStringList{"-t", QString::number(netnsPid), "-n", peerPath()} + args);
    else
        proc_.start(peerPath(), args);
    if (!proc_.waitForStarted(tsupport::SLOW_MS))
        return;
    ready_ = waitFor("ready", 1, tsupport::SLOW_MS);
}

Peer::~Peer()
{
    if (proc_.state() != QProcess::NotRunning) {
        proc_.kill();
        proc_.waitForFinished(tsupport::SLOW_MS);
    }
}

QByteArray Peer::out()
{
    out_ += proc_.readAllStandardOutput();
    return out_;
}

int Peer::count(const QString& line)
{
    int n = 0;
    for (const QByteArray& l : out().split('\n'))
        n += l == line.toUtf8();
    return n;
}

bool Peer::waitFor(const QString& line, int n, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (count(line) < n) {
        if (deadline.hasExpired() || proc_.state() == QProcess::NotRunning)
            return count(line) >= n;
        proc_.waitForReadyRead(50);
    }
    return true;
}

// ---------------------------------------------------------------- PeerNet

static bool sh(const QString& command)
{
    int code = -1;
    tsupport::run("sh", {"-c", command}, QProcessEnvironment::systemEnvironment(), tsupport::SLOW_MS, &code);
    return code == 0;
}

// "net:[inode]" of a process's network namespace.
static QString netns(const QString& pid)
{
    char buf[128];
    const ssize_t n = readlink(("/proc/" + pid + "/ns/net").toLocal8Bit().constData(), buf, sizeof buf - 1);
    return n > 0 ? QString::fromLocal8Bit(buf, static_cast<int>(n)) : QString();
}

bool isolatedNetwork()
{
    // A private namespace holds only its loopback (and the veth these tests
    // add); the machine's own has its real interfaces.
    QFile dev("/proc/self/net/dev");
    if (!dev.open(QIODevice::ReadOnly))
        return false;
    int interfaces = 0;
    for (const QByteArray& line : dev.readAll().split('\n')) {
        const int colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray name = line.left(colon).trimmed();
        if (name != "lo" && !name.startsWith("tvpeer"))
            return false;
        ++interfaces;
    }
    return interfaces > 0;
}

bool dropAnnouncementsTo(const QString& address, qint64 netnsPid)
{
    if (!isolatedNetwork())
        return false;
    const QString in = netnsPid ? "nsenter -t " + QString::number(netnsPid) + " -n " : QString();
    if (sh(in + "ip rule show pref 10 | grep -q 'to " + address + " ipproto udp dport 55555 blackhole'"))
        return true;  // already there
    // A rule ahead of the local table; the local table moves behind it.
    return sh(in + "ip rule add pref 10 to " + address + " ipproto udp dport 55555 blackhole") &&
           sh(in + "ip rule del pref 0") && sh(in + "ip rule add pref 100 lookup local");
}

PeerNet::PeerNet(const QStringList& addresses)
{
    if (!isolatedNetwork())
        return;
    holder_.start("unshare", {"-n", "sleep", "100000"});
    if (!holder_.waitForStarted(tsupport::SLOW_MS))
        return;
    const QString pid = QString::number(holder_.processId());
    // unshare execs sleep once the namespace exists; wait until it has.
    const QString own = netns("self");
    QDeadlineTimer unshared(tsupport::SLOW_MS);
    while (netns(pid) == own && !unshared.hasExpired())
        QThread::msleep(20);
    if (netns(pid) == own)
        return;
    const QString in = "nsenter -t " + pid + " -n ";
    bool ok = sh("ip link add tvpeer0 type veth peer name tvpeer1 netns " + pid) &&
              sh("ip addr add " + localAddress() + "/24 dev tvpeer0") &&
              sh("ip addr add " + localAddress6() + "/64 dev tvpeer0 nodad && ip link set tvpeer0 up") &&
              sh(in + "ip link set lo up") && sh(in + "ip link set tvpeer1 up");
    for (const QString& a : addresses)
        ok = ok && sh(in + "ip addr add " + a + (a.contains(':') ? "/64 dev tvpeer1 nodad" : "/24 dev tvpeer1"));
    // The link is usable once its end here reports it up.
    bool up = false;
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    while (ok && !(up = sh("ip link show tvpeer0 | grep -q 'state UP'")) && !deadline.hasExpired())
        QThread::msleep(50);
    ok_ = ok && up;
}

PeerNet::~PeerNet()
{
    sh("ip link del tvpeer0 2>/dev/null");
    if (holder_.state() != QProcess::NotRunning) {
        holder_.kill();
        holder_.waitForFinished(tsupport::SLOW_MS);
    }
}

// ---------------------------------------------------------------- StdoutCapture

StdoutCapture::StdoutCapture()
{
    path_ = QDir::tempPath() + QString("/tavlo-stdout-%1-%2").arg(getpid()).arg(reinterpret_cast<quintptr>(this));
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    const int fd = open(path_.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, STDOUT_FILENO);
    close(fd);
}

StdoutCapture::~StdoutCapture()
{
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    QFile::remove(path_);
}

QByteArray StdoutCapture::text()
{
    std::fflush(stdout);
    QFile f(path_);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

// ---------------------------------------------------------------- colours

bool near(QColor got, QColor want, int tol)
{
    return std::abs(got.red() - want.red()) <= tol && std::abs(got.green() - want.green()) <= tol &&
           std::abs(got.blue() - want.blue()) <= tol;
}

bool waitForColour(const QProcessEnvironment& env, QColor want, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    do {
        if (coveredBy(tsupport::screenshot(env), want))
            return true;
        tsupport::pause(100);
    } while (!deadline.hasExpired());
    return false;
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

}  // namespace vsupport
