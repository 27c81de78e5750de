// Classroom commands sent as real datagrams to a running terminal. The
// streams it is told to show come from stand-in peers in a second network
// namespace (10.213.0.x), because the terminal itself serves port 5000 on
// every address of its own namespace.
#include "HostCommand.h"
#include "NetSupport.h"
#include "TestSupport.h"
#include "ViewerSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <gtest/gtest.h>
#include <memory>

using namespace tsupport;
using namespace vsupport;

namespace {

const QString X_ADDR = "10.213.0.2";  // red
const QString Y_ADDR = "10.213.0.3";  // blue
const QString S_ADDR = "10.213.0.4";  // green, goes silent
const QString V6_ADDR = "fd00:213::2";  // cyan
const QString H_ADDR = "10.213.0.5";    // accepts and never answers
const QString R_ADDR = "10.213.0.6";    // refuses: nothing listens there
const QColor RED(0xe0, 0x20, 0x20), BLUE(0x20, 0x20, 0xe0), GREEN(0x20, 0xe0, 0x20), CYAN(0x20, 0xe0, 0xe0);

QByteArray show(int group, const QString& ip)
{
    return QString(R"({"messageId":2,"groupId":%1,"ip":"%2"})").arg(group).arg(ip).toUtf8();
}

class CommandsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!isolatedNetwork())
            GTEST_SKIP() << "needs a private network namespace (run through ctest as root)";
        x = new tsupport::XServer(1280, 720, true);
        ASSERT_TRUE(x->ok());
        net = new PeerNet({X_ADDR, Y_ADDR, S_ADDR, V6_ADDR, H_ADDR, R_ADDR});
        ASSERT_TRUE(net->ok());
        const qint64 ns = net->pid();
        px = new Peer({"--address", X_ADDR, "--color", "e02020"}, ns);
        py = new Peer({"--address", Y_ADDR, "--color", "2020e0"}, ns);
        // Silent a few seconds after a viewer's set-up: long enough for even a
        // slow viewer to show its first picture, which stays on the screen
        // until the viewer gives up.
        ps = new Peer({"--address", S_ADDR, "--color", "20e020", "--silent-after", "4000"}, ns);
        p6 = new Peer({"--address", V6_ADDR, "--color", "20e0e0"}, ns);
        ph = new Peer({"--address", H_ADDR, "--mode", "hang"}, ns);
        ASSERT_TRUE(ph->ready());
        ASSERT_TRUE(px->ready());
        ASSERT_TRUE(py->ready());
        ASSERT_TRUE(p6->ready());
        ASSERT_TRUE(ps->ready());
        // 127.0.0.2 is one of this namespace's own addresses, and a host
        // socket cannot share port 55555 with the terminal's: without this
        // rule the terminal would receive its own announcements (a stop).
        ASSERT_TRUE(dropAnnouncementsTo("127.0.0.2"));
        dir = new tsupport::TeamDir("127.0.0.2", 1);
        terminal = new tsupport::Terminal(dir->path(), tsupport::terminalEnv(x->env()));
        ASSERT_TRUE(terminal->started());
        // A tick starts screen sharing before it prints its line, so the
        // terminal's server listens (or has failed to) once the line shows.
        ASSERT_TRUE(terminal->waitForOutput("SendTo: 127.0.0.2\n", tsupport::SLOW_MS));
        // Without screen sharing in this build the host's screen is a
        // stand-in at the configured host address; with it, that address
        // reaches the terminal's own server.
        QTcpServer probe;
        if (probe.listen(QHostAddress("127.0.0.2"), 5000)) {
            probe.close();
            hostPeer = new Peer({"--address", "127.0.0.2", "--color", "e0e020"});
        }
        commander = new tsupport::UdpPeer(QHostAddress::LocalHost, 0);
        ASSERT_TRUE(commander->ok());
    }
    static void TearDownTestSuite()
    {
        delete commander;
        delete terminal;
        delete dir;
        delete hostPeer;
        delete ps;
        delete p6;
        delete ph;
        delete py;
        delete px;
        delete net;
        delete x;
        commander = nullptr;
        terminal = nullptr;
        hostPeer = ph = ps = p6 = py = px = nullptr;
    }
    void SetUp() override
    {
        if (!isolatedNetwork())
            GTEST_SKIP();
        ASSERT_TRUE(terminal && terminal->running());
        send(R"({"messageId":1})");
        ASSERT_TRUE(tsupport::waitForNoWindow(x->env(), "多屏", tsupport::SLOW_MS));
    }
    void TearDown() override
    {
        if (terminal) {
            EXPECT_TRUE(terminal->running()) << terminal->err().constData();
        }
    }

    static void send(const QByteArray& datagram)
    {
        ASSERT_TRUE(commander->send(datagram, QHostAddress::LocalHost, 55555));
    }
    static bool windowShown() { return tsupport::waitForWindow(x->env(), "多屏", tsupport::SLOW_MS).has_value(); }
    static bool noWindow() { return tsupport::waitForNoWindow(x->env(), "多屏", tsupport::SLOW_MS); }
    static bool colourShown(QColor c) { return waitForColour(x->env(), c, tsupport::SLOW_MS); }
    // Starts showing peer X and waits until its picture is on the screen.
    static void viewX()
    {
        const int plays = px->count("play");
        send(show(2, X_ADDR));
        ASSERT_TRUE(px->waitFor("play", plays + 1, tsupport::SLOW_MS));
        ASSERT_TRUE(colourShown(RED));
    }

    static tsupport::XServer* x;
    static PeerNet* net;
    static Peer *px, *py, *ps, *p6, *ph, *hostPeer;
    static tsupport::TeamDir* dir;
    static tsupport::Terminal* terminal;
    static tsupport::UdpPeer* commander;
};

