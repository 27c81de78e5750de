#include "BridgeNet.h"

#include "NetSupport.h"
#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

namespace tsupport {

namespace {

const char BRIDGE[] = "tvbr0";

QString portName(int node)
{
    return QString("tvn%1").arg(node);
}

}  // namespace

BridgeNet::BridgeNet()
{
    if (!isolatedNetwork())
        return;
    ok_ = sh(QString("ip link set lo up && ip link add %1 type bridge mcast_snooping 0 && "
                     "ip addr add %2/24 dev %1 && ip link set %1 up && ip route add 224.0.0.0/4 dev %1")
                 .arg(BRIDGE, hostAddress()));
}

BridgeNet::~BridgeNet()
{
    for (size_t i = 0; i < nodes_.size(); ++i) {
        sh("ip link del " + portName(static_cast<int>(i)) + " 2>/dev/null");
        if (nodes_[i].holder->state() != QProcess::NotRunning) {
            nodes_[i].holder->kill();
            nodes_[i].holder->waitForFinished(SLOW_MS);
        }
    }
    if (ok_)
        sh(QString("ip link del %1 2>/dev/null").arg(BRIDGE));
}

int BridgeNet::addNode()
{
    if (!ok_)
        return -1;
    const int node = static_cast<int>(nodes_.size());
    Node n{std::make_unique<QProcess>(), QString("10.77.0.%1").arg(node + 2)};
    n.holder->start("unshare", {"-n", "sleep", "100000"});
    if (!n.holder->waitForStarted(SLOW_MS))
        return -1;
    const QString pid = QString::number(n.holder->processId());
    nodes_.push_back(std::move(n));
    // unshare execs sleep once the namespace exists; wait until it has.
    const QString own = netnsOf("self");
    QDeadlineTimer unshared(SLOW_MS);
    while (netnsOf(pid) == own && !unshared.hasExpired())
        QThread::msleep(20);
    if (netnsOf(pid) == own)
        return -1;
    const QString in = "nsenter -t " + pid + " -n ";
    const QString port = portName(node);
    const bool linked =
        sh(QString("ip link add %1 type veth peer name eth0 netns %2").arg(port, pid)) &&
        sh(QString("ip link set %1 master %2 && ip link set %1 up").arg(port, BRIDGE)) &&
        sh(in + "ip link set lo up") && sh(in + QString("ip addr add %1/24 dev eth0").arg(address(node))) &&
        sh(in + "ip link set eth0 up") && sh(in + "ip route add 224.0.0.0/4 dev eth0");
    if (!linked)
        return -1;
    // Usable once both ends report the link up and the bridge forwards on
    // the port (a bridge without STP forwards at once).
    QDeadlineTimer deadline(SLOW_MS);
    bool up = false;
    while (!(up = sh(in + "ip link show eth0 | grep -q 'state UP'") &&
                  sh("ip link show " + port + " | grep -q 'state UP'")) &&
           !deadline.hasExpired())
        QThread::msleep(50);
    return up ? node : -1;
}

QString BridgeNet::address(int node) const
{
    return node >= 0 && node < static_cast<int>(nodes_.size()) ? nodes_[static_cast<size_t>(node)].address
                                                                 : QString();
}

qint64 BridgeNet::pid(int node) const
{
    return node >= 0 && node < static_cast<int>(nodes_.size()) ? nodes_[static_cast<size_t>(node)].holder->processId()
                                                                 : 0;
}

QStringList BridgeNet::command(int node, const QString& program, const QStringList& args) const
{
    return QStringList{"nsenter", "-t", QString::number(pid(node)), "-n", program} + args;
}

bool BridgeNet::setMulticast(int node, bool on)
{
    return sh(QString("ip link set dev %1 type bridge_slave mcast_flood %2").arg(portName(node), on ? "on" : "off"));
}

uint64_t BridgeNet::counter(int node, const char* direction) const
{
    // The node's namespace's own view of its interface (sysfs would show
    // the test's namespace).
    const QStringList c = command(node, "ip", {"-j", "-s", "link", "show", "dev", "eth0"});
    const QByteArray out = run(c.first(), c.mid(1), QProcessEnvironment::systemEnvironment());
    const QJsonArray links = QJsonDocument::fromJson(out).array();
    if (links.isEmpty())
        return 0;
    const QJsonObject stats = links.first().toObject().value("stats64").toObject();
    return static_cast<uint64_t>(stats.value(direction).toObject().value("bytes").toDouble());
}

uint64_t BridgeNet::txBytes(int node) const
{
    return counter(node, "tx");
}

uint64_t BridgeNet::rxBytes(int node) const
{
    return counter(node, "rx");
}

}  // namespace tsupport
