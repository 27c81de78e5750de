// The terminal as a process on private X servers: start-up window, tray, the
// announcement datagrams and the start-up failures. Runs in a network
// namespace of its own (the terminal binds UDP 55555 on every address).
#include "TestSupport.h"

#include <QDir>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace tsupport;

namespace {

const QString TITLE = QString::fromUtf8("澄屿多屏管理系统-小组");
const QString TICK = QStringLiteral("SendTo: 127.0.0.2\n");

QString xprop(const QProcessEnvironment& env, const QString& id)
{
    return QString::fromUtf8(
        run("xprop", {"-id", id, "_NET_WM_WINDOW_TYPE", "_MOTIF_WM_HINTS", "WM_NORMAL_HINTS"}, env));
}

void checkSplash(int screenW, int screenH, int x, int y, int w, int h)
{
    XServer xs(screenW, screenH);
    ASSERT_TRUE(xs.ok());
    TeamDir dir("127.0.0.2", 1);
    Terminal t(dir.path(), xs.env());
    ASSERT_TRUE(t.started());

    auto win = waitForWindow(xs.env(), TITLE, SLOW_MS);
    ASSERT_TRUE(win.has_value()) << t.err().toStdString();
    EXPECT_EQ(win->x, x);
    EXPECT_EQ(win->y, y);
    EXPECT_EQ(win->width, w);
    EXPECT_EQ(win->height, h);

    const QString props = xprop(xs.env(), win->id);
    // A dialog without decorations (Motif hints: decorations flag set, none).
    EXPECT_TRUE(props.contains("_NET_WM_WINDOW_TYPE_DIALOG")) << props.toStdString();
    EXPECT_TRUE(props.contains("_MOTIF_WM_HINTS(_MOTIF_WM_HINTS) = 0x2, 0x1, 0x0")) << props.toStdString();
    // Fixed size: minimum and maximum equal the size.
    const QString size = QString("%1 by %2").arg(w).arg(h);
    EXPECT_TRUE(props.contains("minimum size: " + size)) << props.toStdString();
    EXPECT_TRUE(props.contains("maximum size: " + size)) << props.toStdString();

    // The start-up picture is painted over the whole window: its middle is
    // not the black of an empty X screen.
    const QImage shot = screenshot(xs.env(), win->id);
    ASSERT_FALSE(shot.isNull());
    EXPECT_NE(shot.pixelColor(w / 2, h / 2), QColor(Qt::black));

    // Hidden on the third tick, told apart from the ticks by order rather
    // than by time: a tick hides the window just before it prints its line.
    // So a window still seen after four lines was not hidden by the third
    // tick, and a window gone before the second line was hidden too early.
    // (Seen with exactly three lines it may be the third tick's hide on its
    // way to the X server.)
    int linesWhenGone = -1;
    QDeadlineTimer deadline(SLOW_MS);
    while (linesWhenGone < 0 && !deadline.hasExpired()) {
        const int before = t.countOutput(TICK);
        bool shown = false;
        for (const WindowInfo& w : windowsNamed(xs.env(), TITLE))
            shown = shown || w.viewable;
        if (shown)
            ASSERT_LE(before, 3) << "still shown after the third tick";
        else
            linesWhenGone = t.countOutput(TICK);
        pause(50);
    }
    ASSERT_GE(linesWhenGone, 0) << "the splash never hid itself";
    EXPECT_GE(linesWhenGone, 2) << "hidden before the third tick";
    // Still running and still announcing after that.
    EXPECT_TRUE(t.waitForCount(TICK, linesWhenGone + 2, SLOW_MS));
    EXPECT_TRUE(t.running());

    // The tray's only action ends the program normally.
    ASSERT_TRUE(t.quitViaTray());
    EXPECT_FALSE(t.crashed());
    EXPECT_EQ(t.exitCode(), 0) << t.err().toStdString();
}

}  // namespace

TEST(ShellProcess, SplashOnFullHdScreen) { checkSplash(1920, 1080, 240, 135, 1440, 810); }

TEST(ShellProcess, SplashOnSmallScreen) { checkSplash(1366, 768, 170, 96, 1024, 576); }

