#include "BoardPdf.h"

#include "BoardFile.h"

#include <QBuffer>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

bool BoardPdf::write(const QString& path, int pageCount, const std::function<QSize(int)>& size,
                     const std::function<void(int, QPainter&)>& draw, QString* error)
{
    // Made in memory, then written as board files are (BoardFile::writeAtomic):
    // a full disk is reported, and no broken file stays behind.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    int written = 0;
    bool ok = true;
    {
        QPdfWriter writer(&buffer);
        writer.setCreator(QStringLiteral("Tavlo"));
        writer.setResolution(72);  // one unit per point
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter painter;
        for (int i = 0; i < pageCount && ok; ++i) {
            const QSize s = size(i);
            if (s.isEmpty())
                continue;
            const QPageSize pageSize(QSizeF(s), QPageSize::Point, QString(), QPageSize::ExactMatch);
            writer.setPageLayout(QPageLayout(pageSize, QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
            ok = written == 0 ? painter.begin(&writer) : writer.newPage();
            if (!ok)
                break;
            painter.save();
            painter.setClipRect(QRect(QPoint(0, 0), s));
            draw(i, painter);
            painter.restore();
            ++written;
        }
        if (painter.isActive() && !painter.end())
            ok = false;
    }
    if (!ok || written == 0) {
        if (error != nullptr)
            *error = written == 0 ? QStringLiteral("no page to write") : QStringLiteral("the PDF cannot be made");
        return false;
    }
    return BoardFile::writeAtomic(path, buffer.data(), error);
}
