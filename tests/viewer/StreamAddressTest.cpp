// The check every stream address passes before the viewer gets it.
#include "StreamAddress.h"

#include <gtest/gtest.h>

namespace {

TEST(StreamAddressTest, LiteralAddressesBecomeTheStreamUrl)
{
    const struct {
        const char* text;
        const char* url;
    } cases[] = {
        {"192.168.7.170", "rtsp://192.168.7.170:5000/cam_passby_chn0"},
        {"127.0.0.1", "rtsp://127.0.0.1:5000/cam_passby_chn0"},
        {"::1", "rtsp://[::1]:5000/cam_passby_chn0"},
        {"FD00:0213:0000::0002", "rtsp://[fd00:213::2]:5000/cam_passby_chn0"},
        {"::ffff:10.1.2.3", "rtsp://10.1.2.3:5000/cam_passby_chn0"},  // IPv4 mapped into IPv6
    };
    for (const auto& c : cases) {
        QString why;
        const auto a = StreamAddress::parse(c.text, &why);
        ASSERT_TRUE(a.has_value()) << c.text << ": " << why.toStdString();
        EXPECT_EQ(StreamAddress::url(*a).toStdString(), c.url);
    }
}

TEST(StreamAddressTest, EverythingElseIsRefusedWithAReason)
{
    const struct {
        QString text;
        const char* why;
    } cases[] = {
        {"", "is empty"},
        {"127.0.0.1:2222", "is not a literal IPv4 or IPv6 address"},
        {"127.0.0.1/x", "is not a literal IPv4 or IPv6 address"},
        {"127.0.0.1\r\nX: 1", "is not a literal IPv4 or IPv6 address"},
        {"127.0.0.1\n", "is not a literal IPv4 or IPv6 address"},  // QHostAddress would trim it
        {" 127.0.0.1", "is not a literal IPv4 or IPv6 address"},
        {"localhost", "is not a literal IPv4 or IPv6 address"},
        {"user@127.0.0.1", "is not a literal IPv4 or IPv6 address"},
        {"[::1]", "is not a literal IPv4 or IPv6 address"},
        {"fe80::1%lo", "is not a literal IPv4 or IPv6 address"},
        {"127.1", "is not a literal IPv4 or IPv6 address"},
        {"010.0.0.1", "is not a literal IPv4 or IPv6 address"},  // octal to QHostAddress
        {"1.2.3.256", "is not a literal IPv4 or IPv6 address"},
        {"1:2:3:4:5:6:7:8:9", "is not a literal IPv4 or IPv6 address"},
        {QString(50, '1'), "is not a literal IPv4 or IPv6 address"},
        {QString::fromUtf8("１２７.0.0.1"), "is not a literal IPv4 or IPv6 address"},  // full-width digits
        {"0.0.0.0", "is the unspecified address"},
        {"::", "is the unspecified address"},
        {"::ffff:0.0.0.0", "is the unspecified address"},
        {"224.0.0.1", "is not a unicast address"},
        {"ff02::1", "is not a unicast address"},
        {"255.255.255.255", "is not a unicast address"},
    };
    for (const auto& c : cases) {
        QString why;
        EXPECT_FALSE(StreamAddress::parse(c.text, &why).has_value()) << c.text.toStdString();
        EXPECT_EQ(why.toStdString(), c.why) << c.text.toStdString();
    }
}

// An address to bind to: the same literal forms, every address allowed.
TEST(StreamAddressTest, AddressesToBindToHaveTheSameForms)
{
    for (const char* text : {"0.0.0.0", "::", "127.0.0.3", "fd00::1", "224.0.0.1"})
        EXPECT_TRUE(StreamAddress::parseLiteral(text).has_value()) << text;
    EXPECT_EQ(StreamAddress::parseLiteral("::ffff:127.0.0.3")->toString(), "127.0.0.3");
    for (const char* text : {"", "127.1", "010.0.0.1", "localhost", "[::1]", "127.0.0.1:55555", " 0.0.0.0"}) {
        QString why;
        EXPECT_FALSE(StreamAddress::parseLiteral(text, &why).has_value()) << text;
        EXPECT_FALSE(why.isEmpty()) << text;
    }
}

TEST(StreamAddressTest, QuotedTextStaysOnOneLine)
{
    EXPECT_EQ(StreamAddress::quoted("1.2.3.4:5/x").toStdString(), "\"1.2.3.4:5/x\"");
    EXPECT_EQ(StreamAddress::quoted("a\r\nb\t\"c\\").toStdString(), "\"a\\r\\nb\\u0009\\\"c\\\\\"");
    EXPECT_EQ(StreamAddress::quoted(QString::fromUtf8("é")).toStdString(), "\"\\u00e9\"");
    const QString quoted = StreamAddress::quoted(QString(200, 'a'));
    EXPECT_EQ(quoted, "\"" + QString(64, 'a') + "\"...");
}

}  // namespace
