#include "BackgroundCache.h"

#include "PdfDocument.h"
#include "PictureFile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <deque>
#include <memory>
#include <utility>

const int BackgroundCache::KEPT = 4;
const qint64 BackgroundCache::KEPT_BYTES = qint64(96) << 20;

namespace {

// Documents kept open.
const size_t OPEN_DOCUMENTS = 2;

struct Entry {
    QString file;
    int page;
    QPixmap pixmap;
};

// Most recently used first. Emptied when the application object goes, while
// pixmaps can still be released.
std::deque<Entry>& entries()
{
    static std::deque<Entry> e;
    static bool registered = false;
    if (!registered) {
        registered = true;
        qAddPostRoutine(&BackgroundCache::clear);
    }
    return e;
}

qint64 bytesOf(const QPixmap& pm)
{
    return qint64(pm.width()) * pm.height() * 4;
}

std::deque<std::unique_ptr<PdfDocument>>& documents()
{
    static std::deque<std::unique_ptr<PdfDocument>> d;
    return d;
}

PdfDocument* document(const QString& file, QString* error)
{
    auto& docs = documents();
    for (auto it = docs.begin(); it != docs.end(); ++it)
        if ((*it)->path() == file) {
            std::unique_ptr<PdfDocument> d = std::move(*it);
            docs.erase(it);
            docs.push_front(std::move(d));
            return docs.front().get();
        }
    std::unique_ptr<PdfDocument> d(new PdfDocument());
    if (!d->open(file, error))
        return nullptr;
    docs.push_front(std::move(d));
    while (docs.size() > OPEN_DOCUMENTS)
        docs.pop_back();
    return docs.front().get();
}

}  // namespace

QPixmap BackgroundCache::pixmap(const QString& file, int page, QString* error)
{
    auto& e = entries();
    for (auto it = e.begin(); it != e.end(); ++it)
        if (it->file == file && it->page == page) {
            Entry hit = *it;
            e.erase(it);
            e.push_front(hit);
            return hit.pixmap;
        }
    QImage img;
    if (page < 0) {
        img = PictureFile::read(file, error);
    } else if (PdfDocument* doc = document(file, error)) {
        const QSize size = doc->pageSize(page);
        if (size.isEmpty()) {
            if (error != nullptr)
                *error = QStringLiteral("the PDF has no page %1").arg(page + 1);
        } else {
            img = doc->render(page, size);
            if (img.isNull() && error != nullptr)
                *error = QStringLiteral("page %1 of the PDF cannot be rendered").arg(page + 1);
        }
    }
    if (img.isNull())
        return QPixmap();
    QPixmap pm = QPixmap::fromImage(std::move(img));
    e.push_front({file, page, pm});
    // The one just made stays whatever its size.
    qint64 bytes = 0;
    size_t keep = 0;
    for (const Entry& x : e) {
        bytes += bytesOf(x.pixmap);
        if (keep > 0 && (keep >= static_cast<size_t>(KEPT) || bytes > KEPT_BYTES))
            break;
        ++keep;
    }
    e.resize(keep);
    return pm;
}

int BackgroundCache::pageCount(const QString& file, bool* pdf, QString* error)
{
    *pdf = false;
    QString why;
    PdfDocument probe;
    if (probe.open(file, &why)) {
        *pdf = true;
        return probe.pageCount();
    }
    // A PDF that cannot be read says so; anything else may be a picture.
    if (why.contains(QLatin1String("PDF")) && why != QLatin1String("not a PDF")) {
        if (error != nullptr)
            *error = why;
        return 0;
    }
    QString pictureWhy;
    if (PictureFile::probe(file, &pictureWhy))
        return 1;
    if (error != nullptr)
        *error = why == QLatin1String("not a PDF") ? QStringLiteral("neither a PDF nor a picture") : why;
    return 0;
}

void BackgroundCache::clear()
{
    entries().clear();
    documents().clear();
}
