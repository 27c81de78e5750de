// The console's logic without a network: the group table (order, ageing,
// numbers pinned to their first address, conflicts, its bounds, what each
// group shows), the commands it yields and their datagrams, and the reading
// of announcements.
#include "ClassroomCommands.h"
#include "ClassroomLink.h"
#include "Classroom.h"
#include "Envelope.h"
#include "GroupNames.h"
#include "GroupTable.h"
#include "StreamPuller.h"

#include <QFile>
#include <QTemporaryDir>

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <set>

namespace {

const QHostAddress A("10.0.0.11"), B("10.0.0.12"), C("10.0.0.13");
using Outcome = GroupTable::Outcome;

QJsonObject json(const QByteArray& payload)
{
    return QJsonDocument::fromJson(payload).object();
}

TEST(GroupTable, ListsGroupsByNumberWithAddressPortAndAge)
{
    GroupTable t;
    EXPECT_EQ(t.announce(7, A, 5000, 1000), Outcome::Appeared);
    EXPECT_EQ(t.announce(2, B, 5002, 1500), Outcome::Appeared);
    EXPECT_EQ(t.announce(10, C, 5000, 1800), Outcome::Appeared);
    EXPECT_EQ(t.announce(7, A, 5001, 2000), Outcome::Known);  // nothing new, the port follows
    const auto rows = t.rows(4500);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].group, 2);
    EXPECT_EQ(rows[1].group, 7);
    EXPECT_EQ(rows[2].group, 10);  // by number, not by text
    EXPECT_EQ(rows[1].address, A);
    EXPECT_EQ(rows[1].livePort, 5001);
    EXPECT_EQ(rows[1].ageMs, 2500);
    EXPECT_EQ(rows[0].ageMs, 3000);
    for (const auto& r : rows) {
        EXPECT_FALSE(r.gone);
        EXPECT_FALSE(r.conflict.has_value());
        EXPECT_TRUE(r.nonce.isEmpty());
        EXPECT_FALSE(r.showing.has_value());
    }
}

TEST(GroupTable, SilentFiveSecondsIsGoneThenForgottenAndComesBack)
{
    GroupTable t;
    t.announce(1, A, 5000, 0);
    EXPECT_FALSE(t.rows(4999)[0].gone);
    EXPECT_TRUE(t.rows(5000)[0].gone);
    EXPECT_FALSE(t.current(1, 5000).has_value());
    // Back after being gone: reported as new.
    EXPECT_EQ(t.announce(1, A, 5000, 9000), Outcome::Appeared);
    EXPECT_FALSE(t.rows(9000)[0].gone);
    // Forgotten after a minute of silence.
    EXPECT_EQ(t.rows(9000 + GroupTable::FORGET_MS - 1).size(), 1u);
    EXPECT_TRUE(t.rows(9000 + GroupTable::FORGET_MS).empty());
    t.forgetOld(9000 + GroupTable::FORGET_MS);
    EXPECT_EQ(t.announce(1, A, 5000, 9000 + GroupTable::FORGET_MS), Outcome::Appeared);
}

TEST(GroupTable, AgeNeverRunsBackwards)
{
    GroupTable t;
    t.announce(1, A, 5000, 8000);
    t.announce(1, A, 5000, 7000);  // handled late, stamped earlier
    EXPECT_EQ(t.rows(9000)[0].ageMs, 1000);
    EXPECT_EQ(t.rows(7500)[0].ageMs, 0);  // a clock read before the stamp: no negative age
}

