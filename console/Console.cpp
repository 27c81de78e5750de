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

QString Console::send(const std::vector<Command>& commands, const QString& error)
{
    if (commands.empty()) {
        const QString result = "error: " + (error.isEmpty() ? QString("no group is present") : error);
        Q_EMIT commandDone(result);
        return result;
    }
    QStringList sent;
    for (const Command& c : commands) {
        // One signed datagram per group, under that group's own nonce.
        if (!c.nonce.isEmpty())
            seq_ = Envelope::nextSeq(seq_);
        const std::optional<QByteArray> datagram = ClassroomCommands::datagram(c, key_ ? &*key_ : nullptr, seq_);
        if (!datagram) {
            sent << QString("group %1 at %2: not sent, it takes signed commands and this console has no key")
                        .arg(c.group)
                        .arg(c.to.toString());
            continue;
        }
        if (!link_.send(c.to, *datagram)) {
            sent << QString("group %1 at %2: send failed").arg(c.group).arg(c.to.toString());
            continue;
        }
        table_.setShowing(c.group, c.showing);
        sent << QString("group %1 at %2: %3%4")
                    .arg(c.group)
                    .arg(c.to.toString())
                    .arg(QString::fromUtf8(c.payload))
                    .arg(c.nonce.isEmpty() ? "" : " signed");
    }
    const QString result = "sent " + sent.join("; ");
    Q_EMIT commandDone(result);
    Q_EMIT changed();
    return result;
}

QString Console::showTo(int target, int source)
{
    QString error;
    const auto commands = ClassroomCommands::show(table_, target, source, now(), &error);
    return send(commands, error);
}

QString Console::showToAll(int source)
{
    QString error;
    const auto commands = ClassroomCommands::showToAll(table_, source, now(), &error);
    return send(commands, error);
}

QString Console::stop(int target)
{
    QString error;
    const auto commands = ClassroomCommands::stop(table_, target, now(), &error);
    return send(commands, error);
}

QString Console::stopAll()
{
    return send(ClassroomCommands::stopAll(table_, now()), QString());
}

QString Console::key(int group, const QHostAddress& address)
{
    return QString("%1 %2").arg(group).arg(address.toString());
}

QString Console::streamUrl(const QHostAddress& address, int port)
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol ? "[" + address.toString() + "]"
                                                                             : address.toString();
    return QString("rtsp://%1:%2/%3").arg(host).arg(port).arg(Classroom::STREAM_NAME);
}

void Console::syncPullers()
{
    std::map<QString, QString> wanted;  // key -> url
    for (const GroupRow& r : table_.rows(now()))
        if (!r.gone)
            wanted[key(r.group, r.address)] = streamUrl(r.address, r.livePort);
    // Ask every puller that goes to stop before waiting for any of them.
    std::vector<std::unique_ptr<ThumbnailPuller>> ending;
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
    for (const auto& [k, url] : wanted) {
        if (pullers_.count(k))
            continue;
        auto puller = std::make_unique<ThumbnailPuller>(url, QSize(THUMB_W, THUMB_H));
        puller->start();
        pullers_.emplace(k, std::move(puller));
    }
}

ThumbnailPuller::State Console::thumbnail(const QString& key) const
{
    const auto it = pullers_.find(key);
    if (it == pullers_.end()) {
        ThumbnailPuller::State none;
        none.error = "no stream: the group is gone";
        return none;
    }
    return it->second->state();
}
