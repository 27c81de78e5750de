// The classroom with real processes: two group terminals, each in a network
// namespace of its own with a screen of its own colour, announce themselves
// to a console in the test's namespace; the console is driven through its
// standard input, as the window's buttons drive it.
#include "ConsoleSupport.h"
#include "NetSupport.h"
#include "TestSupport.h"
#include "ViewerSupport.h"

#include <QDeadlineTimer>
#include <QImage>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <functional>
#include <memory>

using namespace csupport;

namespace {

const QColor RED(0xe0, 0x20, 0x20), BLUE(0x20, 0x20, 0xe0), YELLOW(0xe0, 0xe0, 0x20), GREEN(0x20, 0xe0, 0x20);

QString painterPath() { return tsupport::buildDir() + "/tavlo-test-painter"; }

// One group: its namespace, screen, painter and terminal.
struct Group {
    int number;
    std::unique_ptr<tsupport::GroupNet> net;
    std::unique_ptr<tsupport::XServer> x;
    std::unique_ptr<tsupport::TeamDir> dir;
    std::unique_ptr<tsupport::Terminal> terminal;
    QProcess painter;

    ~Group()
    {
        terminal.reset();
        if (painter.state() != QProcess::NotRunning) {
            painter.kill();
            painter.waitForFinished(tsupport::SLOW_MS);
        }
    }
};

class ConsoleEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!tsupport::isolatedNetwork())
            return;
        consoleX = new tsupport::XServer(1280, 720, false);
        ASSERT_TRUE(consoleX->ok());
        const QColor colours[] = {RED, BLUE};
        for (int k = 1; k <= 2; ++k) {
            auto* g = new Group;
            groups[k - 1] = g;
            g->number = k;
            g->net = std::make_unique<tsupport::GroupNet>(k);
            ASSERT_TRUE(g->net->ok());
            g->x = std::make_unique<tsupport::XServer>(1920, 1080, true);
            ASSERT_TRUE(g->x->ok());
            g->painter.setProcessEnvironment(g->x->env());
            g->painter.start(painterPath(), {"color", colours[k - 1].name().mid(1)});
            ASSERT_TRUE(g->painter.waitForStarted(tsupport::SLOW_MS));
            ASSERT_TRUE(g->painter.waitForReadyRead(tsupport::SLOW_MS));  // "painted"
            g->dir = std::make_unique<tsupport::TeamDir>(g->net->hostAddress(), k);
            g->terminal = std::make_unique<tsupport::Terminal>(g->dir->path(), tsupport::terminalEnv(g->x->env()),
                                                               g->net->enter(tsupport::tavloPath()), "nsenter");
            ASSERT_TRUE(g->terminal->waitForOutput("SendTo: " + g->net->hostAddress() + "\n", tsupport::SLOW_MS));
        }
        console = new ConsoleProcess(consoleX->env());
        ASSERT_TRUE(console->started());
        ASSERT_TRUE(console->waitForOutput("listening on", tsupport::SLOW_MS)) << console->err().constData();
    }
    static void TearDownTestSuite()
    {
        delete console;
        console = nullptr;
        if (teacherPainter.state() != QProcess::NotRunning) {
            teacherPainter.kill();
            teacherPainter.waitForFinished(tsupport::SLOW_MS);
        }
        for (Group*& g : groups) {
            delete g;
            g = nullptr;
        }
        delete consoleX;
        consoleX = nullptr;
    }
    void SetUp() override
    {
        if (!tsupport::isolatedNetwork())
            GTEST_SKIP() << "needs a private network namespace (run through ctest as root)";
        ASSERT_TRUE(console && console->running()) << (console ? console->err().constData() : "");
        for (Group* g : groups)
            ASSERT_TRUE(g && g->terminal);
    }

    static QString presentLine(const Group* g)
    {
        return QString("group %1 at %2 livePort 5000: present").arg(g->number).arg(g->net->groupAddress());
    }
    // Polls the console's list until row (a whole "row ..." line without
    // its age) is in it.
    static bool waitForRow(const QString& start, const QString& end)
    {
        QDeadlineTimer deadline(tsupport::SLOW_MS);
        do {
            for (const QString& r : console->rows(tsupport::SLOW_MS))
                if (r.startsWith(start) && r.endsWith(end))
                    return true;
            tsupport::pause(200);
        } while (!deadline.hasExpired());
        return false;
    }
    // Polls the console's thumbnail of group until it is covered by colour.
    static bool waitForThumbnail(int group, QColor colour, const std::function<void()>& meanwhile = {})
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("thumb.png");
        QDeadlineTimer deadline(tsupport::SLOW_MS);
        do {
            if (meanwhile)
                meanwhile();
            const QStringList answer = console->ask(QString("thumbnail %1 %2").arg(group).arg(file), tsupport::SLOW_MS);
            if (!answer.isEmpty() && answer.last() == "saved " + file) {
                const QImage img(file);
                if (img.width() == 240 && img.height() == 135 && tsupport::coveredBy(img, colour))
                    return true;
            }
            tsupport::pause(200);
        } while (!deadline.hasExpired());
        return false;
    }
    // The "pictures" line of group, or empty.
    static QString picturesLine(int group)
    {
        for (const QString& l : console->ask("pictures", tsupport::SLOW_MS))
            if (l.startsWith(QString("pictures %1 ").arg(group)))
                return l;
        return QString();
    }
    static bool shownWindow(const Group* g)
    {
        for (const auto& w : tsupport::windowsNamed(g->x->env(), "多屏"))
            if (w.viewable)
                return true;
        return false;
    }

    static tsupport::XServer* consoleX;
    static Group* groups[2];
    static ConsoleProcess* console;
    static QProcess teacherPainter;
};

