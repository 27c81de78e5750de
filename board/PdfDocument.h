#ifndef TAVLO_PDFDOCUMENT_H
#define TAVLO_PDFDOCUMENT_H

#include <QFile>
#include <QImage>
#include <QSize>
#include <QString>
#include <memory>

namespace Poppler {
class Document;
}

// A PDF whose pages are board pages (Poppler). The file is opened as
// RegularFile opens it (a regular file, at most MAX_BYTES) and read by
// Poppler as it needs it. Each page is rendered at the board's resolution:
// PAGE_WIDTH page units across (a 16:9 slide is 1920 x 1080, the terminal's
// screen), at most MAX_PIXELS in all; its page units are the pixels of that
// rendering. Not thread-safe: one object per thread.
class PdfDocument {
public:
    static const qint64 MAX_BYTES;   // 512 MiB
    static const int PAGE_WIDTH;     // 1920
    static const qint64 MAX_PIXELS;  // 16 M

    PdfDocument();
    ~PdfDocument();
    PdfDocument(const PdfDocument&) = delete;
    PdfDocument& operator=(const PdfDocument&) = delete;

    // False with a text for the user when path is no PDF that can be read
    // (or one that needs a password).
    bool open(const QString& path, QString* error);
    QString path() const { return path_; }
    int pageCount() const;
    // The size of page i in page units; empty for a page that is not there.
    QSize pageSize(int i) const;
    // Page i rendered to exactly size (its page size scaled), on white;
    // null when it cannot be rendered.
    QImage render(int i, const QSize& size) const;
    // Whether bytes begin as a PDF does.
    static bool looksLikePdf(const QByteArray& head);

private:
    QString path_;
    QFile file_;  // read by Poppler while the document is open
    std::unique_ptr<Poppler::Document> doc_;
};

#endif