tsupport::XServer* CommandsTest::x = nullptr;
PeerNet* CommandsTest::net = nullptr;
Peer* CommandsTest::px = nullptr;
Peer* CommandsTest::py = nullptr;
Peer* CommandsTest::ps = nullptr;
Peer* CommandsTest::p6 = nullptr;
Peer* CommandsTest::ph = nullptr;
Peer* CommandsTest::hostPeer = nullptr;
tsupport::TeamDir* CommandsTest::dir = nullptr;
tsupport::Terminal* CommandsTest::terminal = nullptr;
tsupport::UdpPeer* CommandsTest::commander = nullptr;

TEST_F(CommandsTest, ShowOfOtherGroupPullsTheAddressNamedByIp)
{
    viewX();
    auto win = tsupport::waitForWindow(x->env(), "多屏", 1000);
    ASSERT_TRUE(win.has_value());
    EXPECT_EQ(win->x, 0);
    EXPECT_EQ(win->y, 0);
    EXPECT_EQ(win->width, 1280);
    EXPECT_EQ(win->height, 720);
    EXPECT_EQ(py->count("connected"), 0);
}

TEST_F(CommandsTest, ShowOfTheHostsScreenUsesTheConfiguredHostAndIgnoresIp)
{
    const int xConnections = px->count("connected");
    const int hostPlays = hostPeer ? hostPeer->count("play") : 0;
    send(show(0, X_ADDR));
    ASSERT_TRUE(windowShown());
    if (hostPeer) {
        EXPECT_TRUE(hostPeer->waitFor("play", hostPlays + 1, tsupport::SLOW_MS));
        EXPECT_TRUE(colourShown(QColor(0xe0, 0xe0, 0x20)));
    }
    // A missing "groupId" is group 0 too: the same address, so the same viewer.
    send(QString(R"({"messageId":2,"ip":"%1"})").arg(Y_ADDR).toUtf8());
    tsupport::pause(2000);
    EXPECT_EQ(px->count("connected"), xConnections);
    EXPECT_EQ(py->count("connected"), 0);
    if (hostPeer) {
        EXPECT_EQ(hostPeer->count("play"), hostPlays + 1);
    }
    EXPECT_TRUE(tsupport::waitForWindow(x->env(), "多屏", 1000).has_value());
    EXPECT_FALSE(terminal->out().contains("runtime error"));
}

TEST_F(CommandsTest, ShowOfTheTerminalsOwnGroupStops)
{
    viewX();
    const int closed = px->count("closed");
    send(show(1, Y_ADDR));
    EXPECT_TRUE(px->waitFor("closed", closed + 1, tsupport::SLOW_MS));
    EXPECT_TRUE(noWindow());
    EXPECT_EQ(py->count("connected"), 0);
}

TEST_F(CommandsTest, EveryOtherMessageIdStops)
{
    const QByteArray stops[] = {
        R"({"messageId":0})",
        R"({"messageId":1})",
        R"({"messageId":3,"groupId":2,"ip":"10.213.0.2"})",
        R"({"messageId":"2","groupId":2,"ip":"10.213.0.2"})",
        R"({"messageId":2.5,"groupId":2,"ip":"10.213.0.2"})",
        R"({"messageId":null,"groupId":2,"ip":"10.213.0.2"})",
    };
    for (const QByteArray& stop : stops) {
        viewX();
        const int closed = px->count("closed");
        send(stop);
        EXPECT_TRUE(px->waitFor("closed", closed + 1, tsupport::SLOW_MS)) << stop.constData();
        EXPECT_TRUE(noWindow()) << stop.constData();
    }
}

TEST_F(CommandsTest, DatagramsWithoutAnObjectOrMessageIdChangeNothing)
{
    viewX();
    const int closed = px->count("closed");
    const int plays = px->count("play");
    send("not json at all");
    send("[2]");
    send("");
    send(R"({"groupId":3,"ip":"10.213.0.3"})");
    send(R"({"groupId":1})");
    tsupport::pause(2500);
    EXPECT_EQ(px->count("closed"), closed);
    EXPECT_EQ(px->count("play"), plays);
    EXPECT_EQ(py->count("connected"), 0);
    EXPECT_TRUE(colourShown(RED));
}

