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
// board file, "board-<yyyyMMdd-HHmmss-zzz>.tvboard" in the folder given.
// A newer image replaces one that is still waiting, so a slow disk delays
// saves but never queues them up, and drawing never waits for the disk.
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

    // GUI thread. Something of the board changed: a save within DELAY_MS.
    void changed();
    // GUI thread. Takes the image now and queues it for the writer.
    void saveNow();
    // GUI thread. Saves a scheduled change now and waits (at most timeoutMs,
    // -1 for no limit) until every queued image is on disk; false on timeout.
    bool flush(int timeoutMs = -1);
    // GUI thread. The board was replaced as a whole: a scheduled save is
    // dropped and the next save goes to a new file, so that a file the board
    // came from, or this session's file so far, is never overwritten.
    void startNewFile();

    // The file this session saves into; empty before the first save.
    QString path() const;
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
    // A write failed (emitted on the GUI thread); the next change retries.
    void saveFailed(const QString& path, const QString& error);

private:
    void writerLoop();  // writer thread

    std::function<QByteArray()> snapshot_;
    Writer write_;
    QString dir_;
    QString path_;  // GUI thread
    QTimer timer_;

    mutable std::mutex mutex_;
    std::condition_variable cond_;
    QByteArray pendingBytes_;  // guarded by mutex_
    QString pendingPath_;
    bool pending_ = false;
    bool writing_ = false;
    bool stop_ = false;
    int writes_ = 0;
    QString announced_;  // the last file named on stdout (writer thread)
    std::thread writer_;
};

#endif
