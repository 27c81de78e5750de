#include "BoardWidget.h"

#include "BoardPrivate.h"

#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <functional>

// ---------------------------------------------------------------------------
// Stroke rendering
// ---------------------------------------------------------------------------

namespace {

// The area the renderers cull and clamp against: the canvas itself (the
// layers and the widget have the view's size; an export bitmap has its own).
QSize canvasBounds(QPainter* canvas, const QWidget* widget)
{
    if (canvas != nullptr && canvas->isActive() && canvas->device() != nullptr)
        return QSize(canvas->device()->width(), canvas->device()->height());
    return QSize(widget->width(), widget->height());
}

bool inside(const QPointF& p, const QSize& bounds)
{
    return p.x() >= 0 && p.y() >= 0 && p.x() <= bounds.width() && p.y() <= bounds.height();
}

// One dot stamp of size index k centred on (x, y).
inline void stamp(QPainter* canvas, int colorIdx, int k, double x, double y)
{
    const QPixmap* dot = dots[colorIdx][clampTo(k, 1, 61) - 1];
    if (dot == nullptr || dot->isNull())
        return;
    int tw;
    if (k <= 3)
        tw = 3;
    else if (k <= 60)
        tw = (k % 2 == 0) ? k + 1 : k;
    else
        tw = k;
    const double half = tw / 2.0;
    if (tw == dot->width() && tw == dot->height())
        canvas->drawPixmap(QPointF(x - half, y - half), *dot);
    else
        canvas->drawPixmap(QRectF(x - half, y - half, tw, tw), *dot, QRectF(dot->rect()));
}

}  // namespace

int BoardWidget::signum(int val)
{
    return (0 < val) - (val < 0);
}

void BoardWidget::drawStroke(QPainter* canvas, Stroke* stroke, float ox, float oy, float scale, bool track)
{
    priorWidth = 0;
    const size_t count = stroke->segments.size();
    for (size_t j = 0; j < count; ++j) {
        Segment* segment = stroke->segments[j];
        switch (stroke->type) {
        case TT_E_RECT:
            for (StrokePoint* sp : segment->points)
                drawRectEraser(canvas, sp, ox, oy, scale);
            break;
        case TT_E_TRAP:
            drawTrapEraser(canvas, segment, track, ox, oy, scale);
            break;
        case TT_P_HARD:
            drawPenHard(canvas, segment, static_cast<float>(stroke->width), stroke->colorIdx, ox, oy, scale);
            break;
        case TT_P_SOFT:
            drawPenSoft(canvas, segment, static_cast<float>(stroke->width), stroke->colorIdx, priorWidth,
                        j + 1 == count, ox, oy, scale);
            break;
        case TT_UNKNOW:
            break;
        }
    }
}

QPainterPath hardPenPath(const std::vector<QPointF>& vp)
{
    // A chain of cubics through every third point, closed by a line or a
    // quadratic for the one or two points left over.
    const size_t n = vp.size();
    QPainterPath path(vp[0]);
    const int mi = static_cast<int>(n) - 3;
    int i = 1;
    for (; i <= mi; i += 3)
        path.cubicTo(vp[i], vp[i + 1], vp[i + 2]);
    if (i == mi + 2)
        path.lineTo(vp[n - 1]);
    else if (i == mi + 1)
        path.quadTo(vp[n - 2], vp[n - 1]);
    return path;
}

void BoardWidget::drawPenHard(QPainter* canvas, Segment* segment, float strokeWidth, int colorIdx, float ox, float oy,
                              float scale)
{
    canvas->setRenderHint(QPainter::Antialiasing, true);
    const std::vector<StrokePoint*>& pts = segment->points;
    const size_t n = pts.size();
    if (n == 0)
        return;
    const QSize bounds = canvasBounds(canvas, this);
    std::vector<QPointF> vp;
    vp.reserve(n);
    bool visible = false;
    for (StrokePoint* sp : pts) {
        vp.push_back(toPoint(*sp->point, ox, oy, scale));
        visible = visible || inside(vp.back(), bounds);
    }
    if (!visible)
        return;
    QPen pen(QColor::fromRgba(COLORS[clampTo(colorIdx, 0, 5)]));
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setWidth(static_cast<int>(strokeWidth));
    canvas->setPen(pen);
    canvas->setBrush(Qt::NoBrush);
    if (n == 1) {
        const float halfW = strokeWidth * scale / 2;
        canvas->drawEllipse(QRect(static_cast<int>(vp[0].x() - halfW), static_cast<int>(vp[0].y() - halfW),
                                  static_cast<int>(2 * halfW), static_cast<int>(2 * halfW)));
        return;
    }
    canvas->drawPath(hardPenPath(vp));
}