TEST_F(CommandsTest, SameAddressTwiceKeepsOneViewer)
{
    viewX();
    const int connected = px->count("connected");
    send(show(2, X_ADDR));
    send(show(5, X_ADDR));  // another group at the same address: the same stream
    tsupport::pause(2500);
    EXPECT_EQ(px->count("connected"), connected);
    EXPECT_EQ(px->count("closed"), connected - 1);
    EXPECT_TRUE(colourShown(RED));
}

TEST_F(CommandsTest, AnotherAddressReplacesTheViewer)
{
    viewX();
    const auto before = tsupport::waitForWindow(x->env(), "多屏", tsupport::SLOW_MS);
    ASSERT_TRUE(before.has_value());
    const int closed = px->count("closed");
    const int yPlays = py->count("play");
    send(show(3, Y_ADDR));
    EXPECT_TRUE(px->waitFor("closed", closed + 1, tsupport::SLOW_MS));
    EXPECT_TRUE(py->waitFor("play", yPlays + 1, tsupport::SLOW_MS));
    EXPECT_TRUE(colourShown(BLUE));
    // Exactly one viewer: X is not pulled any more.
    EXPECT_EQ(px->count("connected"), px->count("closed"));
    // The same full-screen window, never closed in between: no flash of the
    // desktop between the two streams. Title, place and size stay.
    const QList<tsupport::WindowInfo> after = tsupport::windowsNamed(x->env(), "多屏");
    ASSERT_EQ(after.size(), 1);
    EXPECT_EQ(after[0].id, before->id);
    EXPECT_TRUE(after[0].viewable);
    EXPECT_EQ(after[0].width, 1280);
    EXPECT_EQ(after[0].height, 720);
    // And back: the window still follows, and a stop closes it.
    send(show(2, X_ADDR));
    EXPECT_TRUE(colourShown(RED));
    EXPECT_EQ(tsupport::windowsNamed(x->env(), "多屏").value(0).id, before->id);
    send(R"({"messageId":1})");
    EXPECT_TRUE(noWindow());
}

// A switch to a stream that fails closes the window the previous stream
// left: the desktop is back, nothing stays. Refused at once: "Could not open
// the stream"; a host that never answers (nobody has 10.213.0.77): the first
// picture is given up after 2 s.
TEST_F(CommandsTest, SwitchToAFailingStreamClosesTheWindow)
{
    const struct {
        QString address;
        const char* line;
    } failing[] = {{R_ADDR, "Could not open the stream\n"}, {"10.213.0.77", "No picture within 2 s\n"}};
    for (const auto& f : failing) {
        viewX();
        const int closed = px->count("closed");
        const int lines = terminal->countOutput(f.line);
        const int errors = terminal->countOutput("runtime error\n");
        send(show(6, f.address));
        EXPECT_TRUE(px->waitFor("closed", closed + 1, tsupport::SLOW_MS)) << f.line;
        EXPECT_TRUE(terminal->waitForCount(f.line, lines + 1, tsupport::SLOW_MS)) << f.line;
        EXPECT_TRUE(terminal->waitForCount("runtime error\n", errors + 1, tsupport::SLOW_MS)) << f.line;
        EXPECT_TRUE(noWindow()) << f.line;
    }
    // The next show makes a window of its own.
    viewX();
}

// A computer that is off leaves nothing of the previous group on the
// screen: the first picture is overdue after 2 s, the viewer ends, the
// desktop shows again, and one line says why.
TEST_F(CommandsTest, SourceThatNeverAnswersEndsTheShowWithItsReason)
{
    viewX();
    const int accepted = ph->count("accepted");
    const int overdue = terminal->countOutput("No picture within 2 s\n");
    const int opens = terminal->countOutput("Could not open the stream\n");
    send(show(5, H_ADDR));
    EXPECT_TRUE(ph->waitFor("accepted", accepted + 1, tsupport::SLOW_MS));
    EXPECT_TRUE(terminal->waitForCount("No picture within 2 s\n", overdue + 1, tsupport::SLOW_MS))
        << terminal->out().right(2000).constData();
    EXPECT_TRUE(noWindow());
    EXPECT_EQ(terminal->countOutput("Could not open the stream\n"), opens);
    EXPECT_EQ(px->count("connected"), px->count("closed"));
}

