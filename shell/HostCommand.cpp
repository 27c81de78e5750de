#include "HostCommand.h"

#include "Classroom.h"
#include "StreamAddress.h"
#include "Utils.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace {

HostCommand make(HostCommand::Action action, const QString& reason, bool refused = false)
{
    HostCommand c;
    c.action = action;
    c.reason = reason;
    c.refused = refused;
    return c;
}

}  // namespace

HostCommand HostCommand::decode(const QByteArray& datagram, uint32_t teamNum, const QString& roomIp)
{
    const QJsonDocument doc = QJsonDocument::fromJson(datagram);
    if (doc.isNull() || !doc.isObject())
        return make(Action::Ignore, "not a JSON object");
    const QJsonObject msg = doc.object();
    if (!msg.contains("messageId"))
        return make(Action::Ignore, "no \"messageId\"");
    // Anything but an integral number that fits 32 bits reads as 0.
    const int32_t messageId = Utils::jsonInt32(msg.value("messageId")).value_or(0);
    const int32_t groupId = Utils::jsonInt32(msg.value("groupId")).value_or(0);

    if (messageId == Classroom::MSG_LOCK) {
        HostCommand c = make(Action::Lock, QString("messageId %1").arg(messageId));
        c.text = lockText(msg.value("text"));
        return c;
    }
    if (messageId == Classroom::MSG_UNLOCK)
        return make(Action::Unlock, QString("messageId %1").arg(messageId));
    if (messageId != Classroom::MSG_SHOW)
        return make(Action::Stop, QString("messageId %1").arg(messageId));
    if (static_cast<uint32_t>(groupId) == teamNum)
        return make(Action::Stop, "the terminal's own group");

    // Group 0 is the host's own screen, at the configured address; any other
    // group's screen is at the address the command names.
    const QJsonValue ip = msg.value("ip");
    if (groupId != 0 && !ip.isString())
        return make(Action::Stop, "\"ip\" is missing or not a string", true);
    const char* key = groupId == 0 ? "roomIp" : "ip";
    const QString text = groupId == 0 ? roomIp : ip.toString();
    QString why;
    const auto address = StreamAddress::parse(text, &why);
    if (!address)
        return make(Action::Stop, QString("\"%1\" %2 %3").arg(key, StreamAddress::quoted(text), why), true);
    HostCommand c = make(Action::Show, groupId == 0 ? QString("the host's screen at %1").arg(address->toString())
                                                    : QString("group %1 at %2").arg(groupId).arg(address->toString()));
    c.url = StreamAddress::url(*address);
    c.multicast = msg.value("multicast").isBool() && msg.value("multicast").toBool();
    return c;
}

QString HostCommand::lockText(const QJsonValue& text)
{
    QString out;
    for (const QChar c : text.toString())
        out += (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
                   ? QChar(' ')
                   : c;
    out = out.simplified();
    if (out.size() > Classroom::LOCK_TEXT_MAX)  // never half a surrogate pair
        out.truncate(out.at(Classroom::LOCK_TEXT_MAX - 1).isHighSurrogate() ? Classroom::LOCK_TEXT_MAX - 1
                                                                            : Classroom::LOCK_TEXT_MAX);
    out = out.trimmed();
    return out.isEmpty() ? QString::fromUtf8(Classroom::LOCK_TEXT_DEFAULT) : out;
}