TEST(GroupTable, ANumberStaysWithItsFirstAddressAnotherIsOnlyAConflict)
{
    GroupTable t;
    const QString nonce = Envelope::newNonce();
    EXPECT_EQ(t.announce(3, A, 5000, 0, nonce), Outcome::Appeared);
    EXPECT_EQ(t.announce(4, C, 5000, 0), Outcome::Appeared);
    // B announces 3 ten times a second, and more recently than A.
    for (qint64 ms = 100; ms <= 3000; ms += 100)
        EXPECT_EQ(t.announce(3, B, 6000, ms, Envelope::newNonce()), Outcome::Conflict);
    t.announce(3, A, 5000, 1000, nonce);
    auto rows = t.rows(3000);
    ASSERT_EQ(rows.size(), 2u);  // no row of B's
    EXPECT_EQ(rows[0].address, A);
    EXPECT_EQ(rows[0].livePort, 5000);
    EXPECT_EQ(rows[0].nonce, nonce);  // B's never replace A's
    EXPECT_EQ(rows[0].conflict, std::optional<QHostAddress>(B));
    EXPECT_FALSE(rows[1].conflict.has_value());
    EXPECT_EQ(t.current(3, 3000)->address, A);
    // The flag lasts while B keeps on, and fades GONE_MS after its last.
    t.announce(3, A, 5000, 7000, nonce);
    EXPECT_TRUE(t.rows(7000)[0].conflict.has_value());
    t.announce(3, A, 5000, 8000, nonce);
    EXPECT_FALSE(t.rows(8000)[0].conflict.has_value());
}

TEST(GroupTable, ANumberMovesOnlyOnceItsAddressHasBeenSilentFiveSeconds)
{
    GroupTable t;
    t.announce(3, A, 5000, 0);
    t.setShowing(3, 0);
    EXPECT_EQ(t.announce(3, B, 5000, GroupTable::GONE_MS - 1), Outcome::Conflict);
    EXPECT_EQ(t.announce(3, B, 5002, GroupTable::GONE_MS), Outcome::Appeared);
    const auto rows = t.rows(GroupTable::GONE_MS);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].address, B);
    EXPECT_EQ(rows[0].livePort, 5002);
    EXPECT_FALSE(rows[0].gone);
    EXPECT_FALSE(rows[0].conflict.has_value());
    EXPECT_FALSE(rows[0].showing.has_value());  // told to A, not to B
    // Now A is the other address.
    EXPECT_EQ(t.announce(3, A, 5000, GroupTable::GONE_MS + 10), Outcome::Conflict);
}

TEST(GroupTable, OneRowPerAddress)
{
    GroupTable t;
    QString why;
    t.announce(1, A, 5000, 0);
    EXPECT_EQ(t.announce(2, A, 5000, 100, QString(), &why), Outcome::Dropped);
    EXPECT_EQ(why, "10.0.0.11 already announces group 1");
    ASSERT_EQ(t.rows(100).size(), 1u);
    // A terminal started again with another number takes it once its old
    // row has gone.
    EXPECT_EQ(t.announce(2, A, 5000, GroupTable::GONE_MS), Outcome::Appeared);
    const auto rows = t.rows(GroupTable::GONE_MS);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].group, 2);
}

TEST(GroupTable, AtMostSixtyFourGroupsWhateverAFloodMakesUp)
{
    GroupTable t;
    t.announce(1, A, 5000, 0);
    t.announce(2, B, 5000, 0);
    // 5,000 made-up numbers from 250 made-up addresses.
    int dropped = 0;
    for (int n = 0; n < 5000; ++n) {
        const QHostAddress from(QString("10.9.%1.%2").arg(n % 250 / 200).arg(n % 250 % 200 + 1));
        QString why;
        if (t.announce(100 + n, from, 5000, 10, QString(), &why) == Outcome::Dropped) {
            ++dropped;
            EXPECT_FALSE(why.isEmpty());
        }
    }
    auto rows = t.rows(10);
    EXPECT_EQ(static_cast<int>(rows.size()), GroupTable::MAX_GROUPS);
    EXPECT_EQ(dropped, 5000 - (GroupTable::MAX_GROUPS - 2));
    std::set<QString> addresses;
    for (const GroupRow& r : rows)
        EXPECT_TRUE(addresses.insert(r.address.toString()).second)
            << "two rows for " << r.address.toString().toStdString();
    // The real groups keep their rows and their addresses.
    EXPECT_EQ(t.current(1, 10)->address, A);
    EXPECT_EQ(t.current(2, 10)->address, B);
    QString why;
    EXPECT_EQ(t.announce(3, C, 5000, 20, QString(), &why), Outcome::Dropped);
    EXPECT_EQ(why, "the list is full (64 groups)");
    // Room comes from the group silent longest, once it is gone; present
    // groups are never pushed out.
    t.announce(1, A, 5000, GroupTable::GONE_MS + 5);
    t.announce(2, B, 5000, GroupTable::GONE_MS + 5);
    EXPECT_EQ(t.announce(3, C, 5000, GroupTable::GONE_MS + 10), Outcome::Appeared);
    EXPECT_EQ(static_cast<int>(t.rows(GroupTable::GONE_MS + 10).size()), GroupTable::MAX_GROUPS);
    EXPECT_TRUE(t.current(1, GroupTable::GONE_MS + 10).has_value());
    EXPECT_TRUE(t.current(3, GroupTable::GONE_MS + 10).has_value());
}

