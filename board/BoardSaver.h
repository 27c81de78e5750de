#ifndef TAVLO_BOARDSAVER_H
#define TAVLO_BOARDSAVER_H

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Saves the board as one draws. changed() (GUI thread) schedules a save
// DELAY_MS later; the save takes the board's file image on the GUI thread
// (snapshot, a few milliseconds) and hands it to a writer thread of its own,
// which writes it atomically (BoardFile::writeAtomic) into this session's
// board file, "board-<yyyyMMdd-HHmmss-zzz>.tvboard" in the folder given
// (made when missing). A newer image replaces one that is still waiting, so
// a slow disk delays saves but never queues them up, and drawing never waits
// for the disk. A failed write is reported (saveFailed) and tried again
// every RETRY_MS with the board as it is then, until a write succeeds
// (saveRecovered). After the first write of each new file the folder's
// automatic saves are pruned (BoardFolder), never the files named by keep().
class BoardSaver : public QObject {
    Q_OBJECT

public:
    // Writes bytes to path, false with error on failure (writer thread).
    using Writer = std::function<bool(const QString& path, const QByteArray& bytes, QString* error)>;

    // snapshot runs on the GUI thread and returns the board's file image;
    // write defaults to BoardFile::writeAtomic.
    BoardSaver(std::function<QByteArray()> snapshot, QString dir, QObject* parent = nullptr, Writer write = Writer());
    // Saves what is pending and waits for the writer.
    ~BoardSaver() override;

    static const int DELAY_MS;  // from a change to its save
    static const int RETRY_MS;  // from a failed write to the next try

    // GUI thread. Something of the board changed: a save within DELAY_MS.
    void changed();
    // GUI thread. Takes the image now and queues it for the writer.
    void saveNow();
    // GUI thread. Saves a scheduled change (or one whose write failed) now
    // and waits (at most timeoutMs, -1 for no limit) until every queued image
    // is written. True only when the board is safely on disk: false on
    // timeout or when the last write failed.
    bool flush(int timeoutMs = -1);
    // GUI thread. True from a failed write until a write succeeds again.
    bool failing() const;
    // Why the last write that ended failed; empty when it succeeded.
    QString lastError() const;
    // GUI thread. A board file that pruning must never remove (one the user
    // opened); the file being saved into is kept anyway.
    void keep(const QString& path);
    // GUI thread. The board was replaced as a whole: a scheduled save is
    // dropped and the next save goes to a new file, so that a file the board
    // came from, or this session's file so far, is never overwritten.
    void startNewFile();

    // The file this session saves into; empty before the first save.
    QString path() const;
    // The folder saved into.
    QString folder() const;
    // Saves written so far (successful writes).
    int writes() const;

    // Removes the temporary files that writers of dir left behind when their
    // process died in a write ("board-*.tvboard.tmp-<pid>-<n>" of a pid that
    // no longer runs). Returns how many it removed.
    static int removeStaleTemporaries(const QString& dir);

    // The most recently written board file of dir ("board-*.tvboard"), not
    // counting except; empty when there is none.
    static QString newestBoard(const QString& dir, const QString& except = QString());

signals:
    // A write failed (GUI thread); it is tried again RETRY_MS later.
    void saveFailed(const QString& path, const QString& error);
    // A write succeeded after failed ones (GUI thread).
    void saveRecovered(const QString& path);

private:
    void writerLoop();  // writer thread
    void written(const QString& path, bool ok, const QString& error);  // GUI thread

    std::function<QByteArray()> snapshot_;
    Writer write_;
    QString dir_;
    QString path_;  // GUI thread
    QTimer timer_;
    QStringList keep_;    // GUI thread
    bool failing_ = false;  // GUI thread
    QString lastError_;     // GUI thread: the failure last printed

    mutable std::mutex mutex_;
    std::condition_variable cond_;
    QByteArray pendingBytes_;  // guarded by mutex_
    QString pendingPath_;
    QStringList pendingKeep_;
    bool pending_ = false;
    bool writing_ = false;
    bool stop_ = false;
    bool lastOk_ = true;  // the last write that ended succeeded
    QString lastWriteError_;  // and why it failed
    int writes_ = 0;
    QString announced_;  // the last file named on stdout (writer thread)
    std::thread writer_;
};

#endif
