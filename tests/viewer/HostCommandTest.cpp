// What each datagram asks of a terminal, decided without a socket; and that
// what the console sends, a terminal accepts.
#include "ClassroomCommands.h"
#include "GroupTable.h"
#include "HostCommand.h"
#include "StreamAddress.h"

#include <gtest/gtest.h>

namespace {

using Action = HostCommand::Action;

const uint32_t TEAM = 3;
const QString ROOM = "192.168.7.170";
const char* const URL_X = "rtsp://10.0.0.12:5000/cam_passby_chn0";
const char* const URL_ROOM = "rtsp://192.168.7.170:5000/cam_passby_chn0";

struct Row {
    const char* datagram;
    Action action;
    const char* url;     // Show: the stream
    const char* reason;  // the reason, whole
    bool refused;
    const char* text = "";  // Lock: what the card says
    bool multicast = false;  // Show: by multicast first
};

const char* const LOOK = "请看老师";  // the card's text when the teacher typed none

TEST(HostCommandTest, EveryFormOfDatagramHasItsActionAndReason)
{
    const Row rows[] = {
        // Shows.
        {R"({"messageId":2,"groupId":4,"ip":"10.0.0.12"})", Action::Show, URL_X, "group 4 at 10.0.0.12", false},
        {R"({"messageId":2,"groupId":0})", Action::Show, URL_ROOM, "the host's screen at 192.168.7.170", false},
        {R"({"messageId":2})", Action::Show, URL_ROOM, "the host's screen at 192.168.7.170", false},
        {R"({"messageId":2,"groupId":0,"ip":"10.0.0.12"})", Action::Show, URL_ROOM,
         "the host's screen at 192.168.7.170", false},
        {R"({"messageId":2,"groupId":"4","ip":"10.0.0.12"})", Action::Show, URL_ROOM,  // "4" reads as 0
         "the host's screen at 192.168.7.170", false},
        {R"({"messageId":2.0,"groupId":4,"ip":"10.0.0.12","extra":[1]})", Action::Show, URL_X, "group 4 at 10.0.0.12",
         false},
        {R"({"messageId":2,"groupId":9,"ip":"fd00::2"})", Action::Show, "rtsp://[fd00::2]:5000/cam_passby_chn0",
         "group 9 at fd00::2", false},
        {R"({"messageId":2,"groupId":-1,"ip":"10.0.0.12"})", Action::Show, URL_X, "group -1 at 10.0.0.12", false},
        // By multicast first: only with the JSON value true.
        {R"({"messageId":2,"groupId":4,"ip":"10.0.0.12","multicast":true})", Action::Show, URL_X,
         "group 4 at 10.0.0.12", false, "", true},
        {R"({"messageId":2,"multicast":true})", Action::Show, URL_ROOM, "the host's screen at 192.168.7.170", false,
         "", true},
        {R"({"messageId":2,"groupId":4,"ip":"10.0.0.12","multicast":false})", Action::Show, URL_X,
         "group 4 at 10.0.0.12", false, "", false},
        {R"({"messageId":2,"groupId":4,"ip":"10.0.0.12","multicast":1})", Action::Show, URL_X,
         "group 4 at 10.0.0.12", false, "", false},
        {R"({"messageId":2,"groupId":4,"ip":"10.0.0.12","multicast":"true"})", Action::Show, URL_X,
         "group 4 at 10.0.0.12", false, "", false},
        {R"({"messageId":2,"groupId":4,"ip":"10.0.0.12","multicast":null})", Action::Show, URL_X,
         "group 4 at 10.0.0.12", false, "", false},
        {R"({"messageId":2,"groupId":4,"ip":"10.0.0.12","multicast":[true]})", Action::Show, URL_X,
         "group 4 at 10.0.0.12", false, "", false},
        // Stops.
        {R"({"messageId":1})", Action::Stop, "", "messageId 1", false},
        {R"({"messageId":1,"multicast":true})", Action::Stop, "", "messageId 1", false},
        {R"({"messageId":2,"groupId":3,"ip":"10.0.0.12","multicast":true})", Action::Stop, "",
         "the terminal's own group", false},
        {R"({"messageId":2,"groupId":4,"ip":"239.255.0.4","multicast":true})", Action::Stop, "",
         "\"ip\" \"239.255.0.4\" is not a unicast address", true},
        {R"({"messageId":0,"id":3,"livePort":5000})", Action::Stop, "", "messageId 0", false},  // an announcement
        {R"({"messageId":7,"groupId":4,"ip":"10.0.0.12"})", Action::Stop, "", "messageId 7", false},
        {R"({"messageId":"2","groupId":4,"ip":"10.0.0.12"})", Action::Stop, "", "messageId 0", false},
        {R"({"messageId":2.5})", Action::Stop, "", "messageId 0", false},
        {R"({"messageId":null})", Action::Stop, "", "messageId 0", false},
        {R"({"messageId":4294967298})", Action::Stop, "", "messageId 0", false},  // 2 modulo 2^32 is not 2
        {R"({"messageId":2,"groupId":3,"ip":"10.0.0.12"})", Action::Stop, "", "the terminal's own group", false},
        // Refused shows: a stop that says why.
        {R"({"messageId":2,"groupId":4})", Action::Stop, "", "\"ip\" is missing or not a string", true},
        {R"({"messageId":2,"groupId":4,"ip":167772172})", Action::Stop, "", "\"ip\" is missing or not a string", true},
        {R"({"messageId":2,"groupId":4,"ip":""})", Action::Stop, "", "\"ip\" \"\" is empty", true},
        {R"({"messageId":2,"groupId":4,"ip":"10.0.0.12:2222/x"})", Action::Stop, "",
         "\"ip\" \"10.0.0.12:2222/x\" is not a literal IPv4 or IPv6 address", true},
        {R"({"messageId":2,"groupId":4,"ip":"127.1"})", Action::Stop, "",
         "\"ip\" \"127.1\" is not a literal IPv4 or IPv6 address", true},
        {R"({"messageId":2,"groupId":4,"ip":"10.0.0.12\r\nX: 1"})", Action::Stop, "",
         "\"ip\" \"10.0.0.12\\r\\nX: 1\" is not a literal IPv4 or IPv6 address", true},
        {R"({"messageId":2,"groupId":4,"ip":"0.0.0.0"})", Action::Stop, "", "\"ip\" \"0.0.0.0\" is the unspecified address",
         true},
        {R"({"messageId":2,"groupId":4,"ip":"239.1.2.3"})", Action::Stop, "", "\"ip\" \"239.1.2.3\" is not a unicast address",
         true},
        // Lock and unlock: the card's text cleaned, the default without one.
        {R"({"messageId":16})", Action::Lock, "", "messageId 16", false, LOOK},
        {R"({"messageId":16,"text":"Eyes to the front"})", Action::Lock, "", "messageId 16", false,
         "Eyes to the front"},
        {R"({"messageId":16,"text":"  two\nlines\u0007\tand   tabs "})", Action::Lock, "", "messageId 16", false,
         "two lines and tabs"},
        {R"({"messageId":16,"text":"\u2028 \r\n"})", Action::Lock, "", "messageId 16", false, LOOK},
        {R"({"messageId":16,"text":42})", Action::Lock, "", "messageId 16", false, LOOK},
        {R"({"messageId":16,"text":null,"groupId":4,"ip":"10.0.0.12"})", Action::Lock, "", "messageId 16", false, LOOK},
        {R"({"messageId":16.0,"text":"看黑板"})", Action::Lock, "", "messageId 16", false, "看黑板"},
        {R"({"messageId":"16"})", Action::Stop, "", "messageId 0", false},
        {R"({"messageId":17})", Action::Unlock, "", "messageId 17", false},
        {R"({"messageId":17,"text":"ignored"})", Action::Unlock, "", "messageId 17", false},
        {R"({"messageId":18})", Action::Stop, "", "messageId 18", false},
        // Not commands.
        {"not json", Action::Ignore, "", "not a JSON object", false},
        {"", Action::Ignore, "", "not a JSON object", false},
        {"[2]", Action::Ignore, "", "not a JSON object", false},
        {R"("messageId")", Action::Ignore, "", "not a JSON object", false},
        {R"({"groupId":4,"ip":"10.0.0.12"})", Action::Ignore, "", "no \"messageId\"", false},
    };
    for (const Row& r : rows) {
        const HostCommand c = HostCommand::decode(QByteArray(r.datagram), TEAM, ROOM);
        EXPECT_EQ(c.action, r.action) << r.datagram;
        EXPECT_EQ(c.url.toStdString(), r.url) << r.datagram;
        EXPECT_EQ(c.reason.toStdString(), r.reason) << r.datagram;
        EXPECT_EQ(c.refused, r.refused) << r.datagram;
        EXPECT_EQ(c.text.toStdString(), r.text) << r.datagram;
        EXPECT_EQ(c.multicast, r.multicast) << r.datagram;
    }
}

// A lock's text: at most 200 characters, cut between whole characters.
TEST(HostCommandTest, ALongLockTextIsCutWhole)
{
    const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80");
    const QByteArray lock = R"({"messageId":16,"text":")" + ("a" + smile.repeated(150)).toUtf8() + R"("})";
    const HostCommand c = HostCommand::decode(lock, TEAM, ROOM);
    EXPECT_EQ(c.action, Action::Lock);
    EXPECT_EQ(c.text.toStdString(), ("a" + smile.repeated(99)).toStdString());
    const HostCommand plain = HostCommand::decode(R"({"messageId":16,"text":")" + QByteArray(300, 'x') + R"("})",
                                                  TEAM, ROOM);
    EXPECT_EQ(plain.text, QString(200, 'x'));
}

TEST(HostCommandTest, TheHostsScreenFollowsTheConfiguredAddressAndItsRule)
{
    EXPECT_EQ(HostCommand::decode(R"({"messageId":2})", TEAM, "::1").url, "rtsp://[::1]:5000/cam_passby_chn0");
    const HostCommand c = HostCommand::decode(R"({"messageId":2,"groupId":0})", TEAM, "10.0.0.5:5000/x#");
    EXPECT_EQ(c.action, Action::Stop);
    EXPECT_TRUE(c.refused);
    EXPECT_EQ(c.reason, "\"roomIp\" \"10.0.0.5:5000/x#\" is not a literal IPv4 or IPv6 address");
    // A terminal of group 0 (no such configuration is read: QSysConfig)
    // would stop on the host's own screen.
    EXPECT_EQ(HostCommand::decode(R"({"messageId":2,"groupId":0})", 0, ROOM).action, Action::Stop);
    // The group compares as 32 bits: -1 is 4294967295.
    EXPECT_EQ(HostCommand::decode(R"({"messageId":2,"groupId":-1,"ip":"10.0.0.12"})", 4294967295u, ROOM).action,
              Action::Stop);
}

// Whatever group address a console has seen, it either sends a show that a
// terminal obeys, pulling that very address, or sends nothing and says why.
TEST(HostCommandTest, WhatTheConsoleSendsTheTerminalAccepts)
{
    QHostAddress scoped("fe80::7");
    scoped.setScopeId("eth0");
    const QHostAddress announced[] = {QHostAddress("10.0.0.12"), QHostAddress("192.168.7.23"), QHostAddress("fd00::2"),
                                      QHostAddress("2001:db8::1:0:0:1"), QHostAddress("::ffff:10.1.2.3"), scoped,
                                      QHostAddress("FD00:0:0:0:0:0:0:9")};
    int sent = 0;
    for (const QHostAddress& a : announced) {
        GroupTable table;
        table.announce(1, QHostAddress("10.9.9.1"), 5000, 0);  // the group told
        table.announce(4, a, 5000, 0);                         // the group shown
        QString error;
        const auto commands = ClassroomCommands::show(table, 1, 4, 100, &error);
        const auto expected = StreamAddress::parse(a.toString());
        if (!expected) {
            EXPECT_TRUE(commands.empty()) << a.toString().toStdString();
            EXPECT_FALSE(error.isEmpty()) << a.toString().toStdString();
            continue;
        }
        ASSERT_EQ(commands.size(), 1u) << a.toString().toStdString() << ": " << error.toStdString();
        const HostCommand c = HostCommand::decode(commands[0].payload, 1, ROOM);
        EXPECT_EQ(c.action, Action::Show) << commands[0].payload.constData() << ": " << c.reason.toStdString();
        EXPECT_EQ(c.url, StreamAddress::url(*expected)) << commands[0].payload.constData();
        ++sent;
    }
    EXPECT_EQ(sent, 6);  // all but the scoped address
    // The teacher's screen and the stop.
    EXPECT_EQ(HostCommand::decode(ClassroomCommands::showTeacherPayload(), 1, ROOM).url, URL_ROOM);
    EXPECT_FALSE(HostCommand::decode(ClassroomCommands::showTeacherPayload(), 1, ROOM).multicast);
    EXPECT_EQ(HostCommand::decode(ClassroomCommands::stopPayload(), 1, ROOM).action, Action::Stop);
    // The lock with the teacher's text or without, and the unlock.
    const HostCommand lock = HostCommand::decode(ClassroomCommands::lockPayload(QString::fromUtf8(" 看前面 ")), 1, ROOM);
    EXPECT_EQ(lock.action, Action::Lock);
    EXPECT_EQ(lock.text, QString::fromUtf8("看前面"));
    EXPECT_EQ(HostCommand::decode(ClassroomCommands::lockPayload(QString()), 1, ROOM).text, QString::fromUtf8(LOOK));
    EXPECT_EQ(HostCommand::decode(ClassroomCommands::unlockPayload(), 1, ROOM).action, Action::Unlock);
}

// A show to all goes by multicast first, a show to one group as before;
// either way the terminal shows the same stream.
TEST(HostCommandTest, TheConsolesShowToAllAsksForMulticast)
{
    GroupTable table;
    table.announce(1, QHostAddress("10.9.9.1"), 5000, 0);
    table.announce(4, QHostAddress("10.0.0.12"), 5000, 0);
    for (int source : {0, 4}) {
        const auto all = ClassroomCommands::showToAll(table, source, 100);
        ASSERT_FALSE(all.empty()) << source;
        const auto one = ClassroomCommands::show(table, 1, source, 100);
        ASSERT_EQ(one.size(), 1u) << source;
        const HostCommand fromAll = HostCommand::decode(all[0].payload, 1, ROOM);
        const HostCommand fromOne = HostCommand::decode(one[0].payload, 1, ROOM);
        EXPECT_EQ(fromAll.action, Action::Show) << all[0].payload.constData();
        EXPECT_TRUE(fromAll.multicast) << all[0].payload.constData();
        EXPECT_FALSE(fromOne.multicast) << one[0].payload.constData();
        EXPECT_EQ(fromAll.url, fromOne.url);
    }
}

}  // namespace
