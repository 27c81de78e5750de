#include "Console.h"

#include "Classroom.h"
#include "Envelope.h"

#include <QStringList>
#include <algorithm>
#include <cstdio>

Console::Console(QObject* parent) : QObject(parent)
{
    clock_.start();
    connect(&link_, &ClassroomLink::announced, this, &Console::onAnnounced);
    connect(&tick_, &QTimer::timeout, this, &Console::onTick);
}

bool Console::start(const QHostAddress& address, QString* error)
{
    if (!link_.listen(address, error))
        return false;
    tick_.start(1000);
    return true;
}

void Console::setKey(const ClassroomKey& key, const QString& path)
{
    key_ = key;
    keyPath_ = path;
}

void Console::onAnnounced(int group, const QHostAddress& from, int livePort, const QString& nonce)
{
    const qint64 t = now();
    const std::optional<GroupRow> before = table_.current(group, t);
    QString why;
    int64_t more = 0;
    switch (table_.announce(group, from, livePort, t, nonce, &why)) {
    case GroupTable::Outcome::Known:
        return;
    case GroupTable::Outcome::Appeared:
        std::printf("group %d at %s livePort %d: present\n", group, qPrintable(from.toString()), livePort);
        std::fflush(stdout);
        syncPullers();
        Q_EMIT changed();
        return;
    case GroupTable::Outcome::Conflict:
        // Said when a conflict starts (the number is pinned to a present
        // address, so there was a row); the tile shows it while it lasts.
        if (!before || before->conflict)
            return;
        if (conflictLines_.allow(t, &more)) {
            std::printf("group %d at %s: conflict, the number is %s's\n", group, qPrintable(from.toString()),
                        qPrintable(before->address.toString()));
            std::fflush(stdout);
        }
        Q_EMIT changed();
        return;
    case GroupTable::Outcome::Dropped:
        if (droppedLines_.allow(t, &more)) {
            std::printf("announcement of group %d from %s dropped: %s%s\n", group, qPrintable(from.toString()),
                        qPrintable(why),
                        more > 0 ? qPrintable(QString(" (and %1 more since the last line)").arg(qint64(more))) : "");
            std::fflush(stdout);
        }
        return;
    }
}

void Console::onTick()
{
    const qint64 t = now();
    // Report the pairs that have fallen silent since the last tick.
    std::vector<QString> present;
    for (const GroupRow& r : table_.rows(t)) {
        if (!r.gone) {
            present.push_back(key(r.group, r.address));
            continue;
        }
        if (std::find(present_.begin(), present_.end(), key(r.group, r.address)) != present_.end()) {
            std::printf("group %d at %s: gone\n", r.group, qPrintable(r.address.toString()));
            std::fflush(stdout);
        }
    }
    present_ = present;
    table_.forgetOld(t);
    syncPullers();
    Q_EMIT changed();
}

QString Console::send(const std::vector<Command>& commands, const QString& error, const QString& what)
{
    if (commands.empty()) {
        const QString reason = error.isEmpty() ? tr("no group is present") : error;
        const QString result = "error: " + reason;
        Q_EMIT commandDone(result, tr("%1: not sent, %2").arg(what, reason));
        return result;
    }
    for (const Command& c : commands)
        if (c.kind == Command::Kind::Show && c.showing == 0) {
            Q_EMIT teacherAboutToShow();
            break;
        }
    QStringList sent, reached, failed;
    for (const Command& c : commands) {
        // One signed datagram per group, under that group's own nonce.
        if (!c.nonce.isEmpty())
            seq_ = Envelope::nextSeq(seq_);
        const std::optional<QByteArray> datagram = ClassroomCommands::datagram(c, key_ ? &*key_ : nullptr, seq_);
        if (!datagram) {
            sent << QString("group %1 at %2: not sent, it takes signed commands and this console has no key")
                        .arg(c.group)
                        .arg(c.to.toString());
            failed << tr("group %1 (it takes signed commands and this console has no key)").arg(c.group);
            continue;
        }
        if (!link_.send(c.to, *datagram)) {
            sent << QString("group %1 at %2: send failed").arg(c.group).arg(c.to.toString());
            failed << tr("group %1 (the network refused to send)").arg(c.group);
            continue;
        }
        switch (c.kind) {
        case Command::Kind::Show:
        case Command::Kind::Stop:
            table_.setShowing(c.group, c.showing);
            break;
        case Command::Kind::Lock:
        case Command::Kind::Unlock:
            table_.setLocked(c.group, c.kind == Command::Kind::Lock);
            break;
        }
        reached << QString::number(c.group);
        sent << QString("group %1 at %2: %3%4")
                    .arg(c.group)
                    .arg(c.to.toString())
                    .arg(QString::fromUtf8(c.payload))
                    .arg(c.nonce.isEmpty() ? "" : " signed");
    }
    const QString result = "sent " + sent.join("; ");
    QString summary = reached.isEmpty() ? tr("%1: not sent").arg(what)
                                        : tr("%1: sent to group %2").arg(what, reached.join(", "));
    if (!failed.isEmpty())
        summary += "; " + tr("not sent to %1").arg(failed.join(", "));
    Q_EMIT commandDone(result, summary);
    Q_EMIT changed();
    return result;
}

