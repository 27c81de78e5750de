#ifndef TAVLO_GROUPTABLE_H
#define TAVLO_GROUPTABLE_H

#include <QHostAddress>
#include <QString>
#include <map>
#include <optional>
#include <utility>
#include <vector>

// One line of the console's list: a group terminal as its announcements
// describe it.
struct GroupRow {
    int group = 0;
    QHostAddress address;
    int livePort = 0;
    qint64 ageMs = 0;        // since its last announcement
    bool gone = false;       // silent for GroupTable::GONE_MS or longer
    bool duplicate = false;  // its number is announced from another present address too
    // What the console last told the group to show: nothing, 0 (the
    // teacher's screen) or another group's number.
    std::optional<int> showing;
};

// The groups of the classroom, from their announcements. No network and no
// clock of its own: every call is given the time (milliseconds, any
// monotonic epoch), so the ageing can be tested without waiting. GUI thread.
class GroupTable {
public:
    // Silent this long: shown as gone.
    static constexpr qint64 GONE_MS = 5000;
    // Silent this long: dropped from the list.
    static constexpr qint64 FORGET_MS = 60000;

    // Records an announcement of group from address. Returns true when the
    // pair is new or had been gone (the list gained a present group).
    bool announce(int group, const QHostAddress& address, int livePort, qint64 nowMs);

    // Every known pair, sorted by group number, then address; pairs silent
    // for FORGET_MS are left out.
    std::vector<GroupRow> rows(qint64 nowMs) const;
    // Drops the pairs silent for FORGET_MS.
    void forgetOld(qint64 nowMs);

    // The present addresses that announce group, most recent first.
    std::vector<QHostAddress> addressesOf(int group, qint64 nowMs) const;
    // The present pair that announced group most recently, if any.
    std::optional<GroupRow> current(int group, qint64 nowMs) const;

    // What group has been told to show (see GroupRow::showing).
    void setShowing(int group, std::optional<int> what);
    std::optional<int> showing(int group) const;

private:
    struct Entry {
        int livePort = 0;
        qint64 lastMs = 0;
    };
    // Keyed by group number, then the address as text (a stable order).
    std::map<std::pair<int, QString>, Entry> entries_;
    std::map<int, int> showing_;
};

#endif
