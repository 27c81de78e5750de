#ifndef TAVLO_CONSOLE_H
#define TAVLO_CONSOLE_H

#include "ClassroomCommands.h"
#include "ClassroomKey.h"
#include "ClassroomLink.h"
#include "GroupTable.h"
#include "LineThrottle.h"
#include "GroupNames.h"
#include "StreamPuller.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <map>
#include <memory>
#include <vector>

// The classroom host's work without its widgets: the group table fed by the
// announcements, its ageing, and the commands, signed with the classroom key
// for every terminal that announces a nonce. The window and the stdin
// control both act through it. GUI thread.
class Console : public QObject {
    Q_OBJECT
public:
    explicit Console(QObject* parent = nullptr);

    // Listens for announcements on address port 55555. False (with the
    // reason in *error) when the port cannot be bound.
    bool start(const QHostAddress& address, QString* error);

    // The classroom key and the file it is kept in. Without a key, groups
    // that take only signed commands cannot be commanded.
    void setKey(const ClassroomKey& key, const QString& path);
    const std::optional<ClassroomKey>& key() const { return key_; }
    QString keyPath() const { return keyPath_; }

    // Milliseconds since the console started (the table's clock).
    qint64 now() const { return clock_.elapsed(); }
    std::vector<GroupRow> rows() const { return table_.rows(now()); }
    const GroupTable& table() const { return table_; }

    // The commands; each returns a line that says what was sent, or why
    // nothing was ("error: ..."). source 0 is the teacher's screen. The
    // group lists are the window's selection; lock and unlock with an empty
    // list address every present group. text: the lock card's (empty: the
    // terminal's default).
    QString showTo(int target, int source);
    QString showToAll(int source);
    QString showToGroups(const std::vector<int>& targets, int source);
    QString stop(int target);
    QString stopAll();
    QString stopGroups(const std::vector<int>& targets);
    QString lock(const std::vector<int>& targets, const QString& text);
    QString unlock(const std::vector<int>& targets);

    // The teacher's names of the groups, kept in the file at path (empty:
    // in memory only).
    void setNamesPath(const QString& path);
    QString name(int group) const { return names_.name(group); }
    // Names group (empty: no name); the result line, as for a command.
    QString setName(int group, const QString& name);

    // "group address": the key of a pair in the list.
    static QString key(int group, const QHostAddress& address);
    // The thumbnail of a pair, with the reason when there is none; a gone
    // pair has none.
    StreamPuller::State thumbnail(const QString& key) const;
    // The address of a group's stream named name (Classroom.h), served at
    // address:port.
    static QString streamUrl(const QHostAddress& address, int port, const char* name);
    // Where a group's thumbnails come from: its small stream, or its full
    // one (keyframes only) if it has none.
    static std::vector<StreamPuller::Source> thumbnailSources(const QHostAddress& address, int port);
    // The box a thumbnail is fitted into, its aspect kept.
    static constexpr int THUMB_W = 240, THUMB_H = 135;

    // Records an announcement of group from an address (as the socket hands
    // it over: nonce empty when it carries none).
    void onAnnounced(int group, const QHostAddress& from, int livePort, const QString& nonce);

Q_SIGNALS:
    // The list changed: a group came, went, or was told something; also
    // once a second for the ages.
    void changed();
    // A command was given (by whatever means): its result line, and the
    // same for the teacher, in the console's language.
    void commandDone(const QString& result, const QString& summary);
    // The teacher's screen is about to be shown: sent just before the
    // command goes out, so the window can step aside first.
    void teacherAboutToShow();

private:
    void onTick();
    // Sends commands; what: the command in the teacher's words, for the
    // summary.
    QString send(const std::vector<Command>& commands, const QString& error, const QString& what);
    // One puller per present pair; those of gone pairs end.
    void syncPullers();

    GroupTable table_;
    ClassroomLink link_;
    QElapsedTimer clock_;
    QTimer tick_;
    // Present pairs at the last tick, "group address", to report changes.
    std::vector<QString> present_;
    std::map<QString, std::unique_ptr<StreamPuller>> pullers_;
    GroupNames names_;
    std::optional<ClassroomKey> key_;
    QString keyPath_;
    qint64 seq_ = 0;  // of the last signed command
    // Dropped announcements and conflicts: one line a second at most each.
    LineThrottle droppedLines_, conflictLines_;
};

#endif