// Show A, then B (a source that never answers), then C within a second: the
// window that showed A stays until C's picture is in it, and B's stop while
// it opened is no failure.
TEST_F(CommandsTest, SwitchDuringASwitchKeepsTheOneWindow)
{
    viewX();
    const auto before = tsupport::waitForWindow(x->env(), "多屏", tsupport::SLOW_MS);
    ASSERT_TRUE(before.has_value());
    const QByteArray failureLines[] = {"Could not open the stream\n", "No picture within 2 s\n", "runtime error\n"};
    int failures[3];
    for (int i = 0; i < 3; ++i)
        failures[i] = terminal->countOutput(failureLines[i]);
    const int accepted = ph->count("accepted");
    const int yPlays = py->count("play");
    send(show(5, H_ADDR));
    ASSERT_TRUE(ph->waitFor("accepted", accepted + 1, tsupport::SLOW_MS));
    send(show(3, Y_ADDR));
    EXPECT_TRUE(py->waitFor("play", yPlays + 1, tsupport::SLOW_MS));
    EXPECT_TRUE(colourShown(BLUE));
    const QList<tsupport::WindowInfo> after = tsupport::windowsNamed(x->env(), "多屏");
    ASSERT_EQ(after.size(), 1);
    EXPECT_EQ(after[0].id, before->id);
    EXPECT_TRUE(after[0].viewable);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(terminal->countOutput(failureLines[i]), failures[i]) << failureLines[i].constData();
}

// Four switches within a third of a second, each while the one before is
// still opening: one window, the last source's picture in it, every other
// stream closed, and no failure reported (none of them failed).
TEST_F(CommandsTest, BurstOfSwitchesLeavesOneWindowOnTheLastSource)
{
    viewX();
    const int yPlays = py->count("play");
    const int failures = terminal->countOutput("Could not open the stream\n") +
                         terminal->countOutput("No picture within 2 s\n") + terminal->countOutput("runtime error\n");
    for (const QString& address : {Y_ADDR, X_ADDR, H_ADDR, Y_ADDR}) {
        send(show(3, address));
        tsupport::pause(75);
    }
    EXPECT_TRUE(py->waitFor("play", yPlays + 1, tsupport::SLOW_MS));
    EXPECT_TRUE(colourShown(BLUE));
    EXPECT_TRUE(px->waitFor("closed", px->count("connected"), tsupport::SLOW_MS));
    EXPECT_TRUE(py->waitFor("closed", py->count("connected") - 1, tsupport::SLOW_MS));
    const QList<tsupport::WindowInfo> windows = tsupport::windowsNamed(x->env(), "多屏");
    ASSERT_EQ(windows.size(), 1);
    EXPECT_TRUE(windows[0].viewable);
    // Nothing more happens: the viewer plays the last source only.
    tsupport::pause(1500);
    EXPECT_EQ(tsupport::windowsNamed(x->env(), "多屏").size(), 1);
    EXPECT_TRUE(colourShown(BLUE));
    EXPECT_EQ(py->count("connected") - py->count("closed"), 1);
    EXPECT_EQ(terminal->countOutput("Could not open the stream\n") + terminal->countOutput("No picture within 2 s\n") +
                  terminal->countOutput("runtime error\n"),
              failures)
        << terminal->out().right(1000).constData();
}

TEST_F(CommandsTest, SeveralQueuedDatagramsAreHandledInOrder)
{
    const int yPlays = py->count("play");
    // One burst: show X, stop, show Y, show Y again. Only Y is left.
    send(show(2, X_ADDR));
    send(R"({"messageId":1})");
    send(show(3, Y_ADDR));
    send(show(3, Y_ADDR));
    EXPECT_TRUE(py->waitFor("play", yPlays + 1, tsupport::SLOW_MS));
    EXPECT_TRUE(colourShown(BLUE));
    tsupport::pause(1500);
    EXPECT_EQ(py->count("play"), yPlays + 1);
    EXPECT_TRUE(px->waitFor("closed", px->count("connected"), tsupport::SLOW_MS));
}

