// Terminals that share their screen by multicast on a switched network of
// namespaces (BridgeNet), watched by clients that are not ours (FFmpeg,
// GStreamer's rtspsrc) and by hand-written RTSP requests.
#include "BridgeNet.h"
#include "MulticastSupport.h"
#include "NetSupport.h"
#include "RawRtsp.h"
#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QProcess>
#include <QRegularExpression>
#include <QUdpSocket>
#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <memory>
#include <vector>

using namespace msupport;

namespace {

// The groups, addresses and ports of the two sources (teams 3 and 4).
const int TEAM_A = 3, TEAM_B = 4;
const char GROUP_A[] = "239.255.0.3";
const char GROUP_B[] = "239.255.0.4";
const int PORT_A = 20006, PORT_B = 20008;

// FFmpeg in a node decoding the first frames of a stream, started here and
// read by coloursOf.
std::unique_ptr<QProcess> startDecoder(const tsupport::BridgeNet& net, int node, const QString& url,
                                       const QString& transport, int frames)
{
    const QStringList c = net.command(node, "ffmpeg",
                                      {"-v", "error", "-rtsp_transport", transport, "-i", url, "-frames:v",
                                       QString::number(frames), "-vf", "crop=16:16:952:532", "-fps_mode",
                                       "passthrough", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    auto p = std::make_unique<QProcess>();
    p->start(c.first(), c.mid(1));
    return p;
}

// The mean colour of a 16 x 16 square at the centre of each frame the
// decoder wrote, once it has ended.
std::vector<Colour> coloursOf(QProcess& decoder)
{
    QByteArray out;
    QDeadlineTimer deadline(2 * tsupport::SLOW_MS);
    while (decoder.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        decoder.waitForFinished(100);
        out += decoder.readAllStandardOutput();
    }
    if (decoder.state() != QProcess::NotRunning) {
        decoder.kill();
        decoder.waitForFinished(3000);
    }
    out += decoder.readAllStandardOutput();
    const int size = 16 * 16 * 3;
    std::vector<Colour> colours;
    for (int f = 0; (f + 1) * size <= out.size(); ++f) {
        const auto* p = reinterpret_cast<const uint8_t*>(out.constData()) + f * size;
        std::array<long, 3> sum{0, 0, 0};
        for (int i = 0; i < size; ++i)
            sum[static_cast<size_t>(i % 3)] += p[i];
        colours.push_back({static_cast<int>(sum[0] / (16 * 16)), static_cast<int>(sum[1] / (16 * 16)),
                           static_cast<int>(sum[2] / (16 * 16))});
    }
    return colours;
}

std::vector<Colour> centreColours(const tsupport::BridgeNet& net, int node, const QString& url,
                                  const QString& transport, int frames)
{
    return coloursOf(*startDecoder(net, node, url, transport, frames));
}

// GStreamer's rtspsrc taking the stream by multicast in a node, into a
// fakesink; stopped with an interrupt, which it answers with a TEARDOWN.
class Receiver {
public:
    Receiver(const tsupport::BridgeNet& net, int node, const QString& url, const QString& protocols = "udp-mcast")
    {
        const QStringList c = net.command(node, "gst-launch-1.0",
                                          {"-e", "rtspsrc", "location=" + url, "protocols=" + protocols, "!",
                                           "fakesink"});
        p_.setProcessChannelMode(QProcess::MergedChannels);
        p_.start(c.first(), c.mid(1));
        p_.waitForStarted(tsupport::SLOW_MS);
    }
    ~Receiver() { stop(); }
    bool running() const { return p_.state() == QProcess::Running; }
    // Interrupts and waits for the end (nsenter execs the program: the pid
    // is rtspsrc's own).
    void stop()
    {
        if (p_.state() == QProcess::NotRunning)
            return;
        ::kill(static_cast<pid_t>(p_.processId()), SIGINT);
        if (!p_.waitForFinished(tsupport::SLOW_MS)) {
            p_.kill();
            p_.waitForFinished(3000);
        }
    }
    QByteArray output() { return p_.readAll(); }

private:
    QProcess p_;
};

// Waits until a node has received at least bytes more than it had.
bool waitForBytes(const tsupport::BridgeNet& net, int node, uint64_t bytes)
{
    const uint64_t start = net.rxBytes(node);
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    while (net.rxBytes(node) < start + bytes) {
        if (deadline.hasExpired())
            return false;
        tsupport::pause(100);
    }
    return true;
}

// From a SETUP reply's Transport header: the value of one parameter.
QString transportParameter(const QByteArray& reply, const QString& name)
{
    const QRegularExpression re("\r\nTransport:[^\r]*;" + name + "=([^;\r]+)",
                                QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(QString::fromLatin1(reply));
    return m.hasMatch() ? m.captured(1) : QString();
}

// RTP packets that reach a socket joined to a group here (the test's own
// host on the bridge).
class GroupListener {
public:
    GroupListener(const QString& group, quint16 port)
    {
        ok_ = sock_.bind(QHostAddress::AnyIPv4, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint) &&
              sock_.joinMulticastGroup(QHostAddress(group), QNetworkInterface::interfaceFromName("tvbr0"));
    }
    bool ok() const { return ok_; }
    // Datagrams that arrived within ms.
    int count(int ms)
    {
        int n = 0;
        QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired()) {
            if (sock_.waitForReadyRead(50))
                while (sock_.hasPendingDatagrams()) {
                    sock_.receiveDatagram();
                    ++n;
                }
        }
        return n;
    }

private:
    QUdpSocket sock_;
    bool ok_ = false;
};

}  // namespace

// Two terminals sharing at once, and viewer nodes, for the whole suite.
class MulticastSource : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        net = new tsupport::BridgeNet;
        if (!net->ok())
            return;
        a = new NodeTerminal(*net, TEAM_A);
        b = new NodeTerminal(*net, TEAM_B);
        for (int i = 0; i < 3; ++i)
            viewers.push_back(net->addNode());
    }
    static void TearDownTestSuite()
    {
        delete a;
        delete b;
        delete net;
        a = b = nullptr;
        net = nullptr;
        viewers.clear();
    }
    void SetUp() override
    {
        ASSERT_TRUE(net && net->ok()) << "needs root and a private network namespace (run through CTest)";
        for (NodeTerminal* s : {a, b}) {
            ASSERT_GE(s->node, 0) << "a node for the terminal";
            ASSERT_TRUE(s->x.ok());
            ASSERT_TRUE(s->ready()) << (s->terminal ? s->terminal->err().constData() : "");
        }
        for (int v : viewers)
            ASSERT_GE(v, 0) << "a node for each viewer";
    }
    static tsupport::BridgeNet* net;
    static NodeTerminal* a;
    static NodeTerminal* b;
    static std::vector<int> viewers;
};
tsupport::BridgeNet* MulticastSource::net = nullptr;
NodeTerminal* MulticastSource::a = nullptr;
NodeTerminal* MulticastSource::b = nullptr;
std::vector<int> MulticastSource::viewers;

