#ifndef TAVLO_MULTICASTSUPPORT_H
#define TAVLO_MULTICASTSUPPORT_H

// Helpers of the multicast tests: terminals on the nodes of a BridgeNet,
// each on an X server of its own, and the painter that fills a display.
#include "BridgeNet.h"
#include "TestSupport.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <array>
#include <memory>

namespace msupport {

using Colour = std::array<int, 3>;

// Within 40 of r, g and b each.
bool near(const Colour& c, int r, int g, int b);

// Paints a display until destroyed (tavlo-test-painter with args).
class Painter {
public:
    Painter(const QStringList& args, const QProcessEnvironment& env);
    ~Painter();
    Painter(const Painter&) = delete;
    Painter& operator=(const Painter&) = delete;

private:
    QProcess p_;
};

// A terminal of group team on a node of its own, showing and sharing its
// own X server (1920 x 1080, with a tray).
struct NodeTerminal {
    NodeTerminal(tsupport::BridgeNet& net, int team);
    // Started, sharing, and past its first announcement.
    bool ready();
    // Its stream's address on the network.
    QString url() const;
    // The colour at the centre of its screen.
    Colour centre() const;
    // Waits until the centre of its screen shows that colour.
    bool waitForCentre(int r, int g, int b, int timeoutMs) const;

    tsupport::BridgeNet& net;
    int team;
    tsupport::XServer x;
    tsupport::TeamDir dir;
    int node;
    std::unique_ptr<tsupport::Terminal> terminal;
};

}  // namespace msupport

#endif
