#include "PdfDocument.h"

#include "PictureFile.h"
#include "RegularFile.h"

#include <poppler-qt5.h>

#include <cmath>

const qint64 PdfDocument::MAX_BYTES = qint64(512) << 20;
const int PdfDocument::PAGE_WIDTH = 1920;
const qint64 PdfDocument::MAX_PIXELS = PictureFile::MAX_PIXELS;

PdfDocument::PdfDocument() = default;

PdfDocument::~PdfDocument()
{
    doc_.reset();  // before the file it reads
}

bool PdfDocument::looksLikePdf(const QByteArray& head)
{
    // The header may follow up to 1024 bytes of something else.
    return head.left(1024).contains("%PDF-");
}

bool PdfDocument::open(const QString& path, QString* error)
{
    doc_.reset();
    if (file_.isOpen())
        file_.close();
    if (!RegularFile::open(path, MAX_BYTES, file_, error))
        return false;
    if (!looksLikePdf(file_.peek(1024))) {
        if (error != nullptr)
            *error = QStringLiteral("not a PDF");
        file_.close();
        return false;
    }
    doc_.reset(Poppler::Document::load(&file_));
    if (!doc_ || doc_->isLocked() || doc_->numPages() < 1) {
        if (error != nullptr)
            *error = !doc_ ? QStringLiteral("a damaged PDF")
                           : doc_->isLocked() ? QStringLiteral("a PDF that needs a password")
                                              : QStringLiteral("a PDF without pages");
        doc_.reset();
        file_.close();
        return false;
    }
    doc_->setRenderHint(Poppler::Document::Antialiasing, true);
    doc_->setRenderHint(Poppler::Document::TextAntialiasing, true);
    doc_->setPaperColor(Qt::white);
    path_ = path;
    return true;
}

int PdfDocument::pageCount() const
{
    return doc_ ? doc_->numPages() : 0;
}

QSize PdfDocument::pageSize(int i) const
{
    if (!doc_ || i < 0 || i >= doc_->numPages())
        return QSize();
    std::unique_ptr<Poppler::Page> pg(doc_->page(i));
    if (!pg)
        return QSize();
    const QSizeF pt = pg->pageSizeF();
    if (!(pt.width() > 0) || !(pt.height() > 0))
        return QSize();
    const double h = std::min(std::round(PAGE_WIDTH * pt.height() / pt.width()), double(MAX_PIXELS));
    return PictureFile::fitted(QSize(PAGE_WIDTH, std::max(1, int(h))), MAX_PIXELS);
}

QImage PdfDocument::render(int i, const QSize& size) const
{
    if (!doc_ || i < 0 || i >= doc_->numPages() || size.isEmpty())
        return QImage();
    std::unique_ptr<Poppler::Page> pg(doc_->page(i));
    if (!pg)
        return QImage();
    const QSizeF pt = pg->pageSizeF();
    if (!(pt.width() > 0) || !(pt.height() > 0))
        return QImage();
    // Resolution in dots per inch (72 points): the page fills size exactly.
    const double xres = 72.0 * size.width() / pt.width();
    const double yres = 72.0 * size.height() / pt.height();
    return pg->renderToImage(xres, yres, 0, 0, size.width(), size.height());
}
