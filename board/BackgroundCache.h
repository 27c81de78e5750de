#ifndef TAVLO_BACKGROUNDCACHE_H
#define TAVLO_BACKGROUNDCACHE_H

#include <QPixmap>
#include <QSize>
#include <QString>

// The backgrounds of picture and document pages, as the board shows and
// exports them: a picture file (PictureFile) or a page of a PDF
// (PdfDocument, rendered at the board's resolution). The most recently used
// backgrounds stay in memory (at most KEPT of them and KEPT_BYTES, but always
// the last one), and the most recent documents stay open, so that turning
// pages back and forth renders nothing twice. GUI thread.
class BackgroundCache {
public:
    static const int KEPT;           // backgrounds kept (4)
    static const qint64 KEPT_BYTES;  // their pixels at most (96 MiB)

    // The background of file (page -1: a picture; else a page of a PDF) at
    // its size in page units; a null pixmap with a text for the user in
    // error when it cannot be shown.
    static QPixmap pixmap(const QString& file, int page, QString* error = nullptr);
    // What file is: a PDF of that many pages (pdf true), a picture (1 page,
    // pdf false), or neither (0, with error).
    static int pageCount(const QString& file, bool* pdf, QString* error);
    // Forgets everything (backgrounds and documents).
    static void clear();
};

#endif