// Each terminal names its own group, derived from its number.
TEST_F(MulticastSource, EachTerminalAnnouncesTheGroupOfItsNumber)
{
    EXPECT_TRUE(a->terminal->out().contains(QByteArray("Screen sharing: multicast to ") + GROUP_A + " port " +
                                            QByteArray::number(PORT_A) + ", TTL 1"));
    EXPECT_TRUE(b->terminal->out().contains(QByteArray("Screen sharing: multicast to ") + GROUP_B + " port " +
                                            QByteArray::number(PORT_B) + ", TTL 1"));
}

// Two viewers take the stream by multicast and both decode the painted
// colour; while both receive, the source sends what one viewer receives
// (one copy on the wire, not one per viewer); when one leaves, the other
// goes on receiving.
TEST_F(MulticastSource, TwoViewersShowTheColourWhileTheSourceSendsOneStream)
{
    {
        Painter red({"color", "ff0000"}, a->x.env());
        for (int v : {viewers[0], viewers[1]}) {
            const std::vector<Colour> colours = centreColours(*net, v, a->url(), "udp_multicast", 3);
            ASSERT_FALSE(colours.empty()) << "viewer " << v << " decoded nothing";
            for (const Colour& c : colours)
                EXPECT_TRUE(near(c, 255, 0, 0)) << c[0] << "," << c[1] << "," << c[2];
        }
    }
    Painter moving({"clock", "moving"}, a->x.env());
    Receiver first(*net, viewers[0], a->url());
    Receiver second(*net, viewers[1], a->url());
    ASSERT_TRUE(waitForBytes(*net, viewers[0], 100000)) << first.output().constData();
    ASSERT_TRUE(waitForBytes(*net, viewers[1], 100000)) << second.output().constData();

    // Over the same stretch: what the source sent, what each viewer got.
    const uint64_t sent0 = net->txBytes(a->node), got0 = net->rxBytes(viewers[0]), other0 = net->rxBytes(viewers[1]);
    ASSERT_TRUE(waitForBytes(*net, viewers[0], 300000));
    const uint64_t sent = net->txBytes(a->node) - sent0, got = net->rxBytes(viewers[0]) - got0,
                   other = net->rxBytes(viewers[1]) - other0;
    EXPECT_LT(static_cast<double>(sent), 1.3 * static_cast<double>(got))
        << "sent " << sent << " bytes while each viewer got " << got << " and " << other;
    EXPECT_GT(static_cast<double>(other), 0.7 * static_cast<double>(got));

    first.stop();
    EXPECT_TRUE(second.running());
    EXPECT_TRUE(waitForBytes(*net, viewers[1], 100000)) << "the viewer that stayed still receives";
    EXPECT_TRUE(second.running()) << second.output().constData();
}