TEST(GroupTable, RemembersWhatEachGroupShows)
{
    GroupTable t;
    t.announce(1, A, 5000, 0);
    t.setShowing(1, 0);
    EXPECT_EQ(t.rows(0)[0].showing, std::optional<int>(0));
    t.setShowing(1, 4);
    EXPECT_EQ(t.showing(1), std::optional<int>(4));
    t.setShowing(1, std::nullopt);
    EXPECT_FALSE(t.rows(0)[0].showing.has_value());
}

TEST(ClassroomCommands, PayloadsAreTheTerminalsJson)
{
    EXPECT_EQ(ClassroomCommands::showTeacherPayload(), QByteArray(R"({"groupId":0,"messageId":2})"));
    const QJsonObject show = json(ClassroomCommands::showGroupPayload(12, A));
    EXPECT_EQ(show.value("messageId").toInt(), 2);
    EXPECT_EQ(show.value("groupId").toInt(), 12);
    EXPECT_EQ(show.value("ip").toString(), "10.0.0.11");
    EXPECT_EQ(ClassroomCommands::stopPayload(), QByteArray(R"({"messageId":1})"));
}

class CommandsOnTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        t.announce(1, A, 5000, 0);
        t.announce(2, B, 5000, 0);
        t.announce(3, C, 5000, 0);
        t.announce(9, QHostAddress("10.0.0.99"), 5000, -10000);  // gone
    }
    GroupTable t;
};

TEST_F(CommandsOnTable, ShowGroupToAllSkipsItselfAndTheGone)
{
    const auto cmds = ClassroomCommands::showToAll(t, 2, 100);
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(cmds[0].group, 1);
    EXPECT_EQ(cmds[0].to, A);
    EXPECT_EQ(cmds[1].group, 3);
    EXPECT_EQ(cmds[1].to, C);
    for (const Command& c : cmds) {
        EXPECT_EQ(c.payload, ClassroomCommands::multicastFirst(ClassroomCommands::showGroupPayload(2, B)));
        EXPECT_EQ(c.showing, std::optional<int>(2));
    }
}

TEST_F(CommandsOnTable, TeacherToAllAndStopAllReachEveryPresentGroup)
{
    const auto teacher = ClassroomCommands::showToAll(t, 0, 100);
    ASSERT_EQ(teacher.size(), 3u);
    for (const Command& c : teacher) {
        EXPECT_EQ(c.payload, ClassroomCommands::multicastFirst(ClassroomCommands::showTeacherPayload()));
        EXPECT_EQ(c.showing, std::optional<int>(0));
    }
    const auto stops = ClassroomCommands::stopAll(t, 100);
    ASSERT_EQ(stops.size(), 3u);
    for (const Command& c : stops) {
        EXPECT_EQ(c.payload, ClassroomCommands::stopPayload());
        EXPECT_FALSE(c.showing.has_value());
    }
}

