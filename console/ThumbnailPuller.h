#ifndef TAVLO_THUMBNAILPULLER_H
#define TAVLO_THUMBNAILPULLER_H

#include <QImage>
#include <QMutex>
#include <QSize>
#include <QString>
#include <QThread>
#include <atomic>
#include <cstdint>

// Pulls one group's live stream (RTSP over TCP) and keeps a small picture of
// it, refreshed about once a second: only keyframes are decoded, at most one
// a second, and scaled down at once. A stream that fails (refused, stalled,
// ended) is retried after RETRY_MS; until a picture comes the state says why.
// The puller thread does all the work; state() may be read from any thread.
class ThumbnailPuller : public QThread {
public:
    static constexpr int REFRESH_MS = 1000;
    static constexpr int RETRY_MS = 2000;
    // No data this long: the stream has failed.
    static constexpr int STALL_MS = 5000;

    struct State {
        QImage picture;     // the latest, or null
        QString error;      // why there is no fresh picture, or empty
        qint64 pictures = 0;  // decoded so far
    };

    ThumbnailPuller(const QString& url, const QSize& size);
    // Stops the thread and waits for it.
    ~ThumbnailPuller() override;

    QString url() const { return url_; }
    // Asks the thread to end soon (any thread).
    void requestStop() { stop_ = true; }
    State state() const;

    // True when the Annex B access unit holds an IDR picture (NAL type 5).
    static bool containsIdr(const uint8_t* data, int size);

protected:
    void run() override;

private:
    // One connection, until it fails or a stop is asked for; the failure is
    // returned as text.
    QString pullOnce();
    void setError(const QString& error);
    static int interruptCb(void* opaque);

    const QString url_;
    const QSize size_;
    std::atomic<bool> stop_{false};
    // Monotonic ms of the last sign of life, for the stall check.
    std::atomic<int64_t> lastActivityMs_{0};
    mutable QMutex mutex_;
    State state_;
};

#endif