// Every "ip" that is not a literal address: the running viewer stops,
// nothing is shown, one line says why, and nothing is connected to, neither
// the address inside the text nor a port it names.
TEST_F(CommandsTest, UnsoundAddressesStopTheViewerAndConnectNowhere)
{
    QTcpServer portListener;  // what "ADDRESS:2222" would reach
    ASSERT_TRUE(portListener.listen(QHostAddress("127.0.0.1"), 2222));
    const QByteArray cases[] = {
        show(2, "127.0.0.1:2222"),                                       // a port
        show(2, "127.0.0.1:2222/x"),                                     // a port and a path
        show(2, X_ADDR + "/x"),                                          // a path
        R"({"messageId":2,"groupId":2,"ip":"10.213.0.2\r\nX-Extra: 1"})",  // CR/LF
        R"({"messageId":2,"groupId":2,"ip":"10.213.0.2\n"})",            // white space QHostAddress would trim
        show(2, "localhost"),                                            // a host name
        show(2, "u:p@" + X_ADDR),                                        // user info
        show(2, "[" + V6_ADDR + "]"),                                    // brackets belong to the URL
        show(2, "10.213.2"),                                             // a short form
        show(2, "0.0.0.0"),                                              // this terminal itself
        show(2, ""),                                                     // empty
        R"({"messageId":2,"groupId":2})",                                // missing
        R"({"messageId":2,"groupId":2,"ip":167968002})",                 // not a string
    };
    int refusals = terminal->countOutput("Show refused: ");
    const int failures = terminal->countOutput("runtime error");
    for (const QByteArray& bad : cases) {
        viewX();
        const int connected = px->count("connected");
        const int closed = px->count("closed");
        send(bad);
        EXPECT_TRUE(terminal->waitForCount("Show refused: ", ++refusals, tsupport::SLOW_MS)) << bad.constData();
        EXPECT_TRUE(px->waitFor("closed", closed + 1, tsupport::SLOW_MS)) << bad.constData();
        EXPECT_TRUE(noWindow()) << bad.constData();
        EXPECT_EQ(px->count("connected"), connected) << bad.constData();
    }
    // Time for a connection that should not be made to show up.
    tsupport::pause(2000);
    EXPECT_FALSE(portListener.hasPendingConnections());
    EXPECT_FALSE(portListener.waitForNewConnection(0));
    EXPECT_EQ(px->count("connected"), px->count("closed"));
    EXPECT_EQ(p6->count("connected"), 0);
    EXPECT_TRUE(tsupport::waitForNoWindow(x->env(), "多屏", 1000));
    EXPECT_EQ(terminal->countOutput("Show refused: "), refusals);
    // One line each, with the reason, and the text escaped onto that line.
    const QByteArray out = terminal->out();
    EXPECT_TRUE(out.contains("Show refused: \"ip\" \"\" is empty\n")) << out.right(2000).constData();
    EXPECT_TRUE(out.contains("Show refused: \"ip\" is missing or not a string\n"));
    EXPECT_TRUE(out.contains("Show refused: \"ip\" \"10.213.0.2\\r\\nX-Extra: 1\" is not a literal IPv4 or IPv6 address\n"));
    EXPECT_TRUE(out.contains("Show refused: \"ip\" \"0.0.0.0\" is the unspecified address\n"));
    EXPECT_EQ(terminal->countOutput("runtime error"), failures);  // no viewer was even started
}

TEST_F(CommandsTest, AnIPv6LiteralIsShown)
{
    viewX();
    const int plays = p6->count("play");
    send(show(3, V6_ADDR));
    EXPECT_TRUE(p6->waitFor("play", plays + 1, tsupport::SLOW_MS));
    EXPECT_TRUE(colourShown(CYAN));
    EXPECT_TRUE(px->waitFor("closed", px->count("connected"), tsupport::SLOW_MS));
    // The same address written another way is the same stream.
    send(show(3, "FD00:0213:0:0::2"));
    tsupport::pause(1500);
    EXPECT_EQ(p6->count("play"), plays + 1);
    EXPECT_EQ(p6->count("closed"), p6->count("connected") - 1);
}

TEST_F(CommandsTest, BrokenStreamIsReplacedBySameAddress)
{
    const int plays = ps->count("play");
    send(show(4, S_ADDR));
    ASSERT_TRUE(ps->waitFor("play", plays + 1, tsupport::SLOW_MS));
    ASSERT_TRUE(colourShown(GREEN));
    // The stream goes silent after 4 s; 10 s later the viewer gives up.
    EXPECT_TRUE(tsupport::waitForNoWindow(x->env(), "多屏", tsupport::SLOW_MS));
    send(show(4, S_ADDR));
    EXPECT_TRUE(ps->waitFor("play", plays + 2, tsupport::SLOW_MS));
    EXPECT_TRUE(colourShown(GREEN));
}

TEST_F(CommandsTest, HostToolShowAndStopDriveTheTerminal)
{
    const int plays = px->count("play");
    int code = -1;
    tsupport::run(hostToolPath(), {"show", "--to", "127.0.0.1", "--group", "2", "--ip", X_ADDR}, x->env(), tsupport::SLOW_MS,
                  &code);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(px->waitFor("play", plays + 1, tsupport::SLOW_MS));
    EXPECT_TRUE(colourShown(RED));
    const int closed = px->count("closed");
    tsupport::run(hostToolPath(), {"stop", "--to", "127.0.0.1", "--bind", "127.0.0.3"}, x->env(), tsupport::SLOW_MS, &code);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(px->waitFor("closed", closed + 1, tsupport::SLOW_MS));
    EXPECT_TRUE(noWindow());
}

TEST_F(CommandsTest, QuitWithARunningViewerEndsCleanly)
{
    viewX();
    // The viewer covers the desktop: bring the tray's panel above it.
    const QString tree = QString::fromUtf8(tsupport::run("xwininfo", {"-root", "-tree"}, x->env()));
    for (const QString& line : tree.split('\n'))
        if (line.contains("\"panel\": (\"panel\""))
            tsupport::run("xdotool", {"windowraise", line.trimmed().section(' ', 0, 0)}, x->env());
    ASSERT_TRUE(terminal->quitViaTray());
    EXPECT_EQ(terminal->exitCode(), 0) << terminal->err().right(3000).constData();
    EXPECT_FALSE(terminal->crashed());
    EXPECT_TRUE(px->waitFor("closed", px->count("connected"), tsupport::SLOW_MS));
    // The rest of the suite needs a terminal.
    delete terminal;
    terminal = new tsupport::Terminal(dir->path(), tsupport::terminalEnv(x->env()));
    ASSERT_TRUE(terminal->waitForOutput("SendTo: 127.0.0.2\n", tsupport::SLOW_MS));
}

