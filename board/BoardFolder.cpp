#include "BoardFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

const int BoardFolder::MAX_AUTOMATIC_SAVES = 50;
const qint64 BoardFolder::MAX_AUTOMATIC_BYTES = qint64(500) * 1000 * 1000;

namespace {

QString& chosen()
{
    static QString dir;
    return dir;
}

}  // namespace

QString BoardFolder::path()
{
    if (!chosen().isEmpty())
        return chosen();
    return QDir::current().absoluteFilePath(QStringLiteral("boards"));
}

void BoardFolder::setPath(const QString& dir)
{
    chosen() = dir.isEmpty() ? QString() : QDir::cleanPath(QFileInfo(dir).absoluteFilePath());
}

bool BoardFolder::ensure(const QString& dir, QString* error)
{
    const QFileInfo info(dir);
    if (info.isDir())
        return true;
    if (info.exists() || !QDir().mkpath(dir)) {
        if (error != nullptr)
            *error = QStringLiteral("the folder %1 cannot be made").arg(dir);
        return false;
    }
    return true;
}

bool BoardFolder::isAutomaticSave(const QString& fileName)
{
    return fileName.startsWith(QLatin1String("board-")) && fileName.endsWith(QLatin1String(".tvboard"));
}

QStringList BoardFolder::pruneList(std::vector<Entry> entries, const QStringList& keep, int maxCount,
                                   qint64 maxBytes)
{
    QStringList kept;
    for (const QString& k : keep)
        if (!k.isEmpty())
            kept << QFileInfo(k).absoluteFilePath();
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const Entry& e) {
                                     return !isAutomaticSave(QFileInfo(e.path).fileName()) ||
                                            kept.contains(QFileInfo(e.path).absoluteFilePath());
                                 }),
                  entries.end());
    // Newest first; within one time stamp the later name (a later stamp).
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.modified != b.modified ? a.modified > b.modified : a.path > b.path;
    });
    QStringList gone;
    int count = 0;
    qint64 bytes = 0;
    bool full = false;
    for (const Entry& e : entries) {
        // Once one file does not fit, no older one is kept: the most
        // recent saves are kept, not the smallest.
        full = full || count >= maxCount || bytes + e.bytes > maxBytes;
        if (full) {
            gone << e.path;
        } else {
            ++count;
            bytes += e.bytes;
        }
    }
    return gone;
}

QStringList BoardFolder::prune(const QString& dir, const QStringList& keep)
{
    std::vector<Entry> entries;
    for (const QFileInfo& fi : QDir(dir).entryInfoList(QStringList{"board-*.tvboard"}, QDir::Files))
        entries.push_back({fi.absoluteFilePath(), fi.size(), fi.lastModified()});
    QStringList removed;
    for (const QString& f : pruneList(std::move(entries), keep, MAX_AUTOMATIC_SAVES, MAX_AUTOMATIC_BYTES))
        if (QFile::remove(f))
            removed << f;
    return removed;
}
