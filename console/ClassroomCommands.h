#ifndef TAVLO_CLASSROOMCOMMANDS_H
#define TAVLO_CLASSROOMCOMMANDS_H

#include "ClassroomKey.h"
#include "GroupTable.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <optional>
#include <vector>

// One command for one terminal: the command's JSON, where it goes (port
// 55555 of to), the nonce to sign it with (that of the group's latest
// announcement; empty: the terminal takes the plain command), what kind it
// is, and for a show what the group shows once it has obeyed.
struct Command {
    enum class Kind { Show, Stop, Lock, Unlock };
    int group = 0;
    QHostAddress to;
    QByteArray payload;
    QString nonce;
    Kind kind = Kind::Stop;
    std::optional<int> showing;
};

// The console's commands, worked out from the group table and sent by the
// caller. Only present groups are addressed, each at the address it is
// pinned to (never at a conflicting one). Pure functions, any thread.
class ClassroomCommands {
public:
    // {"messageId":2,"groupId":0}
    static QByteArray showTeacherPayload();
    // {"messageId":2,"groupId":N,"ip":"A"}
    static QByteArray showGroupPayload(int group, const QHostAddress& ip);
    // {"messageId":1}
    static QByteArray stopPayload();
    // {"messageId":16}, with "text" when text is not empty (the terminal
    // shows its own default otherwise); text is cut to LOCK_TEXT_MAX
    // characters.
    static QByteArray lockPayload(const QString& text);
    // {"messageId":17}
    static QByteArray unlockPayload();
    // A show payload with "multicast":true: the terminal takes the stream by
    // multicast first (falling back on TCP by itself).
    static QByteArray multicastFirst(const QByteArray& showPayload);

    // Tells target to show source's screen (0: the teacher's). A terminal
    // told to show its own group stops showing. Empty with a reason in
    // *error when target is not present, or source is neither 0 nor present
    // with an address the terminal accepts (StreamAddress: it writes the
    // address into a URL; an IPv6 address with a scope, for one, it refuses).
    static std::vector<Command> show(const GroupTable& table, int target, int source, qint64 nowMs,
                                     QString* error = nullptr);
    // Tells every present group but source itself to show source's screen,
    // by multicast first: one copy of the stream on the network.
    static std::vector<Command> showToAll(const GroupTable& table, int source, qint64 nowMs,
                                          QString* error = nullptr);
    static std::vector<Command> stop(const GroupTable& table, int target, qint64 nowMs, QString* error = nullptr);
    static std::vector<Command> stopAll(const GroupTable& table, qint64 nowMs);

    // The same for a set of groups (the console's selection): every present
    // target gets the command; empty with the reason when none is present
    // (or, for a show, when the source cannot be shown).
    static std::vector<Command> showToGroups(const GroupTable& table, const std::vector<int>& targets, int source,
                                             qint64 nowMs, QString* error = nullptr);
    static std::vector<Command> stopGroups(const GroupTable& table, const std::vector<int>& targets, qint64 nowMs,
                                           QString* error = nullptr);
    // Locks the targets with text (empty: the terminal's default), or
    // unlocks them. Every present group when targets is empty.
    static std::vector<Command> lock(const GroupTable& table, const std::vector<int>& targets, const QString& text,
                                     qint64 nowMs, QString* error = nullptr);
    static std::vector<Command> unlock(const GroupTable& table, const std::vector<int>& targets, qint64 nowMs,
                                       QString* error = nullptr);

    // The datagram that carries command: the plain payload for a terminal
    // that takes plain commands, else the payload addressed to the group
    // under its nonce with seq and signed with key (Envelope.h). Nothing
    // when the terminal wants a signature and there is no key.
    static std::optional<QByteArray> datagram(const Command& command, const ClassroomKey* key, qint64 seq);
};

#endif
