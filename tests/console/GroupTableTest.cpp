// The console's logic without a network: the group table (order, ageing,
// duplicate numbers, what each group shows), the commands it yields, and the
// reading of announcements.
#include "ClassroomCommands.h"
#include "ClassroomLink.h"
#include "GroupTable.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

namespace {

const QHostAddress A("10.0.0.11"), B("10.0.0.12"), C("10.0.0.13");

QJsonObject json(const QByteArray& payload)
{
    return QJsonDocument::fromJson(payload).object();
}

TEST(GroupTable, ListsGroupsByNumberWithAddressPortAndAge)
{
    GroupTable t;
    EXPECT_TRUE(t.announce(7, A, 5000, 1000));
    EXPECT_TRUE(t.announce(2, B, 5002, 1500));
    EXPECT_TRUE(t.announce(10, C, 5000, 1800));
    EXPECT_FALSE(t.announce(7, A, 5001, 2000));  // known: nothing new, the port follows
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
        EXPECT_FALSE(r.duplicate);
        EXPECT_FALSE(r.showing.has_value());
    }
}

TEST(GroupTable, SilentFiveSecondsIsGoneThenForgottenAndComesBack)
{
    GroupTable t;
    t.announce(1, A, 5000, 0);
    EXPECT_FALSE(t.rows(4999)[0].gone);
    EXPECT_TRUE(t.rows(5000)[0].gone);
    EXPECT_TRUE(t.addressesOf(1, 5000).empty());
    EXPECT_FALSE(t.current(1, 5000).has_value());
    // Back after being gone: reported as new.
    EXPECT_TRUE(t.announce(1, A, 5000, 9000));
    EXPECT_FALSE(t.rows(9000)[0].gone);
    // Forgotten after a minute of silence.
    EXPECT_EQ(t.rows(9000 + GroupTable::FORGET_MS - 1).size(), 1u);
    EXPECT_TRUE(t.rows(9000 + GroupTable::FORGET_MS).empty());
    t.forgetOld(9000 + GroupTable::FORGET_MS);
    EXPECT_TRUE(t.announce(1, A, 5000, 9000 + GroupTable::FORGET_MS));
}

TEST(GroupTable, AgeNeverRunsBackwards)
{
    GroupTable t;
    t.announce(1, A, 5000, 8000);
    t.announce(1, A, 5000, 7000);  // handled late, stamped earlier
    EXPECT_EQ(t.rows(9000)[0].ageMs, 1000);
    EXPECT_EQ(t.rows(7500)[0].ageMs, 0);  // a clock read before the stamp: no negative age
}

TEST(GroupTable, OneNumberFromTwoPresentAddressesIsFlagged)
{
    GroupTable t;
    t.announce(3, A, 5000, 0);
    t.announce(3, B, 5000, 1000);
    t.announce(4, C, 5000, 1000);
    auto rows = t.rows(2000);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_TRUE(rows[0].duplicate);
    EXPECT_TRUE(rows[1].duplicate);
    EXPECT_FALSE(rows[2].duplicate);
    // The most recent announcer first.
    ASSERT_EQ(t.addressesOf(3, 2000).size(), 2u);
    EXPECT_EQ(t.addressesOf(3, 2000)[0], B);
    EXPECT_EQ(t.current(3, 2000)->address, B);
    // Once A is gone, B alone holds the number: no flag on either.
    rows = t.rows(5500);
    EXPECT_TRUE(rows[0].gone);
    EXPECT_FALSE(rows[0].duplicate);
    EXPECT_FALSE(rows[1].duplicate);
    EXPECT_EQ(t.addressesOf(3, 5500), std::vector<QHostAddress>{B});
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
        EXPECT_EQ(c.payload, ClassroomCommands::showGroupPayload(2, B));
        EXPECT_EQ(c.showing, std::optional<int>(2));
    }
}

TEST_F(CommandsOnTable, TeacherToAllAndStopAllReachEveryPresentGroup)
{
    const auto teacher = ClassroomCommands::showToAll(t, 0, 100);
    ASSERT_EQ(teacher.size(), 3u);
    for (const Command& c : teacher) {
        EXPECT_EQ(c.payload, ClassroomCommands::showTeacherPayload());
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

TEST_F(CommandsOnTable, DuplicateNumberIsToldAtBothAddresses)
{
    t.announce(3, QHostAddress("10.0.0.33"), 5000, 50);
    const auto cmds = ClassroomCommands::stop(t, 3, 100);
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_NE(cmds[0].to, cmds[1].to);
    // Showing group 3 uses the address that announced it last.
    const auto shows = ClassroomCommands::show(t, 1, 3, 100);
    ASSERT_EQ(shows.size(), 1u);
    EXPECT_EQ(json(shows[0].payload).value("ip").toString(), "10.0.0.33");
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
