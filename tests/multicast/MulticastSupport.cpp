#include "MulticastSupport.h"

#include "NetSupport.h"

#include <QDeadlineTimer>
#include <QImage>
#include <cstdlib>

namespace msupport {

bool near(const Colour& c, int r, int g, int b)
{
    return std::abs(c[0] - r) < 40 && std::abs(c[1] - g) < 40 && std::abs(c[2] - b) < 40;
}

Painter::Painter(const QStringList& args, const QProcessEnvironment& env)
{
    p_.setProcessEnvironment(env);
    p_.start(tsupport::buildDir() + "/tavlo-test-painter", args);
    if (p_.waitForStarted(tsupport::SLOW_MS)) {
        QDeadlineTimer deadline(tsupport::SLOW_MS);
        while (!p_.readAllStandardOutput().contains("painted") && !deadline.hasExpired())
            p_.waitForReadyRead(50);
    }
}

Painter::~Painter()
{
    p_.kill();
    p_.waitForFinished(3000);
}

NodeTerminal::NodeTerminal(tsupport::BridgeNet& n, int t)
    : net(n), team(t), x(1920, 1080, true), dir("127.0.0.2", t), node(net.addNode())
{
    const QStringList c = net.command(node, tsupport::tavloPath(), {});
    // Its announcements to "roomIp" (loopback) would reach its own port as
    // a command other than a show: a stop.
    if (node >= 0 && !tsupport::dropAnnouncementsTo("127.0.0.2", net.pid(node)))
        node = -1;
    if (node >= 0 && x.ok())
        terminal = std::make_unique<tsupport::Terminal>(dir.path(), x.env(), c.mid(1), c.first());
}

bool NodeTerminal::ready()
{
    return terminal && terminal->started() &&
           terminal->waitForOutput("Screen sharing: multicast to", tsupport::SLOW_MS) &&
           terminal->waitForOutput("SendTo: 127.0.0.2", tsupport::SLOW_MS);
}

QString NodeTerminal::url() const
{
    return QString("rtsp://%1:5000/cam_passby_chn0").arg(net.address(node));
}

Colour NodeTerminal::centre() const
{
    const QImage shot = tsupport::screenshot(x.env());
    if (shot.isNull())
        return {-1000, -1000, -1000};
    const QColor c = shot.pixelColor(shot.width() / 2, shot.height() / 2);
    return {c.red(), c.green(), c.blue()};
}

bool NodeTerminal::waitForCentre(int r, int g, int b, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    while (!near(centre(), r, g, b)) {
        if (deadline.hasExpired())
            return false;
        tsupport::pause(200);
    }
    return true;
}

}  // namespace msupport
