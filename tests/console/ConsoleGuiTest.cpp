// The console's window as a teacher uses it, driven by real pointer and key
// events (xdotool) on a private Xvfb: four made-up groups announce from
// loopback addresses of the test's own namespace, each serving a coloured
// stream (two of them the small stream as well), each with a UDP peer on its
// classroom port that receives the console's commands. Clicks with Ctrl and
// Shift select tiles, the selection's keys lock it, "Lock all" asks once, a
// plain click opens a closer look that plays the group's screen, and under
// a window manager the window is minimised when the teacher's screen is
// shown.
#include "ConsoleSupport.h"
#include "NetSupport.h"
#include "TestSupport.h"
#include "ViewerSupport.h"

#include <QDeadlineTimer>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>
#include <memory>

using namespace csupport;

namespace {

const QColor COLOURS[] = {QColor(0xe0, 0x20, 0x20), QColor(0x20, 0x20, 0xe0), QColor(0x20, 0xe0, 0x20),
                          QColor(0xe0, 0xe0, 0x20)};
const QColor SMALL(0xe0, 0x20, 0xe0);

QString address(int g) { return QString("127.0.4.%1").arg(g); }

class ConsoleGui : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!tsupport::isolatedNetwork())
            return;
        x = new tsupport::XServer(1280, 800, false);
        ASSERT_TRUE(x->ok());
        config = new QTemporaryDir;
        for (int g = 1; g <= 4; ++g) {
            QStringList args{"--address", address(g), "--color", COLOURS[g - 1].name().mid(1)};
            if (g <= 2)  // groups 1 and 2 serve the small stream too
                args << "--small-color" << SMALL.name().mid(1);
            peers[g] = new vsupport::Peer(args);
            ASSERT_TRUE(peers[g]->ready());
            inboxes[g] = new tsupport::UdpPeer(QHostAddress(address(g)), 55555);
            ASSERT_TRUE(inboxes[g]->ok());
        }
        QProcessEnvironment env = x->env();
        env.insert("XDG_CONFIG_HOME", config->path());
        env.insert("LANG", "C");
        env.remove("LANGUAGE");
        env.remove("LC_ALL");
        console = new ConsoleProcess(env, {"--no-share", "--bind", "127.0.0.1"});
        ASSERT_TRUE(console->started());
        ASSERT_TRUE(console->waitForOutput("listening on", tsupport::SLOW_MS)) << console->err().constData();
        announcer = new QProcess;
        announcer->start(announcerPath(), {"--to", "127.0.0.1", "--from",
                                           address(1) + "," + address(2) + "," + address(3) + "," + address(4),
                                           "--groups", "1-4", "--every", "1000"});
        ASSERT_TRUE(announcer->waitForReadyRead(tsupport::SLOW_MS));
        for (int g = 1; g <= 4; ++g)
            ASSERT_TRUE(console->waitForOutput(QString("group %1 at %2 livePort 5000: present").arg(g).arg(address(g)),
                                               tsupport::SLOW_MS));
    }
    static void TearDownTestSuite()
    {
        if (announcer) {
            announcer->kill();
            announcer->waitForFinished(tsupport::SLOW_MS);
        }
        delete announcer;
        announcer = nullptr;
        if (wm.state() != QProcess::NotRunning) {
            wm.kill();
            wm.waitForFinished(tsupport::SLOW_MS);
        }
        delete console;
        console = nullptr;
        for (auto& [g, p] : peers)
            delete p;
        peers.clear();
        for (auto& [g, p] : inboxes)
            delete p;
        inboxes.clear();
        delete x;
        x = nullptr;
        delete config;
        config = nullptr;
    }
    void SetUp() override
    {
        if (!tsupport::isolatedNetwork())
            GTEST_SKIP() << "needs a private network namespace (run through ctest as root)";
        ASSERT_TRUE(console && console->running()) << (console ? console->err().constData() : "");
        for (auto& [g, inbox] : inboxes)
            while (inbox->receive(0)) {
            }
    }

    static QByteArray xdotool(const QStringList& args)
    {
        int code = -1;
        const QByteArray out = tsupport::run("xdotool", args, x->env(), tsupport::SLOW_MS, &code);
        EXPECT_EQ(code, 0) << "xdotool " << args.join(' ').toStdString();
        return out;
    }
    // The window titled exactly title, by its X id.
    static QString windowId(const QString& title)
    {
        QDeadlineTimer deadline(tsupport::SLOW_MS);
        do {
            for (const tsupport::WindowInfo& w : tsupport::windowsNamed(x->env(), title))
                if (w.viewable)
                    return w.id;
            tsupport::pause(100);
        } while (!deadline.hasExpired());
        return QString();
    }
    // "tile G X Y W H [selected]" lines by group.
    static std::map<int, QStringList> tiles()
    {
        std::map<int, QStringList> out;
        for (const QString& l : console->ask("tiles", tsupport::SLOW_MS))
            if (l.startsWith("tile "))
                out[l.section(' ', 1, 1).toInt()] = l.split(' ');
        return out;
    }
    static std::vector<int> selected()
    {
        std::vector<int> out;
        for (const auto& [g, t] : tiles())
            if (t.contains("selected"))
                out.push_back(g);
        return out;
    }
    // A left click in the middle of group g's picture, with keys held.
    static void click(int g, const QString& modifier = QString())
    {
        const QStringList t = tiles()[g];
        ASSERT_GE(t.size(), 6) << "no tile for group " << g;
        const int cx = t[2].toInt() + t[4].toInt() / 2, cy = t[3].toInt() + t[5].toInt() / 2;
        QStringList args{"mousemove", "--sync", QString::number(cx), QString::number(cy)};
        if (!modifier.isEmpty())
            args << "keydown" << modifier;
        args << "click" << "1";
        if (!modifier.isEmpty())
            args << "keyup" << modifier;
        xdotool(args);
    }
    // Keys to the console's main window.
    static void keys(const QString& sequence)
    {
        const QString id = windowId("Tavlo console");
        ASSERT_FALSE(id.isEmpty());
        xdotool({"windowfocus", "--sync", id});
        xdotool({"key", "--clearmodifiers", sequence});
    }
    // The datagrams group g received: the first within firstMs, the rest
    // within a moment after it.
    static QStringList received(int g, int firstMs = tsupport::SLOW_MS)
    {
        QStringList out;
        while (const auto d = inboxes[g]->receive(out.isEmpty() ? firstMs : 200))
            out << QString::fromUtf8(*d);
        return out;
    }

    static tsupport::XServer* x;
    static QTemporaryDir* config;
    static std::map<int, vsupport::Peer*> peers;
    static std::map<int, tsupport::UdpPeer*> inboxes;
    static ConsoleProcess* console;
    static QProcess* announcer;
    static QProcess wm;
};

