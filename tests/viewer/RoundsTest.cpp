// A terminal told to show and stop hundreds of times, as a week of lessons
// and a teacher who clicks quickly do: its memory, threads, descriptors and
// windows stay where the first rounds left them, and its GUI thread (the
// whiteboard) goes on working through a burst of commands. The streams come
// from stand-in peers in a second network namespace.
#include "BoardFile.h"
#include "NetSupport.h"
#include "TestSupport.h"
#include "ViewerSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>

using namespace tsupport;
using namespace vsupport;

namespace {

const QString X_ADDR = "10.213.0.2";  // red
const QString Y_ADDR = "10.213.0.3";  // blue
const QString R_ADDR = "10.213.0.6";  // refuses: nothing listens there
const QColor RED(0xe0, 0x20, 0x20), BLUE(0x20, 0x20, 0xe0);
// How far the resident memory may grow from the 20th round to the 200th.
const qint64 RSS_SLACK_KB = 20 * 1024;
// How long a round shows its stream once the first picture is up.
const int SHOWN_MS = 500;

QByteArray show(const QString& ip)
{
    return QString(R"({"messageId":2,"groupId":2,"ip":"%1"})").arg(ip).toUtf8();
}
const QByteArray STOP = R"({"messageId":1})";

class RoundsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!isolatedNetwork())
            GTEST_SKIP() << "needs a private network namespace (run through ctest as root)";
        // A classroom's screens and streams: 1920 x 1080 (the viewer's
        // pictures, texture and window image are blocks of megabytes).
        x = std::make_unique<XServer>(1920, 1080, true);
        ASSERT_TRUE(x->ok());
        net = std::make_unique<PeerNet>(QStringList{X_ADDR, Y_ADDR, R_ADDR});
        ASSERT_TRUE(net->ok());
        px = std::make_unique<Peer>(QStringList{"--address", X_ADDR, "--color", "e02020", "--size", "1920x1080"},
                                    net->pid());
        py = std::make_unique<Peer>(QStringList{"--address", Y_ADDR, "--color", "2020e0", "--size", "1920x1080"},
                                    net->pid());
        ASSERT_TRUE(px->ready() && py->ready());
        ASSERT_TRUE(dropAnnouncementsTo("127.0.0.2"));
        probe = std::make_unique<ScreenProbe>(x->display());
        ASSERT_TRUE(probe->ok());
        commander = std::make_unique<UdpPeer>(QHostAddress::LocalHost, 0);
        ASSERT_TRUE(commander->ok());
    }

    void startTerminal(const QStringList& args = {})
    {
        terminal = std::make_unique<Terminal>(dir.path(), terminalEnv(x->env()), args);
        ASSERT_TRUE(terminal->started());
        // The third tick hides the splash, which would cover the pictures.
        ASSERT_TRUE(terminal->waitForCount("SendTo: 127.0.0.2\n", 3, SLOW_MS));
    }
    void send(const QByteArray& datagram) { ASSERT_TRUE(commander->send(datagram, QHostAddress::LocalHost, 55555)); }
    // One show of X until its picture is on the screen, a few more pictures,
    // and the stop until it has gone.
    bool liveRound()
    {
        send(show(X_ADDR));
        if (!probe->waitFor(RED, SLOW_MS))
            return false;
        pause(SHOWN_MS);
        send(STOP);
        QDeadlineTimer deadline(SLOW_MS);
        while (probe->shows(RED))
            if (deadline.hasExpired())
                return false;
        return true;
    }
    // One show of an address that refuses, until the viewer has given up.
    bool refusedRound(int* failures)
    {
        send(show(R_ADDR));
        return terminal->waitForCount("Could not open the stream\n", ++*failures, SLOW_MS);
    }
    // The terminal's threads (all, and those named as the viewer thread:
    // the viewer, the decoder's threads it starts, and the idle threads of
    // GLib's pool that it started once), descriptors and viewer windows.
    struct State {
        ProcessStats process;
        int viewerThreads = 0;
        int windows = 0;
    };
    State state()
    {
        return {processStats(terminal->pid()), threadsNamed(terminal->pid(), "tavlo-viewer"),
                static_cast<int>(windowsNamed(x->env(), "多屏").size())};
    }
    // Waits until the terminal has no viewer window and at most the threads
    // and descriptors of the state given; a viewer that ends is reaped soon
    // after, and idle pool threads may go after a while.
    bool backTo(const State& start, int windows = 0)
    {
        QDeadlineTimer deadline(SLOW_MS);
        for (;;) {
            const State now = state();
            if (now.windows == windows && now.viewerThreads <= start.viewerThreads &&
                now.process.threads <= start.process.threads && now.process.descriptors <= start.process.descriptors)
                return true;
            if (deadline.hasExpired()) {
                ADD_FAILURE() << "windows " << now.windows << " (want " << windows << "), viewer threads "
                              << now.viewerThreads << " (at the start " << start.viewerThreads << "), threads "
                              << now.process.threads << " (" << start.process.threads << "), descriptors "
                              << now.process.descriptors << " (" << start.process.descriptors << ")";
                return false;
            }
            pause(100);
        }
    }

    // After the 200th round: threads and descriptors back where the 20th
    // left them, and the resident memory within RSS_SLACK_KB of it.
    void expectFlatSince(const State& after20)
    {
        ASSERT_TRUE(backTo(after20));
        const qint64 rssKb = processStats(terminal->pid()).rssKb;
        std::printf("RSS after 20 rounds %lld kB, after 200 rounds %lld kB\n",
                    static_cast<long long>(after20.process.rssKb), static_cast<long long>(rssKb));
        EXPECT_LE(rssKb - after20.process.rssKb, RSS_SLACK_KB)
            << "RSS after 20 rounds " << after20.process.rssKb << " kB, after 200 " << rssKb << " kB";
    }

    std::unique_ptr<XServer> x;
    std::unique_ptr<PeerNet> net;
    std::unique_ptr<Peer> px, py;
    std::unique_ptr<ScreenProbe> probe;
    std::unique_ptr<UdpPeer> commander;
    TeamDir dir{"127.0.0.2", 1};
    std::unique_ptr<Terminal> terminal;
};

