#include "NetSupport.h"

#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <unistd.h>

namespace tsupport {

bool sh(const QString& command)
{
    int code = -1;
    run("sh", {"-c", command}, QProcessEnvironment::systemEnvironment(), SLOW_MS, &code);
    return code == 0;
}

QString netnsOf(const QString& pid)
{
    char buf[128];
    const ssize_t n = readlink(("/proc/" + pid + "/ns/net").toLocal8Bit().constData(), buf, sizeof buf - 1);
    return n > 0 ? QString::fromLocal8Bit(buf, static_cast<int>(n)) : QString();
}

bool isolatedNetwork()
{
    // A private namespace holds only its loopback (and the veth these
    // helpers add); the machine's own has its real interfaces.
    QFile dev("/proc/self/net/dev");
    if (!dev.open(QIODevice::ReadOnly))
        return false;
    int interfaces = 0;
    for (const QByteArray& line : dev.readAll().split('\n')) {
        const int colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray name = line.left(colon).trimmed();
        if (name != "lo" && !name.startsWith("tvpeer") && !name.startsWith("tvbr") && !name.startsWith("tvn"))
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

// ---------------------------------------------------------------- PeerNet

static PeerNet::Link viewerLink(const QStringList& addresses)
{
    PeerNet::Link link;
    link.hereAddresses = QStringList{PeerNet::localAddress() + "/24", PeerNet::localAddress6() + "/64"};
    for (const QString& a : addresses)
        link.thereAddresses << a + (a.contains(':') ? "/64" : "/24");
    return link;
}

PeerNet::PeerNet(const QStringList& addresses) : PeerNet(viewerLink(addresses)) {}

PeerNet::PeerNet(const Link& link) : here_(link.here)
{
    if (!isolatedNetwork())
        return;
    holder_.start("unshare", {"-n", "sleep", "100000"});
    if (!holder_.waitForStarted(SLOW_MS))
        return;
    const QString pid = QString::number(holder_.processId());
    // unshare execs sleep once the namespace exists; wait until it has.
    const QString own = netnsOf("self");
    QDeadlineTimer unshared(SLOW_MS);
    while (netnsOf(pid) == own && !unshared.hasExpired())
        QThread::msleep(20);
    if (netnsOf(pid) == own)
        return;
    const QString in = "nsenter -t " + pid + " -n ";
    // IPv6 addresses without duplicate address detection: usable at once.
    auto add = [](const QString& a, const QString& dev) {
        return "ip addr add " + a + " dev " + dev + (a.contains(':') ? " nodad" : "");
    };
    bool ok = sh("ip link add " + link.here + " type veth peer name " + link.there + " netns " + pid) &&
              sh(in + "ip link set lo up");
    for (const QString& a : link.hereAddresses)
        ok = ok && sh(add(a, link.here));
    for (const QString& a : link.thereAddresses)
        ok = ok && sh(in + add(a, link.there));
    ok = ok && sh("ip link set " + link.here + " up") && sh(in + "ip link set " + link.there + " up");
    if (!link.gateway.isEmpty())
        ok = ok && sh(in + "ip route add default via " + link.gateway) && sh("sysctl -q -w net.ipv4.ip_forward=1");
    // The link is usable once its end here reports it up.
    bool up = false;
    QDeadlineTimer deadline(SLOW_MS);
    while (ok && !(up = sh("ip link show " + link.here + " | grep -q 'state UP'")) && !deadline.hasExpired())
        QThread::msleep(50);
    ok_ = ok && up;
}

PeerNet::~PeerNet()
{
    sh("ip link del " + here_ + " 2>/dev/null");
    if (holder_.state() != QProcess::NotRunning) {
        holder_.kill();
        holder_.waitForFinished(SLOW_MS);
    }
}

QStringList PeerNet::enter(const QString& program) const
{
    return {"-t", QString::number(pid()), "-n", program};
}

// ---------------------------------------------------------------- GroupNet

static PeerNet::Link groupLink(int k)
{
    PeerNet::Link link;
    link.here = QString("tvpeerc%1").arg(k);
    link.there = QString("tvpeerg%1").arg(k);
    link.hereAddresses = QStringList{QString("10.214.%1.1/24").arg(k)};
    link.thereAddresses = QStringList{QString("10.214.%1.2/24").arg(k)};
    link.gateway = QString("10.214.%1.1").arg(k);
    return link;
}

GroupNet::GroupNet(int k) : PeerNet(groupLink(k)), k_(k) {}

}  // namespace tsupport
