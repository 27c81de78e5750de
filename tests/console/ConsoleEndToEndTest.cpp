// The classroom with real processes: two group terminals, each in a network
// namespace of its own with a screen of its own colour and the console's
// classroom key in its team.bin, announce themselves to a console in the
// test's namespace; the console is driven through its standard input, as
// the window's buttons drive it, and signs every command. Made-up terminals
// (an impostor, a flood of numbers) announce from this namespace.
#include "ConsoleSupport.h"
#include "NetSupport.h"
#include "TestSupport.h"
#include "ViewerSupport.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <functional>
#include <memory>
#include <set>

using namespace csupport;

namespace {

const QColor RED(0xe0, 0x20, 0x20), BLUE(0x20, 0x20, 0xe0), YELLOW(0xe0, 0xe0, 0x20), GREEN(0x20, 0xe0, 0x20);

QString painterPath() { return tsupport::buildDir() + "/tavlo-test-painter"; }

// The console's environment: its configuration folder (where it keeps its
// classroom key) is the test's own.
QProcessEnvironment consoleEnv(const tsupport::XServer& x, const QTemporaryDir& config)
{
    QProcessEnvironment env = x.env();
    env.insert("XDG_CONFIG_HOME", config.path());
    return env;
}

// Threads of a running process.
int threadsOf(qint64 pid)
{
    QFile f(QString("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("Threads:"))
            return line.mid(8).trimmed().toInt();
    return -1;
}

// A window on a group's screen that says which keys and clicks reach it
// (tavlo-test-keylog), with the input focus.
class KeyLog {
public:
    explicit KeyLog(const QProcessEnvironment& env)
    {
        p_.setProcessEnvironment(env);
        p_.start(tsupport::buildDir() + "/tavlo-test-keylog", {"100", "100", "400", "300"});
        ready_ = p_.waitForStarted(tsupport::SLOW_MS) && waitFor("ready");
    }
    ~KeyLog()
    {
        p_.kill();
        p_.waitForFinished(tsupport::SLOW_MS);
    }
    bool ready() const { return ready_; }
    bool waitFor(const QString& line)
    {
        QDeadlineTimer deadline(tsupport::SLOW_MS);
        while (!lines().contains(line) && !deadline.hasExpired())
            p_.waitForReadyRead(100);
        return lines().contains(line);
    }
    QStringList lines()
    {
        out_ += p_.readAllStandardOutput();
        return QString::fromUtf8(out_).split('\n', Qt::SkipEmptyParts);
    }

private:
    QProcess p_;
    QByteArray out_;
    bool ready_ = false;
};

// xdotool on a display: real input through the X server (XTEST), which a
// grab redirects (never --window, whose events go around the grabs).
bool xdotool(const QProcessEnvironment& env, const QStringList& args)
{
    int code = -1;
    tsupport::run("xdotool", args, env, tsupport::SLOW_MS, &code);
    return code == 0;
}

// The lock card's colour at the four corners of a screen (its text is in
// the middle).
bool cardCorners(const QProcessEnvironment& env)
{
    const QImage img = tsupport::screenshot(env);
    if (img.isNull())
        return false;
    const QColor card(0x12, 0x2a, 0x4a);
    const int w = img.width(), h = img.height();
    for (const QPoint p : {QPoint(8, 8), QPoint(w - 9, 8), QPoint(8, h - 9), QPoint(w - 9, h - 9)})
        if (!tsupport::near(img.pixelColor(p), card, 16))
            return false;
    return true;
}

bool waitForCard(const QProcessEnvironment& env)
{
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    while (!cardCorners(env) && !deadline.hasExpired())
        tsupport::pause(200);
    return cardCorners(env);
}

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
        // The console's key, made at its first start; every terminal trusts it.
        config = new QTemporaryDir;
        int code = -1;
        const QByteArray printed = tsupport::run(consolePath(), {"--print-key"}, consoleEnv(*consoleX, *config),
                                                 tsupport::SLOW_MS, &code);
        ASSERT_EQ(code, 0);
        hostKey = QString::fromLatin1(printed.split('\n').value(0));
        ASSERT_EQ(hostKey.size(), 44) << printed.constData();
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
            g->dir = std::make_unique<tsupport::TeamDir>(QJsonDocument(QJsonObject{{"roomIp", g->net->hostAddress()},
                                                                                   {"teamNum", k},
                                                                                   {"hostKey", hostKey}})
                                                             .toJson());
            startTerminal(g);
            ASSERT_TRUE(g->terminal->waitForOutput("SendTo: " + g->net->hostAddress() + "\n", tsupport::SLOW_MS));
        }
        console = new ConsoleProcess(consoleEnv(*consoleX, *config));
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
        delete config;
        config = nullptr;
    }
    void SetUp() override
    {
        if (!tsupport::isolatedNetwork())
            GTEST_SKIP() << "needs a private network namespace (run through ctest as root)";
        ASSERT_TRUE(console && console->running()) << (console ? console->err().constData() : "");
        for (Group* g : groups)
            ASSERT_TRUE(g && g->terminal);
    }

