#include "QSysConfig.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <cmath>
#include <limits>
#include <stdexcept>

QSysConfig* SysConfig = nullptr;

namespace {

// A JSON number that is integral and fits a signed 32-bit integer, else 0.
int32_t readInt32(const QJsonValue& v)
{
    if (!v.isDouble())
        return 0;
    const double d = v.toDouble();
    if (!std::isfinite(d) || d != std::trunc(d) || d < std::numeric_limits<int32_t>::min() ||
        d > std::numeric_limits<int32_t>::max())
        return 0;
    return static_cast<int32_t>(d);
}

}  // namespace

QSysConfig::QSysConfig(QObject* parent, QString fileName) : QObject(parent), fileName(fileName)
{
    if (!QFile::exists(fileName)) {
        save();
        throw std::runtime_error("Config file NOT exist!");
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("Write Config File ERROR");
    const QByteArray text = file.readAll();
    file.close();

    const QJsonObject obj = QJsonDocument::fromJson(text).object();
    const QJsonValue ip = obj.value("roomIp");
    RoomIp = ip.isString() ? ip.toString() : QString();
    TeamNum = static_cast<uint32_t>(readInt32(obj.value("teamNum")));
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