// A terminal whose host address is its own receives its own announcement:
// messageId 0, a stop.
TEST(OwnAnnouncementTest, LoopingBackStopsTheViewer)
{
    if (!isolatedNetwork())
        GTEST_SKIP();
    tsupport::XServer x(1280, 720, true);
    ASSERT_TRUE(x.ok());
    PeerNet net({X_ADDR});
    ASSERT_TRUE(net.ok());
    Peer px({"--address", X_ADDR, "--color", "e02020"}, net.pid());
    ASSERT_TRUE(px.ready());
    tsupport::TeamDir dir("127.0.0.1", 1);
    tsupport::Terminal terminal(dir.path(), x.env());
    ASSERT_TRUE(terminal.waitForOutput("SendTo: 127.0.0.1\n", tsupport::SLOW_MS));
    tsupport::UdpPeer commander(QHostAddress::LocalHost, 0);
    for (int round = 1; round <= 2; ++round) {
        ASSERT_TRUE(commander.send(show(2, X_ADDR), QHostAddress::LocalHost, 55555));
        EXPECT_TRUE(px.waitFor("connected", round, tsupport::SLOW_MS));
        // No command is sent: the next tick's announcement ends the viewer.
        EXPECT_TRUE(px.waitFor("closed", round, tsupport::SLOW_MS));
    }
    EXPECT_TRUE(tsupport::waitForNoWindow(x.env(), "多屏", tsupport::SLOW_MS));
    EXPECT_TRUE(terminal.running());
}