    // Starts (or starts again) group g's terminal in its namespace.
    static void startTerminal(Group* g)
    {
        g->terminal.reset();
        g->terminal = std::make_unique<tsupport::Terminal>(g->dir->path(), tsupport::terminalEnv(g->x->env()),
                                                           g->net->enter(tsupport::tavloPath()), "nsenter");
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
    static QTemporaryDir* config;
    static QString hostKey;
    static Group* groups[2];
    static ConsoleProcess* console;
    static QProcess teacherPainter;
};

tsupport::XServer* ConsoleEndToEnd::consoleX = nullptr;
QTemporaryDir* ConsoleEndToEnd::config = nullptr;
QString ConsoleEndToEnd::hostKey;
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
    EXPECT_TRUE(rows[0].endsWith(" present signed shows nothing")) << rows[0].toStdString();
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
    EXPECT_TRUE(sent.endsWith(" signed")) << sent.toStdString();
    EXPECT_FALSE(sent.contains("group 2 at")) << "group 2 is not told to show itself";

    // Group 1's screen shows group 2's colour, through the two namespaces.
    EXPECT_TRUE(tsupport::waitForColour(groups[0]->x->env(), BLUE, tsupport::SLOW_MS))
        << groups[0]->terminal->out().right(2000).constData();
    EXPECT_TRUE(waitForRow("row 1 ", " present signed shows group 2"));
    EXPECT_TRUE(waitForRow("row 2 ", " present signed shows nothing"));
    EXPECT_FALSE(shownWindow(groups[1]));
    for (const Group* g : groups)
        EXPECT_FALSE(g->terminal->out().contains("Command ignored")) << g->terminal->out().right(2000).constData();

