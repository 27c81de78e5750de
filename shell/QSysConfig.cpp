#include "QSysConfig.h"

#include "Utils.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

QSysConfig* SysConfig = nullptr;

QSysConfig::QSysConfig(QObject* parent, QString fileName) : QObject(parent), fileName(fileName)
{
    if (!QFile::exists(fileName)) {
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
