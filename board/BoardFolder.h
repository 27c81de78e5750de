#ifndef TAVLO_BOARDFOLDER_H
#define TAVLO_BOARDFOLDER_H

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <vector>

// Where the board keeps what it writes: the boards saved as one draws
// ("board-<stamp>.tvboard"), and the pages saved as PNG and PDF. One folder,
// "boards" under the working directory unless the program names another at
// start (setPath). Automatic saves are pruned to the most recent
// MAX_AUTOMATIC_SAVES files or MAX_AUTOMATIC_BYTES bytes, whichever limit is
// reached first; boards the user opened and the board being saved into are
// never pruned, nor any other file. Pure functions and the folder's name;
// the setter and path() belong to the GUI thread, prune() to any thread.
class BoardFolder {
public:
    static const int MAX_AUTOMATIC_SAVES;    // 50
    static const qint64 MAX_AUTOMATIC_BYTES;  // 500 MB

    // The folder, absolute: the one set, else "<working dir>/boards".
    static QString path();
    // Names the folder for everything written from now on (an empty path
    // brings back the default). Called by the program before the board is
    // built, e.g. with the user's data folder.
    static void setPath(const QString& dir);
    // Creates the folder (and its parents) if it does not exist; false with
    // a text for the user in error.
    static bool ensure(const QString& dir, QString* error);

    // An automatic save of the board: "board-*.tvboard".
    static bool isAutomaticSave(const QString& fileName);

    struct Entry {
        QString path;
        qint64 bytes;
        QDateTime modified;
    };
    // The automatic saves of entries to remove: newest first, a file is kept
    // while fewer than maxCount files and at most maxBytes bytes are kept;
    // the files in keep neither go nor count. Entries that are no automatic
    // saves are left alone.
    static QStringList pruneList(std::vector<Entry> entries, const QStringList& keep, int maxCount, qint64 maxBytes);
    // Removes what pruneList names in dir with the default limits; returns
    // the files removed.
    static QStringList prune(const QString& dir, const QStringList& keep);
};

#endif