    const QStringList stopped = console->ask("stop all", tsupport::SLOW_MS);
    ASSERT_FALSE(stopped.isEmpty());
    EXPECT_TRUE(stopped.last().contains("group 1 at 10.214.1.2: {\"messageId\":1}")) << stopped.last().toStdString();
    EXPECT_TRUE(stopped.last().contains("group 2 at 10.214.2.2: {\"messageId\":1}")) << stopped.last().toStdString();
    EXPECT_TRUE(tsupport::waitForNoWindow(groups[0]->x->env(), "多屏", tsupport::SLOW_MS));
    EXPECT_TRUE(tsupport::waitForColour(groups[0]->x->env(), RED, tsupport::SLOW_MS));
    EXPECT_TRUE(waitForRow("row 1 ", " present signed shows nothing"));
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

// The thumbnails come from each terminal's small stream, which costs the
// terminal no full-size picture: while only the console looks, group 1's
// terminal neither grabs for its full stream nor encodes one ("XShmGetImage("
// and "diff: " lines), however many thumbnails go by.
TEST_F(ConsoleEndToEnd, ThumbnailsComeFromTheSmallStreamAndWakeNoFullPicture)
{
    ASSERT_TRUE(waitForThumbnail(1, RED)) << picturesLine(1).toStdString();
    ASSERT_TRUE(waitForThumbnail(2, BLUE)) << picturesLine(2).toStdString();
    for (const Group* g : groups) {
        const QStringList answer = console->ask(QString("stream %1").arg(g->number), tsupport::SLOW_MS);
        ASSERT_FALSE(answer.isEmpty());
        EXPECT_EQ(answer.last(),
                  QString("stream %1 rtsp://%2:5000/cam_passby_chn1").arg(g->number).arg(g->net->groupAddress()));
    }
    tsupport::Terminal& t = *groups[0]->terminal;
    const int grabs = t.countOutput("XShmGetImage("), encoded = t.countOutput("diff: ");
    const qint64 first = picturesLine(1).section(' ', 3, 3).toLongLong();
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    while (picturesLine(1).section(' ', 3, 3).toLongLong() < first + 3 && !deadline.hasExpired())
        tsupport::pause(200);
    EXPECT_GE(picturesLine(1).section(' ', 3, 3).toLongLong(), first + 3);
    EXPECT_EQ(t.countOutput("XShmGetImage("), grabs) << "the full stream grabbed for a thumbnail";
    EXPECT_EQ(t.countOutput("diff: "), encoded) << "the full-size encoder woke for a thumbnail";
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
    // By multicast first: where none arrives, as on these routed links,
    // each terminal falls back on TCP by itself.
    EXPECT_TRUE(answer.last().contains(R"(group 1 at 10.214.1.2: {"groupId":0,"messageId":2,"multicast":true})"))
        << answer.last().toStdString();
    EXPECT_TRUE(answer.last().contains(R"(group 2 at 10.214.2.2: {"groupId":0,"messageId":2,"multicast":true})"))
        << answer.last().toStdString();
    // Each terminal pulls the teacher's screen from its own "roomIp", the
    // console's address on its link.
    for (const Group* g : groups)
        EXPECT_TRUE(tsupport::waitForColour(g->x->env(), GREEN, tsupport::SLOW_MS))
            << g->terminal->out().right(2000).constData();
    EXPECT_TRUE(waitForRow("row 1 ", " present signed shows the teacher"));
    EXPECT_TRUE(waitForRow("row 2 ", " present signed shows the teacher"));

    ASSERT_FALSE(console->ask("stop all", tsupport::SLOW_MS).isEmpty());
    for (const Group* g : groups)
        EXPECT_TRUE(tsupport::waitForNoWindow(g->x->env(), "多屏", tsupport::SLOW_MS));
}

// A computer of this namespace (10.214.99.2, reachable from the groups)
// announces group 2 ten times a second, serving a yellow screen on the live
// port it announces (port 5000 of every address here is the console's own).
// The number stays with the terminal that announced it first: the impostor
// is flagged, its stream is never pulled for a thumbnail, and "show 2"
// sends the groups to group 2's own address.
TEST_F(ConsoleEndToEnd, AnImpostorOfAGroupIsFlaggedAndNeverShown)
{
    for (const Group* g : groups)
        ASSERT_TRUE(console->waitForOutput(presentLine(g), tsupport::SLOW_MS));
    int code = -1;
    // An address of this namespace, on a veth pair of its own (both ends here).
    tsupport::run("sh", {"-c", "ip link add tvpeerimp0 type veth peer name tvpeerimp1 && "
                               "ip addr add 10.214.99.2/24 dev tvpeerimp0 && ip link set tvpeerimp0 up && "
                               "ip link set tvpeerimp1 up"},
                  QProcessEnvironment::systemEnvironment(), tsupport::SLOW_MS, &code);
    ASSERT_EQ(code, 0);
    vsupport::Peer screen({"--address", "10.214.99.2", "--port", "5600", "--color", "e0e020"});
    ASSERT_TRUE(screen.ready());
    QProcess impostor;
    impostor.start(announcerPath(), {"--to", "127.0.0.1", "--from", "10.214.99.2", "--groups", "2", "--every", "100",
                                     "--live-port", "5600", "--nonce"});
    ASSERT_TRUE(impostor.waitForReadyRead(tsupport::SLOW_MS));

    EXPECT_TRUE(console->waitForOutput("group 2 at 10.214.99.2: conflict, the number is 10.214.2.2's",
                                       tsupport::SLOW_MS))
        << console->out().right(2000).constData();
    EXPECT_TRUE(waitForRow("row 2 10.214.2.2 5000 ", " present conflict 10.214.99.2 signed shows nothing"));
    const QStringList answer = console->ask("show 2 to all", tsupport::SLOW_MS);
    ASSERT_FALSE(answer.isEmpty());
    EXPECT_TRUE(answer.last().contains(R"("ip":"10.214.2.2")")) << answer.last().toStdString();
    EXPECT_FALSE(answer.last().contains("10.214.99.2")) << answer.last().toStdString();
    EXPECT_TRUE(tsupport::waitForColour(groups[0]->x->env(), BLUE, tsupport::SLOW_MS));
    EXPECT_TRUE(waitForThumbnail(2, BLUE));
    // Still on, a while later: the impostor keeps announcing, and nothing
    // it serves was ever asked for.
    tsupport::pause(3000);
    EXPECT_TRUE(tsupport::coveredBy(tsupport::screenshot(groups[0]->x->env()), BLUE));
    EXPECT_EQ(screen.count("connected"), 0);
    EXPECT_EQ(screen.count("accepted"), 0);
    EXPECT_EQ(console->out().count("conflict, the number is"), 1);  // said once, shown while it lasts
    EXPECT_TRUE(waitForRow("row 2 10.214.2.2 5000 ", " present conflict 10.214.99.2 signed shows nothing") ||
                waitForRow("row 2 10.214.2.2 5000 ", " present conflict 10.214.99.2 signed shows group 2"));

    impostor.kill();
    impostor.waitForFinished(tsupport::SLOW_MS);
    ASSERT_FALSE(console->ask("stop all", tsupport::SLOW_MS).isEmpty());
    EXPECT_TRUE(tsupport::waitForNoWindow(groups[0]->x->env(), "多屏", tsupport::SLOW_MS));
    // The flag goes once the impostor has been silent five seconds.
    EXPECT_TRUE(waitForRow("row 2 10.214.2.2 5000 ", " present signed shows nothing"));
    tsupport::run("ip", {"link", "del", "tvpeerimp0"}, QProcessEnvironment::systemEnvironment());
}

// 5,000 made-up group numbers from 250 made-up terminals, announced every
// second: the console keeps answering, keeps at most 64 rows, one per
// address, with the real groups among them, says so at most once a second,
// and its threads stop growing once the table is full (one thumbnail puller
// per row, never one per sender or number), coming back to where they were
// when the made-up groups fall silent.
TEST_F(ConsoleEndToEnd, AFloodOfMadeUpGroupsCostsABoundedAmount)
{
    for (const Group* g : groups)
        ASSERT_TRUE(console->waitForOutput(presentLine(g), tsupport::SLOW_MS));
    const int threadsBefore = threadsOf(console->pid());
    ASSERT_GT(threadsBefore, 0);
    const int warningsBefore = console->out().count(" dropped: ");
    QStringList from;
    for (int i = 1; i <= 250; ++i)
        from << QString("127.0.1.%1").arg(i);
    QElapsedTimer flooding;
    flooding.start();
    QProcess flood;
    // Their live port leads nowhere: the console's own screen is served on
    // port 5000 of every address here.
    flood.start(announcerPath(), {"--to", "127.0.0.1", "--from", from.join(','), "--groups", "1000-5999", "--every",
                                  "1000", "--live-port", "5999"});
    ASSERT_TRUE(flood.waitForStarted(tsupport::SLOW_MS));
    QStringList rows;
    QDeadlineTimer full(tsupport::SLOW_MS);
    do {
        rows = console->rows(tsupport::SLOW_MS);  // it answers while flooded
        ASSERT_FALSE(rows.isEmpty());
    } while (rows.size() < 64 && !full.hasExpired());
    ASSERT_EQ(rows.size(), 64);
    const int threadsFull = threadsOf(console->pid());
    // Two more rounds of 5,000 numbers.
    tsupport::pause(2500);
    rows = console->rows(tsupport::SLOW_MS);
    const int threadsLater = threadsOf(console->pid());
    flood.kill();
    flood.waitForFinished(tsupport::SLOW_MS);

    EXPECT_EQ(rows.size(), 64);
    std::set<QString> addresses;
    for (const QString& r : rows)
        EXPECT_TRUE(addresses.insert(r.section(' ', 2, 2)).second) << r.toStdString();
    EXPECT_TRUE(waitForRow("row 1 10.214.1.2 5000 ", " present signed shows nothing"));
    EXPECT_TRUE(waitForRow("row 2 10.214.2.2 5000 ", " present signed shows nothing"));
    EXPECT_LE(threadsFull, threadsBefore + 62);
    EXPECT_LE(threadsLater, threadsFull);
    // Every warning read so far was printed since the flood began.
    const int warnings = console->out().count(" dropped: ") - warningsBefore;
    const qint64 sinceFloodMs = flooding.elapsed();
    EXPECT_GE(warnings, 1);
    EXPECT_LE(warnings, sinceFloodMs / 1000 + 1);
    // Silent, the made-up groups are gone after five seconds and their
    // pullers end.
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    while (threadsOf(console->pid()) > threadsBefore && !deadline.hasExpired())
        tsupport::pause(200);
    EXPECT_LE(threadsOf(console->pid()), threadsBefore);
    // The real groups are commanded as before, the gone ones not at all.
    const QStringList answer = console->ask("stop all", tsupport::SLOW_MS);
    ASSERT_FALSE(answer.isEmpty());
    EXPECT_TRUE(answer.last().startsWith("sent group 1 at 10.214.1.2: ")) << answer.last().toStdString();
    EXPECT_FALSE(answer.last().contains("127.0.1.")) << answer.last().toStdString();
}

// Declared last (GoogleTest keeps the order): it ends group 2's terminal.
// "Eyes to the front": the console locks group 1 with a text of its own.
// The card covers group 1's screen and takes its input: keys typed and a
// click on the window that had the focus (given it again meanwhile) reach
// it only after the unlock. A show comes over the card, still locked; a
// stop leaves the card. Group 2 is never locked. A lock survives no
// restart: a terminal started again is unlocked.
TEST_F(ConsoleEndToEnd, ALockedGroupsInputReachesNoWindowAndAShowComesOverTheCard)
{
    Group* g = groups[0];
    const QProcessEnvironment env = g->x->env();
    for (const Group* each : groups)  // group 2 is shown on group 1
        ASSERT_TRUE(console->waitForOutput(presentLine(each), tsupport::SLOW_MS));
    KeyLog keylog(env);
    ASSERT_TRUE(keylog.ready());
    ASSERT_TRUE(xdotool(env, {"mousemove", "300", "250"}));
    ASSERT_TRUE(xdotool(env, {"type", "a"}));
    ASSERT_TRUE(keylog.waitFor("key a")) << "typing reaches the window before the lock";
    const QString keylogId = tsupport::windowsNamed(env, "keylog").value(0).id;
    ASSERT_FALSE(keylogId.isEmpty());

    const QStringList locked = console->ask("lock 1 Eyes to the front", tsupport::SLOW_MS);
    ASSERT_FALSE(locked.isEmpty());
    EXPECT_EQ(locked.last(), R"(sent group 1 at 10.214.1.2: {"messageId":16,"text":"Eyes to the front"} signed)");
    ASSERT_TRUE(g->terminal->waitForOutput("Locked: Eyes to the front\n", tsupport::SLOW_MS))
        << g->terminal->out().right(2000).constData();
    ASSERT_TRUE(g->terminal->waitForOutput("Lock: keyboard and pointer taken\n", tsupport::SLOW_MS));
    const auto card = tsupport::waitForWindow(env, "Tavlo lock", tsupport::SLOW_MS);
    ASSERT_TRUE(card.has_value());
    EXPECT_EQ(card->width, 1920);
    EXPECT_EQ(card->height, 1080);
    EXPECT_TRUE(waitForCard(env));
    EXPECT_TRUE(waitForRow("row 1 ", " present signed shows nothing locked"));

    // The student gives the window the focus again and types and clicks.
    EXPECT_TRUE(xdotool(env, {"windowfocus", keylogId}));
    EXPECT_TRUE(xdotool(env, {"type", "b"}));
    EXPECT_TRUE(xdotool(env, {"click", "1"}));

    // A show comes over the card; the input stays taken.
    const QStringList shown = console->ask("show 2 to 1", tsupport::SLOW_MS);
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_TRUE(shown.last().startsWith("sent group 1 at 10.214.1.2: ")) << shown.last().toStdString();
    EXPECT_TRUE(tsupport::waitForColour(env, BLUE, tsupport::SLOW_MS)) << g->terminal->out().right(2000).constData();
    EXPECT_TRUE(xdotool(env, {"type", "c"}));
    EXPECT_TRUE(xdotool(env, {"click", "1"}));
    console->ask("stop 1", tsupport::SLOW_MS);
    EXPECT_TRUE(tsupport::waitForNoWindow(env, "多屏", tsupport::SLOW_MS));
    EXPECT_TRUE(waitForCard(env)) << "the card is still there once the show stops";
    EXPECT_FALSE(groups[1]->terminal->out().contains("Locked")) << "group 2 was not locked";

    const QStringList unlocked = console->ask("unlock 1", tsupport::SLOW_MS);
    ASSERT_FALSE(unlocked.isEmpty());
    EXPECT_EQ(unlocked.last(), R"(sent group 1 at 10.214.1.2: {"messageId":17} signed)");
    ASSERT_TRUE(g->terminal->waitForOutput("Unlocked\n", tsupport::SLOW_MS));
    EXPECT_TRUE(tsupport::waitForNoWindow(env, "Tavlo lock", tsupport::SLOW_MS));
    EXPECT_TRUE(tsupport::waitForColour(env, RED, tsupport::SLOW_MS)) << "the desktop is back";
    EXPECT_TRUE(xdotool(env, {"windowfocus", keylogId}));
    EXPECT_TRUE(xdotool(env, {"type", "d"}));
    EXPECT_TRUE(xdotool(env, {"click", "1"}));
    ASSERT_TRUE(keylog.waitFor("key d")) << keylog.lines().join(' ').toStdString();
    ASSERT_TRUE(keylog.waitFor("button 1")) << keylog.lines().join(' ').toStdString();
    // The X server keeps the order of events: whatever was typed while locked
    // and had reached the window would stand before "key d".
    const QStringList got = keylog.lines();
    EXPECT_FALSE(got.contains("key b")) << got.join(' ').toStdString();
    EXPECT_FALSE(got.contains("key c")) << got.join(' ').toStdString();
    EXPECT_EQ(got.count("button 1"), 1) << got.join(' ').toStdString();

    // Locked again, then the terminal starts again: unlocked.
    console->ask("lock 1", tsupport::SLOW_MS);
    ASSERT_TRUE(g->terminal->waitForOutput(QString::fromUtf8("Locked: 请看老师\n"), tsupport::SLOW_MS));
    ASSERT_TRUE(tsupport::waitForWindow(env, "Tavlo lock", tsupport::SLOW_MS).has_value());
    g->terminal->terminate();
    ASSERT_TRUE(g->terminal->waitForExit(tsupport::SLOW_MS));
    startTerminal(g);
    ASSERT_TRUE(g->terminal->waitForOutput("SendTo: " + g->net->hostAddress() + "\n", tsupport::SLOW_MS));
    EXPECT_TRUE(tsupport::waitForNoWindow(env, "Tavlo lock", tsupport::SLOW_MS));
    EXPECT_FALSE(g->terminal->out().contains("Locked"));
    EXPECT_TRUE(xdotool(env, {"windowfocus", keylogId}));
    EXPECT_TRUE(xdotool(env, {"type", "e"}));
    EXPECT_TRUE(keylog.waitFor("key e")) << "a terminal started again takes no input";
    console->ask("unlock 1", tsupport::SLOW_MS);  // the console forgets its "locked"
}

// A lesson's worth of locks and unlocks leaves the terminal's memory,
// threads and descriptors where they were.
TEST_F(ConsoleEndToEnd, RoundsOfLockAndUnlockLeaveTheTerminalFlat)
{
    Group* g = groups[0];
    ASSERT_TRUE(console->waitForOutput(presentLine(g), tsupport::SLOW_MS));
    const qint64 pid = g->terminal->pid();
    int locks = g->terminal->countOutput("Locked: "), unlocks = g->terminal->countOutput("Unlocked\n");
    auto rounds = [&](int n) {
        for (int i = 0; i < n; ++i) {
            console->ask(QString("lock 1 round %1").arg(i), tsupport::SLOW_MS);
            ASSERT_TRUE(g->terminal->waitForCount("Locked: ", ++locks, tsupport::SLOW_MS));
            console->ask("unlock 1", tsupport::SLOW_MS);
            ASSERT_TRUE(g->terminal->waitForCount("Unlocked\n", ++unlocks, tsupport::SLOW_MS));
        }
    };
    rounds(20);  // the first ones settle the allocator and the X connection's buffers
    ASSERT_TRUE(tsupport::waitForNoWindow(g->x->env(), "Tavlo lock", tsupport::SLOW_MS));
    const tsupport::ProcessStats before = tsupport::processStats(pid);
    rounds(100);
    ASSERT_TRUE(tsupport::waitForNoWindow(g->x->env(), "Tavlo lock", tsupport::SLOW_MS));
    const tsupport::ProcessStats after = tsupport::processStats(pid);
    ASSERT_GT(before.rssKb, 0);
#if !defined(__SANITIZE_ADDRESS__)
    // (An AddressSanitizer build keeps freed memory in quarantine; its leak
    // check covers that build.)
    EXPECT_LT(after.rssKb - before.rssKb, 4096) << "RSS grew from " << before.rssKb << " KiB to " << after.rssKb
                                                << " KiB";
#endif
    EXPECT_LE(after.threads, before.threads + 1);
    EXPECT_LE(after.descriptors, before.descriptors + 2);
    EXPECT_TRUE(g->terminal->running());
}

TEST_F(ConsoleEndToEnd, GroupThatQuitsIsShownGone)
{
    ASSERT_TRUE(console->waitForOutput(presentLine(groups[1]), tsupport::SLOW_MS));
    groups[1]->terminal->terminate();
    ASSERT_TRUE(groups[1]->terminal->waitForExit(tsupport::SLOW_MS));
    EXPECT_TRUE(console->waitForOutput("group 2 at 10.214.2.2: gone", tsupport::SLOW_MS)) << console->out().constData();
    EXPECT_TRUE(waitForRow("row 2 10.214.2.2 5000 ", " gone signed shows nothing"));
    EXPECT_TRUE(waitForRow("row 1 10.214.1.2 5000 ", " present signed shows nothing"));
    // A gone group is no longer a source or a target.
    EXPECT_EQ(console->ask("show 2 to all", tsupport::SLOW_MS).last(), "error: group 2 is not present");
}

}  // namespace
