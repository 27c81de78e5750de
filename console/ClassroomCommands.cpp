#include "ClassroomCommands.h"

#include "Classroom.h"
#include "Envelope.h"
#include "StreamAddress.h"

#include <QCoreApplication>
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
            Command::Kind kind, std::optional<int> showing = std::nullopt)
{
    if (const std::optional<GroupRow> r = table.current(target, nowMs))
        out.push_back(Command{target, r->address, payload, r->nonce, kind, showing});
}

QString notPresent(int group)
{
    return QCoreApplication::translate("ClassroomCommands", "group %1 is not present").arg(group);
}

// The targets, each once, in order; every present group when targets is empty.
std::set<int> targetsOf(const GroupTable& table, const std::vector<int>& targets, qint64 nowMs)
{
    if (targets.empty())
        return presentGroups(table, nowMs);
    return std::set<int>(targets.begin(), targets.end());
}

// kind's payload for every present group of targets; the reason when none is.
std::vector<Command> forGroups(const GroupTable& table, const std::set<int>& targets, qint64 nowMs,
                               const QByteArray& payload, Command::Kind kind, QString* error)
{
    std::vector<Command> out;
    for (int g : targets)
        addFor(out, table, g, nowMs, payload, kind);
    if (out.empty() && error)
        *error = targets.size() == 1 ? notPresent(*targets.begin())
                                     : QCoreApplication::translate("ClassroomCommands", "no group is present");
    return out;
}

// The payload that shows source, or nothing (with the reason).
std::optional<QByteArray> showPayload(const GroupTable& table, int source, qint64 nowMs, QString* error)
{
    if (source == 0)
        return ClassroomCommands::showTeacherPayload();
    const std::optional<GroupRow> src = table.current(source, nowMs);
    if (!src) {
        if (error)
            *error = notPresent(source);
        return std::nullopt;
    }
    // The terminal's own address rule: what it would refuse is not sent.
    QString why;
    const auto address = StreamAddress::parse(src->address.toString(), &why);
    if (!address) {
        if (error)
            *error = QCoreApplication::translate("ClassroomCommands", "group %1's address %2 %3")
                         .arg(source)
                         .arg(src->address.toString(), why);
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

QByteArray ClassroomCommands::lockPayload(const QString& text)
{
    QJsonObject o{{"messageId", Classroom::MSG_LOCK}};
    QString t = text.trimmed();
    if (t.size() > Classroom::LOCK_TEXT_MAX)  // whole characters: never half a surrogate pair
        t.truncate(t.at(Classroom::LOCK_TEXT_MAX - 1).isHighSurrogate() ? Classroom::LOCK_TEXT_MAX - 1
                                                                        : Classroom::LOCK_TEXT_MAX);
    if (!t.isEmpty())
        o.insert("text", t);
    return compact(o);
}

QByteArray ClassroomCommands::unlockPayload()
{
    return compact({{"messageId", Classroom::MSG_UNLOCK}});
}

std::vector<Command> ClassroomCommands::show(const GroupTable& table, int target, int source, qint64 nowMs,
                                             QString* error)
{
    return showToGroups(table, {target}, source, nowMs, error);
}

std::vector<Command> ClassroomCommands::showToGroups(const GroupTable& table, const std::vector<int>& targets,
                                                    int source, qint64 nowMs, QString* error)
{
    std::vector<Command> out;
    const std::set<int> wanted(targets.begin(), targets.end());
    std::set<int> present;
    for (int g : wanted)
        if (table.current(g, nowMs))
            present.insert(g);
    if (present.empty()) {
        if (error)
            *error = wanted.size() == 1 ? notPresent(*wanted.begin())
                                        : QCoreApplication::translate("ClassroomCommands", "no group is present");
        return out;
    }
    // Only a group that shows another's screen needs the source.
    std::optional<QByteArray> payload;
    if (present != std::set<int>{source}) {
        payload = showPayload(table, source, nowMs, error);
        if (!payload)
            return out;
    }
    for (int g : present) {
        if (g == source)  // the terminal stops instead of showing itself: say so plainly
            addFor(out, table, g, nowMs, stopPayload(), Command::Kind::Stop);
        else
            addFor(out, table, g, nowMs, *payload, Command::Kind::Show, source);
    }
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
            addFor(out, table, g, nowMs, multicastFirst(*payload), Command::Kind::Show, source);
    return out;
}

std::vector<Command> ClassroomCommands::stop(const GroupTable& table, int target, qint64 nowMs, QString* error)
{
    return forGroups(table, {target}, nowMs, stopPayload(), Command::Kind::Stop, error);
}

std::vector<Command> ClassroomCommands::stopAll(const GroupTable& table, qint64 nowMs)
{
    return forGroups(table, presentGroups(table, nowMs), nowMs, stopPayload(), Command::Kind::Stop, nullptr);
}

std::vector<Command> ClassroomCommands::stopGroups(const GroupTable& table, const std::vector<int>& targets,
                                                  qint64 nowMs, QString* error)
{
    return forGroups(table, std::set<int>(targets.begin(), targets.end()), nowMs, stopPayload(), Command::Kind::Stop,
                     error);
}

std::vector<Command> ClassroomCommands::lock(const GroupTable& table, const std::vector<int>& targets,
                                             const QString& text, qint64 nowMs, QString* error)
{
    return forGroups(table, targetsOf(table, targets, nowMs), nowMs, lockPayload(text), Command::Kind::Lock, error);
}

std::vector<Command> ClassroomCommands::unlock(const GroupTable& table, const std::vector<int>& targets,
                                               qint64 nowMs, QString* error)
{
    return forGroups(table, targetsOf(table, targets, nowMs), nowMs, unlockPayload(), Command::Kind::Unlock, error);
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