TEST(ShellProcess, NoTrayShowsOneMessageAndExitsOne)
{
    XServer xs(1920, 1080, /*tray=*/false);
    ASSERT_TRUE(xs.ok());
    TeamDir dir("127.0.0.2", 1);
    Terminal t(dir.path(), xs.env());
    auto box = waitForWindow(xs.env(), "Systray", SLOW_MS);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(windowsNamed(xs.env(), "Systray").size(), 1);
    EXPECT_TRUE(windowsNamed(xs.env(), TITLE).isEmpty());
    pause(500);
    EXPECT_TRUE(t.running());  // waits for the message to be dismissed
    run("xdotool", {"windowactivate", "--sync", box->id}, xs.env());
    run("xdotool", {"key", "--window", box->id, "Return"}, xs.env());
    ASSERT_TRUE(t.waitForExit(SLOW_MS));
    EXPECT_EQ(t.exitCode(), 1);
    EXPECT_FALSE(t.out().contains("SendTo"));
}

namespace {

// Receives announcements on 127.0.0.2:55555 from a terminal of the given group.
void checkAnnouncement(qint64 group, const QByteArray& expected)
{
    XServer xs;
    ASSERT_TRUE(xs.ok());
    UdpPeer host(QHostAddress("127.0.0.2"), 55555);
    ASSERT_TRUE(host.ok());
    TeamDir dir("127.0.0.2", group);
    const qint64 launchedMs = QDateTime::currentMSecsSinceEpoch();
    Terminal t(dir.path(), xs.env());
    ASSERT_TRUE(t.started());

    qint64 firstMs = 0;
    auto first = host.receive(SLOW_MS, nullptr, &firstMs);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(*first, expected);
    EXPECT_EQ(first->size(), expected.size());
    // The first tick comes a second after the window is built, not at once
    // (a lower bound: a slow start only makes it later).
    EXPECT_GE(firstMs - launchedMs, 900);

    // Then one a second. The first tick also starts screen sharing, which
    // may make its datagram late, so the period is taken from the second one
    // on, from the arrivals as the kernel stamped them. A tick that comes late
    // on a busy machine is followed by an early one (the timer keeps its
    // phase), so single intervals say little; the least-squares slope of
    // arrival time over datagram number is the period, and one late datagram
    // moves it by at most a fifteenth of its lateness.
    QList<qint64> at;
    for (int i = 0; i < 9; ++i) {
        qint64 ms = 0;
        auto next = host.receive(SLOW_MS, nullptr, &ms);
        ASSERT_TRUE(next.has_value());
        EXPECT_EQ(*next, expected);
        at.append(ms);
    }
    for (int i = 1; i < at.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_LE(at[i] - at[i - 1], 10000) << "the announcements stall";
    }
    const double n = at.size();
    const double meanI = (n - 1) / 2;
    double meanT = 0;
    for (qint64 ms : at)
        meanT += double(ms - at.first()) / n;
    double num = 0, den = 0;
    for (int i = 0; i < at.size(); ++i) {
        num += (i - meanI) * (double(at[i] - at.first()) - meanT);
        den += (i - meanI) * (i - meanI);
    }
    const double periodMs = num / den;
    EXPECT_GE(periodMs, 850) << "more than one announcement a second";
    EXPECT_LE(periodMs, 1250) << "fewer than one announcement a second";
}

}  // namespace

TEST(ShellProcess, AnnouncementForGroupTwo)
{
    const QByteArray text = R"({ "messageId":0,"id":2, "livePort":5000,"systemType":1 })";
    ASSERT_EQ(text.size(), 56);
    checkAnnouncement(2, text);
}

TEST(ShellProcess, AnnouncementForGroupTwelve)
{
    const QByteArray text = R"({ "messageId":0,"id":12, "livePort":5000,"systemType":1 })";
    ASSERT_EQ(text.size(), 57);
    checkAnnouncement(12, text);
}

TEST(ShellProcess, ConfigurationComesFromTheWorkingDirectory)
{
    XServer xs;
    ASSERT_TRUE(xs.ok());
    UdpPeer host(QHostAddress("127.0.0.2"), 55555);
    ASSERT_TRUE(host.ok());
    // Two folders, one executable: each start reads its own folder's file.
    for (qint64 group : {7, 8}) {
        TeamDir dir("127.0.0.2", group);
        Terminal t(dir.path(), xs.env());
        auto d = host.receive(SLOW_MS);
        ASSERT_TRUE(d.has_value());
        EXPECT_TRUE(d->contains(QString("\"id\":%1,").arg(group).toUtf8())) << d->toStdString();
        t.terminate();
        ASSERT_TRUE(t.waitForExit(SLOW_MS));
        while (host.receive(300)) {
        }
    }
}

