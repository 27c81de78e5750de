#include "BoardWidget.h"

#include "BackgroundCache.h"
#include "BoardFile.h"
#include "BoardFolder.h"
#include "BoardPdf.h"
#include "BoardPrivate.h"
#include "VectorInk.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

// ---------------------------------------------------------------------------
// Export: a page as a picture, all pages as a PDF, and page thumbnails
// ---------------------------------------------------------------------------

namespace {

// Room around the ink of an exported colour page, page units.
const float INK_MARGIN = 20;

// The box of a page's pen ink (erasers do not count); found false when
// there is none.
QRectF inkBox(const Page* pg, bool* found)
{
    bool first = true;
    double l = 0, t = 0, r = 0, b = 0;
    for (const Stroke* st : pg->strokes) {
        if (st->type != TT_P_SOFT && st->type != TT_P_HARD)
            continue;
        for (const Segment* seg : st->segments)
            for (const StrokePoint* sp : seg->points) {
                const double x = sp->point->x(), y = sp->point->y();
                if (first) {
                    l = r = x;
                    t = b = y;
                    first = false;
                } else {
                    l = std::min(l, x);
                    r = std::max(r, x);
                    t = std::min(t, y);
                    b = std::max(b, y);
                }
            }
    }
    *found = !first;
    return QRectF(QPointF(l, t), QPointF(r, b));
}

// One axis of the exported area: [lo, hi] of the ink (lo > hi without ink),
// the view's extent. The view's extent from 0 (the page as first shown),
// moved just far enough to take in the ink with its margin; the ink with its
// margin where that is more than the view.
void exportAxis(double lo, double hi, double view, double& origin, double& extent)
{
    if (lo > hi) {
        origin = 0;
        extent = view;
        return;
    }
    lo = std::floor(lo - INK_MARGIN);
    hi = std::ceil(hi + INK_MARGIN);
    if (hi - lo <= view) {
        origin = std::min(0.0, lo);
        if (hi > origin + view)
            origin = hi - view;
        extent = view;
    } else {
        origin = lo;
        extent = hi - lo;
    }
}

// The bitmap of an export area at scale (the float scale may round a pixel
// over the limit).
QSize exportSize(const QRectF& area, float scale)
{
    return QSize(clampTo(static_cast<int>(std::ceil(area.width() * scale)), 1, std::max(MAX_WIDTH, VIEW_WIDTH)),
                 clampTo(static_cast<int>(std::ceil(area.height() * scale)), 1, std::max(MAX_HEIGHT, VIEW_HEIGHT)));
}

QColor pageColour(const Page* pg)
{
    const BkgType type = colourType(pg);
    return QColor::fromRgba(type == BT_BLACK ? 0xFF21282F : type == BT_WHITE ? 0xFFFFFFFF : 0xFF274143);
}

// The background of an exported page (picture, or colour and grid) onto a
// canvas of size whose origin is page point area.topLeft() at scale.
void drawExportBackground(QPainter* p, const Page* pg, const QPixmap& picture, const QRectF& area, float scale,
                          const QSize& size)
{
    if (!picture.isNull()) {
        p->fillRect(QRect(QPoint(0, 0), size), Qt::black);
        p->drawPixmap(QRectF(QPointF(0, 0), QSizeF(picture.size()) * scale), picture, QRectF(picture.rect()));
        return;
    }
    p->fillRect(QRect(QPoint(0, 0), size), pageColour(pg));
    if (pg->gridType > 0)
        tileGrid(p, gridTile(pg->gridType, pg->gridSize), scale, static_cast<float>(area.left()),
                 static_cast<float>(area.top()), size.width(), size.height());
}

// The page's picture or document page, or a null pixmap for a colour page
// (or one whose picture is gone).
QPixmap pictureOf(const Page* pg)
{
    if (pg->bkgType != BT_IMG || pg->bkgFile.isEmpty())
        return QPixmap();
    return BackgroundCache::pixmap(pg->bkgFile, pg->bkgPage);
}

}  // namespace

QRectF BoardWidget::exportArea(int idx, float* scale)
{
    *scale = 1;
    if (idx < 0 || static_cast<size_t>(idx) >= pages.size())
        return QRectF();
    const Page* pg = pages[idx];
    const QPixmap picture = pictureOf(pg);
    if (!picture.isNull())
        return QRectF(QPointF(0, 0), QSizeF(picture.size()));
    bool found = false;
    const QRectF ink = inkBox(pg, &found);
    const bool none = !found;
    double x, w, y, h;
    const double vw = std::max(VIEW_WIDTH, 1), vh = std::max(VIEW_HEIGHT, 1);
    exportAxis(none ? 1 : ink.left(), none ? 0 : ink.right(), vw, x, w);
    exportAxis(none ? 1 : ink.top(), none ? 0 : ink.bottom(), vh, y, h);
    // Everything, scaled down into the largest export when it is larger.
    *scale = static_cast<float>(std::min({1.0, MAX_WIDTH / w, MAX_HEIGHT / h}));
    return QRectF(x, y, w, h);
}

