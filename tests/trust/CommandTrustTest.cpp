// The terminal's trust state without a network or a clock: which datagrams
// it lets through to the command road, its nonce's life, the seq under each
// nonce, and the throttled "Command ignored:" lines.
#include "CommandTrust.h"
#include "Envelope.h"
#include "ViewerSupport.h"

#include <QJsonObject>
#include <gtest/gtest.h>

namespace {

const QJsonObject STOP{{"messageId", 1}};
const QJsonObject SHOW{{"messageId", 2}, {"groupId", 3}, {"ip", "10.0.0.3"}};

ClassroomKey keyFrom(unsigned char fill)
{
    std::array<unsigned char, 32> seed;
    seed.fill(fill);
    return ClassroomKey::fromSeed(seed);
}

class CommandTrustTest : public ::testing::Test {
protected:
    const ClassroomKey teacher = keyFrom(1);
    const ClassroomKey secondTeacher = keyFrom(2);
    const ClassroomKey student = keyFrom(3);
    static constexpr int64_t T0 = 1000000;
    CommandTrust trust{{teacher.publicKey(), secondTeacher.publicKey()}, 7, T0};

    QByteArray signedFor(const QJsonObject& cmd, int to, const QString& nonce, int64_t seq,
                         const ClassroomKey* key = nullptr)
    {
        return Envelope::seal(Envelope::address(cmd, to, nonce, seq), key ? *key : teacher);
    }
    QString why(const QByteArray& datagram, int64_t nowMs = T0)
    {
        const CommandTrust::Verdict v = trust.check(datagram, nowMs);
        EXPECT_FALSE(v.command.has_value()) << datagram.constData();
        return v.why;
    }
};

TEST_F(CommandTrustTest, ObeysASignedCommandForItsGroupUnderItsNonce)
{
    const QString nonce = trust.nonce(T0);
    ASSERT_TRUE(Envelope::isNonce(nonce));
    const QByteArray inner = Envelope::address(SHOW, 7, nonce, 10);
    const CommandTrust::Verdict v = trust.check(Envelope::seal(inner, teacher), T0);
    ASSERT_TRUE(v.command.has_value()) << v.why.toStdString();
    EXPECT_EQ(*v.command, inner);  // the signed bytes, for the command road to decode
    // The other trusted key works too, with a higher seq.
    EXPECT_TRUE(trust.check(signedFor(STOP, 7, nonce, 11, &secondTeacher), T0).command.has_value());
}

TEST_F(CommandTrustTest, IgnoresEveryOtherDatagramAndSaysWhy)
{
    const QString nonce = trust.nonce(T0);
    EXPECT_EQ(why(R"({"messageId":1})"), "not signed");
    EXPECT_EQ(why("junk"), "malformed envelope: not a JSON object");
    EXPECT_EQ(why(signedFor(STOP, 7, nonce, 1, &student)), "bad signature");
    EXPECT_EQ(why(signedFor(STOP, 8, nonce, 1)), "for group 8, not for this group 7");
    EXPECT_EQ(why(signedFor(STOP, 7, Envelope::newNonce(), 1)),
              "old or unknown nonce (a replay, or a command for an earlier start)");
    EXPECT_EQ(why(Envelope::seal(R"({"messageId":1,"nonce":"x","seq":1})", teacher)),
              "signed command has no \"to\" group");
    EXPECT_EQ(why(Envelope::seal(R"({"messageId":1,"to":7,"seq":1})", teacher)), "signed command has no \"nonce\"");
    EXPECT_EQ(why(Envelope::seal(R"([1])", teacher)), "signed command is not a JSON object");
    for (const char* seq : {"0", "-1", "1.5", "\"5\"", "null", "9007199254740994", "1e300"}) {
        const QByteArray inner = QString(R"({"messageId":1,"to":7,"nonce":"%1","seq":%2})").arg(nonce, seq).toUtf8();
        EXPECT_EQ(why(Envelope::seal(inner, teacher)), "signed command has no \"seq\" from 1 to 2^53") << seq;
    }
    // "to" is read as the configuration reads numbers.
    EXPECT_EQ(why(Envelope::seal(QString(R"({"to":"7","nonce":"%1","seq":3})").arg(nonce).toUtf8(), teacher)),
              "signed command has no \"to\" group");
}

TEST_F(CommandTrustTest, EachSeqOnceAndOnlyRising)
{
    const QString nonce = trust.nonce(T0);
    const QByteArray first = signedFor(STOP, 7, nonce, 100);
    EXPECT_TRUE(trust.check(first, T0).command.has_value());
    EXPECT_EQ(why(first), "seq 100 is not above 100, the last accepted (a replay)");
    EXPECT_EQ(why(signedFor(SHOW, 7, nonce, 99)), "seq 99 is not above 100, the last accepted (a replay)");
    EXPECT_TRUE(trust.check(signedFor(SHOW, 7, nonce, 101), T0).command.has_value());
    EXPECT_TRUE(trust.check(signedFor(SHOW, 7, nonce, Envelope::MAX_SEQ), T0).command.has_value());
    EXPECT_FALSE(trust.check(signedFor(SHOW, 7, nonce, Envelope::MAX_SEQ), T0).command.has_value());
}

TEST_F(CommandTrustTest, NonceIsRenewedEveryTenMinutesThePreviousKeptAFewSeconds)
{
    const QString n1 = trust.nonce(T0);
    EXPECT_EQ(trust.nonce(T0 + CommandTrust::NONCE_LIFETIME_MS - 1), n1);
    const QByteArray underN1 = signedFor(STOP, 7, n1, 5);
    const QByteArray underN1Again = signedFor(STOP, 7, n1, 6);
    EXPECT_TRUE(trust.check(signedFor(STOP, 7, n1, 4), T0).command.has_value());

    const int64_t renewed = T0 + CommandTrust::NONCE_LIFETIME_MS;
    const QString n2 = trust.nonce(renewed);
    EXPECT_NE(n2, n1);
    // The previous nonce, just after the change: still good, with its own seqs.
    EXPECT_TRUE(trust.check(underN1, renewed + 10).command.has_value());
    EXPECT_FALSE(trust.check(underN1, renewed + 20).command.has_value());
    EXPECT_TRUE(trust.check(signedFor(STOP, 7, n2, 1), renewed + 30).command.has_value());
    // Past its few seconds: gone for good.
    EXPECT_EQ(why(underN1Again, renewed + CommandTrust::PREVIOUS_NONCE_MS),
              "old or unknown nonce (a replay, or a command for an earlier start)");
    // A command checked when the nonce is due is judged by the new nonce,
    // even before an announcement carried it.
    const int64_t due = renewed + CommandTrust::NONCE_LIFETIME_MS;
    EXPECT_TRUE(trust.check(signedFor(STOP, 7, n2, 2), due).command.has_value());  // n2 is now the previous
    EXPECT_NE(trust.nonce(due), n2);
}

TEST_F(CommandTrustTest, EveryStartHasANonceOfItsOwn)
{
    CommandTrust again({teacher.publicKey()}, 7, T0);
    EXPECT_NE(again.nonce(T0), trust.nonce(T0));
    // A command for the earlier start is ignored by this one.
    EXPECT_FALSE(again.check(signedFor(STOP, 7, trust.nonce(T0), 1), T0).command.has_value());
}

TEST(CommandTrustWithoutKeys, PassesEverythingAsItCameAndAnnouncesNoNonce)
{
    CommandTrust trust({}, 7, 0);
    EXPECT_FALSE(trust.enabled());
    EXPECT_TRUE(trust.nonce(0).isEmpty());
    for (const QByteArray& d : {QByteArray(R"({"messageId":1})"), QByteArray("junk"), QByteArray()})
        EXPECT_EQ(trust.check(d, 0).command, std::optional<QByteArray>(d));
    EXPECT_TRUE(trust.startLine().startsWith("Commands are not authenticated")) << trust.startLine().toStdString();
}

TEST_F(CommandTrustTest, StartLineNamesTheKeysFingerprints)
{
    const QString line = trust.startLine();
    EXPECT_TRUE(line.contains(teacher.publicKey().fingerprint())) << line.toStdString();
    EXPECT_TRUE(line.contains(secondTeacher.publicKey().fingerprint())) << line.toStdString();
}

TEST_F(CommandTrustTest, IgnoredLinesAreOneASecondWithTheCountOfTheRest)
{
    const QString nonce = trust.nonce(T0);
    vsupport::StdoutCapture out;
    EXPECT_FALSE(trust.admit(R"({"messageId":1})", T0).has_value());
    EXPECT_FALSE(trust.admit("junk", T0 + 100).has_value());
    EXPECT_FALSE(trust.admit("junk", T0 + 999).has_value());
    // An obeyed command prints nothing and does not count.
    EXPECT_TRUE(trust.admit(signedFor(STOP, 7, nonce, 1), T0 + 999).has_value());
    EXPECT_FALSE(trust.admit(signedFor(STOP, 8, nonce, 2), T0 + 1000).has_value());
    EXPECT_FALSE(trust.admit(signedFor(STOP, 7, nonce, 1), T0 + 5000).has_value());
    EXPECT_EQ(out.text(),
              QByteArray("Command ignored: not signed\n"
                         "Command ignored: for group 8, not for this group 7 (and 2 more since the last line)\n"
                         "Command ignored: seq 1 is not above 1, the last accepted (a replay)\n"));
}

}  // namespace
