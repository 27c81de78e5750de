#include "BoardSaver.h"

#include "BoardFile.h"
#include "BoardFolder.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdio>

const int BoardSaver::DELAY_MS = 500;
const int BoardSaver::RETRY_MS = 2000;

BoardSaver::BoardSaver(std::function<QByteArray()> snapshot, QString dir, QObject* parent, Writer write)
    : QObject(parent), snapshot_(std::move(snapshot)), write_(std::move(write)), dir_(std::move(dir))
{
    if (!write_)
        write_ = &BoardFile::writeAtomic;
    timer_.setSingleShot(true);
    timer_.setInterval(DELAY_MS);
    connect(&timer_, &QTimer::timeout, this, &BoardSaver::saveNow);
    // Quitting from the tray must not lose the last stroke.
    if (QCoreApplication::instance() != nullptr)
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] {
            if (!flush())
                std::printf("BoardSave FAILED: the board could not be saved before the end\n");
        });
    removeStaleTemporaries(dir_);
    writer_ = std::thread(&BoardSaver::writerLoop, this);
}

BoardSaver::~BoardSaver()
{
    flush();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    cond_.notify_all();
    writer_.join();
}

void BoardSaver::changed()
{
    // Not restarted by later changes: drawing without a pause is saved too.
    if (!timer_.isActive())
        timer_.start();
}

void BoardSaver::saveNow()
{
    timer_.stop();
    // A folder that is gone (or never was) is made again; when it cannot be,
    // the write fails and says why.
    BoardFolder::ensure(dir_, nullptr);
    if (path_.isEmpty()) {
        const QString stamp = QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss-zzz");
        const QDir dir(dir_);
        path_ = dir.absoluteFilePath(QString("board-%1.tvboard").arg(stamp));
        for (int i = 1; QFileInfo::exists(path_); ++i)
            path_ = dir.absoluteFilePath(QString("board-%1-%2.tvboard").arg(stamp).arg(i));
    }
    QByteArray bytes = snapshot_();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pendingBytes_ = std::move(bytes);
        pendingPath_ = path_;
        pendingKeep_ = keep_;
        pendingKeep_ << path_;
        pending_ = true;
    }
    cond_.notify_all();
}

bool BoardSaver::flush(int timeoutMs)
{
    if (timer_.isActive() || failing_)
        saveNow();
    std::unique_lock<std::mutex> lock(mutex_);
    auto idle = [this] { return !pending_ && !writing_; };
    if (timeoutMs < 0)
        cond_.wait(lock, idle);
    else if (!cond_.wait_for(lock, std::chrono::milliseconds(timeoutMs), idle))
        return false;
    return lastOk_;
}

bool BoardSaver::failing() const
{
    return failing_;
}

QString BoardSaver::lastError() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lastWriteError_;
}

void BoardSaver::keep(const QString& path)
{
    const QString abs = QFileInfo(path).absoluteFilePath();
    if (!keep_.contains(abs))
        keep_ << abs;
}

void BoardSaver::startNewFile()
{
    timer_.stop();
    path_.clear();
    // What failed belongs to the board that was replaced.
    failing_ = false;
    lastError_.clear();
}

QString BoardSaver::folder() const
{
    return dir_;
}

void BoardSaver::written(const QString& path, bool ok, const QString& error)
{
    if (!ok) {
        if (error != lastError_) {
            std::printf("BoardSave FAILED: %s\n", error.toLocal8Bit().constData());
            lastError_ = error;
        }
        failing_ = true;
        // Tried again with the board as it is then, change or not.
        if (!timer_.isActive())
            timer_.start(RETRY_MS);
        emit saveFailed(path, error);
    } else if (failing_ && path == path_) {
        failing_ = false;
        lastError_.clear();
        std::printf("BoardFile: %s (saved again)\n", path.toLocal8Bit().constData());
        emit saveRecovered(path);
    }
}

QString BoardSaver::path() const
{
    return path_;
}

int BoardSaver::writes() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
}

int BoardSaver::removeStaleTemporaries(const QString& dir)
{
    static const QRegularExpression tmpName("^board-.*\\.tvboard\\.tmp-(\\d+)-\\d+$");
    int removed = 0;
    const QDir d(dir);
    for (const QString& name : d.entryList(QStringList{"board-*.tvboard.tmp-*"}, QDir::Files)) {
        const QRegularExpressionMatch m = tmpName.match(name);
        if (!m.hasMatch())
            continue;
        const pid_t pid = static_cast<pid_t>(m.captured(1).toLongLong());
        if (pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH && QFile::remove(d.filePath(name)))
            ++removed;
    }
    return removed;
}

QString BoardSaver::newestBoard(const QString& dir, const QString& except)
{
    QFileInfoList found = QDir(dir).entryInfoList(QStringList{"board-*.tvboard"}, QDir::Files);
    // Newest write first; within the clock's resolution the later stamp in
    // the name wins.
    std::sort(found.begin(), found.end(), [](const QFileInfo& a, const QFileInfo& b) {
        const QDateTime ta = a.lastModified(), tb = b.lastModified();
        return ta != tb ? ta > tb : a.fileName() > b.fileName();
    });
    const QString skip = except.isEmpty() ? QString() : QFileInfo(except).absoluteFilePath();
    for (const QFileInfo& fi : found)
        if (fi.absoluteFilePath() != skip)
            return fi.absoluteFilePath();
    return QString();
}

void BoardSaver::writerLoop()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        cond_.wait(lock, [this] { return pending_ || stop_; });
        if (!pending_)
            return;
        const QByteArray bytes = std::move(pendingBytes_);
        const QString path = pendingPath_;
        const QStringList keep = pendingKeep_;
        pendingBytes_.clear();
        pending_ = false;
        writing_ = true;
        lock.unlock();
        QString error;
        const bool ok = write_(path, bytes, &error);
        if (ok && path != announced_) {
            announced_ = path;
            std::printf("BoardFile: %s\n", path.toLocal8Bit().constData());
            // A new file in the folder: the oldest automatic saves go.
            for (const QString& gone : BoardFolder::prune(QFileInfo(path).absolutePath(), keep))
                std::printf("BoardPruned: %s\n", gone.toLocal8Bit().constData());
        }
        QMetaObject::invokeMethod(this, [this, path, ok, error] { written(path, ok, error); }, Qt::QueuedConnection);
        lock.lock();
        writing_ = false;
        lastOk_ = ok;
        lastWriteError_ = ok ? QString() : error;
        if (ok)
            ++writes_;
        cond_.notify_all();
    }
}
