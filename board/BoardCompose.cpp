#include "BoardWidget.h"

#include "BoardPrivate.h"
#include "Utils.h"

#include <QImage>
#include <QPaintEvent>
#include <algorithm>
#include <cmath>

// ---------------------------------------------------------------------------
// Composition
// ---------------------------------------------------------------------------

// Tiles smaller than a pixel are not drawn.
void tileGrid(QPainter* canvas, const QPixmap* bb, float rate, float left, float top, int width, int height)
{
    if (bb == nullptr || bb->isNull())
        return;
    const int BW = bb->width(), BH = bb->height();
    const double TW = rate * BW * VIEW_RATE;
    const double TH = rate * BH * VIEW_RATE;
    if (!(TW >= 1) || !(TH >= 1))
        return;
    double TL = std::fmod(left, static_cast<float>(BW));
    if (TL < 0)
        TL += BW;
    double TT = std::fmod(top, static_cast<float>(BH));
    if (TT < 0)
        TT += BH;
    const QRectF src(bb->rect());
    for (double ST = std::trunc(-TT * rate); ST < height; ST = std::trunc(ST + TH))
        for (double SL = std::trunc(-TL * rate); SL < width; SL = std::trunc(SL + TW))
            canvas->drawPixmap(QRectF(SL, ST, TW, TH), *bb, src);
}

const QPixmap* gridTile(int type, int size)
{
    const int idx = clampTo(size, 0, 2);
    return type == 1 ? fieldGridBmps[idx] : lineGridBmps[idx];
}

// GUI thread (after a resize, a page operation, a pan or zoom, a trapezoid
// eraser stroke).
void BoardWidget::drawWin()
{
    winLeft = xLeft;
    winTop = xTop;
    winRate = xRate;
    if (strokeBmp == nullptr || winBmp == nullptr || strokeBmp->isNull() || winBmp->isNull())
        return;

    strokeBmp->fill(Qt::transparent);
    if (page != nullptr && strokeCvs->begin(strokeBmp)) {
        for (Stroke* st : page->strokes)
            drawStroke(strokeCvs, st, xLeft, xTop, xRate, false);
        strokeCvs->end();
    }

    if (bkgBmp != nullptr) {
        winBmp->fill(QColor::fromRgba(0xFF000000));
        if (winCvs->begin(winBmp)) {
            winCvs->setRenderHint(QPainter::SmoothPixmapTransform, true);
            const int W = bkgBmp->width(), H = bkgBmp->height();
            winCvs->drawPixmap(QRectF(QPointF(-xLeft * xRate, -xTop * xRate),
                                      QPointF((W - xLeft) * xRate, (H - xTop) * xRate)),
                               *bkgBmp, QRectF(0, 0, W, H));
            winCvs->end();
        }
        return;
    }
    winBmp->fill(QColor::fromRgba(BKG_COLORS[colourType(page)]));
    if (gridTypeIdx > 0 && winCvs->begin(winBmp)) {
        tileGrid(winCvs, gridTile(gridTypeIdx, gridSizeIdx), xRate, xLeft, xTop, VIEW_WIDTH, VIEW_HEIGHT);
        winCvs->end();
    }
}

void BoardWidget::paintEvent(QPaintEvent* event)
{
    QPainter canvas(this);
    paint(&canvas, event->rect());
    canvas.end();
}

void BoardWidget::paint(QPainter* canvas)
{
    paint(canvas, rect());
}

