#include "BoardPdf.h"

#include <QFile>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <memory>

bool BoardPdf::write(const QString& path, int pageCount, const std::function<QPixmap*(int)>& render,
                     QString* error)
{
    auto fail = [&](const QString& text) {
        QFile::remove(path);
        if (error != nullptr)
            *error = text;
        return false;
    };
    QPdfWriter writer(path);
    writer.setCreator(QStringLiteral("Tavlo"));
    writer.setResolution(72);  // one image pixel per point
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter painter;
    int written = 0;
    for (int i = 0; i < pageCount; ++i) {
        std::unique_ptr<QPixmap> pm(render(i));
        if (!pm || pm->isNull())
            continue;
        const QPageSize size(QSizeF(pm->width(), pm->height()), QPageSize::Point, QString(),
                             QPageSize::ExactMatch);
        writer.setPageLayout(QPageLayout(size, QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
        if (written == 0) {
            if (!painter.begin(&writer))
                return fail(QStringLiteral("cannot write %1").arg(path));
        } else if (!writer.newPage()) {
            painter.end();
            return fail(QStringLiteral("cannot add a page to %1").arg(path));
        }
        painter.drawPixmap(0, 0, *pm);
        ++written;
    }
    if (written == 0)
        return fail(QStringLiteral("no page to write"));
    if (!painter.end())
        return fail(QStringLiteral("cannot finish %1").arg(path));
    return true;
}
