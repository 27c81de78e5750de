#include "PageThumbnailer.h"

#include "PdfDocument.h"
#include "PictureFile.h"

#include <algorithm>
#include <memory>

PageThumbnailer::PageThumbnailer(const QSize& box, QObject* parent) : QObject(parent), box_(box)
{
    thread_ = std::thread(&PageThumbnailer::run, this);
}

PageThumbnailer::~PageThumbnailer()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        queue_.clear();
    }
    cond_.notify_all();
    thread_.join();
}

void PageThumbnailer::request(const QString& file, int page)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto job = std::make_pair(file, page);
        if (std::find(queue_.begin(), queue_.end(), job) != queue_.end())
            return;
        queue_.push_back(job);
    }
    ++pending_;
    cond_.notify_all();
}

int PageThumbnailer::pending() const
{
    return pending_;
}

void PageThumbnailer::run()
{
    std::unique_ptr<PdfDocument> doc;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        cond_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (stop_)
            return;
        const std::pair<QString, int> job = queue_.front();
        queue_.pop_front();
        lock.unlock();

        QImage image;
        QSize pageSize;
        if (job.second >= 0) {
            if (!doc || doc->path() != job.first) {
                doc.reset(new PdfDocument());
                if (!doc->open(job.first, nullptr))
                    doc.reset();
            }
            if (doc) {
                pageSize = doc->pageSize(job.second);
                if (!pageSize.isEmpty())
                    image = doc->render(job.second, pageSize.scaled(box_, Qt::KeepAspectRatio));
            }
        } else {
            const QImage full = PictureFile::read(job.first, nullptr);
            if (!full.isNull()) {
                pageSize = full.size();
                image = full.scaled(box_, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            }
        }
        if (image.isNull())
            pageSize = QSize();
        QMetaObject::invokeMethod(
            this,
            [this, job, image, pageSize] {
                --pending_;
                emit ready(job.first, job.second, image, pageSize);
            },
            Qt::QueuedConnection);
        lock.lock();
    }
}