TEST_F(CommandsOnTable, PerGroupCommandsAndTheirRefusals)
{
    QString error;
    auto cmds = ClassroomCommands::show(t, 3, 1, 100, &error);
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].to, C);
    EXPECT_EQ(json(cmds[0].payload).value("ip").toString(), "10.0.0.11");

    // Its own screen: the terminal would stop, and the console says so.
    cmds = ClassroomCommands::show(t, 3, 3, 100);
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].payload, ClassroomCommands::stopPayload());
    EXPECT_FALSE(cmds[0].showing.has_value());

    EXPECT_TRUE(ClassroomCommands::show(t, 9, 1, 100, &error).empty());  // gone target
    EXPECT_TRUE(error.contains("group 9 is not present"));
    EXPECT_TRUE(ClassroomCommands::show(t, 1, 9, 100, &error).empty());  // gone source
    EXPECT_TRUE(ClassroomCommands::showToAll(t, 5, 100, &error).empty());  // unknown source
    EXPECT_TRUE(error.contains("group 5"));
    EXPECT_TRUE(ClassroomCommands::stop(t, 9, 100, &error).empty());

    // The terminal writes the address into an rtsp:// URL by its own rule:
    // IPv6 goes, an address with a scope does not and is not sent.
    t.announce(6, QHostAddress("fd00::6"), 5000, 0);
    cmds = ClassroomCommands::show(t, 1, 6, 100, &error);
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(json(cmds[0].payload).value("ip").toString(), "fd00::6");
    QHostAddress scoped("fe80::6");
    scoped.setScopeId("eth0");
    t.announce(8, scoped, 5000, 0);
    EXPECT_TRUE(ClassroomCommands::show(t, 1, 8, 100, &error).empty());
    EXPECT_TRUE(error.contains("group 8's address fe80::6%eth0 is not a literal IPv4 or IPv6 address"))
        << error.toStdString();
}

TEST_F(CommandsOnTable, AConflictingAddressIsNeverCommandedNorShown)
{
    EXPECT_EQ(t.announce(3, QHostAddress("10.0.0.33"), 5000, 50), Outcome::Conflict);
    const auto cmds = ClassroomCommands::stop(t, 3, 100);
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].to, C);
    // Showing group 3 uses its pinned address.
    const auto shows = ClassroomCommands::show(t, 1, 3, 100);
    ASSERT_EQ(shows.size(), 1u);
    EXPECT_EQ(json(shows[0].payload).value("ip").toString(), "10.0.0.13");
}

TEST_F(CommandsOnTable, EachGroupsCommandIsSignedUnderItsOwnNonce)
{
    std::array<unsigned char, 32> seed;
    seed.fill(9);
    const ClassroomKey key = ClassroomKey::fromSeed(seed);
    const QString n1 = Envelope::newNonce(), n3 = Envelope::newNonce();
    t.announce(1, A, 5000, 50, n1);
    t.announce(3, C, 5000, 50, n3);  // group 2 announces no nonce
    const auto cmds = ClassroomCommands::showToAll(t, 0, 100);
    ASSERT_EQ(cmds.size(), 3u);
    EXPECT_EQ(cmds[0].nonce, n1);
    EXPECT_TRUE(cmds[1].nonce.isEmpty());
    EXPECT_EQ(cmds[2].nonce, n3);

    // The plain one goes as it is, with or without a key.
    const QByteArray teacher = ClassroomCommands::multicastFirst(ClassroomCommands::showTeacherPayload());
    EXPECT_EQ(ClassroomCommands::datagram(cmds[1], &key, 7), teacher);
    EXPECT_EQ(ClassroomCommands::datagram(cmds[1], nullptr, 7), teacher);
    // A signed one opens with the key to the command, addressed to its group.
    for (int i : {0, 2}) {
        const auto d = ClassroomCommands::datagram(cmds[static_cast<size_t>(i)], &key, 40 + i);
        ASSERT_TRUE(d.has_value());
        const Envelope::Opened o = Envelope::open(*d, {key.publicKey()});
        ASSERT_EQ(o.status, Envelope::Status::Signed);
        const QJsonObject inner = json(o.command);
        EXPECT_EQ(inner.value("messageId").toInt(), 2);
        EXPECT_EQ(inner.value("groupId").toInt(-1), 0);
        EXPECT_EQ(inner.value("to").toInt(), cmds[static_cast<size_t>(i)].group);
        EXPECT_EQ(inner.value("nonce").toString(), cmds[static_cast<size_t>(i)].nonce);
        EXPECT_EQ(inner.value("seq").toDouble(), 40 + i);
    }
    // Without a key a terminal that wants a signature gets nothing.
    EXPECT_FALSE(ClassroomCommands::datagram(cmds[0], nullptr, 7).has_value());
}