void softPenPieces(const Segment* segment, float strokeWidth, float& priorWidth, bool isLast,
                   const std::function<void(StrokePoint* from, StrokePoint* to, float width)>& piece)
{
    const std::vector<StrokePoint*>& pts = segment->points;
    const size_t n = pts.size();
    if (n < 2)
        return;
    StrokePoint* firstSp = pts[0];
    StrokePoint* middSp = pts[n / 2];
    StrokePoint* lastSp = pts[n - 1];
    const double Angle = Stroke::getAngle(firstSp->point, lastSp->point);
    const float segTime = static_cast<float>(lastSp->time - firstSp->time);
    float segLen = 0;
    for (size_t i = 1; i < n; ++i)
        segLen += pts[i - 1]->distance(pts[i]->point);
    const float segSpeed = segLen / segTime;

    // A tapered end on final strokes that head down-right or back to the
    // left and bow below their chord.
    bool isFalling = false;
    if (isLast && n > 1 && ((Angle > 120 && Angle < 330) || (Angle > 20 && Angle < 60))) {
        const float y = (lastSp->GetY() - firstSp->GetY()) / (lastSp->GetX() - firstSp->GetX()) *
                            (middSp->GetX() - firstSp->GetX()) +
                        firstSp->GetY();
        isFalling = y < middSp->GetY();
    }

    StrokePoint* priorPoint = firstSp;
    for (size_t i = 1; i < n; ++i) {
        StrokePoint* currPoint = pts[i];
        const float currDis = priorPoint->distance(currPoint->point);
        const float pointSpeed = currDis / static_cast<float>(currPoint->time - priorPoint->time);
        float currWidth = static_cast<float>(strokeWidth * std::pow(segSpeed / pointSpeed, 0.3));
        if (!currPoint->equals(priorPoint) && i != n - 1)
            currWidth = static_cast<float>(currWidth * Stroke::getRadian(priorPoint->point, currPoint->point));
        else
            currWidth = priorWidth;
        if (priorWidth == 0) {
            priorWidth = segLen < 10 ? strokeWidth : currWidth;
            currWidth = std::fmin(std::fmax(priorWidth, 1.0f), std::ceil(strokeWidth * 1.5f));
        } else {
            if (currWidth > priorWidth)
                currWidth = std::fmin(currWidth, priorWidth + currDis / 2);
            if (currWidth < priorWidth)
                currWidth = std::fmax(currWidth, priorWidth - currDis / 2);
        }
        if (isFalling) {
            const float LastDis = priorPoint->distance(lastSp->point);
            if (segLen < 5 * strokeWidth)
                currWidth = std::fmax(1.0f, currWidth * LastDis / segLen);
            else if (LastDis < segLen / 3)
                currWidth = std::fmax(1.0f, currWidth * LastDis / (segLen / 3));
        }
        currWidth = std::fmax(1.0f, std::fmin(2 * strokeWidth, currWidth));
        piece(priorPoint, currPoint, currWidth);
        priorWidth = currWidth;
        priorPoint = currPoint;
    }
}

void BoardWidget::drawPenSoft(QPainter* canvas, Segment* segment, float strokeWidth, int colorIdx, float& priorWidth,
                              bool isLast, float ox, float oy, float scale)
{
    softPenPieces(segment, strokeWidth, priorWidth, isLast, [&](StrokePoint* from, StrokePoint* to, float width) {
        drawLine(canvas, colorIdx, from, to, width, ox, oy, scale);
    });
}