QPixmap* BoardWidget::savePageToPixmap(int idx)
{
    if (idx < 0 || static_cast<size_t>(idx) >= pages.size())
        return nullptr;
    const RenderStateGuard keep;
    Page* pg = pages[idx];
    float scale = 1;
    const QRectF area = exportArea(idx, &scale);
    const QSize size = exportSize(area, scale);
    auto* out = new QPixmap(size);
    {
        QPainter p(out);
        drawExportBackground(&p, pg, pictureOf(pg), area, scale, size);
    }
    // The ink on a layer of its own: the erasers clear it to transparency.
    QPixmap ink(size);
    ink.fill(Qt::transparent);
    {
        QPainter p(&ink);
        for (Stroke* st : pg->strokes)
            drawStroke(&p, st, static_cast<float>(area.left()), static_cast<float>(area.top()), scale, false);
    }
    QPainter p(out);
    p.drawPixmap(0, 0, ink);
    return out;
}

QImage BoardWidget::renderThumbnail(int idx, const QSize& box, const QImage& background, const QSize& pageSize)
{
    if (idx < 0 || static_cast<size_t>(idx) >= pages.size() || box.isEmpty())
        return QImage();
    const RenderStateGuard keep;
    const Page* pg = pages[idx];
    const bool picturePage = pg->bkgType == BT_IMG && !pg->bkgFile.isEmpty();
    // A picture page is its picture; a colour page what it would export.
    QRectF area;
    if (picturePage && !background.isNull() && !pageSize.isEmpty()) {
        area = QRectF(QPointF(0, 0), QSizeF(pageSize));
    } else {
        float ignored;
        area = exportArea(idx, &ignored);
    }
    const float scale = static_cast<float>(std::min(box.width() / area.width(), box.height() / area.height()));
    const QSize size(std::max(1, static_cast<int>(std::round(area.width() * scale))),
                     std::max(1, static_cast<int>(std::round(area.height() * scale))));
    QImage out(size, QImage::Format_ARGB32_Premultiplied);
    {
        QPainter p(&out);
        if (picturePage && !background.isNull() && !pageSize.isEmpty()) {
            p.setRenderHint(QPainter::SmoothPixmapTransform, true);
            p.drawImage(QRectF(QPointF(0, 0), QSizeF(size)), background);
        } else {
            p.fillRect(out.rect(), pageColour(pg));
        }
    }
    QImage ink(size, QImage::Format_ARGB32_Premultiplied);
    ink.fill(Qt::transparent);
    {
        QPainter p(&ink);
        for (Stroke* st : pg->strokes)
            drawStroke(&p, st, static_cast<float>(area.left()), static_cast<float>(area.top()), scale, false);
    }
    QPainter p(&out);
    p.drawImage(0, 0, ink);
    return out;
}

namespace {

// A new file "board-<stamp>[-n].<suffix>" in the board folder; empty with
// error when the folder cannot be made.
QString exportPath(const QString& suffix, QString* error)
{
    const QString dir = BoardFolder::path();
    if (!BoardFolder::ensure(dir, error))
        return QString();
    const QString stamp = QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss-zzz");
    QString path = QDir(dir).absoluteFilePath(QString("board-%1.%2").arg(stamp, suffix));
    for (int i = 1; QFileInfo::exists(path); ++i)
        path = QDir(dir).absoluteFilePath(QString("board-%1-%2.%3").arg(stamp).arg(i).arg(suffix));
    return path;
}

}  // namespace

QString BoardWidget::savePage()
{
    if (pageIdx < 0)
        return QString();
    QString error;
    const QString path = exportPath(QStringLiteral("png"), &error);
    bool ok = false;
    if (!path.isEmpty()) {
        // Encoded in memory, then written as board files are: a full disk is
        // reported, and no broken picture stays behind.
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        std::unique_ptr<QPixmap> pm(savePageToPixmap(pageIdx));
        ok = pm != nullptr && pm->save(&buffer, "PNG") && BoardFile::writeAtomic(path, png, &error);
    }
    if (!ok) {
        std::printf("SavePage FAILED: %s\n", error.toLocal8Bit().constData());
        emit boardMessage(tr("The page was not saved: %1.").arg(error));
        return QString();
    }
    std::printf("SavePage: %s\n", path.toLocal8Bit().constData());
    return path;
}

QString BoardWidget::savePdf()
{
    if (pages.empty())
        return QString();
    QString error;
    const QString path = exportPath(QStringLiteral("pdf"), &error);
    const RenderStateGuard keep;
    auto sizeOf = [this](int i) {
        float scale = 1;
        const QRectF area = exportArea(i, &scale);
        return exportSize(area, scale);
    };
    auto draw = [this, &sizeOf](int i, QPainter& p) {
        float scale = 1;
        const QRectF area = exportArea(i, &scale);
        const Page* pg = pages[i];
        drawExportBackground(&p, pg, pictureOf(pg), area, scale, sizeOf(i));
        p.save();
        p.scale(scale, scale);
        p.translate(-area.left(), -area.top());
        VectorInk::draw(&p, pg, scale);
        p.restore();
    };
    if (path.isEmpty() || !BoardPdf::write(path, static_cast<int>(pages.size()), sizeOf, draw, &error)) {
        std::printf("SavePdf FAILED: %s\n", error.toLocal8Bit().constData());
        emit boardMessage(tr("The PDF was not saved: %1.").arg(error));
        return QString();
    }
    std::printf("SavePdf: %s\n", path.toLocal8Bit().constData());
    return path;
}
