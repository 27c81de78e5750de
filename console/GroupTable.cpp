#include "GroupTable.h"

#include <algorithm>

bool GroupTable::announce(int group, const QHostAddress& address, int livePort, qint64 nowMs)
{
    const auto key = std::make_pair(group, address.toString());
    auto it = entries_.find(key);
    const bool appeared = it == entries_.end() || nowMs - it->second.lastMs >= GONE_MS;
    if (it == entries_.end())
        it = entries_.emplace(key, Entry{livePort, nowMs}).first;
    Entry& e = it->second;
    e.livePort = livePort;
    // Datagrams may be handled out of order with a time taken earlier: the
    // age never runs backwards.
    e.lastMs = std::max(e.lastMs, nowMs);
    return appeared;
}

std::vector<GroupRow> GroupTable::rows(qint64 nowMs) const
{
    std::vector<GroupRow> out;
    for (const auto& [key, e] : entries_) {
        const qint64 age = std::max<qint64>(0, nowMs - e.lastMs);
        if (age >= FORGET_MS)
            continue;
        GroupRow r;
        r.group = key.first;
        r.address = QHostAddress(key.second);
        r.livePort = e.livePort;
        r.ageMs = age;
        r.gone = age >= GONE_MS;
        r.showing = showing(key.first);
        out.push_back(r);
    }
    // The map's order is by group, then address text; flag the numbers that
    // two present addresses announce.
    for (size_t i = 0; i < out.size(); ++i) {
        if (out[i].gone)
            continue;
        for (size_t j = 0; j < out.size(); ++j)
            if (j != i && out[j].group == out[i].group && !out[j].gone)
                out[i].duplicate = true;
    }
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

std::vector<QHostAddress> GroupTable::addressesOf(int group, qint64 nowMs) const
{
    std::vector<std::pair<qint64, QHostAddress>> found;
    for (const GroupRow& r : rows(nowMs))
        if (r.group == group && !r.gone)
            found.emplace_back(r.ageMs, r.address);
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<QHostAddress> out;
    for (const auto& f : found)
        out.push_back(f.second);
    return out;
}

std::optional<GroupRow> GroupTable::current(int group, qint64 nowMs) const
{
    std::optional<GroupRow> best;
    for (const GroupRow& r : rows(nowMs))
        if (r.group == group && !r.gone && (!best || r.ageMs < best->ageMs))
            best = r;
    return best;
}

void GroupTable::setShowing(int group, std::optional<int> what)
{
    if (what)
        showing_[group] = *what;
    else
        showing_.erase(group);
}

std::optional<int> GroupTable::showing(int group) const
{
    const auto it = showing_.find(group);
    if (it == showing_.end())
        return std::nullopt;
    return it->second;
}