void BoardWidget::drawLine(QPainter* canvas, int colorIdx, StrokePoint* start, StrokePoint* end, float size, float ox,
                           float oy, float scale)
{
    const QPointF S = toPoint(*start->point, ox, oy, scale);
    const QPointF E = toPoint(*end->point, ox, oy, scale);
    const QSize bounds = canvasBounds(canvas, this);
    if (!inside(S, bounds) || !inside(E, bounds))
        return;
    colorIdx = clampTo(colorIdx, 0, 5);
    size = std::fmax(1.0f, std::fmin(size, 20.0f));
    int calIdx = static_cast<int>(std::round(size * scale));
    const bool continues = start->equals(&lastPoint);
    if (!continues)
        lastIdx = calIdx;
    const double DisX = std::fabs(E.x() - S.x());
    const double DisY = std::fabs(E.y() - S.y());
    if (DisX < 1 && DisY < 1) {
        // A single dot: on a continuing stroke the size moves by one step.
        if (continues && calIdx != lastIdx)
            calIdx = lastIdx + signum(calIdx - lastIdx);
        stamp(canvas, colorIdx, calIdx, S.x(), S.y());
    } else if (DisX > DisY) {
        const double StepX = E.x() > S.x() ? 1 : -1;
        const double StepY = (E.y() > S.y() ? 1 : -1) * DisY / DisX;
        double X = S.x(), Y = S.y();
        for (int i = 0; i <= DisX; ++i) {
            const int k = static_cast<int>(std::trunc(lastIdx + (i + 1) * (calIdx - lastIdx) / DisX));
            stamp(canvas, colorIdx, k, X, Y);
            X += StepX;
            Y = std::trunc(S.y() + (i + 1) * StepY);
        }
    } else {
        const double StepY = E.y() > S.y() ? 1 : -1;
        const double StepX = (E.x() > S.x() ? 1 : -1) * DisX / DisY;
        double X = S.x(), Y = S.y();
        for (int i = 0; i <= DisY; ++i) {
            const int k = static_cast<int>(std::trunc(lastIdx + (i + 1) * (calIdx - lastIdx) / DisY));
            stamp(canvas, colorIdx, k, X, Y);
            Y += StepY;
            X = std::trunc(S.x() + (i + 1) * StepX);
        }
    }
    lastPoint = *end;
    lastIdx = calIdx;
}

void BoardWidget::drawRectEraser(QPainter* canvas, StrokePoint* sp, float ox, float oy, float scale)
{
    if (sp == nullptr || sp->point2 == nullptr)
        return;
    const QSize bounds = canvasBounds(canvas, this);
    const QPointF a = toPointLimit(*sp->point, ox, oy, scale, bounds.width(), bounds.height());
    const QPointF b = toPointLimit(*sp->point2, ox, oy, scale, bounds.width(), bounds.height());
    const QRectF rect(a, b);
    if (rect.width() > 0 && rect.height() > 0) {
        canvas->save();
        canvas->setCompositionMode(QPainter::CompositionMode_Source);
        canvas->fillRect(rect, TRANS_PAINT);
        canvas->restore();
    }
}

void BoardWidget::drawTrapEraser(QPainter* canvas, Segment* segment, bool track, float ox, float oy, float scale)
{
    const std::vector<StrokePoint*>& pts = segment->points;
    if (pts.empty())
        return;
    const QSize bounds = canvasBounds(canvas, this);
    const QPointF firstPoint = toPointLimit(*pts[0]->point, ox, oy, scale, bounds.width(), bounds.height());
    QPainterPath path(firstPoint);
    QPointF prev = firstPoint;
    int pointNum = 1;
    for (size_t i = 1; i < pts.size(); ++i) {
        const QPointF modPoint = toPointLimit(*pts[i]->point, ox, oy, scale, bounds.width(), bounds.height());
        if (modPoint == prev)
            continue;
        ++pointNum;
        prev = modPoint;
        path.lineTo(modPoint);
    }
    if (pointNum <= 2)
        return;
    canvas->save();
    if (track) {
        // The outline while the eraser is drawn, in the eraser's grey.
        canvas->setPen(ERASER_PAINT);
        canvas->setBrush(Qt::NoBrush);
        canvas->drawPath(path);
    } else {
        path.lineTo(firstPoint);
        canvas->setCompositionMode(QPainter::CompositionMode_Source);
        canvas->fillPath(path, TRANS_PAINT);
    }
    canvas->restore();
}
