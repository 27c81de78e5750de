#include "QSysConfig.h"

#include "Utils.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <stdexcept>

QSysConfig* SysConfig = nullptr;

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
    TeamNum = static_cast<uint32_t>(Utils::jsonInt32(obj.value("teamNum")).value_or(0));
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
