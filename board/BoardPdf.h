#ifndef TAVLO_BOARDPDF_H
#define TAVLO_BOARDPDF_H

#include <QSize>
#include <QString>
#include <functional>

class QPainter;

// One PDF of a run of pages, each on a PDF page of its own size, one unit to
// one PDF point (Qt's PDF writer: what a page draws with paths stays paths).
class BoardPdf {
public:
    // size(i) is the size of page i (empty: skip it); draw(i, painter)
    // draws it from (0, 0). False (with error) when the file could not be
    // written or there was no page; a partial file is removed.
    static bool write(const QString& path, int pageCount, const std::function<QSize(int)>& size,
                      const std::function<void(int, QPainter&)>& draw, QString* error);
};

#endif
