#ifndef TAVLO_NETSUPPORT_H
#define TAVLO_NETSUPPORT_H

// Network namespaces for tests and benchmarks that need more than one host:
// the check that a test runs in a namespace of its own, second namespaces
// behind veth pairs, and rules that keep a terminal from hearing itself.
// Everything changes only namespaces the test itself created (tests run
// through tests/run-isolated, as root).

#include <QProcess>
#include <QString>
#include <QStringList>

namespace tsupport {

// Runs a shell command line; true when it exits with 0.
bool sh(const QString& command);
// "net:[inode]" of a process's network namespace ("self" for this one).
QString netnsOf(const QString& pid);
// True when this process runs in a network namespace of its own: only its
// loopback and the devices these helpers add (veth "tvpeer...", and
// BridgeNet's bridge "tvbr..." and ports "tvn..."), never the machine's own
// network.
bool isolatedNetwork();
// In that namespace (or in the one of process netnsPid): makes UDP datagrams
// to address:55555 fail to send, so that a terminal whose host address is
// its own does not receive its own announcements (a stop).
bool dropAnnouncementsTo(const QString& address, qint64 netnsPid = 0);

// A second network namespace, joined to the current one by a veth pair.
class PeerNet {
public:
    struct Link {
        Link() {}  // not an aggregate: PeerNet({"10.213.0.2"}) means the addresses
        // Device names; they begin with "tvpeer" (see isolatedNetwork).
        QString here = "tvpeer0", there = "tvpeer1";
        // Addresses with their prefix length, on this side and the other.
        QStringList hereAddresses, thereAddresses;
        // When set: the other side's default route goes through this
        // address of this side, which forwards between its links.
        QString gateway;
    };

    // The viewer tests' link: this side 10.213.0.1/24 and fd00:213::1/64,
    // the other side the addresses given (IPv4 ones in 10.213.0.0/24, IPv6
    // ones in fd00:213::/64, usable at once: no duplicate address detection).
    explicit PeerNet(const QStringList& addresses);
    explicit PeerNet(const Link& link);
    ~PeerNet();
    PeerNet(const PeerNet&) = delete;
    PeerNet& operator=(const PeerNet&) = delete;

    bool ok() const { return ok_; }
    qint64 pid() const { return holder_.processId(); }  // a process inside it
    // nsenter arguments that run program inside the namespace.
    QStringList enter(const QString& program) const;
    static QString localAddress() { return "10.213.0.1"; }
    static QString localAddress6() { return "fd00:213::1"; }

private:
    QProcess holder_;
    QString here_;
    bool ok_ = false;
};

// The namespace of group k (1..250) in a classroom: this side is
// 10.214.k.1/24 (the classroom host's address for the group), the other side
// 10.214.k.2/24 with its default route through this side, which forwards
// between the groups.
class GroupNet : public PeerNet {
public:
    explicit GroupNet(int k);
    QString hostAddress() const { return QString("10.214.%1.1").arg(k_); }
    QString groupAddress() const { return QString("10.214.%1.2").arg(k_); }

private:
    int k_;
};

}  // namespace tsupport

#endif
