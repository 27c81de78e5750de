// The terminal as a process on private X servers: start-up window, tray, the
// announcement datagrams and the start-up failures. Runs in a network
// namespace of its own (the terminal binds UDP 55555 on every address).
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace tsupport;

namespace {

const QString TITLE = QString::fromUtf8("澄屿多屏管理系统-小组");

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

    auto win = waitForWindow(xs.env(), TITLE, 10000);
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

    // Hidden on the third tick (about three seconds), still running and
    // still announcing after that.
    ASSERT_TRUE(waitForNoWindow(xs.env(), TITLE, 15000));
    // The third tick's line follows the hide in the same tick.
    EXPECT_TRUE(t.waitForCount("SendTo: 127.0.0.2\n", 3, 3000));
    const int ticks = t.countOutput("SendTo: 127.0.0.2\n");
    EXPECT_LE(ticks, 6);
    EXPECT_TRUE(t.waitForCount("SendTo: 127.0.0.2\n", ticks + 1, 5000));
    EXPECT_TRUE(t.running());

    // The tray's only action ends the program normally.
    ASSERT_TRUE(t.quitViaTray(20000));
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
    auto box = waitForWindow(xs.env(), "Systray", 10000);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(windowsNamed(xs.env(), "Systray").size(), 1);
    EXPECT_TRUE(windowsNamed(xs.env(), TITLE).isEmpty());
    pause(500);
    EXPECT_TRUE(t.running());  // waits for the message to be dismissed
    run("xdotool", {"windowactivate", "--sync", box->id}, xs.env());
    run("xdotool", {"key", "--window", box->id, "Return"}, xs.env());
    ASSERT_TRUE(t.waitForExit(10000));
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
    QElapsedTimer clock;
    clock.start();
    Terminal t(dir.path(), xs.env());
    ASSERT_TRUE(t.started());

    auto first = host.receive(10000);
    ASSERT_TRUE(first.has_value());
    const qint64 firstAt = clock.elapsed();
    EXPECT_EQ(*first, expected);
    EXPECT_EQ(first->size(), expected.size());
    // The first tick comes a second after the window is built, not at once.
    EXPECT_GE(firstAt, 900);

    QList<qint64> at;
    for (int i = 0; i < 3; ++i) {
        auto next = host.receive(5000);
        ASSERT_TRUE(next.has_value());
        EXPECT_EQ(*next, expected);
        at.append(clock.elapsed());
    }
    // One a second: three more take about three seconds, never a burst.
    EXPECT_GE(at.last() - firstAt, 2000);
    EXPECT_LE(at.last() - firstAt, 6000);
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
        auto d = host.receive(10000);
        ASSERT_TRUE(d.has_value());
        EXPECT_TRUE(d->contains(QString("\"id\":%1,").arg(group).toUtf8())) << d->toStdString();
        t.terminate();
        ASSERT_TRUE(t.waitForExit(10000));
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
    auto first = host.receive(10000);
    ASSERT_TRUE(first.has_value());
    // The terminal shows its own stream: only a terminal that received the
    // command opens the viewer window.
    ASSERT_TRUE(host.send(R"({"messageId":2,"groupId":5,"ip":"127.0.0.1"})", QHostAddress("127.0.0.1"), 55555));
    ASSERT_TRUE(waitForWindow(xs.env(), QString::fromUtf8("多屏"), 30000).has_value());
    // Its own announcements go to the host, not back to itself, where they
    // would stop the viewer within a second.
    for (int i = 0; i < 3; ++i) {
        auto next = host.receive(5000);
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
    ASSERT_TRUE(t.waitForExit(15000));
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
