#include "ClassroomLink.h"

#include "Classroom.h"
#include "ClassroomPort.h"

ClassroomLink::ClassroomLink(QObject* parent) : QObject(parent)
{
    connect(&sock_, &QUdpSocket::readyRead, this, &ClassroomLink::onReadyRead);
}

bool ClassroomLink::listen(const QHostAddress& address, QString* error)
{
    return ClassroomPort::bind(sock_, address, Classroom::CLASSROOM_PORT, error);
}

bool ClassroomLink::send(const QHostAddress& to, const QByteArray& payload)
{
    return sock_.writeDatagram(payload, to, Classroom::CLASSROOM_PORT) == payload.size();
}

void ClassroomLink::onReadyRead()
{
    // A bounded batch per notification: under a flood the window still gets
    // its turn, and the socket notifies again for what is left.
    for (int n = 0; n < MAX_BATCH && sock_.hasPendingDatagrams(); ++n) {
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
        Q_EMIT announced(a->group, v4 ? QHostAddress(ip4) : from, a->livePort, a->nonce);
    }
}
