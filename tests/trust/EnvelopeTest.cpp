// The signing pieces without a network: the classroom key and its file,
// public keys as team.bin writes them, the envelope, announcements with a
// nonce, and the line throttle.
#include "Announcement.h"
#include "ClassroomKey.h"
#include "Envelope.h"
#include "LineThrottle.h"
#include "Sodium.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

ClassroomKey keyFrom(unsigned char fill)
{
    std::array<unsigned char, 32> seed;
    seed.fill(fill);
    return ClassroomKey::fromSeed(seed);
}

QJsonObject object(const QByteArray& json)
{
    return QJsonDocument::fromJson(json).object();
}

int modeOf(const QString& path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? static_cast<int>(st.st_mode & 0777) : -1;
}

void writeFile(const QString& path, const QByteArray& bytes, int mode = 0600)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    f.close();
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(mode)), 0);
}

TEST(Base64, OnlyTheCanonicalFormIsRead)
{
    EXPECT_EQ(Sodium::toBase64("hello"), "aGVsbG8=");
    EXPECT_EQ(Sodium::fromBase64("aGVsbG8=", 16), QByteArray("hello"));
    EXPECT_EQ(Sodium::fromBase64("", 16), QByteArray());
    for (const char* bad : {"aGVsbG8", "aGVsbG8==", " aGVsbG8=", "aGVsbG8=\n", "aGVs bG8=", "aGVsbG9=", "aGVsbG8-",
                            "aGVsbG8_", "a\xc3\xa9VsbG8="})
        EXPECT_FALSE(Sodium::fromBase64(QString::fromUtf8(bad), 16).has_value()) << bad;
    // More bytes than allowed.
    EXPECT_FALSE(Sodium::fromBase64("aGVsbG8=", 4).has_value());
}

TEST(PublicKey, ParsesTheBase64OfAValidKeyOnly)
{
    const ClassroomKey k = keyFrom(7);
    const QString text = k.publicKey().base64();
    EXPECT_EQ(text.size(), 44);
    const auto parsed = PublicKey::parse(text);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(*parsed, k.publicKey());

    QString why;
    EXPECT_FALSE(PublicKey::parse(text.left(43), &why));  // no padding
    EXPECT_EQ(why, "is not 32 bytes in standard base64");
    EXPECT_FALSE(PublicKey::parse(Sodium::toBase64(QByteArray(31, 'a')), &why));  // 31 bytes
    EXPECT_FALSE(PublicKey::parse(Sodium::toBase64(QByteArray(33, 'a')), &why));  // 33 bytes
    EXPECT_FALSE(PublicKey::parse(QString(), &why));
    // 32 bytes, but no point of the curve, or one of small order.
    QByteArray identity(32, '\0');
    identity[0] = 1;
    EXPECT_FALSE(PublicKey::parse(Sodium::toBase64(identity), &why));
    EXPECT_EQ(why, "is not an Ed25519 public key");
    EXPECT_FALSE(PublicKey::parse(Sodium::toBase64(QByteArray(32, '\0')), &why));
}

TEST(PublicKey, FingerprintIsShortStableAndTellsKeysApart)
{
    const QString a = keyFrom(1).publicKey().fingerprint();
    EXPECT_EQ(a, keyFrom(1).publicKey().fingerprint());
    EXPECT_NE(a, keyFrom(2).publicKey().fingerprint());
    EXPECT_TRUE(QRegExp("[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}").exactMatch(a)) << a.toStdString();
}