TEST(ClassroomCommands, LockAndUnlockPayloads)
{
    EXPECT_EQ(ClassroomCommands::lockPayload(QString()), QByteArray(R"({"messageId":16})"));
    EXPECT_EQ(ClassroomCommands::lockPayload("   "), QByteArray(R"({"messageId":16})"));
    EXPECT_EQ(ClassroomCommands::unlockPayload(), QByteArray(R"({"messageId":17})"));
    const QJsonObject lock = json(ClassroomCommands::lockPayload(QString::fromUtf8("  眼睛看前面 \"<b>\" ")));
    EXPECT_EQ(lock.value("messageId").toInt(), 16);
    EXPECT_EQ(lock.value("text").toString(), QString::fromUtf8("眼睛看前面 \"<b>\""));  // as typed, trimmed
    // A text longer than a card takes is cut, never refused.
    const QJsonObject cut = json(ClassroomCommands::lockPayload(QString(500, QChar(0x8001))));
    EXPECT_EQ(cut.value("text").toString().size(), Classroom::LOCK_TEXT_MAX);
    // Characters beyond the first plane are cut whole.
    const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80");
    const QJsonObject cutWhole = json(ClassroomCommands::lockPayload("a" + smile.repeated(150)));
    EXPECT_EQ(cutWhole.value("text").toString().toStdString(), ("a" + smile.repeated(99)).toStdString());
}

TEST_F(CommandsOnTable, ASelectionGetsItsCommandsAndTheGoneAreLeftOut)
{
    QString error;
    // Group 2's screen on 1, 2 and 9: 1 shows it, 2 is told to stop (not to
    // show itself), 9 is gone.
    auto cmds = ClassroomCommands::showToGroups(t, {9, 2, 1, 1}, 2, 100, &error);
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(cmds[0].group, 1);
    EXPECT_EQ(cmds[0].kind, Command::Kind::Show);
    EXPECT_EQ(cmds[0].payload, ClassroomCommands::showGroupPayload(2, B));
    EXPECT_EQ(cmds[1].group, 2);
    EXPECT_EQ(cmds[1].kind, Command::Kind::Stop);
    EXPECT_EQ(cmds[1].payload, ClassroomCommands::stopPayload());
    // A source that is gone sends nothing to anybody.
    EXPECT_TRUE(ClassroomCommands::showToGroups(t, {1, 3}, 9, 100, &error).empty());
    EXPECT_TRUE(error.contains("group 9 is not present")) << error.toStdString();
    // Only gone or unknown targets: nothing, and why.
    EXPECT_TRUE(ClassroomCommands::showToGroups(t, {9, 40}, 0, 100, &error).empty());
    EXPECT_EQ(error, "no group is present");
    EXPECT_TRUE(ClassroomCommands::stopGroups(t, {9}, 100, &error).empty());
    EXPECT_EQ(error, "group 9 is not present");

    cmds = ClassroomCommands::stopGroups(t, {3, 1}, 100);
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(cmds[0].to, A);
    EXPECT_EQ(cmds[1].to, C);

    // Lock a selection with a text, unlock every present group.
    cmds = ClassroomCommands::lock(t, {3, 9}, "Pens down", 100);
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].kind, Command::Kind::Lock);
    EXPECT_EQ(cmds[0].payload, QByteArray(R"({"messageId":16,"text":"Pens down"})"));
    cmds = ClassroomCommands::unlock(t, {}, 100);
    ASSERT_EQ(cmds.size(), 3u);
    for (const Command& c : cmds) {
        EXPECT_EQ(c.kind, Command::Kind::Unlock);
        EXPECT_EQ(c.payload, ClassroomCommands::unlockPayload());
    }
    EXPECT_EQ(ClassroomCommands::lock(t, {}, QString(), 100).size(), 3u);
}

TEST(GroupTable, RemembersWhichGroupsAreLockedBesideWhatTheyShow)
{
    GroupTable t;
    t.announce(1, A, 5000, 0);
    t.announce(2, B, 5000, 0);
    t.setShowing(1, 2);
    t.setLocked(1, true);
    EXPECT_TRUE(t.rows(0)[0].locked);
    EXPECT_EQ(t.rows(0)[0].showing, std::optional<int>(2));  // a lock keeps the show
    EXPECT_FALSE(t.rows(0)[1].locked);
    t.setLocked(1, false);
    EXPECT_FALSE(t.current(1, 0)->locked);
    t.setLocked(7, true);  // unknown: nothing
    EXPECT_EQ(t.rows(0).size(), 2u);
}

