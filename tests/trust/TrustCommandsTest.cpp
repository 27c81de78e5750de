// Terminals that trust a classroom key, as processes with real datagrams: a
// signed command is obeyed; the same datagram again, one for another group,
// one for an earlier start, plain JSON, a flipped bit in "cmd" or "sig", and
// another key's signature are each ignored with a line, the screen as it
// was. Also: tavlo-host --key, a terminal without a key, a team.bin whose
// key is no key, and the command port against another user of the computer.
//
// The streams come from stand-in peers in a second network namespace
// (10.213.0.x); the test reads the terminal's announcements (its nonce) on
// 127.0.0.2, its "roomIp".
#include "Announcement.h"
#include "ClassroomKey.h"
#include "Envelope.h"
#include "NetSupport.h"
#include "TestSupport.h"
#include "ViewerSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace vsupport;
using tsupport::isolatedNetwork;
using tsupport::PeerNet;
using tsupport::waitForColour;

namespace {

const QString X_ADDR = "10.213.0.2";  // red
const QString Y_ADDR = "10.213.0.3";  // blue
const QColor RED(0xe0, 0x20, 0x20);
const QJsonObject STOP{{"messageId", 1}};
const QString IGNORED = "Command ignored: ";

QJsonObject showOf(int group, const QString& ip)
{
    return QJsonObject{{"messageId", 2}, {"groupId", group}, {"ip", ip}};
}

ClassroomKey keyFrom(unsigned char fill)
{
    std::array<unsigned char, 32> seed;
    seed.fill(fill);
    return ClassroomKey::fromSeed(seed);
}

QByteArray teamBin(qint64 group, const QString& hostKey)
{
    QJsonObject o{{"roomIp", "127.0.0.2"}, {"teamNum", group}};
    if (!hostKey.isEmpty())
        o.insert("hostKey", hostKey);
    return QJsonDocument(o).toJson();
}

// In a sanitizer build Mesa's software GL keeps a few bytes in a driver SDL
// unloads again (as in the commands tests): no leak check at the exit of a
// terminal that showed a stream.
QProcessEnvironment terminalEnv(const tsupport::XServer& x)
{
    QProcessEnvironment e = x.env();
    if (e.contains("ASAN_OPTIONS"))
        e.insert("ASAN_OPTIONS", e.value("ASAN_OPTIONS") + ":detect_leaks=0");
    return e;
}

// An envelope with one bit of its command's bytes (or its signature's)
// flipped, written as canonical base64 again.
QByteArray flipped(const QByteArray& envelope, const char* field)
{
    QJsonObject o = QJsonDocument::fromJson(envelope).object();
    QByteArray bytes = QByteArray::fromBase64(o.value(field).toString().toLatin1());
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x04);
    o.insert(field, QString::fromLatin1(bytes.toBase64()));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// Resident memory of a process, in KiB.
qint64 rssKiB(qint64 pid)
{
    QFile f(QString("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

class SignedCommandsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!isolatedNetwork())
            return;
        x = new tsupport::XServer(1280, 720, true);
        ASSERT_TRUE(x->ok());
        net = new PeerNet({X_ADDR, Y_ADDR});
        ASSERT_TRUE(net->ok());
        px = new Peer({"--address", X_ADDR, "--color", "e02020"}, net->pid());
        py = new Peer({"--address", Y_ADDR, "--color", "2020e0"}, net->pid());
        ASSERT_TRUE(px->ready());
        ASSERT_TRUE(py->ready());
        dir = new tsupport::TeamDir(teamBin(1, teacher().publicKey().base64()));
        // The host's side: its announcements come here, not back to the
        // terminal (the more specific bind gets them).
        host = new tsupport::UdpPeer(QHostAddress("127.0.0.2"), 55555);
        ASSERT_TRUE(host->ok());
        commander = new tsupport::UdpPeer(QHostAddress::LocalHost, 0);
        ASSERT_TRUE(commander->ok());
        startTerminal();
    }
    static void TearDownTestSuite()
    {
        delete terminal;
        delete commander;
        delete host;
        delete dir;
        delete py;
        delete px;
        delete net;
        delete x;
        terminal = nullptr;
        commander = host = nullptr;
        dir = nullptr;
        px = py = nullptr;
        net = nullptr;
        x = nullptr;
    }
    void SetUp() override
    {
        if (!isolatedNetwork())
            GTEST_SKIP() << "needs a private network namespace (run through ctest as root)";
        ASSERT_TRUE(terminal && terminal->running());
        ASSERT_TRUE(host);
        // A signed stop: the desktop, whatever the test before left.
        send(signedCmd(STOP, 1, latestNonce()));
        ASSERT_TRUE(tsupport::waitForNoWindow(x->env(), "多屏", tsupport::SLOW_MS));
    }
    void TearDown() override
    {
        if (terminal) {
            EXPECT_TRUE(terminal->running()) << terminal->err().constData();
        }
    }

    static const ClassroomKey& teacher()
    {
        static const ClassroomKey k = keyFrom(1);
        return k;
    }
    static void startTerminal()
    {
        delete terminal;
        terminal = new tsupport::Terminal(dir->path(), terminalEnv(*x));
        ASSERT_TRUE(terminal->started());
        ASSERT_TRUE(terminal->waitForOutput("SendTo: 127.0.0.2\n", tsupport::SLOW_MS));
    }
    // The nonce the terminal announces now: from its next announcement,
    // after whatever was already queued.
    static QString latestNonce()
    {
        while (host->receive(0)) {
        }
        const std::optional<QByteArray> d = host->receive(tsupport::SLOW_MS);
        EXPECT_TRUE(d.has_value()) << "no announcement";
        const std::optional<Announcement> a = d ? Announcement::parse(*d) : std::nullopt;
        EXPECT_TRUE(a.has_value()) << (d ? d->constData() : "");
        return a ? a->nonce : QString();
    }
    // A signed command under nonce, with a seq above every earlier one
    // (taken as tavlo-host and the console take theirs).
    static QByteArray signedCmd(const QJsonObject& cmd, int to, const QString& nonce,
                                const ClassroomKey& key = teacher())
    {
        static qint64 seq = 0;
        seq = Envelope::nextSeq(seq);
        return Envelope::seal(Envelope::address(cmd, to, nonce, seq), key);
    }
    static void send(const QByteArray& datagram)
    {
        ASSERT_TRUE(commander->send(datagram, QHostAddress::LocalHost, 55555));
    }
    // Shows peer X through a signed command and waits for its picture.
    static void viewSignedX()
    {
        const int plays = px->count("play");
        send(signedCmd(showOf(2, X_ADDR), 1, latestNonce()));
        ASSERT_TRUE(px->waitFor("play", plays + 1, tsupport::SLOW_MS));
        ASSERT_TRUE(waitForColour(x->env(), RED, tsupport::SLOW_MS));
    }
    // Sends datagram, which the terminal must ignore with line (a prefix
    // of it), the red screen staying as it was.
    static void expectIgnored(const char* what, const QByteArray& datagram, const QString& line)
    {
        SCOPED_TRACE(what);
        const int ignored = terminal->countOutput(IGNORED);
        const int closed = px->count("closed");
        const int yConnections = py->count("connected");
        send(datagram);
        // The line comes from the same pass that would have obeyed it.
        ASSERT_TRUE(terminal->waitForCount(IGNORED, ignored + 1, tsupport::SLOW_MS));
        const QList<QByteArray> lines = terminal->out().split('\n');
        QString last;
        for (const QByteArray& l : lines)
            if (l.startsWith(IGNORED.toUtf8()))
                last = QString::fromUtf8(l);
        EXPECT_TRUE(last.startsWith(line)) << last.toStdString();
        EXPECT_EQ(px->count("closed"), closed);
        EXPECT_EQ(py->count("connected"), yConnections);
        EXPECT_TRUE(tsupport::waitForWindow(x->env(), "多屏", 1000).has_value());
        // The terminal prints at most one such line a second: the next case
        // waits that long (on the one clock both share) to get its own.
        tsupport::pause(1100);
    }

    static tsupport::XServer* x;
    static PeerNet* net;
    static Peer *px, *py;
    static tsupport::TeamDir* dir;
    static tsupport::Terminal* terminal;
    static tsupport::UdpPeer *host, *commander;
};

tsupport::XServer* SignedCommandsTest::x = nullptr;
PeerNet* SignedCommandsTest::net = nullptr;
Peer* SignedCommandsTest::px = nullptr;
Peer* SignedCommandsTest::py = nullptr;
tsupport::TeamDir* SignedCommandsTest::dir = nullptr;
tsupport::Terminal* SignedCommandsTest::terminal = nullptr;
tsupport::UdpPeer* SignedCommandsTest::host = nullptr;
tsupport::UdpPeer* SignedCommandsTest::commander = nullptr;

TEST_F(SignedCommandsTest, AnnouncesANonceAndObeysSignedCommands)
{
    EXPECT_TRUE(terminal->out().contains("Commands must be signed by the classroom key " +
                                         teacher().publicKey().fingerprint().toUtf8() + "\n"));
    // The announcement as ever, with the nonce before the closing brace.
    while (host->receive(0)) {
    }
    const std::optional<QByteArray> a = host->receive(tsupport::SLOW_MS);
    ASSERT_TRUE(a.has_value());
    EXPECT_TRUE(QRegExp(R"(\{ "messageId":0,"id":1, "livePort":5000,"systemType":1,"nonce":"[A-Za-z0-9+/]{22}==" \})")
                    .exactMatch(QString::fromLatin1(*a)))
        << a->constData();

    viewSignedX();
    const int closed = px->count("closed");
    send(signedCmd(STOP, 1, latestNonce()));
    EXPECT_TRUE(px->waitFor("closed", closed + 1, tsupport::SLOW_MS));
    EXPECT_TRUE(tsupport::waitForNoWindow(x->env(), "多屏", tsupport::SLOW_MS));
    EXPECT_EQ(terminal->countOutput(IGNORED), 0) << terminal->out().right(2000).constData();
}

TEST_F(SignedCommandsTest, EveryOtherFormIsIgnoredAndTheScreenStays)
{
    viewSignedX();
    const QString nonce = latestNonce();
    // A stop, obeyed once: kept for its replay.
    const QByteArray stop = signedCmd(STOP, 1, nonce);
    const int closed = px->count("closed");
    send(stop);
    ASSERT_TRUE(px->waitFor("closed", closed + 1, tsupport::SLOW_MS));
    ASSERT_TRUE(tsupport::waitForNoWindow(x->env(), "多屏", tsupport::SLOW_MS));
    viewSignedX();

    expectIgnored("the same datagram again", stop, "Command ignored: seq ");
    expectIgnored("a datagram for another group", signedCmd(STOP, 2, nonce),
                  "Command ignored: for group 2, not for this group 1");
    expectIgnored("a plain JSON stop", R"({"messageId":1})", "Command ignored: not signed");
    expectIgnored("a plain JSON show", QJsonDocument(showOf(3, Y_ADDR)).toJson(), "Command ignored: not signed");
    expectIgnored("a bit flipped in cmd", flipped(signedCmd(STOP, 1, nonce), "cmd"), "Command ignored: bad signature");
    expectIgnored("a bit flipped in sig", flipped(signedCmd(STOP, 1, nonce), "sig"), "Command ignored: bad signature");
    expectIgnored("another key's signature", signedCmd(STOP, 1, nonce, keyFrom(2)), "Command ignored: bad signature");
    expectIgnored("a malformed envelope", R"({"cmd":"e30=","sig":"AA=="})", "Command ignored: malformed envelope: ");
    EXPECT_TRUE(waitForColour(x->env(), RED, tsupport::SLOW_MS));

    // And the terminal still obeys its teacher.
    const int closedNow = px->count("closed");
    send(signedCmd(STOP, 1, latestNonce()));
    EXPECT_TRUE(px->waitFor("closed", closedNow + 1, tsupport::SLOW_MS));
}

TEST_F(SignedCommandsTest, ACommandForAnEarlierStartIsIgnored)
{
    const QString before = latestNonce();
    const QByteArray recorded = signedCmd(STOP, 1, before);
    terminal->terminate();
    ASSERT_TRUE(terminal->waitForExit(tsupport::SLOW_MS));
    startTerminal();
    const QString after = latestNonce();
    EXPECT_NE(after, before);
    viewSignedX();
    expectIgnored("the previous start's nonce", recorded,
                  "Command ignored: old or unknown nonce (a replay, or a command for an earlier start)");
}

TEST_F(SignedCommandsTest, HostToolSignsWithTheExportedKeyPair)
{
    QTemporaryDir keys;
    const QString mine = keys.filePath("teacher.json"), theirs = keys.filePath("student.json");
    ASSERT_TRUE(teacher().save(mine, nullptr));
    ASSERT_TRUE(keyFrom(2).save(theirs, nullptr));
    // The tool must hear the terminal's announcement on 127.0.0.2 itself.
    delete host;
    host = nullptr;
    auto hostTool = [&](const QStringList& args, int* code) {
        return tsupport::run(hostToolPath(), args, QProcessEnvironment::systemEnvironment(), tsupport::SLOW_MS, code);
    };
    int code = -1;
    const int plays = px->count("play");
    QByteArray out = hostTool({"show", "--to", "127.0.0.1", "--bind", "127.0.0.2", "--group", "2", "--ip", X_ADDR,
                               "--key", mine},
                              &code);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(out.startsWith("sent signed {")) << out.constData();
    EXPECT_TRUE(px->waitFor("play", plays + 1, tsupport::SLOW_MS));
    EXPECT_TRUE(waitForColour(x->env(), RED, tsupport::SLOW_MS));

    // Without the key, or with a student's: ignored.
    const int ignored = terminal->countOutput(IGNORED);
    hostTool({"stop", "--to", "127.0.0.1"}, &code);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(terminal->waitForCount("Command ignored: not signed", 1, tsupport::SLOW_MS));
    tsupport::pause(1100);
    hostTool({"stop", "--to", "127.0.0.1", "--bind", "127.0.0.2", "--key", theirs}, &code);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(terminal->waitForCount(IGNORED, ignored + 2, tsupport::SLOW_MS));
    EXPECT_TRUE(terminal->out().contains("Command ignored: bad signature"));
    EXPECT_TRUE(tsupport::waitForWindow(x->env(), "多屏", 1000).has_value());

    const int closed = px->count("closed");
    hostTool({"stop", "--to", "127.0.0.1", "--bind", "127.0.0.2", "--key", mine}, &code);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(px->waitFor("closed", closed + 1, tsupport::SLOW_MS));

    // A key file that others may read is not used, nor is a terminal that
    // never announces itself waited for past --timeout.
    ASSERT_EQ(::chmod(QFile::encodeName(mine).constData(), 0644), 0);
    QProcess p;
    p.start(hostToolPath(), {"stop", "--to", "127.0.0.1", "--bind", "127.0.0.2", "--key", mine});
    ASSERT_TRUE(p.waitForFinished(tsupport::SLOW_MS));
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(p.readAllStandardError().contains("chmod 600"));
    p.start(hostToolPath(), {"stop", "--to", "127.0.0.77", "--bind", "127.0.0.2", "--key", theirs, "--timeout", "2"});
    ASSERT_TRUE(p.waitForFinished(tsupport::SLOW_MS));
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(p.readAllStandardError().contains("no announcement from 127.0.0.77 within 2 s")) << p.exitCode();

    host = new tsupport::UdpPeer(QHostAddress("127.0.0.2"), 55555);
    ASSERT_TRUE(host->ok());
}

// A terminal runs all week: thousands of forged, malformed and replayed
// datagrams leave its memory where it was. Each batch ends with a signed
// command whose line shows that everything before it has been read.
TEST_F(SignedCommandsTest, ThousandsOfRefusedDatagramsLeaveMemoryFlat)
{
    const QString nonce = latestNonce();
    const QByteArray forged = signedCmd(showOf(2, X_ADDR), 1, nonce, keyFrom(2));
    const QByteArray replayed = signedCmd(STOP, 1, nonce);
    send(replayed);
    int markers = terminal->countOutput("Show refused: ");
    auto round = [&] {
        for (int batch = 0; batch < 20; ++batch) {
            for (int i = 0; i < 50; ++i) {
                send(forged);
                send(replayed);
                send(R"({"cmd":"e30=","sig":"AA=="})");
            }
            send(signedCmd(showOf(2, ""), 1, nonce));
            ASSERT_TRUE(terminal->waitForCount("Show refused: ", ++markers, tsupport::SLOW_MS));
        }
    };
    round();  // the first one settles the allocator
    const qint64 before = rssKiB(terminal->pid());
    for (int i = 0; i < 5; ++i)
        round();
    const qint64 after = rssKiB(terminal->pid());
    ASSERT_GT(before, 0);
#if !defined(__SANITIZE_ADDRESS__)
    // (An AddressSanitizer build keeps freed memory in quarantine; its leak
    // check covers that build.)
    EXPECT_LT(after - before, 2048) << "RSS grew from " << before << " KiB to " << after << " KiB";
#endif
    EXPECT_TRUE(terminal->running());
}

// Declared last of the suite: the terminal's own announcements reach it
// once nothing else is bound to its host address.
TEST_F(SignedCommandsTest, ItsOwnAnnouncementIsNoCommand)
{
    viewSignedX();
    const int closed = px->count("closed");
    delete host;
    host = nullptr;
    EXPECT_TRUE(terminal->waitForOutput("Command ignored: not signed", tsupport::SLOW_MS));
    tsupport::pause(2500);  // two more of its announcements
    EXPECT_EQ(px->count("closed"), closed);
    EXPECT_TRUE(waitForColour(x->env(), RED, tsupport::SLOW_MS));
    host = new tsupport::UdpPeer(QHostAddress("127.0.0.2"), 55555);
}

// ------------------------------------------------------------------------
// Terminals of their own (run after the suite above has ended its terminal:
// two terminals in one namespace would share port 55555).

// tavlo-test-bindport copied where another user can run it.
class OtherUser {
public:
    OtherUser()
    {
        dir_.setAutoRemove(true);
        QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther |
                                               QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
        path_ = dir_.filePath("tavlo-test-bindport");
        ok_ = QFile::copy(tsupport::buildDir() + "/tavlo-test-bindport", path_);
    }
    bool ok() const { return ok_; }
    // The helper's arguments, run as nobody.
    QStringList args(const QStringList& helperArgs) const
    {
        return QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", path_} + helperArgs;
    }
    // Runs the helper as nobody to its end; its line.
    std::string bind(const QStringList& helperArgs) const
    {
        return tsupport::run("setpriv", args(helperArgs), QProcessEnvironment::systemEnvironment())
            .trimmed()
            .toStdString();
    }

private:
    QTemporaryDir dir_;
    QString path_;
    bool ok_ = false;
};

TEST(CommandPort, AnotherUserCannotBindItOnAnyAddressWhileTheTerminalHoldsIt)
{
    if (!isolatedNetwork() || geteuid() != 0)
        GTEST_SKIP() << "needs a private network namespace and root (to be another user)";
    OtherUser nobody;
    ASSERT_TRUE(nobody.ok());
    ASSERT_EQ(nobody.bind({"127.0.0.1", "55556", "reuseaddr"}), "bound");  // the helper works
    tsupport::XServer x;
    ASSERT_TRUE(x.ok());
    tsupport::TeamDir dir(teamBin(1, QString()));
    tsupport::Terminal terminal(dir.path(), x.env());
    ASSERT_TRUE(terminal.waitForOutput("SendTo: 127.0.0.2\n", tsupport::SLOW_MS));
    for (const char* address : {"127.0.0.1", "127.0.0.2", "0.0.0.0", "::1", "::"})
        for (const QStringList& options :
             {QStringList{}, QStringList{"reuseaddr"}, QStringList{"reuseport"}, QStringList{"reuseaddr", "reuseport"}})
            EXPECT_EQ(nobody.bind(QStringList{address, "55555"} + options), "refused: Address already in use")
                << address << " " << options.join(' ').toStdString();
    // Commands still reach the terminal.
    tsupport::UdpPeer commander(QHostAddress::LocalHost, 0);
    ASSERT_TRUE(commander.send(R"({"messageId":2,"groupId":2,"ip":""})", QHostAddress::LocalHost, 55555));
    EXPECT_TRUE(terminal.waitForOutput("Show refused: \"ip\" \"\" is empty\n", tsupport::SLOW_MS));
    // The same user's host tool shares the port on its own address.
    int code = -1;
    tsupport::run(hostToolPath(), {"listen", "--bind", "127.0.0.2", "--count", "1", "--timeout", "60"},
                  QProcessEnvironment::systemEnvironment(), tsupport::SLOW_MS * 2, &code);
    EXPECT_EQ(code, 0);
}

TEST(CommandPort, TakenAtStartItIsSaidAndTakenOnceFree)
{
    if (!isolatedNetwork() || geteuid() != 0)
        GTEST_SKIP() << "needs a private network namespace and root (to be another user)";
    OtherUser nobody;
    ASSERT_TRUE(nobody.ok());
    QProcess holder;
    holder.start("setpriv", nobody.args({"127.0.0.1", "55555", "reuseaddr", "hold"}));
    ASSERT_TRUE(holder.waitForReadyRead(tsupport::SLOW_MS));
    ASSERT_EQ(holder.readLine().trimmed(), "bound");
    tsupport::XServer x;
    ASSERT_TRUE(x.ok());
    tsupport::TeamDir dir(teamBin(1, QString()));
    tsupport::Terminal terminal(dir.path(), x.env());
    EXPECT_TRUE(terminal.waitForOutput("Classroom port 55555 is taken (Address already in use): no commands arrive "
                                       "until it is free\n",
                                       tsupport::SLOW_MS))
        << terminal.out().constData();
    ASSERT_TRUE(terminal.waitForOutput("SendTo: 127.0.0.2\n", tsupport::SLOW_MS));
    holder.kill();
    holder.waitForFinished(tsupport::SLOW_MS);
    EXPECT_TRUE(terminal.waitForOutput("Classroom port 55555 is free again: commands arrive\n", tsupport::SLOW_MS));
    tsupport::UdpPeer commander(QHostAddress::LocalHost, 0);
    ASSERT_TRUE(commander.send(R"({"messageId":2,"groupId":2,"ip":""})", QHostAddress::LocalHost, 55555));
    EXPECT_TRUE(terminal.waitForOutput("Show refused: \"ip\" \"\" is empty\n", tsupport::SLOW_MS));
}

TEST(TerminalWithoutKey, SaysCommandsAreNotAuthenticatedAndAnnouncesAsEver)
{
    if (!isolatedNetwork())
        GTEST_SKIP() << "needs a private network namespace";
    tsupport::XServer x;
    ASSERT_TRUE(x.ok());
    tsupport::UdpPeer host(QHostAddress("127.0.0.2"), 55555);
    ASSERT_TRUE(host.ok());
    tsupport::TeamDir dir(teamBin(12, QString()));
    tsupport::Terminal terminal(dir.path(), x.env());
    const std::optional<QByteArray> a = host.receive(tsupport::SLOW_MS);
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(*a, QByteArray(R"({ "messageId":0,"id":12, "livePort":5000,"systemType":1 })"));
    const QByteArray out = terminal.out();
    EXPECT_EQ(out.count("Commands are not authenticated"), 1) << out.constData();
    EXPECT_TRUE(out.startsWith("Commands are not authenticated: team.bin has no \"hostKey\"")) << out.constData();
}

TEST(HostToolKey, ArgumentsAndKeyFilesAreCheckedBeforeAnythingIsSent)
{
    struct Case {
        QStringList args;
        int status;
        const char* error;
    };
    QTemporaryDir dir;
    QFile junk(dir.filePath("junk.json"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("{}");
    junk.close();
    ASSERT_TRUE(junk.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
    const Case cases[] = {
        {{"stop", "--to", "127.0.0.1", "--timeout", "3"}, 2, "--timeout is for --key"},
        {{"stop", "--to", "127.0.0.1", "--key", dir.filePath("missing.json")}, 1, "cannot use the key: "},
        {{"show", "--to", "127.0.0.1", "--group", "0", "--key", junk.fileName()}, 1, "is not a classroom key file"},
        {{"stop", "--to", "127.0.0.1", "--key", junk.fileName(), "--timeout", "0"}, 2, "--timeout: '0' is not a number"},
    };
    for (const Case& c : cases) {
        QProcess p;
        p.start(hostToolPath(), c.args);
        ASSERT_TRUE(p.waitForFinished(tsupport::SLOW_MS));
        const QByteArray err = p.readAllStandardError();
        EXPECT_EQ(p.exitCode(), c.status) << c.args.join(' ').toStdString();
        EXPECT_TRUE(err.contains(c.error)) << c.args.join(' ').toStdString() << ": " << err.constData();
        EXPECT_TRUE(p.readAllStandardOutput().isEmpty()) << c.args.join(' ').toStdString();
    }
}

TEST(TerminalWithKey, AHostKeyThatIsNoKeyStopsTheStart)
{
    tsupport::XServer x;
    ASSERT_TRUE(x.ok());
    for (const QByteArray& bin : {QByteArray(R"({"roomIp": "127.0.0.2", "teamNum": 1, "hostKey": "not a key"})"),
                                  QByteArray(R"({"roomIp": "127.0.0.2", "teamNum": 1, "hostKey": []})")}) {
        tsupport::TeamDir dir(bin);
        tsupport::Terminal terminal(dir.path(), x.env());
        ASSERT_TRUE(terminal.waitForExit(tsupport::SLOW_MS));
        EXPECT_EQ(terminal.exitCode(), 1);
        EXPECT_TRUE(terminal.err().contains("Write Config File ERROR")) << terminal.err().constData();
        EXPECT_FALSE(terminal.out().contains("SendTo"));
    }
}

}  // namespace