TEST(ClassroomKey, FileRoundTripsPrivatelyAndRefusesWhatIsNotAKeyPair)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("sub/folder/key.json");
    const ClassroomKey k = ClassroomKey::generate();
    QString error;
    ASSERT_TRUE(k.save(path, &error)) << error.toStdString();
    EXPECT_EQ(modeOf(path), 0600);
    EXPECT_EQ(modeOf(dir.filePath("sub/folder")), 0700);
    const auto back = ClassroomKey::load(path, true, &error);
    ASSERT_TRUE(back.has_value()) << error.toStdString();
    EXPECT_EQ(back->publicKey(), k.publicKey());
    EXPECT_EQ(back->sign("x"), k.sign("x"));  // the same secret half
    // No temporary file is left beside it.
    EXPECT_EQ(QDir(dir.filePath("sub/folder")).entryList(QDir::Files), QStringList{"key.json"});

    // Others may read it: refused where a private file is required, read
    // where the teacher hands one over (an import).
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0644), 0);
    EXPECT_FALSE(ClassroomKey::load(path, true, &error).has_value());
    EXPECT_TRUE(error.contains("chmod 600")) << error.toStdString();
    EXPECT_TRUE(ClassroomKey::load(path, false, &error).has_value());

    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QJsonObject good = QJsonDocument::fromJson(f.readAll()).object();
    f.close();
    EXPECT_EQ(good.value("type").toString(), "tavlo-classroom-key");
    EXPECT_EQ(good.value("publicKey").toString(), k.publicKey().base64());

    struct Case {
        const char* what;
        QByteArray bytes;
    };
    QJsonObject otherPublic = good;
    otherPublic.insert("publicKey", keyFrom(3).publicKey().base64());
    QJsonObject noType = good;
    noType.remove("type");
    QJsonObject shortSeed = good;
    shortSeed.insert("secretKey", Sodium::toBase64(QByteArray(31, 'x')));
    const Case cases[] = {
        {"halves that disagree", QJsonDocument(otherPublic).toJson()},
        {"no type", QJsonDocument(noType).toJson()},
        {"a short seed", QJsonDocument(shortSeed).toJson()},
        {"not JSON", "secret"},
        {"empty", ""},
        {"too large", QByteArray(ClassroomKey::MAX_FILE_BYTES + 1, ' ')},
    };
    for (const Case& c : cases) {
        writeFile(path, c.bytes);
        EXPECT_FALSE(ClassroomKey::load(path, true, &error).has_value()) << c.what;
        EXPECT_TRUE(error.startsWith(path + ": ")) << c.what << ": " << error.toStdString();
    }
    EXPECT_FALSE(ClassroomKey::load(dir.path(), false, &error).has_value());  // a folder
    EXPECT_FALSE(ClassroomKey::load(dir.filePath("missing"), false, &error).has_value());
    // A symbolic link as the last part of the path is not followed.
    ASSERT_TRUE(k.save(dir.filePath("real.json"), &error));
    ASSERT_TRUE(QFile::link(dir.filePath("real.json"), dir.filePath("link.json")));
    EXPECT_FALSE(ClassroomKey::load(dir.filePath("link.json"), false, &error).has_value());
}

TEST(ClassroomKey, LoadOrCreateMakesOneKeyAndKeepsIt)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("tavlo/classroom-key.json");
    bool created = false;
    QString error;
    const auto first = ClassroomKey::loadOrCreate(path, &created, &error);
    ASSERT_TRUE(first.has_value()) << error.toStdString();
    EXPECT_TRUE(created);
    const auto second = ClassroomKey::loadOrCreate(path, &created, &error);
    ASSERT_TRUE(second.has_value());
    EXPECT_FALSE(created);
    EXPECT_EQ(second->publicKey(), first->publicKey());
    // A damaged key file is never replaced by a new key: the school's
    // terminals trust the old one.
    writeFile(path, "{}");
    EXPECT_FALSE(ClassroomKey::loadOrCreate(path, &created, &error).has_value());
    EXPECT_FALSE(created);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("{}"));
}

class EnvelopeTest : public ::testing::Test {
protected:
    const ClassroomKey teacher = keyFrom(1);
    const ClassroomKey other = keyFrom(2);
    const std::vector<PublicKey> trusted{teacher.publicKey()};
    const QByteArray command = Envelope::address(QJsonObject{{"messageId", 2}, {"groupId", 0}}, 3, "bm9uY2U=", 17);
};

