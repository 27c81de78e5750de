#ifndef TAVLO_GROUPTABLE_H
#define TAVLO_GROUPTABLE_H

#include <QHostAddress>
#include <QString>
#include <map>
#include <optional>
#include <vector>

// One line of the console's list: a group terminal as its announcements
// describe it.
struct GroupRow {
    int group = 0;
    QHostAddress address;  // the address the group is pinned to
    int livePort = 0;
    qint64 ageMs = 0;   // since its last announcement
    bool gone = false;  // silent for GroupTable::GONE_MS or longer
    // Another address that announced this number within GONE_MS: an
    // impostor or a misconfigured terminal. Never commanded, never pulled.
    std::optional<QHostAddress> conflict;
    // The nonce of its latest announcement: commands to it are signed with
    // it. Empty: the terminal takes plain commands.
    QString nonce;
    // What the console last told the group to show: nothing, 0 (the
    // teacher's screen) or another group's number.
    std::optional<int> showing;
    // Whether the console last told the group to lock its screen.
    bool locked = false;
};

// The groups of the classroom, from their announcements.
//
// Each group number is pinned to the address first heard announcing it,
// until that address has been silent for GONE_MS; another address that
// announces the number meanwhile is only recorded as a conflict of the
// group. An address holds at most one group, and the table at most
// MAX_GROUPS: what announcements can cost is bounded, however many numbers
// and senders a flood makes up.
//
// No network and no clock of its own: every call is given the time
// (milliseconds, any monotonic epoch), so the ageing can be tested without
// waiting. GUI thread.
class GroupTable {
public:
    // Silent this long: shown as gone, and its number free for another address.
    static constexpr qint64 GONE_MS = 5000;
    // Silent this long: dropped from the list.
    static constexpr qint64 FORGET_MS = 60000;
    // Most groups in the table (gone ones included).
    static constexpr int MAX_GROUPS = 64;

    // What became of an announcement.
    enum class Outcome {
        Known,     // the group's pinned address, already present
        Appeared,  // a new group, one back from gone, or a number re-pinned to this address
        Conflict,  // the number is pinned to another, present address
        Dropped,   // not taken: see *why
    };
    // Records an announcement of group from address (nonce: the one it
    // carries, or empty). *why says why one was dropped.
    Outcome announce(int group, const QHostAddress& address, int livePort, qint64 nowMs,
                     const QString& nonce = QString(), QString* why = nullptr);

    // Every known group, sorted by number; groups silent for FORGET_MS are
    // left out.
    std::vector<GroupRow> rows(qint64 nowMs) const;
    // Drops the groups silent for FORGET_MS.
    void forgetOld(qint64 nowMs);

    // The group's row if it is present (not gone).
    std::optional<GroupRow> current(int group, qint64 nowMs) const;

    // What group has been told to show (see GroupRow::showing).
    void setShowing(int group, std::optional<int> what);
    std::optional<int> showing(int group) const;
    // Whether group has been told to lock (see GroupRow::locked).
    void setLocked(int group, bool locked);

private:
    struct Entry {
        QHostAddress address;
        int livePort = 0;
        qint64 lastMs = 0;
        QString nonce;
        std::optional<QHostAddress> conflict;
        qint64 conflictMs = 0;
        std::optional<int> showing;
        bool locked = false;
    };
    GroupRow rowOf(int group, const Entry& e, qint64 nowMs) const;
    // The group address holds, if any.
    std::map<int, Entry>::iterator holderOf(const QHostAddress& address);

    std::map<int, Entry> entries_;  // by group number
};

#endif
