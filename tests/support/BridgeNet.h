#ifndef TAVLO_BRIDGENET_H
#define TAVLO_BRIDGENET_H

// A switched classroom network made of network namespaces, for tests of
// multicast: the test's own (private) namespace holds a bridge, "tvbr0",
// with multicast snooping off, so that every port gets every group as from
// a switch without IGMP snooping, and an address of its own on it
// (10.77.0.1/24): the test process is a host of that network. Each node is
// a namespace of its own, held by a sleeping process, on a veth port of the
// bridge, with the address 10.77.0.(node + 2)/24 and a route for
// 224.0.0.0/4 through its port.
//
// Only inside a namespace of the test's own (isolatedNetwork: the test
// registered with NETNS, run as root): anywhere else ok() stays false and
// nothing is touched. Everything goes with the object. Its devices
// ("tvbr0", "tvn<node>") count as the test's own for isolatedNetwork().
#include <QProcess>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <vector>

namespace tsupport {

class BridgeNet {
public:
    BridgeNet();
    ~BridgeNet();
    BridgeNet(const BridgeNet&) = delete;
    BridgeNet& operator=(const BridgeNet&) = delete;

    bool ok() const { return ok_; }
    // The test's own address on the bridge.
    static QString hostAddress() { return "10.77.0.1"; }

    // Adds a node and returns its number (from 0), or -1 on failure.
    int addNode();
    QString address(int node) const;
    qint64 pid(int node) const;
    // The command line that runs program with args in the node's namespace
    // (its program is nsenter): pass both halves to QProcess or Terminal.
    QStringList command(int node, const QString& program, const QStringList& args) const;
    // Whether the bridge passes multicast on to the node (on by default):
    // off is a switch or an access point that drops it on the way.
    bool setMulticast(int node, bool on);
    // Bytes the node's interface sent and received so far (0 on failure).
    uint64_t txBytes(int node) const;
    uint64_t rxBytes(int node) const;

private:
    uint64_t counter(int node, const char* direction) const;
    struct Node {
        std::unique_ptr<QProcess> holder;
        QString address;
    };
    std::vector<Node> nodes_;
    bool ok_ = false;
};

}  // namespace tsupport

#endif