TEST_F(EnvelopeTest, AddressingAddsToNonceAndSeqToAnyCommand)
{
    const QJsonObject o = object(command);
    EXPECT_EQ(o.value("messageId").toInt(), 2);
    EXPECT_EQ(o.value("groupId").toInt(-1), 0);
    EXPECT_EQ(o.value("to").toInt(), 3);
    EXPECT_EQ(o.value("nonce").toString(), "bm9uY2U=");
    EXPECT_EQ(o.value("seq").toDouble(), 17);
    // Keys of those names in the command are replaced, never doubled.
    const QByteArray again = Envelope::address(QJsonObject{{"to", 9}, {"seq", 1}, {"lock", true}}, 4, "x", 5);
    EXPECT_EQ(again, QByteArray(R"({"lock":true,"nonce":"x","seq":5,"to":4})"));
    // The largest seq survives JSON exactly.
    EXPECT_EQ(object(Envelope::address({}, 1, "x", Envelope::MAX_SEQ)).value("seq").toDouble(),
              static_cast<double>(Envelope::MAX_SEQ));
}

TEST_F(EnvelopeTest, ASealedCommandOpensToExactlyItsBytes)
{
    const QByteArray datagram = Envelope::seal(command, teacher);
    const QJsonObject env = object(datagram);
    EXPECT_EQ(env.size(), 2);
    EXPECT_EQ(Sodium::fromBase64(env.value("cmd").toString(), 4096), command);
    EXPECT_EQ(Sodium::fromBase64(env.value("sig").toString(), 64)->size(), 64);
    const Envelope::Opened o = Envelope::open(datagram, trusted);
    EXPECT_EQ(o.status, Envelope::Status::Signed);
    EXPECT_EQ(o.command, command);
    // Any of several trusted keys will do.
    const Envelope::Opened o2 =
        Envelope::open(Envelope::seal(command, other), {teacher.publicKey(), other.publicKey()});
    EXPECT_EQ(o2.status, Envelope::Status::Signed);
    // White space around the envelope's members changes nothing signed.
    const QByteArray spaced = "{ \"sig\" : \"" + env.value("sig").toString().toLatin1() + "\" ,\n \"cmd\":\"" +
                              env.value("cmd").toString().toLatin1() + "\" }";
    EXPECT_EQ(Envelope::open(spaced, trusted).command, command);
}

TEST_F(EnvelopeTest, EveryOtherFormIsRefusedWithItsReason)
{
    const QByteArray good = Envelope::seal(command, teacher);
    const QJsonObject env = object(good);
    const QString cmd = env.value("cmd").toString(), sig = env.value("sig").toString();
    auto with = [&](const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); };
    // One changed base64 character, still canonical base64.
    auto flip = [](QString s, int at) {
        s[at] = s[at] == 'A' ? QChar('B') : QChar('A');
        return s;
    };
    struct Case {
        QByteArray datagram;
        Envelope::Status status;
        const char* why;
    };
    const char* const NOT_TWO = "malformed envelope: it must hold exactly \"cmd\" and \"sig\"";
    const Case cases[] = {
        {R"({"messageId":2,"groupId":0})", Envelope::Status::NotSigned, "not signed"},
        {"{}", Envelope::Status::NotSigned, "not signed"},
        {"", Envelope::Status::Malformed, "malformed envelope: not a JSON object"},
        {"[1,2]", Envelope::Status::Malformed, "malformed envelope: not a JSON object"},
        {good.left(good.size() - 1), Envelope::Status::Malformed, "malformed envelope: not a JSON object"},
        {with({{"cmd", cmd}}), Envelope::Status::Malformed, NOT_TWO},
        {with({{"sig", sig}}), Envelope::Status::Malformed, NOT_TWO},
        {with({{"cmd", cmd}, {"sig", sig}, {"to", 3}}), Envelope::Status::Malformed, NOT_TWO},
        {with({{"cmd", 5}, {"sig", sig}}), Envelope::Status::Malformed,
         "malformed envelope: \"cmd\" and \"sig\" must be strings"},
        {with({{"cmd", cmd}, {"sig", QJsonValue()}}), Envelope::Status::Malformed,
         "malformed envelope: \"cmd\" and \"sig\" must be strings"},
        {with({{"cmd", cmd + "="}, {"sig", sig}}), Envelope::Status::Malformed,
         "malformed envelope: \"cmd\" is not standard base64"},
        {with({{"cmd", cmd}, {"sig", sig.left(40) + "=="}}), Envelope::Status::Malformed,
         "malformed envelope: \"sig\" is not 64 bytes in standard base64"},
        {with({{"cmd", cmd}, {"sig", cmd}}), Envelope::Status::Malformed,
         "malformed envelope: \"sig\" is not 64 bytes in standard base64"},
        {with({{"cmd", flip(cmd, 10)}, {"sig", sig}}), Envelope::Status::BadSignature, "bad signature"},
        {with({{"cmd", cmd}, {"sig", flip(sig, 10)}}), Envelope::Status::BadSignature, "bad signature"},
        {Envelope::seal(command, other), Envelope::Status::BadSignature, "bad signature"},
        {QByteArray(Envelope::MAX_DATAGRAM_BYTES + 1, ' '), Envelope::Status::Malformed,
         "malformed envelope: longer than 8192 bytes"},
    };
    for (const Case& c : cases) {
        const Envelope::Opened o = Envelope::open(c.datagram, trusted);
        EXPECT_EQ(o.status, c.status) << c.datagram.constData();
        EXPECT_EQ(o.why, c.why) << c.datagram.constData();
        EXPECT_TRUE(o.command.isEmpty()) << c.datagram.constData();
    }
    // Without any trusted key nothing is signed.
    EXPECT_EQ(Envelope::open(good, {}).status, Envelope::Status::BadSignature);
}