tsupport::XServer* ConsoleGui::x = nullptr;
QTemporaryDir* ConsoleGui::config = nullptr;
std::map<int, vsupport::Peer*> ConsoleGui::peers;
std::map<int, tsupport::UdpPeer*> ConsoleGui::inboxes;
ConsoleProcess* ConsoleGui::console = nullptr;
QProcess* ConsoleGui::announcer = nullptr;
QProcess ConsoleGui::wm;

TEST_F(ConsoleGui, CtrlAndShiftClicksSelectAndTheSelectionsKeyLocksOnlyIt)
{
    click(1, "ctrl");
    click(3, "shift");
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    while (selected() != std::vector<int>{1, 2, 3} && !deadline.hasExpired())
        tsupport::pause(100);
    ASSERT_EQ(selected(), (std::vector<int>{1, 2, 3}));
    click(2, "ctrl");
    deadline = QDeadlineTimer(tsupport::SLOW_MS);
    while (selected() != std::vector<int>{1, 3} && !deadline.hasExpired())
        tsupport::pause(100);
    ASSERT_EQ(selected(), (std::vector<int>{1, 3}));

    keys("ctrl+l");  // lock the selection, with the terminal's own text
    EXPECT_EQ(received(1), QStringList{R"({"messageId":16})"});
    EXPECT_EQ(received(3), QStringList{R"({"messageId":16})"});
    EXPECT_TRUE(received(2, 500).isEmpty());
    EXPECT_TRUE(received(4, 500).isEmpty());
    EXPECT_TRUE(console->waitForOutput(R"(group 3 at 127.0.4.3: {"messageId":16})", tsupport::SLOW_MS));
    const QStringList rows = console->rows(tsupport::SLOW_MS);
    ASSERT_EQ(rows.size(), 4);
    EXPECT_TRUE(rows[0].endsWith(" shows nothing locked")) << rows[0].toStdString();
    EXPECT_TRUE(rows[1].endsWith(" shows nothing")) << rows[1].toStdString();

    keys("ctrl+u");
    EXPECT_EQ(received(1), QStringList{R"({"messageId":17})"});
    EXPECT_EQ(received(3), QStringList{R"({"messageId":17})"});
    keys("Escape");  // the selection is cleared
    deadline = QDeadlineTimer(tsupport::SLOW_MS);
    while (!selected().empty() && !deadline.hasExpired())
        tsupport::pause(100);
    EXPECT_TRUE(selected().empty());
}

TEST_F(ConsoleGui, LockAllAsksOnceAndCancelSendsNothing)
{
    keys("ctrl+shift+l");
    // The question, over the window; Escape cancels it.
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    while (tsupport::windowsNamed(x->env(), "Tavlo console").size() < 2 && !deadline.hasExpired())
        tsupport::pause(100);
    ASSERT_GE(tsupport::windowsNamed(x->env(), "Tavlo console").size(), 2);
    tsupport::pause(300);
    xdotool({"key", "Escape"});
    for (int g = 1; g <= 4; ++g)
        EXPECT_TRUE(received(g, g == 1 ? 1000 : 100).isEmpty()) << g;

    keys("ctrl+shift+l");
    deadline = QDeadlineTimer(tsupport::SLOW_MS);
    while (tsupport::windowsNamed(x->env(), "Tavlo console").size() < 2 && !deadline.hasExpired())
        tsupport::pause(100);
    tsupport::pause(300);
    xdotool({"key", "Return"});  // the default: "Lock all", once for every group
    for (int g = 1; g <= 4; ++g)
        EXPECT_EQ(received(g), QStringList{R"({"messageId":16})"}) << g;
    keys("ctrl+shift+u");  // unlocking asks nothing
    for (int g = 1; g <= 4; ++g)
        EXPECT_EQ(received(g), QStringList{R"({"messageId":17})"}) << g;
}

