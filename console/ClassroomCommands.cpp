#include "ClassroomCommands.h"

#include "Classroom.h"
#include "Envelope.h"
#include "StreamAddress.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <set>

namespace {

QByteArray compact(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// The present group numbers, in the table's order.
std::set<int> presentGroups(const GroupTable& table, qint64 nowMs)
{
    std::set<int> out;
    for (const GroupRow& r : table.rows(nowMs))
        if (!r.gone)
            out.insert(r.group);
    return out;
}

void addFor(std::vector<Command>& out, const GroupTable& table, int target, qint64 nowMs, const QByteArray& payload,
            std::optional<int> showing)
{
    if (const std::optional<GroupRow> r = table.current(target, nowMs))
        out.push_back(Command{target, r->address, payload, r->nonce, showing});
}

// The payload that shows source, or nothing (with the reason).
std::optional<QByteArray> showPayload(const GroupTable& table, int source, qint64 nowMs, QString* error)
{
    if (source == 0)
        return ClassroomCommands::showTeacherPayload();
    const std::optional<GroupRow> src = table.current(source, nowMs);
    if (!src) {
        if (error)
            *error = QString("group %1 is not present").arg(source);
        return std::nullopt;
    }
    // The terminal's own address rule: what it would refuse is not sent.
    QString why;
    const auto address = StreamAddress::parse(src->address.toString(), &why);
    if (!address) {
        if (error)
            *error = QString("group %1's address %2 %3").arg(source).arg(src->address.toString(), why);
        return std::nullopt;
    }
    return ClassroomCommands::showGroupPayload(source, *address);
}

}  // namespace

QByteArray ClassroomCommands::showTeacherPayload()
{
    return compact({{"messageId", Classroom::MSG_SHOW}, {"groupId", 0}});
}

QByteArray ClassroomCommands::showGroupPayload(int group, const QHostAddress& ip)
{
    return compact({{"messageId", Classroom::MSG_SHOW}, {"groupId", group}, {"ip", ip.toString()}});
}

QByteArray ClassroomCommands::multicastFirst(const QByteArray& showPayload)
{
    QJsonObject o = QJsonDocument::fromJson(showPayload).object();
    o.insert("multicast", true);
    return compact(o);
}

QByteArray ClassroomCommands::stopPayload()
{
    return compact({{"messageId", Classroom::MSG_STOP}});
}

std::vector<Command> ClassroomCommands::show(const GroupTable& table, int target, int source, qint64 nowMs,
                                             QString* error)
{
    std::vector<Command> out;
    if (!table.current(target, nowMs)) {
        if (error)
            *error = QString("group %1 is not present").arg(target);
        return out;
    }
    if (target == source) {
        // The terminal stops instead of showing itself: say so plainly.
        addFor(out, table, target, nowMs, stopPayload(), std::nullopt);
        return out;
    }
    const std::optional<QByteArray> payload = showPayload(table, source, nowMs, error);
    if (payload)
        addFor(out, table, target, nowMs, *payload, source);
    return out;
}

std::vector<Command> ClassroomCommands::showToAll(const GroupTable& table, int source, qint64 nowMs, QString* error)
{
    std::vector<Command> out;
    const std::optional<QByteArray> payload = showPayload(table, source, nowMs, error);
    if (!payload)
        return out;
    for (int g : presentGroups(table, nowMs))
        if (g != source)
            addFor(out, table, g, nowMs, multicastFirst(*payload), source);
    return out;
}

std::vector<Command> ClassroomCommands::stop(const GroupTable& table, int target, qint64 nowMs, QString* error)
{
    std::vector<Command> out;
    addFor(out, table, target, nowMs, stopPayload(), std::nullopt);
    if (out.empty() && error)
        *error = QString("group %1 is not present").arg(target);
    return out;
}

std::vector<Command> ClassroomCommands::stopAll(const GroupTable& table, qint64 nowMs)
{
    std::vector<Command> out;
    for (int g : presentGroups(table, nowMs))
        addFor(out, table, g, nowMs, stopPayload(), std::nullopt);
    return out;
}

std::optional<QByteArray> ClassroomCommands::datagram(const Command& command, const ClassroomKey* key, qint64 seq)
{
    if (command.nonce.isEmpty())
        return command.payload;
    if (!key)
        return std::nullopt;
    const QJsonObject body = QJsonDocument::fromJson(command.payload).object();
    return Envelope::seal(Envelope::address(body, command.group, command.nonce, seq), *key);
}