TEST(EnvelopeNonceAndSeq, NoncesAreRandomAndOfOneFormSeqsRise)
{
    const QString a = Envelope::newNonce(), b = Envelope::newNonce();
    EXPECT_NE(a, b);
    EXPECT_EQ(a.size(), 24);
    EXPECT_TRUE(Envelope::isNonce(a));
    EXPECT_FALSE(Envelope::isNonce(a.left(22)));
    EXPECT_FALSE(Envelope::isNonce(Sodium::toBase64(QByteArray(17, 'n'))));
    EXPECT_FALSE(Envelope::isNonce(""));
    // Above the last, whatever the clock says, and never past 2^53.
    const qint64 s1 = Envelope::nextSeq(0);
    EXPECT_GT(s1, 1500000000000000);  // microseconds of the wall clock
    EXPECT_GT(Envelope::nextSeq(s1), s1);
    const qint64 ahead = s1 + 3600LL * 1000000;
    EXPECT_EQ(Envelope::nextSeq(ahead), ahead + 1);
    EXPECT_EQ(Envelope::nextSeq(Envelope::MAX_SEQ), Envelope::MAX_SEQ);
}

TEST(AnnouncementParse, ReadsTheNonceOfATerminalThatTrustsAKey)
{
    const QString nonce = Envelope::newNonce();
    const auto a = Announcement::parse(
        QString(R"({ "messageId":0,"id":4, "livePort":5000,"systemType":1,"nonce":"%1" })").arg(nonce).toUtf8());
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->group, 4);
    EXPECT_EQ(a->nonce, nonce);
    const auto plain = Announcement::parse(R"({ "messageId":0,"id":4, "livePort":5000,"systemType":1 })");
    ASSERT_TRUE(plain.has_value());
    EXPECT_TRUE(plain->nonce.isEmpty());
    for (const char* bad : {R"({"messageId":0,"id":4,"livePort":5000,"nonce":5})",
                            R"({"messageId":0,"id":4,"livePort":5000,"nonce":"short"})",
                            R"({"messageId":0,"id":4,"livePort":5000,"nonce":""})"})
        EXPECT_FALSE(Announcement::parse(bad).has_value()) << bad;
}

TEST(LineThrottle, OneLineAnIntervalAndTheCountOfTheRest)
{
    LineThrottle t(1000);
    int64_t more = -1;
    EXPECT_TRUE(t.allow(5000, &more));
    EXPECT_EQ(more, 0);
    EXPECT_FALSE(t.allow(5001, &more));
    EXPECT_FALSE(t.allow(5999, &more));
    EXPECT_TRUE(t.allow(6000, &more));
    EXPECT_EQ(more, 2);
    EXPECT_TRUE(t.allow(9000, &more));
    EXPECT_EQ(more, 0);
    // The first event always prints, whatever the clock's epoch.
    LineThrottle fresh;
    EXPECT_TRUE(fresh.allow(0, &more));
}

}  // namespace