// Both terminals share at once: each viewer decodes only the colour of the
// terminal it asked for, in every picture.
TEST_F(MulticastSource, TwoSourcesOnDistinctGroupsNeverMixed)
{
    Painter red({"color", "ff0000"}, a->x.env());
    Painter blue({"color", "0000ff"}, b->x.env());
    // Both streams flow all the time (the bridge floods both groups to
    // every port) while the two clients decode.
    Receiver keepA(*net, viewers[2], a->url());
    Receiver keepB(*net, viewers[2], b->url());
    auto decodeA = startDecoder(*net, viewers[0], a->url(), "udp_multicast", 10);
    auto decodeB = startDecoder(*net, viewers[1], b->url(), "udp_multicast", 10);
    const std::vector<Colour> fromA = coloursOf(*decodeA);
    const std::vector<Colour> fromB = coloursOf(*decodeB);
    ASSERT_GE(fromA.size(), 10u);
    ASSERT_GE(fromB.size(), 10u);
    for (const Colour& c : fromA)
        EXPECT_TRUE(near(c, 255, 0, 0)) << "from A: " << c[0] << "," << c[1] << "," << c[2];
    for (const Colour& c : fromB)
        EXPECT_TRUE(near(c, 0, 0, 255)) << "from B: " << c[0] << "," << c[1] << "," << c[2];
}