// Only the area is composed from the layers; the live feedback is drawn
// whole and left to the canvas's clip.
void BoardWidget::paint(QPainter* canvas, const QRect& area)
{
    if (strokeBmp == nullptr || winBmp == nullptr) {
        canvas->fillRect(rect(), QColor::fromRgba(BKG_COLORS[colourType(page)]));
        return;
    }
    if (Utils::isEquals(winRate, xRate) && Utils::isEquals(winLeft, xLeft) && Utils::isEquals(winTop, xTop)) {
        const QRect part = area & strokeBmp->rect();
        canvas->drawPixmap(part, *winBmp, part);
        canvas->drawPixmap(part, *strokeBmp, part);
    } else {
        // A drag or zoom in progress: the cached layers moved and scaled into
        // place, plain background where they do not reach.
        const uint32_t fill = (page != nullptr && page->bkgType == BT_IMG && bkgBmp != nullptr)
                                  ? BKG_COLORS[1]
                                  : BKG_COLORS[colourType(page)];
        canvas->fillRect(QRectF(0, 0, VIEW_WIDTH, VIEW_HEIGHT), QColor::fromRgba(fill));
        if (winRate > 0 && xRate > 0) {
            drawFrgRect = QRectF(QPointF(winLeft, winTop),
                                 QPointF(winLeft + VIEW_WIDTH / winRate, winTop + VIEW_HEIGHT / winRate));
            drawViewRect =
                QRectF(QPointF(xLeft, xTop), QPointF(xLeft + VIEW_WIDTH / xRate, xTop + VIEW_HEIGHT / xRate));
            drawInterRect = drawFrgRect.intersected(drawViewRect);
            if (drawInterRect.width() > 0 && drawInterRect.height() > 0) {
                drawDtsRect = drawInterRect.translated(-xLeft, -xTop);
                Utils::scaleRect(drawDtsRect, xRate);
                drawInterRect.translate(-winLeft, -winTop);
                Utils::scaleRect(drawInterRect, winRate);
                drawSrcRect = drawInterRect;
                canvas->drawPixmap(drawDtsRect, *winBmp, drawInterRect);
                canvas->drawPixmap(drawDtsRect, *strokeBmp, drawInterRect);
            }
        }
    }

    // Live feedback of the running gesture.
    if (touchModel == PEN && eraserStatus == ES_PEN) {
        Stroke* st = page != nullptr ? page->getLastStork() : nullptr;
        if (st != nullptr && !st->segments.empty()) {
            Segment* segment = st->segments.back();
            if (st->type == TT_P_SOFT) {
                // The feedback is redrawn at every repaint; it works on copies
                // of the soft pen's running values so that repaints never
                // change what later reaches the stroke layer.
                const RenderStateGuard keep;
                float width = priorWidth;
                drawPenSoft(canvas, segment, st->width, st->colorIdx, width, false, xLeft, xTop, xRate);
            } else if (st->type == TT_P_HARD) {
                drawPenHard(canvas, segment, st->width, st->colorIdx, xLeft, xTop, xRate);
            }
        }
    } else if (eraserStatus == ES_ERASER_RECT) {
        if (eraserRect != nullptr) {
            canvas->save();
            canvas->setPen(ERASER_PAINT);
            canvas->setBrush(Qt::NoBrush);
            canvas->drawRect(*eraserRect);
            canvas->restore();
        }
    } else if (eraserStatus == ES_ERASER_TRAP) {
        Stroke* st = page != nullptr ? page->getLastStork() : nullptr;
        if (touchModel == PEN && st != nullptr)
            drawStroke(canvas, st, xLeft, xTop, xRate, true);
    }
}

namespace {

// Grows r to take in the view point of page point p at the view transform.
void takeIn(QRectF& r, const QPointF& p, bool& first)
{
    const QPointF v((p.x() - xLeft) * xRate, (p.y() - xTop) * xRate);
    if (first) {
        r = QRectF(v, v);
        first = false;
        return;
    }
    r.setLeft(std::min(r.left(), v.x()));
    r.setTop(std::min(r.top(), v.y()));
    r.setRight(std::max(r.right(), v.x()));
    r.setBottom(std::max(r.bottom(), v.y()));
}

}  // namespace

QRect BoardWidget::liveRect()
{
    QRectF r;
    bool first = true;
    float margin = 3;
    Stroke* st = page != nullptr ? page->getLastStork() : nullptr;
    if (touchModel == PEN && eraserStatus == ES_PEN && st != nullptr && !st->segments.empty()) {
        // The last segment, with room for the widest dot (2 pen widths, at
        // most 20, scaled by the view) or the hard pen's pixel width.
        for (const StrokePoint* sp : st->segments.back()->points)
            takeIn(r, *sp->point, first);
        const float w = static_cast<float>(st->width);
        margin += std::max(std::min(2 * w, 20.0f) * xRate, w * std::max(xRate, 1.0f)) / 2 + 1;
    } else if (eraserStatus == ES_ERASER_RECT) {
        if (eraserRect != nullptr) {
            r = *eraserRect;
            first = false;
        }
    } else if (eraserStatus == ES_ERASER_TRAP && touchModel == PEN && st != nullptr) {
        for (const Segment* seg : st->segments)
            for (const StrokePoint* sp : seg->points)
                takeIn(r, *sp->point, first);
    }
    if (first)
        return QRect();
    const QRectF grown = r.adjusted(-margin, -margin, margin, margin);
    return grown.toAlignedRect() & rect();
}
