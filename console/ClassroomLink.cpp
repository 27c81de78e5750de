#include "ClassroomLink.h"

#include "Classroom.h"
#include "Utils.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

ClassroomLink::ClassroomLink(QObject* parent) : QObject(parent)
{
    connect(&sock_, &QUdpSocket::readyRead, this, &ClassroomLink::onReadyRead);
}

bool ClassroomLink::listen(const QHostAddress& address)
{
    return sock_.bind(address, Classroom::CLASSROOM_PORT,
                      QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
}

bool ClassroomLink::send(const QHostAddress& to, const QByteArray& payload)
{
    return sock_.writeDatagram(payload, to, Classroom::CLASSROOM_PORT) == payload.size();
}

std::optional<Announcement> ClassroomLink::parse(const QByteArray& datagram)
{
    const QJsonDocument doc = QJsonDocument::fromJson(datagram);
    if (!doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    const auto messageId = Utils::jsonInt32(o.value("messageId"));
    const auto group = Utils::jsonInt32(o.value("id"));
    const auto livePort = Utils::jsonInt32(o.value("livePort"));
    if (!messageId || *messageId != Classroom::MSG_ANNOUNCE || !group || *group < 1 || !livePort ||
        *livePort < 1 || *livePort > 65535)
        return std::nullopt;
    return Announcement{*group, *livePort};
}

void ClassroomLink::onReadyRead()
{
    while (sock_.hasPendingDatagrams()) {
        const qint64 size = sock_.pendingDatagramSize();
        QByteArray data(static_cast<int>(size > 0 ? size : 0), '\0');
        QHostAddress from;
        const qint64 got = sock_.readDatagram(data.data(), data.size(), &from);
        if (got < 0)
            continue;
        data.truncate(static_cast<int>(got));
        const std::optional<Announcement> a = parse(data);
        if (!a)
            continue;  // commands of another host, or noise
        bool v4 = false;
        const quint32 ip4 = from.toIPv4Address(&v4);
        Q_EMIT announced(a->group, v4 ? QHostAddress(ip4) : from, a->livePort);
    }
}
