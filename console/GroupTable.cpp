#include "GroupTable.h"

#include <algorithm>

GroupTable::Outcome GroupTable::announce(int group, const QHostAddress& address, int livePort, qint64 nowMs,
                                         const QString& nonce, QString* why)
{
    auto drop = [&](const QString& reason) {
        if (why)
            *why = reason;
        return Outcome::Dropped;
    };
    auto it = entries_.find(group);
    if (it != entries_.end() && it->second.address == address) {
        Entry& e = it->second;
        const bool appeared = nowMs - e.lastMs >= GONE_MS;
        e.livePort = livePort;
        e.nonce = nonce;
        // Datagrams may be handled out of order with a time taken earlier:
        // the age never runs backwards.
        e.lastMs = std::max(e.lastMs, nowMs);
        return appeared ? Outcome::Appeared : Outcome::Known;
    }
    if (it != entries_.end() && nowMs - it->second.lastMs < GONE_MS) {
        it->second.conflict = address;
        it->second.conflictMs = std::max(it->second.conflictMs, nowMs);
        return Outcome::Conflict;
    }
    // The number is free (unknown, or its address has gone silent). The
    // address may hold one group only: a present one keeps it, a gone one
    // gives way.
    const auto held = holderOf(address);
    if (held != entries_.end()) {
        if (nowMs - held->second.lastMs < GONE_MS)
            return drop(QString("%1 already announces group %2").arg(address.toString()).arg(held->first));
        entries_.erase(held);
    }
    if (it == entries_.end() && static_cast<int>(entries_.size()) >= MAX_GROUPS) {
        // Room is made only by the group silent longest, and only if gone.
        auto oldest = std::min_element(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
            return a.second.lastMs < b.second.lastMs;
        });
        if (nowMs - oldest->second.lastMs < GONE_MS)
            return drop(QString("the list is full (%1 groups)").arg(MAX_GROUPS));
        entries_.erase(oldest);
    }
    // A new group, or a number that moves to this address: whatever the old
    // holder was told is not this terminal's.
    Entry e;
    e.address = address;
    e.livePort = livePort;
    e.lastMs = nowMs;
    e.nonce = nonce;
    entries_[group] = e;
    return Outcome::Appeared;
}

std::map<int, GroupTable::Entry>::iterator GroupTable::holderOf(const QHostAddress& address)
{
    return std::find_if(entries_.begin(), entries_.end(), [&](const auto& e) { return e.second.address == address; });
}

GroupRow GroupTable::rowOf(int group, const Entry& e, qint64 nowMs) const
{
    GroupRow r;
    r.group = group;
    r.address = e.address;
    r.livePort = e.livePort;
    r.ageMs = std::max<qint64>(0, nowMs - e.lastMs);
    r.gone = r.ageMs >= GONE_MS;
    if (e.conflict && !r.gone && nowMs - e.conflictMs < GONE_MS)
        r.conflict = e.conflict;
    r.nonce = e.nonce;
    r.showing = e.showing;
    r.locked = e.locked;
    return r;
}

std::vector<GroupRow> GroupTable::rows(qint64 nowMs) const
{
    std::vector<GroupRow> out;
    for (const auto& [group, e] : entries_)
        if (nowMs - e.lastMs < FORGET_MS)
            out.push_back(rowOf(group, e, nowMs));
    return out;
}

void GroupTable::forgetOld(qint64 nowMs)
{
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (nowMs - it->second.lastMs >= FORGET_MS)
            it = entries_.erase(it);
        else
            ++it;
    }
}

std::optional<GroupRow> GroupTable::current(int group, qint64 nowMs) const
{
    const auto it = entries_.find(group);
    if (it == entries_.end())
        return std::nullopt;
    const GroupRow r = rowOf(group, it->second, nowMs);
    if (r.gone)
        return std::nullopt;
    return r;
}

void GroupTable::setShowing(int group, std::optional<int> what)
{
    const auto it = entries_.find(group);
    if (it != entries_.end())
        it->second.showing = what;
}

std::optional<int> GroupTable::showing(int group) const
{
    const auto it = entries_.find(group);
    if (it == entries_.end())
        return std::nullopt;
    return it->second.showing;
}

void GroupTable::setLocked(int group, bool locked)
{
    const auto it = entries_.find(group);
    if (it != entries_.end())
        it->second.locked = locked;
}
