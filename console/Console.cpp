#include "Console.h"

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
    if (!link_.listen(address)) {
        if (error)
            *error = link_.errorString();
        return false;
    }
    tick_.start(1000);
    return true;
}

void Console::onAnnounced(int group, const QHostAddress& from, int livePort)
{
    if (table_.announce(group, from, livePort, now())) {
        std::printf("group %d at %s livePort %d: present\n", group, qPrintable(from.toString()), livePort);
        std::fflush(stdout);
        Q_EMIT changed();
    }
}

void Console::onTick()
{
    const qint64 t = now();
    // Report the pairs that have fallen silent since the last tick.
    std::vector<QString> present;
    for (const GroupRow& r : table_.rows(t)) {
        if (!r.gone) {
            present.push_back(QString("%1 %2").arg(r.group).arg(r.address.toString()));
            continue;
        }
        const QString key = QString("%1 %2").arg(r.group).arg(r.address.toString());
        if (std::find(present_.begin(), present_.end(), key) != present_.end()) {
            std::printf("group %d at %s: gone\n", r.group, qPrintable(r.address.toString()));
            std::fflush(stdout);
        }
    }
    present_ = present;
    table_.forgetOld(t);
    Q_EMIT changed();
}

QString Console::send(const std::vector<Command>& commands, const QString& error)
{
    if (commands.empty())
        return "error: " + (error.isEmpty() ? QString("no group is present") : error);
    QStringList sent;
    for (const Command& c : commands) {
        if (!link_.send(c.to, c.payload)) {
            sent << QString("group %1 at %2: send failed").arg(c.group).arg(c.to.toString());
            continue;
        }
        table_.setShowing(c.group, c.showing);
        sent << QString("group %1 at %2: %3").arg(c.group).arg(c.to.toString()).arg(QString::fromUtf8(c.payload));
    }
    Q_EMIT changed();
    return "sent " + sent.join("; ");
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
