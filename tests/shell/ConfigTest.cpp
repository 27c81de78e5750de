// The configuration store read in-process: every content case, the default
// file and the failures.
#include "QSysConfig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray DEFAULT_FILE = "{\n    \"roomIp\": \"192.168.7.170\",\n    \"teamNum\": 2\n}\n";

struct Loaded {
    QString roomIp;
    uint32_t teamNum = 12345;
    std::vector<QString> hostKeys;  // base64
};

Loaded load(const QByteArray& content)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("team.bin");
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
    f.close();
    QSysConfig cfg(nullptr, path);
    EXPECT_EQ(cfg.fileName, path);
    Loaded l{cfg.RoomIp, cfg.TeamNum, {}};
    for (const PublicKey& k : cfg.HostKeys)
        l.hostKeys.push_back(k.base64());
    return l;
}

std::string errorOf(const QString& path)
{
    try {
        QSysConfig cfg(nullptr, path);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace

TEST(Config, ReadsBothValues)
{
    Loaded l = load(R"({"roomIp": "10.0.0.5", "teamNum": 7})");
    EXPECT_EQ(l.roomIp, "10.0.0.5");
    EXPECT_EQ(l.teamNum, 7u);
    // Extra keys are ignored, key order does not matter.
    l = load(R"({"teamNum": 12, "school": "x", "roomIp": "127.0.0.2", "nested": {"teamNum": 3}})");
    EXPECT_EQ(l.roomIp, "127.0.0.2");
    EXPECT_EQ(l.teamNum, 12u);
}

TEST(Config, ARoomIpOfAnotherTypeReadsAsEmpty)
{
    EXPECT_EQ(load(R"({"roomIp": 1234, "teamNum": 3})").roomIp, QString());
    EXPECT_EQ(load(R"({"roomIp": ["127.0.0.2"], "teamNum": 3})").roomIp, QString());
    const Loaded missing = load(R"({"teamNum": 3})");
    EXPECT_EQ(missing.roomIp, QString());
    EXPECT_EQ(missing.teamNum, 3u);
    EXPECT_EQ(load(R"({"roomIp": "127.0.0.2", "teamNum": 2147483647})").teamNum, 2147483647u);
}

// A group number that cannot be is a read failure, not group 0 (the host's
// number): such a terminal would take "show the host" for its own group.
TEST(Config, AGroupNumberThatCannotBeIsAReadFailure)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("team.bin");
    for (const QByteArray& text : {
             QByteArray(R"({"roomIp": "127.0.0.2"})"),                         // missing
             QByteArray(R"({"roomIp": "127.0.0.2", "teamNum": "7"})"),         // a string
             QByteArray(R"({"roomIp": "127.0.0.2", "teamNum": 7.5})"),         // a fraction
             QByteArray(R"({"roomIp": "127.0.0.2", "teamNum": null})"),        // null
             QByteArray(R"({"roomIp": "127.0.0.2", "teamNum": true})"),        // a boolean
             QByteArray(R"({"roomIp": "127.0.0.2", "teamNum": [7]})"),         // an array
             QByteArray(R"({"roomIp": "127.0.0.2", "teamNum": 0})"),           // the host's number
             QByteArray(R"({"roomIp": "127.0.0.2", "teamNum": -1})"),          // negative
             QByteArray(R"({"roomIp": "127.0.0.2", "teamNum": -2147483648})"),
             QByteArray(R"({"roomIp": "127.0.0.2", "teamNum": 2147483648})"),  // beyond 32 bits, signed
             QByteArray(R"({"roomIp": "127.0.0.2", "teamNum": 4294967297})"),
             QByteArray(R"({"roomIp": "127.0.0.2", "teamNum": 1e300})"),
             // Not a JSON object at all: no group number either.
             QByteArray(), QByteArray("not json"), QByteArray("[1, 2]"), QByteArray("\"roomIp\""),
             QByteArray("{\"roomIp\": \"1.2.3.4\", \"teamNum\": 3"), QByteArray("\xff\xfe\x00garbage", 10)}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
        f.close();
        EXPECT_EQ(errorOf(path), "Write Config File ERROR") << text.toStdString();
        // The file is left as it was.
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), text) << text.toStdString();
        f.close();
    }
}

TEST(Config, MissingFileWritesTheDefaultAndStops)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("team.bin");
    EXPECT_EQ(errorOf(path), "Config file NOT exist!");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray written = f.readAll();
    EXPECT_EQ(written.size(), 52);
    EXPECT_EQ(written, DEFAULT_FILE);
    f.close();
    // The next start reads the defaults.
    QSysConfig cfg(nullptr, path);
    EXPECT_EQ(cfg.RoomIp, "192.168.7.170");
    EXPECT_EQ(cfg.TeamNum, 2u);
}