TEST(ShellProcess, HostOnTheSameComputerSharesThePort)
{
    // The host is bound to its own address before the terminal starts; both
    // bind port 55555. The host gets the announcements, the terminal still
    // gets the commands sent to its address.
    XServer xs;
    ASSERT_TRUE(xs.ok());
    UdpPeer host(QHostAddress("127.0.0.2"), 55555);
    ASSERT_TRUE(host.ok());
    TeamDir dir("127.0.0.2", 3);
    // This terminal opens its viewer. In a sanitizer build, slow unwinding
    // at every allocation deadlocks in the software GL's generated code, and
    // that GL keeps a few bytes in a driver SDL unloads again, where no
    // suppression can name it: fast unwinding, no leak check at its exit.
    QProcessEnvironment env = xs.env();
    if (env.contains("ASAN_OPTIONS"))
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":fast_unwind_on_malloc=1:detect_leaks=0");
    Terminal t(dir.path(), env);
    auto first = host.receive(SLOW_MS);
    ASSERT_TRUE(first.has_value());
    // The terminal shows its own stream: only a terminal that received the
    // command opens the viewer window.
    ASSERT_TRUE(host.send(R"({"messageId":2,"groupId":5,"ip":"127.0.0.1"})", QHostAddress("127.0.0.1"), 55555));
    ASSERT_TRUE(waitForWindow(xs.env(), QString::fromUtf8("多屏"), SLOW_MS).has_value());
    // Its own announcements go to the host, not back to itself, where they
    // would stop the viewer within a second.
    for (int i = 0; i < 3; ++i) {
        auto next = host.receive(SLOW_MS);
        ASSERT_TRUE(next.has_value());
        EXPECT_TRUE(next->contains("\"id\":3,"));
    }
    EXPECT_TRUE(waitForWindow(xs.env(), QString::fromUtf8("多屏"), 1000).has_value());
    EXPECT_TRUE(t.running());
}

namespace {

// Starts the terminal in dir; it must end at once with status 1 and the text
// on standard error, having announced nothing.
void checkStartFails(const QString& dir, const QString& message)
{
    XServer xs;
    ASSERT_TRUE(xs.ok());
    Terminal t(dir, xs.env());
    ASSERT_TRUE(t.started());
    ASSERT_TRUE(t.waitForExit(SLOW_MS));
    EXPECT_FALSE(t.crashed());
    EXPECT_EQ(t.exitCode(), 1);
    EXPECT_TRUE(t.err().contains(message.toUtf8())) << t.err().toStdString();
    EXPECT_FALSE(t.out().contains("SendTo"));
}

}  // namespace

TEST(ShellProcess, MissingConfigurationWritesDefaultsAndStops)
{
    TeamDir dir(QByteArray{});  // no team.bin
    checkStartFails(dir.path(), "Config file NOT exist!");
    QFile f(dir.file("team.bin"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("{\n    \"roomIp\": \"192.168.7.170\",\n    \"teamNum\": 2\n}\n"));
    // The default file names the classroom address; this test never starts a
    // terminal on it.
}

TEST(ShellProcess, UnwritableDirectoryStops)
{
    // root may write anywhere but in /proc.
    QTemporaryDir tmp;
    QString dir = tmp.path();
    if (geteuid() == 0)
        dir = "/proc";
    else
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner);
    checkStartFails(dir, "Write Config File ERROR");
    EXPECT_FALSE(QFile::exists(dir + "/team.bin"));
    QFile::setPermissions(tmp.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST(ShellProcess, ImpossibleGroupNumberStops)
{
    for (const char* teamNum : {"0", "-3", "\"2\"", "null"}) {
        TeamDir dir(QByteArray(R"({"roomIp": "127.0.0.2", "teamNum": )") + teamNum + "}");
        checkStartFails(dir.path(), "Write Config File ERROR");
    }
}

TEST(ShellProcess, UnreadableConfigurationStops)
{
    TeamDir dir(QByteArray{});
    ASSERT_TRUE(QDir(dir.path()).mkdir("team.bin"));  // exists, but is no readable file
    checkStartFails(dir.path(), "Write Config File ERROR");
}

TEST(ShellProcess, ConfigurationThatIsAFifoStopsAtOnce)
{
    // Opening a FIFO for reading would wait for a writer for ever.
    TeamDir dir(QByteArray{});
    ASSERT_EQ(mkfifo(QFile::encodeName(dir.file("team.bin")).constData(), 0600), 0);
    checkStartFails(dir.path(), "Write Config File ERROR");
}

TEST(ShellProcess, OverlongWorkingDirectoryStops)
{
    TeamDir base("127.0.0.2", 1);
    QString path = base.path();
    while (path.size() < 1100)
        path += "/" + QString(200, 'd');
    ASSERT_TRUE(QDir().mkpath(path));
    QFile::copy(base.file("team.bin"), path + "/team.bin");
    checkStartFails(path, "getcwd FAILED");
}