TEST_F(ConsoleGui, AClickOpensACloserLookThatPlaysTheGroupsScreen)
{
    click(2);
    const QString id = windowId("Group 2 (closer look)");
    ASSERT_FALSE(id.isEmpty()) << console->out().right(1000).constData();
    EXPECT_TRUE(console->waitForOutput("closer look at group 2: rtsp://127.0.4.2:5000/cam_passby_chn0",
                                       tsupport::SLOW_MS));
    // Its picture: group 2's full screen, in its colour (not the small
    // stream's), in the middle of the window.
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    bool shown = false;
    do {
        const QImage img = tsupport::screenshot(x->env(), id);
        shown = !img.isNull() && tsupport::near(img.pixelColor(img.width() / 2, img.height() / 3), COLOURS[1]);
        if (!shown)
            tsupport::pause(200);
    } while (!shown && !deadline.hasExpired());
    EXPECT_TRUE(shown);
    EXPECT_TRUE(peers[2]->waitFor("configured", 1, tsupport::SLOW_MS));
    // Escape closes it, and its stream is let go.
    const int closedBefore = peers[2]->count("closed");
    xdotool({"windowfocus", "--sync", id});
    xdotool({"key", "--clearmodifiers", "Escape"});
    EXPECT_TRUE(tsupport::waitForNoWindow(x->env(), "Group 2 (closer look)", tsupport::SLOW_MS));
    EXPECT_TRUE(peers[2]->waitFor("closed", closedBefore + 1, tsupport::SLOW_MS));
}

TEST_F(ConsoleGui, ThumbnailsComeFromTheSmallStreamWhereThereIsOne)
{
    QTemporaryDir dir;
    for (int g : {1, 4}) {
        const QString want = g == 1 ? "rtsp://127.0.4.1:5000/cam_passby_chn1" : "rtsp://127.0.4.4:5000/cam_passby_chn0";
        QDeadlineTimer deadline(tsupport::SLOW_MS);
        QString line;
        do {
            const QStringList answer = console->ask(QString("stream %1").arg(g), tsupport::SLOW_MS);
            line = answer.isEmpty() ? QString() : answer.last();
            if (line != QString("stream %1 %2").arg(g).arg(want))
                tsupport::pause(200);
        } while (line != QString("stream %1 %2").arg(g).arg(want) && !deadline.hasExpired());
        EXPECT_EQ(line, QString("stream %1 %2").arg(g).arg(want));
        const QString file = dir.filePath(QString("%1.png").arg(g));
        ASSERT_EQ(console->ask(QString("thumbnail %1 %2").arg(g).arg(file), tsupport::SLOW_MS).last(), "saved " + file);
        const QImage img(file);
        EXPECT_EQ(img.size(), QSize(240, 135));
        EXPECT_TRUE(tsupport::coveredBy(img, g == 1 ? SMALL : COLOURS[3]));
    }
    // Group 1's full stream was never pulled for its thumbnail.
    EXPECT_EQ(peers[1]->count("configured"), 0);
}

// Declared last: it brings a window manager, which the other tests do without.
TEST_F(ConsoleGui, TheWindowIsMinimisedWhenTheTeachersScreenIsShown)
{
    wm.setProcessEnvironment(x->env());
    wm.start("openbox", {"--sm-disable", "--config-file", "/dev/null"});
    ASSERT_TRUE(wm.waitForStarted(tsupport::SLOW_MS)) << "openbox is needed (scripts/common.sh installs it)";
    const QString id = windowId("Tavlo console");
    ASSERT_FALSE(id.isEmpty());
    auto state = [&] {
        return QString::fromUtf8(tsupport::run("xprop", {"-id", id, "WM_STATE"}, x->env())).simplified();
    };
    // Managed: normal until the teacher's screen is shown.
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    while (!state().contains("Normal") && !deadline.hasExpired())
        tsupport::pause(100);
    ASSERT_TRUE(state().contains("Normal")) << state().toStdString();
    ASSERT_TRUE(console->ask("show 3 to 1", tsupport::SLOW_MS).last().startsWith("sent"));
    EXPECT_EQ(received(1).size(), 1);
    tsupport::pause(500);
    EXPECT_TRUE(state().contains("Normal")) << "another group's screen leaves the window";

    ASSERT_TRUE(console->ask("show 0 to 1", tsupport::SLOW_MS).last().startsWith("sent"));
    EXPECT_EQ(received(1), QStringList{R"({"groupId":0,"messageId":2})"});
    deadline = QDeadlineTimer(tsupport::SLOW_MS);
    while (!state().contains("Iconic") && !deadline.hasExpired())
        tsupport::pause(100);
    EXPECT_TRUE(state().contains("Iconic")) << state().toStdString();
}

}  // namespace