// Whatever group, port or TTL a client asks for, the reply names the
// server's, and the stream goes there and nowhere else.
TEST_F(MulticastSource, ClientAskingForItsOwnGroupOrTtlGetsTheServers)
{
    const QStringList asks{
        "Transport: RTP/AVP;multicast;destination=239.1.2.3;port=5000-5001;ttl=16\r\n",
        "Transport: RTP/AVP;multicast;ttl=255\r\n",
        "Transport: RTP/AVP;multicast;destination=" + net->address(viewers[0]) + ";port=6000-6001\r\n",
        "Transport: RTP/AVP;multicast\r\n",
    };
    GroupListener own(GROUP_A, static_cast<quint16>(PORT_A));
    GroupListener chosen("239.1.2.3", 5000);
    ASSERT_TRUE(own.ok());
    ASSERT_TRUE(chosen.ok());
    std::vector<std::unique_ptr<RawRtsp>> clients;
    for (const QString& ask : asks) {
        clients.push_back(std::make_unique<RawRtsp>(5000, QHostAddress(), net->address(a->node)));
        RawRtsp& c = *clients.back();
        ASSERT_TRUE(c.connected());
        ASSERT_EQ(c.request("SETUP", c.url("/stream=0"), ask.toLatin1()), 200) << ask.toStdString() << c.last().constData();
        EXPECT_EQ(transportParameter(c.last(), "destination"), GROUP_A) << c.last().constData();
        EXPECT_EQ(transportParameter(c.last(), "port"), QString("%1-%2").arg(PORT_A).arg(PORT_A + 1))
            << c.last().constData();
        EXPECT_EQ(transportParameter(c.last(), "ttl"), "1") << c.last().constData();
        ASSERT_EQ(c.request("PLAY", c.url()), 200) << c.last().constData();
    }
    Painter moving({"clock", "moving"}, a->x.env());
    EXPECT_GT(own.count(2000), 30) << "the stream reaches the server's group";
    EXPECT_EQ(chosen.count(1000), 0) << "nothing goes to the group a client named";
}

namespace {

// A listener's receiver report and source description, with the sender's
// SSRC set to ssrc.
QByteArray receiverReportFrom(uint32_t ssrc)
{
    auto word = [](uint32_t v) {
        const char bytes[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                               static_cast<char>(v)};
        return QByteArray(bytes, 4);
    };
    QByteArray p;
    p += QByteArray::fromHex("80c90001") + word(ssrc);
    p += QByteArray::fromHex("81ca0003") + word(ssrc) + QByteArray::fromHex("0103784079000000");
    return p;
}

}  // namespace

// Anybody on the network can send RTCP to the group's RTCP port, where the
// server listens for its multicast listeners' reports: reports that claim
// the stream's own SSRC must not make the server say BYE and change SSRC.
TEST_F(MulticastSource, RtcpClaimingOurSsrcSentToTheGroupEndsNoViewer)
{
    Painter moving({"clock", "moving"}, a->x.env());
    Receiver listener(*net, viewers[0], a->url());
    RawRtsp watcher(5000, QHostAddress(), net->address(a->node));
    ASSERT_EQ(watcher.request("SETUP", watcher.url("/stream=0"), "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n"),
              200)
        << watcher.last().constData();
    const uint32_t ssrc = watcher.transportSsrc();
    ASSERT_NE(ssrc, 0u);
    ASSERT_EQ(watcher.request("PLAY", watcher.url()), 200) << watcher.last().constData();
    ASSERT_TRUE(watcher.receiveUntil([&] { return watcher.accessUnits() >= 3; }, tsupport::SLOW_MS));
    ASSERT_TRUE(waitForBytes(*net, viewers[0], 50000)) << listener.output().constData();

    QUdpSocket udp;
    ASSERT_TRUE(udp.bind(QHostAddress(tsupport::BridgeNet::hostAddress()), 0));
    for (int i = 0; i < 10; ++i) {
        ASSERT_GT(udp.writeDatagram(receiverReportFrom(ssrc), QHostAddress(GROUP_A), static_cast<quint16>(PORT_A + 1)),
                  0);
        watcher.receiveUntil([] { return false; }, 100);
    }
    const int units = watcher.accessUnits();
    EXPECT_TRUE(watcher.receiveUntil([&] { return watcher.accessUnits() >= units + 30; }, 2 * tsupport::SLOW_MS));
    EXPECT_EQ(watcher.ssrcs().size(), 1u) << "the stream kept its SSRC";
    EXPECT_EQ(watcher.byes(), 0) << "no BYE";
    EXPECT_TRUE(listener.running()) << listener.output().constData();
}