// The configured host address obeys the same rule for group 0. Such an
// address gets no announcements either: sent to the null address they would
// reach this terminal itself and stop its viewer every second.
TEST(RoomIpTest, AnUnsoundHostAddressShowsNothing)
{
    if (!isolatedNetwork())
        GTEST_SKIP();
    tsupport::XServer x(1280, 720, true);
    ASSERT_TRUE(x.ok());
    PeerNet net({X_ADDR});
    ASSERT_TRUE(net.ok());
    Peer px({"--address", X_ADDR, "--color", "e02020"}, net.pid());
    ASSERT_TRUE(px.ready());
    tsupport::TeamDir dir(QByteArray(R"({"roomIp": "10.213.0.2:5000/cam_passby_chn0#", "teamNum": 1})"));
    tsupport::Terminal terminal(dir.path(), x.env());
    // The third tick hides the splash, which would cover the picture.
    ASSERT_TRUE(terminal.waitForCount("SendTo: 10.213.0.2:5000", 3, tsupport::SLOW_MS));
    tsupport::UdpPeer commander(QHostAddress::LocalHost, 0);
    ASSERT_TRUE(commander.send(show(2, X_ADDR), QHostAddress::LocalHost, 55555));
    ASSERT_TRUE(px.waitFor("play", 1, tsupport::SLOW_MS));
    ASSERT_TRUE(waitForColour(x.env(), RED, tsupport::SLOW_MS));
    ASSERT_TRUE(commander.send(show(0, X_ADDR), QHostAddress::LocalHost, 55555));
    EXPECT_TRUE(terminal.waitForOutput("Show refused: \"roomIp\" \"10.213.0.2:5000/cam_passby_chn0#\" is not a literal "
                                       "IPv4 or IPv6 address\n",
                                       tsupport::SLOW_MS));
    EXPECT_TRUE(px.waitFor("closed", 1, tsupport::SLOW_MS));
    EXPECT_TRUE(tsupport::waitForNoWindow(x.env(), "多屏", tsupport::SLOW_MS));
    tsupport::pause(2000);
    EXPECT_EQ(px.count("connected"), 1);
    EXPECT_TRUE(terminal.running());
}

// tavlo-host listen, with a terminal announcing itself to it. The tool takes
// port 55555 first, so this terminal receives no commands.
TEST(HostToolTest, ListenPrintsEachAnnouncement)
{
    if (!isolatedNetwork())
        GTEST_SKIP();
    tsupport::XServer x(1280, 720, true);
    ASSERT_TRUE(x.ok());
    QProcess tool;
    // The tool's own time-out is only a bound on a hang: it covers a
    // terminal's start on a loaded machine.
    tool.start(hostToolPath(), {"listen", "--bind", "127.0.0.5", "--count", "3", "--timeout", "120"});
    ASSERT_TRUE(tool.waitForStarted(tsupport::SLOW_MS));
    ASSERT_TRUE(tool.waitForReadyRead(tsupport::SLOW_MS));  // "listening on ..."
    tsupport::TeamDir dir("127.0.0.5", 7);
    tsupport::Terminal terminal(dir.path(), x.env());
    ASSERT_TRUE(tool.waitForFinished(150000));
    const QByteArray out = tool.readAllStandardOutput();
    EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().constData();
    EXPECT_TRUE(out.startsWith("listening on 127.0.0.5:55555\n")) << out.constData();
    EXPECT_EQ(out.count("group 7 livePort 5000 from 127.0.0."), 3) << out.constData();
}

TEST(HostToolTest, IgnoresDatagramsThatAreNoAnnouncement)
{
    if (!isolatedNetwork())
        GTEST_SKIP();
    QProcess tool;
    tool.start(hostToolPath(), {"listen", "--bind", "127.0.0.3", "--count", "1", "--timeout", "60"});
    ASSERT_TRUE(tool.waitForStarted(tsupport::SLOW_MS));
    ASSERT_TRUE(tool.waitForReadyRead(tsupport::SLOW_MS));
    tsupport::UdpPeer sender(QHostAddress("127.0.0.1"), 0);
    const QHostAddress to("127.0.0.3");
    sender.send("hello", to, 55555);
    sender.send(R"({"messageId":2,"groupId":3})", to, 55555);
    sender.send(R"({ "messageId":0,"id":12, "livePort":5000,"systemType":1 })", to, 55555);
    ASSERT_TRUE(tool.waitForFinished(90000));
    const QByteArray out = tool.readAllStandardOutput();
    EXPECT_EQ(out.count("ignored "), 2) << out.constData();
    EXPECT_TRUE(out.contains("group 12 livePort 5000 from 127.0.0.1:")) << out.constData();
}

TEST(HostToolTest, SendsCommandsInTheTerminalsForm)
{
    if (!isolatedNetwork())
        GTEST_SKIP();
    tsupport::UdpPeer terminal(QHostAddress("127.0.0.4"), 55555);
    ASSERT_TRUE(terminal.ok());
    int code = -1;
    tsupport::run(hostToolPath(), {"show", "--to", "127.0.0.4", "--group", "3", "--ip", "10.1.2.3"},
                  QProcessEnvironment::systemEnvironment(), tsupport::SLOW_MS, &code);
    EXPECT_EQ(code, 0);
    QHostAddress from;
    auto got = terminal.receive(tsupport::SLOW_MS, &from);
    ASSERT_TRUE(got.has_value());
    QJsonObject o = QJsonDocument::fromJson(*got).object();
    EXPECT_EQ(o.value("messageId").toInt(-1), 2);
    EXPECT_EQ(o.value("groupId").toInt(-1), 3);
    EXPECT_EQ(o.value("ip").toString(), "10.1.2.3");

    tsupport::run(hostToolPath(), {"show", "--to", "127.0.0.4", "--group", "0", "--bind", "127.0.0.9"},
                  QProcessEnvironment::systemEnvironment(), tsupport::SLOW_MS, &code);
    EXPECT_EQ(code, 0);
    got = terminal.receive(tsupport::SLOW_MS, &from);
    ASSERT_TRUE(got.has_value());
    o = QJsonDocument::fromJson(*got).object();
    EXPECT_EQ(o.value("groupId").toInt(-1), 0);
    EXPECT_FALSE(o.contains("ip"));
    EXPECT_EQ(from, QHostAddress("127.0.0.9"));

    tsupport::run(hostToolPath(), {"stop", "--to", "127.0.0.4"}, QProcessEnvironment::systemEnvironment(), tsupport::SLOW_MS,
                  &code);
    EXPECT_EQ(code, 0);
    got = terminal.receive(tsupport::SLOW_MS, &from);
    ASSERT_TRUE(got.has_value());
    o = QJsonDocument::fromJson(*got).object();
    EXPECT_TRUE(o.contains("messageId"));
    EXPECT_NE(o.value("messageId").toInt(2), 2);
}

// Every address the tool takes for a stream, it sends in a form the
// terminal shows: the terminal's own decoding of the datagram received.
TEST(HostToolTest, WhatTheToolSendsTheTerminalAccepts)
{
    if (!isolatedNetwork())
        GTEST_SKIP();
    tsupport::UdpPeer terminal(QHostAddress("127.0.0.4"), 55555);
    ASSERT_TRUE(terminal.ok());
    const struct {
        const char* ip;
        const char* url;
    } cases[] = {
        {"10.1.2.3", "rtsp://10.1.2.3:5000/cam_passby_chn0"},
        {"::1", "rtsp://[::1]:5000/cam_passby_chn0"},
        {"FD00:0213:0:0::2", "rtsp://[fd00:213::2]:5000/cam_passby_chn0"},
        {"::ffff:10.1.2.3", "rtsp://10.1.2.3:5000/cam_passby_chn0"},
    };
    for (const auto& c : cases) {
        int code = -1;
        tsupport::run(hostToolPath(), {"show", "--to", "127.0.0.4", "--group", "3", "--ip", c.ip},
                      QProcessEnvironment::systemEnvironment(), tsupport::SLOW_MS, &code);
        EXPECT_EQ(code, 0) << c.ip;
        const auto got = terminal.receive(tsupport::SLOW_MS);
        ASSERT_TRUE(got.has_value()) << c.ip;
        const HostCommand command = HostCommand::decode(*got, 1, "127.0.0.2");
        EXPECT_EQ(command.action, HostCommand::Action::Show) << got->constData() << ": " << command.reason.toStdString();
        EXPECT_EQ(command.url.toStdString(), c.url) << got->constData();
    }
    // A stop to an IPv6 terminal.
    tsupport::UdpPeer terminal6(QHostAddress("::1"), 55555);
    ASSERT_TRUE(terminal6.ok());
    int code = -1;
    tsupport::run(hostToolPath(), {"stop", "--to", "::1"}, QProcessEnvironment::systemEnvironment(), tsupport::SLOW_MS,
                  &code);
    EXPECT_EQ(code, 0);
    const auto got = terminal6.receive(tsupport::SLOW_MS);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(HostCommand::decode(*got, 1, "127.0.0.2").action, HostCommand::Action::Stop);
}

TEST(HostToolTest, BadArgumentsAreRefusedWithAClearError)
{
    struct Case {
        QStringList args;
        const char* error;
    };
    const Case cases[] = {
        {{}, "no command given"},
        {{"shout"}, "unknown command 'shout'"},
        {{"show", "--group", "2", "--ip", "127.0.0.5"}, "--to ADDR is required"},
        {{"show", "--to", "127.0.0.1"}, "--group N is required"},
        {{"show", "--to", "nowhere", "--group", "0"}, "--to: 'nowhere' is not a literal IPv4 or IPv6 address"},
        {{"show", "--to", "127.1", "--group", "0"}, "--to: '127.1' is not a literal IPv4 or IPv6 address"},
        {{"show", "--to", "127.0.0.1", "--group", "x"}, "--group: 'x' is not a number"},
        {{"show", "--to", "127.0.0.1", "--group", "-1"}, "--group: '-1' is not a number"},
        {{"show", "--to", "127.0.0.1", "--group", "3"}, "--ip A is required for a group other than 0"},
        {{"show", "--to", "127.0.0.1", "--group", "3", "--ip", "127.1"},
         "--ip: '127.1' is not a literal IPv4 or IPv6 address"},
        {{"show", "--to", "127.0.0.1", "--group", "3", "--ip", "010.0.0.1"},
         "--ip: '010.0.0.1' is not a literal IPv4 or IPv6 address"},
        {{"show", "--to", "127.0.0.1", "--group", "3", "--ip", "[::1]"},
         "--ip: '[::1]' is not a literal IPv4 or IPv6 address"},
        {{"show", "--to", "127.0.0.1", "--group", "3", "--ip", "0.0.0.0"}, "--ip: '0.0.0.0' is the unspecified address"},
        {{"show", "--to", "127.0.0.1", "--group", "3", "--ip"}, "--ip needs a value"},
        {{"stop", "--to", "127.0.0.1", "--group", "3"}, "unknown argument '--group'"},
        {{"stop", "--to", "127.0.0.1", "--to", "127.0.0.2"}, "--to given twice"},
        {{"listen", "--count", "0"}, "--count: '0' is not a number"},
        {{"listen", "--bind", "host"}, "--bind: 'host' is not a literal IPv4 or IPv6 address"},
        {{"listen", "--bind", "127.1"}, "--bind: '127.1' is not a literal IPv4 or IPv6 address"},
    };
    for (const Case& c : cases) {
        QProcess p;
        p.start(hostToolPath(), c.args);
        ASSERT_TRUE(p.waitForFinished(tsupport::SLOW_MS));
        const QByteArray err = p.readAllStandardError();
        EXPECT_EQ(p.exitCode(), 2) << c.args.join(' ').toStdString();
        EXPECT_TRUE(err.contains(c.error)) << c.args.join(' ').toStdString() << ": " << err.constData();
        EXPECT_TRUE(err.contains("usage: tavlo-host")) << c.args.join(' ').toStdString();
        EXPECT_TRUE(p.readAllStandardOutput().isEmpty());
    }
}

TEST(HostToolTest, NetworkRefusalsEndWithStatusOne)
{
    if (!isolatedNetwork())
        GTEST_SKIP();
    int code = -1;
    // 10.250.0.1 is no address of this namespace.
    tsupport::run(hostToolPath(), {"stop", "--to", "127.0.0.1", "--bind", "10.250.0.1"},
                  QProcessEnvironment::systemEnvironment(), tsupport::SLOW_MS, &code);
    EXPECT_EQ(code, 1);
    tsupport::run(hostToolPath(), {"listen", "--bind", "10.250.0.1"}, QProcessEnvironment::systemEnvironment(), tsupport::SLOW_MS,
                  &code);
    EXPECT_EQ(code, 1);
    // --count not reached before --timeout.
    tsupport::run(hostToolPath(), {"listen", "--bind", "127.0.0.6", "--count", "1", "--timeout", "1"},
                  QProcessEnvironment::systemEnvironment(), tsupport::SLOW_MS, &code);
    EXPECT_EQ(code, 1);
}

}  // namespace