// The resident memory is what matters on a computer that runs all week: a
// leak checker (and its suppressions) sees only blocks nobody frees, not the
// memory an allocator keeps. Measured on the plain build's allocator.
TEST_F(RoundsTest, TwoHundredShowsOfALiveStreamLeaveTheMemoryFlat)
{
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the sanitizer's allocator keeps freed memory on purpose; LeakSanitizer checks this build";
#endif
    startTerminal();
    State after20;
    for (int round = 1; round <= 200; ++round) {
        ASSERT_TRUE(liveRound()) << "round " << round << ": " << terminal->out().right(1000).constData();
        if (round == 20) {
            ASSERT_TRUE(px->waitFor("closed", 20, SLOW_MS));
            after20 = state();
        }
    }
    expectFlatSince(after20);
    EXPECT_EQ(px->count("connected"), 200);
    EXPECT_TRUE(px->waitFor("closed", 200, SLOW_MS));
    EXPECT_FALSE(terminal->out().contains("runtime error"));
}

TEST_F(RoundsTest, TwoHundredShowsOfAnAddressThatRefusesLeaveTheMemoryFlat)
{
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the sanitizer's allocator keeps freed memory on purpose; LeakSanitizer checks this build";
#endif
    startTerminal();
    int failures = 0;
    State after20;
    for (int round = 1; round <= 200; ++round) {
        ASSERT_TRUE(refusedRound(&failures)) << "round " << round << ": " << terminal->out().right(1000).constData();
        if (round == 20)
            after20 = state();
    }
    expectFlatSince(after20);
    EXPECT_EQ(terminal->countOutput("runtime error\n"), 200);
}

// 200 show and stop datagrams alternating between two sources within ten
// seconds, with a stroke drawn on the whiteboard meanwhile: the stroke is on
// the page, and afterwards one viewer at most is left (none after the final
// stop), with threads, descriptors and windows back where they were.
TEST_F(RoundsTest, BurstOfCommandsActsOnTheLastAndLeavesTheWhiteboardWorking)
{
    startTerminal({"--whiteboard"});
    const auto board = waitForWindow(x->env(), "Form", SLOW_MS);
    ASSERT_TRUE(board.has_value());
    const QString boardId = board->id;
    // The state to come back to: after one show and stop, and while one
    // viewer shows a stream.
    ASSERT_TRUE(liveRound());
    ASSERT_TRUE(px->waitFor("closed", 1, SLOW_MS));
    const State idle = state();
    send(show(Y_ADDR));
    ASSERT_TRUE(probe->waitFor(BLUE, SLOW_MS));
    const State showing = state();
    ASSERT_GT(showing.viewerThreads, idle.viewerThreads);
    send(STOP);
    ASSERT_TRUE(backTo(idle));

    auto xdo = [&](const QStringList& args) { run("xdotool", args, x->env()); };
    for (int i = 0; i < 200; ++i) {
        const int step = i % 4;
        send(step == 0 ? show(X_ADDR) : step == 2 ? show(Y_ADDR) : STOP);
        // The stroke: pressed on the board raised above the viewer's window
        // (the press holds the pointer for the board until the release).
        if (i == 100)
            xdo({"windowraise", boardId, "mousemove", "--window", boardId, "200", "300", "mousedown", "1"});
        else if (i > 100 && i <= 110)
            xdo({"mousemove", "--window", boardId, QString::number(200 + 30 * (i - 100)), "320"});
        else if (i == 111)
            xdo({"mouseup", "1"});
        else
            pause(50);
    }
    // The last datagram was a stop.
    EXPECT_TRUE(backTo(idle));
    EXPECT_TRUE(px->waitFor("closed", px->count("connected"), SLOW_MS));
    EXPECT_TRUE(py->waitFor("closed", py->count("connected"), SLOW_MS));
    EXPECT_EQ(terminal->countOutput("runtime error"), 0) << terminal->out().right(2000).constData();

    // The stroke was saved as the board saves what is drawn, in the board
    // folder ("boards" under the working directory).
    const QDir boards(dir.file("boards"));
    QString saved;
    size_t strokes = 0;
    QDeadlineTimer deadline(SLOW_MS);
    while (strokes == 0 && !deadline.hasExpired()) {
        saved = boards.entryList(QStringList{"board-*.tvboard"}, QDir::Files).value(0);
        BoardFile::Contents c;
        if (!saved.isEmpty() && BoardFile::read(boards.filePath(saved), c, nullptr) && !c.pages.empty())
            strokes = c.pages[0]->strokes.size();
        if (strokes == 0)
            pause(200);
    }
    EXPECT_EQ(strokes, 1u) << terminal->out().right(2000).constData();

    // A show after the burst: exactly one viewer, as for a single show.
    send(show(Y_ADDR));
    EXPECT_TRUE(probe->waitFor(BLUE, SLOW_MS));
    EXPECT_TRUE(backTo(showing, 1));
    EXPECT_TRUE(py->waitFor("closed", py->count("connected") - 1, SLOW_MS));
    EXPECT_EQ(py->count("connected") - py->count("closed"), 1);
    send(STOP);
    EXPECT_TRUE(backTo(idle));
}

}  // namespace