// A client that only takes the multicast stream is a watcher: the terminal
// captures its screen while it plays and stops once it has torn down.
TEST_F(MulticastSource, MulticastViewerIsAWatcher)
{
    tsupport::Terminal& t = *b->terminal;
    auto ticks = [&] { return t.countOutput("SendTo: 127.0.0.2"); };
    // Whatever an earlier test left playing has gone within a few ticks.
    ASSERT_TRUE(t.waitForCount("SendTo: 127.0.0.2", ticks() + 3, tsupport::SLOW_MS));
    int grabs = t.countOutput("XShmGetImage(");
    ASSERT_TRUE(t.waitForCount("SendTo: 127.0.0.2", ticks() + 2, tsupport::SLOW_MS));
    ASSERT_EQ(t.countOutput("XShmGetImage("), grabs) << "nobody watches yet";

    RawRtsp c(5000, QHostAddress(), net->address(b->node));
    ASSERT_EQ(c.request("SETUP", c.url("/stream=0"), "Transport: RTP/AVP;multicast\r\n"), 200) << c.last().constData();
    ASSERT_EQ(c.request("PLAY", c.url()), 200) << c.last().constData();
    EXPECT_TRUE(t.waitForCount("XShmGetImage(", grabs + 5, tsupport::SLOW_MS)) << "a multicast viewer is watched for";
    ASSERT_EQ(c.request("TEARDOWN", c.url()), 200) << c.last().constData();

    ASSERT_TRUE(t.waitForCount("SendTo: 127.0.0.2", ticks() + 2, tsupport::SLOW_MS));
    grabs = t.countOutput("XShmGetImage(");
    ASSERT_TRUE(t.waitForCount("SendTo: 127.0.0.2", ticks() + 2, tsupport::SLOW_MS));
    EXPECT_EQ(t.countOutput("XShmGetImage("), grabs) << "capture stops with the last watcher";
}

// A host without a route for its group (a computer with no network but the
// classroom's, say) refuses the multicast transport (461), so that the
// client takes another; the stream and its other clients go on. Before,
// the sockets' failure to join the group failed the whole pipeline.
TEST_F(MulticastSource, MulticastWithoutARouteIsRefusedAndTheStreamGoesOn)
{
    const QString in = QString("nsenter -t %1 -n ").arg(net->pid(a->node));
    ASSERT_TRUE(tsupport::sh(in + "ip route del 224.0.0.0/4 dev eth0"));
    Painter moving({"clock", "moving"}, a->x.env());
    RawRtsp watcher(5000, QHostAddress(), net->address(a->node));
    ASSERT_EQ(watcher.setupAndPlay(), 200) << watcher.last().constData();
    ASSERT_TRUE(watcher.receiveUntil([&] { return watcher.accessUnits() >= 3; }, tsupport::SLOW_MS));

    RawRtsp asker(5000, QHostAddress(), net->address(a->node));
    EXPECT_EQ(asker.request("SETUP", asker.url("/stream=0"), "Transport: RTP/AVP;multicast\r\n"), 461)
        << asker.last().constData();
    const int units = watcher.accessUnits();
    EXPECT_TRUE(watcher.receiveUntil([&] { return watcher.accessUnits() >= units + 30; }, 2 * tsupport::SLOW_MS));
    EXPECT_FALSE(a->terminal->out().contains("Screen sharing: the stream failed")) << "the pipeline stayed up";

    ASSERT_TRUE(tsupport::sh(in + "ip route add 224.0.0.0/4 dev eth0"));
    RawRtsp again(5000, QHostAddress(), net->address(a->node));
    EXPECT_EQ(again.request("SETUP", again.url("/stream=0"), "Transport: RTP/AVP;multicast\r\n"), 200)
        << "offered again once the route is back: " << again.last().constData();
}