TEST(GroupNames, KeptByNumberInTheConsolesFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("tavlo/console.conf");
    {
        GroupNames names(path);
        EXPECT_TRUE(names.all().empty());
        EXPECT_TRUE(names.setName(3, QString::fromUtf8("  窗边\n第一排\t ")));
        EXPECT_TRUE(names.setName(12, "Blue table"));
        EXPECT_TRUE(names.setName(4, "gone soon"));
        EXPECT_TRUE(names.setName(4, "   "));  // no name any more
        EXPECT_EQ(names.name(3), QString::fromUtf8("窗边 第一排"));
        EXPECT_EQ(names.name(4), QString());
    }
    // Read back by a later console.
    GroupNames later(path);
    EXPECT_EQ(later.all().size(), 2u);
    EXPECT_EQ(later.name(3), QString::fromUtf8("窗边 第一排"));
    EXPECT_EQ(later.name(12), "Blue table");
    EXPECT_EQ(GroupNames::clean(QString(100, 'x')).size(), GroupNames::MAX_LENGTH);

    // A file edited by hand: keys that are no group number and empty names
    // are left out.
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("x=not a group\n-2=negative\n5=\n");
    f.close();
    GroupNames edited(path);
    EXPECT_EQ(edited.all().size(), 2u);

    // Where nothing can be written: the reason, and the name for this run.
    GroupNames unwritable("/proc/tavlo-console.conf");
    QString error;
    EXPECT_FALSE(unwritable.setName(1, "Front", &error));
    EXPECT_EQ(error, "cannot write /proc/tavlo-console.conf");
    EXPECT_EQ(unwritable.name(1), "Front");
}

TEST(StreamPuller, PicturesKeepTheirAspectInTheirBox)
{
    EXPECT_EQ(StreamPuller::fit(QSize(1920, 1080), QSize(240, 135)), QSize(240, 135));
    EXPECT_EQ(StreamPuller::fit(QSize(480, 360), QSize(240, 135)), QSize(180, 135));  // 4:3
    EXPECT_EQ(StreamPuller::fit(QSize(480, 854), QSize(240, 135)), QSize(76, 135));   // upright
    EXPECT_EQ(StreamPuller::fit(QSize(2560, 1080), QSize(240, 135)), QSize(240, 101));  // wide
    EXPECT_EQ(StreamPuller::fit(QSize(480, 270), QSize(1000, 1000)), QSize(1000, 563));  // up to a large window
    EXPECT_EQ(StreamPuller::fit(QSize(0, 0), QSize(240, 135)), QSize(1, 1));
    EXPECT_EQ(StreamPuller::fit(QSize(10000, 1), QSize(240, 135)), QSize(240, 1));
}

TEST(ClassroomLink, ReadsAnnouncementsAsTheTerminalWritesThem)
{
    const auto a = ClassroomLink::parse(R"({ "messageId":0,"id":4, "livePort":5000,"systemType":1 })");
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->group, 4);
    EXPECT_EQ(a->livePort, 5000);
    for (const char* bad : {
             R"({"messageId":2,"id":4,"livePort":5000})",   // a command, not an announcement
             R"({"messageId":0,"id":0,"livePort":5000})",   // group 0 is the teacher
             R"({"messageId":0,"id":-3,"livePort":5000})",
             R"({"messageId":0,"id":4.5,"livePort":5000})",
             R"({"messageId":0,"id":"4","livePort":5000})",
             R"({"messageId":0,"id":4,"livePort":0})",
             R"({"messageId":0,"id":4,"livePort":65536})",
             R"({"messageId":0,"id":4})",
             R"({"messageId":0,"id":2147483648,"livePort":5000})",
             R"([0,4,5000])",
             "not json",
         })
        EXPECT_FALSE(ClassroomLink::parse(bad).has_value()) << bad;
}

}  // namespace
