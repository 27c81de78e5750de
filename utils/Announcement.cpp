#include "Announcement.h"

#include "Classroom.h"
#include "Envelope.h"
#include "Utils.h"

#include <QJsonDocument>
#include <QJsonObject>

std::optional<Announcement> Announcement::parse(const QByteArray& datagram)
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
    Announcement a{*group, *livePort, QString()};
    if (o.contains("nonce")) {
        const QJsonValue nonce = o.value("nonce");
        if (!nonce.isString() || !Envelope::isNonce(nonce.toString()))
            return std::nullopt;
        a.nonce = nonce.toString();
    }
    return a;
}