tsupport::XServer* ConsoleEndToEnd::consoleX = nullptr;
Group* ConsoleEndToEnd::groups[2] = {nullptr, nullptr};
ConsoleProcess* ConsoleEndToEnd::console = nullptr;
QProcess ConsoleEndToEnd::teacherPainter;

TEST_F(ConsoleEndToEnd, ListsTheGroupsThatAnnounceThemselves)
{
    for (const Group* g : groups)
        ASSERT_TRUE(console->waitForOutput(presentLine(g), tsupport::SLOW_MS)) << console->out().constData();
    const QStringList rows = console->rows(tsupport::SLOW_MS);
    ASSERT_EQ(rows.size(), 2) << rows.join('\n').toStdString();
    EXPECT_TRUE(rows[0].startsWith("row 1 10.214.1.2 5000 ")) << rows[0].toStdString();
    EXPECT_TRUE(rows[0].endsWith(" present shows nothing")) << rows[0].toStdString();
    EXPECT_TRUE(rows[1].startsWith("row 2 10.214.2.2 5000 ")) << rows[1].toStdString();
}

TEST_F(ConsoleEndToEnd, ShowGroupTwoToAllThenStop)
{
    for (const Group* g : groups)
        ASSERT_TRUE(console->waitForOutput(presentLine(g), tsupport::SLOW_MS));
    const QStringList answer = console->ask("show 2 to all", tsupport::SLOW_MS);
    ASSERT_FALSE(answer.isEmpty());
    const QString sent = answer.last();
    EXPECT_TRUE(sent.startsWith("sent group 1 at 10.214.1.2: ")) << sent.toStdString();
    EXPECT_TRUE(sent.contains(R"("ip":"10.214.2.2")")) << sent.toStdString();
    EXPECT_FALSE(sent.contains("group 2 at")) << "group 2 is not told to show itself";

    // Group 1's screen shows group 2's colour, through the two namespaces.
    EXPECT_TRUE(tsupport::waitForColour(groups[0]->x->env(), BLUE, tsupport::SLOW_MS))
        << groups[0]->terminal->out().right(2000).constData();
    EXPECT_TRUE(waitForRow("row 1 ", " present shows group 2"));
    EXPECT_TRUE(waitForRow("row 2 ", " present shows nothing"));
    EXPECT_FALSE(shownWindow(groups[1]));

    const QStringList stopped = console->ask("stop all", tsupport::SLOW_MS);
    ASSERT_FALSE(stopped.isEmpty());
    EXPECT_TRUE(stopped.last().contains("group 1 at 10.214.1.2: {\"messageId\":1}")) << stopped.last().toStdString();
    EXPECT_TRUE(stopped.last().contains("group 2 at 10.214.2.2: {\"messageId\":1}")) << stopped.last().toStdString();
    EXPECT_TRUE(tsupport::waitForNoWindow(groups[0]->x->env(), "多屏", tsupport::SLOW_MS));
    EXPECT_TRUE(tsupport::waitForColour(groups[0]->x->env(), RED, tsupport::SLOW_MS));
    EXPECT_TRUE(waitForRow("row 1 ", " present shows nothing"));
}

TEST_F(ConsoleEndToEnd, CommandsForAbsentGroupsAreRefused)
{
    const QStringList answer = console->ask("show 7 to 1", tsupport::SLOW_MS);
    ASSERT_FALSE(answer.isEmpty());
    EXPECT_EQ(answer.last(), "error: group 7 is not present");
    EXPECT_TRUE(console->ask("stop 9", tsupport::SLOW_MS).last().startsWith("error: group 9 is not present"));
    EXPECT_TRUE(console->ask("bogus", tsupport::SLOW_MS).last().startsWith("error: unknown command"));
}