TEST(Config, SaveWritesConstantsWhateverTheFieldsHold)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("team.bin");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(R"({"roomIp": "127.0.0.9", "teamNum": 9, "extra": true})");
    }
    QSysConfig cfg(nullptr, path);
    cfg.RoomIp = "127.0.0.3";
    cfg.TeamNum = 5;
    cfg.save();
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), DEFAULT_FILE);
}

TEST(Config, UnwritableDirectoryLeavesNoFile)
{
    // root ignores directory permissions, so use a place where nobody can
    // create files: /proc. Others get a read-only temporary directory.
    QTemporaryDir tmp;
    QString dir = tmp.path();
    if (geteuid() == 0) {
        dir = "/proc";
    } else {
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner);
    }
    const QString path = dir + "/team.bin";
    EXPECT_EQ(errorOf(path), "Write Config File ERROR");
    EXPECT_FALSE(QFile::exists(path));
    QFile::setPermissions(tmp.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST(Config, UnreadableFileFails)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("team.bin");
    if (geteuid() == 0) {
        // root reads any file; a directory of that name cannot be read as one.
        ASSERT_TRUE(QDir(dir.path()).mkdir("team.bin"));
    } else {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(R"({"roomIp": "127.0.0.2", "teamNum": 1})");
        f.close();
        QFile::setPermissions(path, QFileDevice::Permissions());
    }
    EXPECT_EQ(errorOf(path), "Write Config File ERROR");
}

TEST(Config, FifoOrDeviceIsAReadFailureAndNeverBlocks)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("team.bin");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // Read on another thread: a store that opened the FIFO for reading would
    // wait for a writer for ever. After a generous wait the test plays that
    // writer (end of file at once), so a blocking store fails the test
    // instead of hanging it.
    auto result = std::async(std::launch::async, [&] { return errorOf(fifo); });
    if (result.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        const int w = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
        if (w >= 0)
            ::close(w);
        ADD_FAILURE() << "the store blocked on a FIFO";
    }
    EXPECT_EQ(result.get(), "Write Config File ERROR");

    // Nor is a device, even one that reads as empty.
    EXPECT_EQ(errorOf("/dev/null"), "Write Config File ERROR");
    // A symbolic link to a regular file is read as that file.
    const QString real = dir.filePath("real.json");
    QFile f(real);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(R"({"roomIp": "127.0.0.9", "teamNum": 9})");
    f.close();
    const QString link = dir.filePath("link.bin");
    ASSERT_TRUE(QFile::link(real, link));
    QSysConfig cfg(nullptr, link);
    EXPECT_EQ(cfg.RoomIp, "127.0.0.9");
    EXPECT_EQ(cfg.TeamNum, 9u);
}

// "hostKey": the classroom key, or a list of keys, whose signed commands
// alone the terminal obeys. A file that names a key but not a sound one is
// a read failure: a terminal must never fall back to obeying anyone.
TEST(Config, HostKeyIsOneKeyOrAListAndAnythingElseIsAReadFailure)
{
    auto keyText = [](unsigned char fill) {
        std::array<unsigned char, 32> seed;
        seed.fill(fill);
        return ClassroomKey::fromSeed(seed).publicKey().base64();
    };
    const QString a = keyText(1), b = keyText(2);
    EXPECT_TRUE(load(R"({"roomIp": "127.0.0.2", "teamNum": 1})").hostKeys.empty());
    EXPECT_EQ(load(QString(R"({"roomIp": "127.0.0.2", "teamNum": 1, "hostKey": "%1"})").arg(a).toUtf8()).hostKeys,
              std::vector<QString>{a});
    EXPECT_EQ(load(QString(R"({"teamNum": 1, "hostKey": ["%1", "%2"]})").arg(a, b).toUtf8()).hostKeys,
              (std::vector<QString>{a, b}));

    QString tooMany;
    for (int i = 0; i < 33; ++i)
        tooMany += (i ? ", \"" : "\"") + a + "\"";
    const QString bad[] = {
        "\"" + a.left(43) + "\"",          // no padding
        "\"" + a + " \"",                   // white space
        "\"" + a.left(40) + "AAA=\"",       // 32 bytes, not a point of the curve
        "\"" + QByteArray(32, '\0').toBase64() + "\"",  // of small order
        "\"\"",
        "[]",
        "[\"" + a + "\", 5]",
        "[\"" + a + "\", \"nope\"]",
        "[" + tooMany + "]",
        "null",
        "42",
        "{\"key\": \"" + a + "\"}",
    };
    for (const QString& value : bad) {
        QTemporaryDir dir;
        const QString path = dir.filePath("team.bin");
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QString(R"({"roomIp": "127.0.0.2", "teamNum": 1, "hostKey": %1})").arg(value).toUtf8());
        f.close();
        EXPECT_EQ(errorOf(path), "Write Config File ERROR") << value.toStdString();
    }
}
