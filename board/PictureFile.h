#ifndef TAVLO_PICTUREFILE_H
#define TAVLO_PICTUREFILE_H

#include <QImage>
#include <QSize>
#include <QString>

// A picture a page shows as its background, read with care: a regular file
// only (RegularFile), its size read from its header before anything is
// decoded, and never more pixels than a page needs. A picture larger than
// MAX_PIXELS is scaled down to that many on load, keeping its aspect (while
// decoding where the format can, as JPEG can); one that would have to be
// decoded whole at more than MAX_DECODED_PIXELS is refused. On a picture
// page one page unit is one pixel of the picture as loaded. Any thread.
class PictureFile {
public:
    static const qint64 MAX_FILE_BYTES;      // 256 MiB
    static const qint64 MAX_PIXELS;          // 16 M (4096 x 4096)
    static const qint64 MAX_DECODED_PIXELS;  // 64 M

    // The picture at path as the board shows it; a null image with a text
    // for the user in error when it cannot be read or is too large.
    static QImage read(const QString& path, QString* error);
    // Whether path is a picture the board can show (its header only).
    static bool probe(const QString& path, QString* error);
    // size scaled down, keeping its aspect, to at most maxPixels pixels.
    static QSize fitted(const QSize& size, qint64 maxPixels);
};

#endif