TEST_F(ConsoleEndToEnd, ThumbnailsShowEachGroupsScreen)
{
    EXPECT_TRUE(waitForThumbnail(1, RED)) << picturesLine(1).toStdString();
    EXPECT_TRUE(waitForThumbnail(2, BLUE)) << picturesLine(2).toStdString();
    // Refreshed: more pictures keep coming.
    const qint64 first = picturesLine(1).section(' ', 3, 3).toLongLong();
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    while (picturesLine(1).section(' ', 3, 3).toLongLong() <= first && !deadline.hasExpired())
        tsupport::pause(200);
    EXPECT_GT(picturesLine(1).section(' ', 3, 3).toLongLong(), first);
}

TEST_F(ConsoleEndToEnd, FailingStreamSaysWhyAndIsRetried)
{
    // Group 50 announces from 127.0.0.5 a live port where nothing listens yet.
    tsupport::UdpPeer announcer(QHostAddress("127.0.0.5"), 0);
    ASSERT_TRUE(announcer.ok());
    QElapsedTimer sinceAnnounced;
    auto announce = [&] {
        if (sinceAnnounced.isValid() && sinceAnnounced.elapsed() < 1000)
            return;
        sinceAnnounced.start();
        announcer.send(R"({ "messageId":0,"id":50, "livePort":5600,"systemType":1 })", QHostAddress::LocalHost, 55555);
    };
    QString line;
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    do {
        announce();
        line = picturesLine(50);
        tsupport::pause(100);
    } while (!line.contains("Connection refused, retrying") && !deadline.hasExpired());
    EXPECT_TRUE(line.startsWith("pictures 50 127.0.0.5 0 cannot open: Connection refused, retrying")) << line.toStdString();

    // The stream comes up: the next attempt gets its pictures.
    vsupport::Peer peer({"--address", "127.0.0.5", "--port", "5600", "--color", "e0e020"});
    ASSERT_TRUE(peer.ready());
    EXPECT_TRUE(waitForThumbnail(50, YELLOW, announce)) << picturesLine(50).toStdString();
}

TEST_F(ConsoleEndToEnd, TeachersScreenToAllIsTheConsolesOwnScreen)
{
    ASSERT_TRUE(console->waitForOutput("serving the teacher's screen on port 5000", tsupport::SLOW_MS))
        << console->err().constData();
    teacherPainter.setProcessEnvironment(consoleX->env());
    teacherPainter.start(painterPath(), {"color", GREEN.name().mid(1)});
    ASSERT_TRUE(teacherPainter.waitForStarted(tsupport::SLOW_MS));
    ASSERT_TRUE(teacherPainter.waitForReadyRead(tsupport::SLOW_MS));

    const QStringList answer = console->ask("show 0 to all", tsupport::SLOW_MS);
    ASSERT_FALSE(answer.isEmpty());
    EXPECT_TRUE(answer.last().contains(R"(group 1 at 10.214.1.2: {"groupId":0,"messageId":2})")) << answer.last().toStdString();
    EXPECT_TRUE(answer.last().contains(R"(group 2 at 10.214.2.2: {"groupId":0,"messageId":2})")) << answer.last().toStdString();
    // Each terminal pulls the teacher's screen from its own "roomIp", the
    // console's address on its link.
    for (const Group* g : groups)
        EXPECT_TRUE(tsupport::waitForColour(g->x->env(), GREEN, tsupport::SLOW_MS))
            << g->terminal->out().right(2000).constData();
    EXPECT_TRUE(waitForRow("row 1 ", " present shows the teacher"));
    EXPECT_TRUE(waitForRow("row 2 ", " present shows the teacher"));

    ASSERT_FALSE(console->ask("stop all", tsupport::SLOW_MS).isEmpty());
    for (const Group* g : groups)
        EXPECT_TRUE(tsupport::waitForNoWindow(g->x->env(), "多屏", tsupport::SLOW_MS));
}

// Declared last (GoogleTest keeps the order): it ends group 2's terminal.
TEST_F(ConsoleEndToEnd, GroupThatQuitsIsShownGone)
{
    ASSERT_TRUE(console->waitForOutput(presentLine(groups[1]), tsupport::SLOW_MS));
    groups[1]->terminal->terminate();
    ASSERT_TRUE(groups[1]->terminal->waitForExit(tsupport::SLOW_MS));
    EXPECT_TRUE(console->waitForOutput("group 2 at 10.214.2.2: gone", tsupport::SLOW_MS)) << console->out().constData();
    EXPECT_TRUE(waitForRow("row 2 10.214.2.2 5000 ", " gone shows nothing"));
    EXPECT_TRUE(waitForRow("row 1 10.214.1.2 5000 ", " present shows nothing"));
    // A gone group is no longer a source or a target.
    EXPECT_EQ(console->ask("show 2 to all", tsupport::SLOW_MS).last(), "error: group 2 is not present");
}

}  // namespace
