#include "VectorInk.h"

#include "BoardPrivate.h"
#include "Page.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// One area an eraser clears, in page units, and the stroke it belongs to.
struct Cleared {
    QPainterPath area;
    QRectF bounds;
    size_t stroke;
};

std::vector<Cleared> clearedAreas(const Page* page)
{
    std::vector<Cleared> out;
    for (size_t j = 0; j < page->strokes.size(); ++j) {
        const Stroke* st = page->strokes[j];
        if (st->type == TT_E_RECT) {
            for (const Segment* seg : st->segments)
                for (const StrokePoint* sp : seg->points) {
                    if (sp->point2 == nullptr)
                        continue;
                    const QRectF r = QRectF(*sp->point, *sp->point2).normalized();
                    if (r.width() <= 0 || r.height() <= 0)
                        continue;
                    QPainterPath p;
                    p.addRect(r);
                    out.push_back({p, r, j});
                }
        } else if (st->type == TT_E_TRAP) {
            for (const Segment* seg : st->segments) {
                // As drawTrapEraser: repeated points skipped, at least three.
                QPainterPath p;
                QPointF prev;
                int n = 0;
                for (const StrokePoint* sp : seg->points) {
                    const QPointF q = *sp->point;
                    if (n == 0)
                        p.moveTo(q);
                    else if (q == prev)
                        continue;
                    else
                        p.lineTo(q);
                    prev = q;
                    ++n;
                }
                if (n <= 2)
                    continue;
                p.closeSubpath();
                out.push_back({p, p.boundingRect(), j});
            }
        }
    }
    return out;
}

// The box of a stroke's points (QRectF::united would skip single points).
QRectF inkBounds(const Stroke* st)
{
    double l = 0, t = 0, r = 0, b = 0;
    bool first = true;
    for (const Segment* seg : st->segments)
        for (const StrokePoint* sp : seg->points) {
            const double x = sp->point->x(), y = sp->point->y();
            l = first ? x : std::min(l, x);
            r = first ? x : std::max(r, x);
            t = first ? y : std::min(t, y);
            b = first ? y : std::max(b, y);
            first = false;
        }
    return QRectF(QPointF(l, t), QPointF(r, b));
}

QPen inkPen(int colorIdx, qreal width)
{
    QPen pen(QColor::fromRgba(COLORS[clampTo(colorIdx, 0, 5)]), width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

void drawHard(QPainter* painter, const Stroke* st, float scale)
{
    // The raster pen is this many output pixels wide whatever the scale.
    const qreal width = st->width / scale;
    painter->setBrush(Qt::NoBrush);
    painter->setPen(inkPen(st->colorIdx, width));
    for (const Segment* seg : st->segments) {
        std::vector<QPointF> pts;
        for (const StrokePoint* sp : seg->points)
            pts.push_back(*sp->point);
        if (pts.empty())
            continue;
        if (pts.size() == 1)
            painter->drawEllipse(pts[0], st->width / 2.0, st->width / 2.0);
        else
            painter->drawPath(hardPenPath(pts));
    }
}

void drawSoft(QPainter* painter, const Stroke* st)
{
    // Runs of pieces of one width (to a quarter unit) are one path.
    QPainterPath run;
    qreal runWidth = -1;
    auto flush = [&] {
        if (!run.isEmpty())
            painter->strokePath(run, inkPen(st->colorIdx, runWidth));
        run = QPainterPath();
    };
    float prior = 0;
    for (size_t j = 0; j < st->segments.size(); ++j)
        softPenPieces(st->segments[j], static_cast<float>(st->width), prior, j + 1 == st->segments.size(),
                      [&](StrokePoint* from, StrokePoint* to, float width) {
                          // The dots' sizes are clamped so on screen too.
                          const qreal w = std::round(std::fmax(1.0f, std::fmin(width, 20.0f)) * 4) / 4;
                          if (w != runWidth || run.isEmpty() || run.currentPosition() != *from->point) {
                              flush();
                              runWidth = w;
                              run.moveTo(*from->point);
                          }
                          run.lineTo(*to->point);
                      });
    flush();
}

}  // namespace

void VectorInk::draw(QPainter* painter, const Page* page, float scale)
{
    const std::vector<Cleared> cleared = clearedAreas(page);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    for (size_t i = 0; i < page->strokes.size(); ++i) {
        const Stroke* st = page->strokes[i];
        if (st->type != TT_P_SOFT && st->type != TT_P_HARD)
            continue;
        // What later erasers cleared of this stroke is clipped away.
        const qreal reach = 2.0 * st->width + 20;
        const QRectF box = inkBounds(st).adjusted(-reach, -reach, reach, reach);
        painter->save();
        for (const Cleared& c : cleared) {
            if (c.stroke <= i || !c.bounds.intersects(box))
                continue;
            QPainterPath outside;
            outside.setFillRule(Qt::OddEvenFill);
            outside.addRect(box.united(c.bounds).adjusted(-10, -10, 10, 10));
            outside.addPath(c.area);
            painter->setClipPath(outside, Qt::IntersectClip);
        }
        if (st->type == TT_P_HARD)
            drawHard(painter, st, scale);
        else
            drawSoft(painter, st);
        painter->restore();
    }
    painter->restore();
}
