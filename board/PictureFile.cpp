#include "PictureFile.h"

#include "RegularFile.h"

#include <QFile>
#include <QImageReader>
#include <algorithm>
#include <cmath>

const qint64 PictureFile::MAX_FILE_BYTES = qint64(256) << 20;
const qint64 PictureFile::MAX_PIXELS = qint64(4096) * 4096;
const qint64 PictureFile::MAX_DECODED_PIXELS = qint64(64) << 20;

namespace {

bool fail(QString* error, const QString& text)
{
    if (error != nullptr)
        *error = text;
    return false;
}

// The reader's size, checked: false when there is none or it is absurd.
bool checkedSize(QImageReader& reader, QSize& size, QString* error)
{
    size = reader.size();
    if (!size.isValid() || size.isEmpty())
        return fail(error, QStringLiteral("not a picture that can be read (%1)").arg(reader.errorString()));
    return true;
}

}  // namespace

QSize PictureFile::fitted(const QSize& size, qint64 maxPixels)
{
    const qint64 pixels = qint64(size.width()) * size.height();
    if (pixels <= maxPixels || size.isEmpty())
        return size;
    const double k = std::sqrt(double(maxPixels) / double(pixels));
    QSize out(std::max(1, int(std::floor(size.width() * k))), std::max(1, int(std::floor(size.height() * k))));
    return out;
}

bool PictureFile::probe(const QString& path, QString* error)
{
    QFile file;
    if (!RegularFile::open(path, MAX_FILE_BYTES, file, error))
        return false;
    QImageReader reader(&file);
    QSize size;
    return reader.canRead() && checkedSize(reader, size, error);
}

QImage PictureFile::read(const QString& path, QString* error)
{
    QFile file;
    if (!RegularFile::open(path, MAX_FILE_BYTES, file, error))
        return QImage();
    QImageReader reader(&file);
    reader.setAutoTransform(true);
    QSize size;
    if (!reader.canRead() || !checkedSize(reader, size, error)) {
        fail(error, QStringLiteral("not a picture that can be read"));
        return QImage();
    }
    const qint64 pixels = qint64(size.width()) * size.height();
    const QSize target = fitted(size, MAX_PIXELS);
    // JPEG scales while it decodes; other formats that claim to scale decode
    // the whole picture first.
    const bool scalesWhileDecoding = reader.format() == "jpeg" && reader.supportsOption(QImageIOHandler::ScaledSize);
    if (pixels > MAX_DECODED_PIXELS && !scalesWhileDecoding) {
        fail(error, QStringLiteral("too large (%1 x %2 pixels)").arg(size.width()).arg(size.height()));
        return QImage();
    }
    if (target != size && scalesWhileDecoding)
        reader.setScaledSize(target);
    QImage img = reader.read();
    if (img.isNull()) {
        fail(error, QStringLiteral("cannot be decoded (%1)").arg(reader.errorString()));
        return QImage();
    }
    if (qint64(img.width()) * img.height() > MAX_PIXELS)
        img = img.scaled(fitted(img.size(), MAX_PIXELS), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return img;
}
