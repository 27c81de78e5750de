#include "QSysConfig.h"

#include "Utils.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

QSysConfig* SysConfig = nullptr;

namespace {

// Most keys a terminal trusts: a command that none of them signed is
// checked against each, so the list bounds that cost.
const int MAX_HOST_KEYS = 32;

// "hostKey": one key or a non-empty list of at most MAX_HOST_KEYS keys, each
// the base64 text of a 32-byte Ed25519 public key. A classroom that names a
// key wants its commands checked: anything else is a broken file, not "no
// key".
std::vector<PublicKey> hostKeys(const QJsonValue& value)
{
    QJsonArray list;
    if (value.isString())
        list.append(value);
    else if (value.isArray())
        list = value.toArray();
    if (list.isEmpty() || list.size() > MAX_HOST_KEYS)
        throw std::runtime_error("Write Config File ERROR");
    std::vector<PublicKey> keys;
    for (const QJsonValue& v : list) {
        const std::optional<PublicKey> key = v.isString() ? PublicKey::parse(v.toString()) : std::nullopt;
        if (!key)
            throw std::runtime_error("Write Config File ERROR");
        keys.push_back(*key);
    }
    return keys;
}

}  // namespace

QSysConfig::QSysConfig(QObject* parent, QString fileName, MissingFile missing) : QObject(parent), fileName(fileName)
{
    if (!QFile::exists(fileName)) {
        if (missing == MissingFile::WriteDefault)
            save();
        throw std::runtime_error("Config file NOT exist!");
    }
    // Only a regular file is read. Opening without blocking and checking what
    // was opened (not the name, which may change in between) keeps a FIFO or
    // a device of that name from holding start-up for ever.
    const int fd = ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error("Write Config File ERROR");
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw std::runtime_error("Write Config File ERROR");
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw std::runtime_error("Write Config File ERROR");
    }
    const QByteArray text = file.readAll();
    file.close();

    const QJsonObject obj = QJsonDocument::fromJson(text).object();
    const QJsonValue ip = obj.value("roomIp");
    RoomIp = ip.isString() ? ip.toString() : QString();
    // A group is numbered from 1; 0 is the host. Read as 0, a missing or
    // impossible number would make this terminal take "show the host" for
    // its own group and the console drop its announcements.
    const std::optional<int32_t> team = Utils::jsonInt32(obj.value("teamNum"));
    if (!team || *team < 1)
        throw std::runtime_error("Write Config File ERROR");
    TeamNum = static_cast<uint32_t>(*team);
    if (obj.contains("hostKey"))
        HostKeys = hostKeys(obj.value("hostKey"));
}

void QSysConfig::save()
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("Write Config File ERROR");
    QJsonObject obj;
    obj.insert("roomIp", "192.168.7.170");
    obj.insert("teamNum", 2);
    file.write(QJsonDocument(obj).toJson(QJsonDocument::Indented));
    file.close();
}
