#ifndef TAVLO_BOARDPDF_H
#define TAVLO_BOARDPDF_H

#include <QPixmap>
#include <QString>
#include <functional>

// One PDF of a run of page images: each image on a page of its own size, one
// image pixel to one PDF point, nothing scaled or cropped.
class BoardPdf {
public:
    // render(i) returns the image of page i (owned by the caller afterwards)
    // or null to skip it. False (with error) when the file could not be
    // written or there was no page; a partial file is removed.
    static bool write(const QString& path, int pageCount, const std::function<QPixmap*(int)>& render,
                      QString* error);
};

#endif
