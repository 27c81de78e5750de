#ifndef TAVLO_STREAMPULLER_H
#define TAVLO_STREAMPULLER_H

#include <QImage>
#include <QMutex>
#include <QSize>
#include <QString>
#include <QThread>
#include <atomic>
#include <cstdint>
#include <vector>

// Pulls one group's live stream (RTSP over TCP) and keeps its latest picture,
// scaled to fit a box with the stream's aspect kept. Two uses:
//  - thumbnails: a terminal's small stream cam_passby_chn1 (every picture
//    decoded, about one a second), or, from a terminal that has none (the
//    server answers the request with an error), its full stream with only
//    keyframes decoded, at most one every minIntervalMs;
//  - a live view: every picture of the full stream.
// A stream that fails (refused, stalled, ended) is retried after RETRY_MS,
// from the first source again; until a picture comes the state says why.
// The puller thread does all the work; state() and setBox() may be called
// from any thread.
class StreamPuller : public QThread {
public:
    static constexpr int RETRY_MS = 2000;
    // No data this long: the stream has failed.
    static constexpr int STALL_MS = 5000;

    // One way to the stream, tried in order.
    struct Source {
        QString url;
        // Decode keyframes only (a full stream pulled for thumbnails).
        bool keyframesOnly = false;
    };

    struct State {
        QImage picture;       // the latest, or null
        QString error;        // why there is no fresh picture, or empty
        qint64 pictures = 0;  // decoded so far
        QString url;          // of the source that gave the latest picture, or empty
    };

    // minIntervalMs: keyframes of a keyframes-only source closer than this
    // are skipped (0: all of them). live: decode with threads and a smooth
    // scaler, for a picture on a large window.
    StreamPuller(std::vector<Source> sources, const QSize& box, int minIntervalMs = 0, bool live = false);
    // Stops the thread and waits for it.
    ~StreamPuller() override;

    // The first source's address: the stream's identity.
    QString url() const { return sources_.front().url; }
    // Asks the thread to end soon (any thread).
    void requestStop() { stop_ = true; }
    State state() const;
    // The box that later pictures are fitted into (any thread).
    void setBox(const QSize& box);

    // True when the Annex B access unit holds an IDR picture (NAL type 5).
    static bool containsIdr(const uint8_t* data, int size);
    // size scaled to fit box with its aspect kept (at least 1 x 1).
    static QSize fit(const QSize& size, const QSize& box);

protected:
    void run() override;

private:
    // One connection to source, until it fails or a stop is asked for; the
    // failure is returned as text. *refused: the server answered the
    // request with an error (the stream is not there).
    QString pullOnce(const Source& source, bool* refused);
    void setError(const QString& error);
    static int interruptCb(void* opaque);

    const std::vector<Source> sources_;
    const int minIntervalMs_;
    const bool live_;
    std::atomic<bool> stop_{false};
    // Monotonic ms of the last sign of life, for the stall check.
    std::atomic<int64_t> lastActivityMs_{0};
    mutable QMutex mutex_;  // protects state_ and box_
    State state_;
    QSize box_;
};

#endif
