#ifndef TAVLO_PAGETHUMBNAILER_H
#define TAVLO_PAGETHUMBNAILER_H

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

// Small images of page backgrounds (a picture, a page of a PDF) for the page
// strip, made on a thread of its own so that opening a long document never
// holds up drawing. request() queues a background (GUI thread); ready()
// brings it back on the GUI thread, drawn to fit box, with the background's
// size in page units (a null image and an empty size when it cannot be
// read). The thread has its own PdfDocument: Poppler documents are not
// shared between threads. Requests already queued are not queued again.
//
// Threads: request() and the destructor on the GUI thread; the rendering on
// the thumbnailer's thread; the two meet only at the queue under mutex_.
class PageThumbnailer : public QObject {
    Q_OBJECT

public:
    explicit PageThumbnailer(const QSize& box, QObject* parent = nullptr);
    // Stops after the image being made, drops the rest, joins the thread.
    ~PageThumbnailer() override;

    void request(const QString& file, int page);
    // Requests not yet answered (GUI thread's view).
    int pending() const;

signals:
    void ready(const QString& file, int page, const QImage& image, const QSize& pageSize);

private:
    void run();  // the thumbnailer's thread

    const QSize box_;
    mutable std::mutex mutex_;
    std::condition_variable cond_;
    std::deque<std::pair<QString, int>> queue_;  // under mutex_
    bool stop_ = false;                          // under mutex_
    int pending_ = 0;  // GUI thread: requested, not yet ready
    std::thread thread_;
};

#endif