// The teacher's words for showing source's screen.
static QString showWhat(int source)
{
    return source == 0 ? Console::tr("Show the teacher's screen") : Console::tr("Show group %1").arg(source);
}

QString Console::showTo(int target, int source)
{
    QString error;
    const auto commands = ClassroomCommands::show(table_, target, source, now(), &error);
    return send(commands, error, showWhat(source));
}

QString Console::showToAll(int source)
{
    QString error;
    const auto commands = ClassroomCommands::showToAll(table_, source, now(), &error);
    return send(commands, error, showWhat(source));
}

QString Console::showToGroups(const std::vector<int>& targets, int source)
{
    QString error;
    const auto commands = ClassroomCommands::showToGroups(table_, targets, source, now(), &error);
    return send(commands, error, showWhat(source));
}

QString Console::stop(int target)
{
    QString error;
    const auto commands = ClassroomCommands::stop(table_, target, now(), &error);
    return send(commands, error, tr("Stop showing"));
}

QString Console::stopAll()
{
    return send(ClassroomCommands::stopAll(table_, now()), QString(), tr("Stop showing"));
}

QString Console::stopGroups(const std::vector<int>& targets)
{
    QString error;
    const auto commands = ClassroomCommands::stopGroups(table_, targets, now(), &error);
    return send(commands, error, tr("Stop showing"));
}

QString Console::lock(const std::vector<int>& targets, const QString& text)
{
    QString error;
    const auto commands = ClassroomCommands::lock(table_, targets, text, now(), &error);
    return send(commands, error, tr("Lock"));
}

QString Console::unlock(const std::vector<int>& targets)
{
    QString error;
    const auto commands = ClassroomCommands::unlock(table_, targets, now(), &error);
    return send(commands, error, tr("Unlock"));
}

void Console::setNamesPath(const QString& path)
{
    names_ = GroupNames(path);
    Q_EMIT changed();
}

QString Console::setName(int group, const QString& name)
{
    QString error;
    const bool saved = names_.setName(group, name, &error);
    Q_EMIT changed();
    const QString now = names_.name(group);
    const QString result = saved ? (now.isEmpty() ? QString("named group %1: no name").arg(group)
                                                  : QString("named group %1: %2").arg(group).arg(now))
                                 : "error: " + error;
    Q_EMIT commandDone(result, saved ? (now.isEmpty() ? tr("Group %1 has no name now").arg(group)
                                                      : tr("Group %1 is named %2").arg(group).arg(now))
                                     : tr("The name is kept until the console ends: %1").arg(error));
    return result;
}

QString Console::key(int group, const QHostAddress& address)
{
    return QString("%1 %2").arg(group).arg(address.toString());
}

QString Console::streamUrl(const QHostAddress& address, int port, const char* name)
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol ? "[" + address.toString() + "]"
                                                                             : address.toString();
    return QString("rtsp://%1:%2/%3").arg(host).arg(port).arg(name);
}

std::vector<StreamPuller::Source> Console::thumbnailSources(const QHostAddress& address, int port)
{
    return {{streamUrl(address, port, Classroom::THUMBNAIL_STREAM_NAME), false},
            {streamUrl(address, port, Classroom::STREAM_NAME), true}};
}

void Console::syncPullers()
{
    std::map<QString, QString> wanted;  // key -> url
    for (const GroupRow& r : table_.rows(now()))
        if (!r.gone)
            wanted[key(r.group, r.address)] = streamUrl(r.address, r.livePort, Classroom::THUMBNAIL_STREAM_NAME);
    // Ask every puller that goes to stop before waiting for any of them.
    std::vector<std::unique_ptr<StreamPuller>> ending;
    for (auto it = pullers_.begin(); it != pullers_.end();) {
        const auto w = wanted.find(it->first);
        if (w == wanted.end() || w->second != it->second->url()) {
            it->second->requestStop();
            ending.push_back(std::move(it->second));
            it = pullers_.erase(it);
        } else {
            ++it;
        }
    }
    ending.clear();
    for (const GroupRow& r : table_.rows(now())) {
        const QString k = key(r.group, r.address);
        if (r.gone || pullers_.count(k))
            continue;
        auto puller = std::make_unique<StreamPuller>(thumbnailSources(r.address, r.livePort), QSize(THUMB_W, THUMB_H),
                                                     Classroom::THUMBNAIL_INTERVAL_MS);
        puller->start();
        pullers_.emplace(k, std::move(puller));
    }
}

StreamPuller::State Console::thumbnail(const QString& key) const
{
    const auto it = pullers_.find(key);
    if (it == pullers_.end()) {
        StreamPuller::State none;
        none.error = "no stream: the group is gone";
        return none;
    }
    return it->second->state();
}
